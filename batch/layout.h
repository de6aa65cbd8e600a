#pragma once
// The batch sheet's layout, in one table: its columns with their captions, widths and alignment
// in the grid, the field of the batch file each is saved in, and the name a message gives it.
// The sheet, the window, the batch files, the printed table and the command line all read it.

#include "grid/grid.h"

#include <array>
#include <cstdint>

namespace iit::batch {

constexpr int kGridRows = 10001; // header row included
constexpr int kGridColumns = 8;
constexpr int kDataRows = 10000;

enum Column : int {
    kNumberColumn = 0,
    kNameColumn = 1,
    kIdColumn = 2,
    kIncomeColumn = 3,
    kTaxColumn = 4,
    kAfterTaxColumn = 5,
    kCardColumn = 6,
    kRemarkColumn = 7,
};

// How a column's value is saved in a batch file.
enum class FieldKind { None, Text, Amount };

struct ColumnLayout {
    Column column;
    const char* header; // the grid's caption (UTF-8)
    int width;          // pixels
    Align align;        // of the data cells
    FieldKind field;    // column 0, the row number, is not saved
    const char* fieldName;
    int fieldWidth;   // bytes of a text field
    const char* name; // the column in a message
    bool computed;    // written by the calculation, not by the user
};

inline constexpr std::array<ColumnLayout, kGridColumns> kColumns = {{
    {kNumberColumn, "序号", 45, Align::Centre, FieldKind::None, "", 0, "序号", false},
    {kNameColumn, "姓  名", 80, Align::Left, FieldKind::Text, "姓名", 16, "姓名", false},
    {kIdColumn, "身份证号", 160, Align::Left, FieldKind::Text, "身份证号", 20, "身份证号", false},
    {kIncomeColumn, "用于报税\r\n的 收 入", 80, Align::Right, FieldKind::Amount, "收入", 20, "收入",
     false},
    {kTaxColumn, "应  缴\r\n税  额", 80, Align::Right, FieldKind::Amount, "应缴税", 20, "应缴税额",
     true},
    {kAfterTaxColumn, "计税后\r\n所得额", 80, Align::Right, FieldKind::Amount, "所得合计", 20,
     "计税后所得额", true},
    {kCardColumn, "银行卡号", 150, Align::Left, FieldKind::Text, "银行卡号", 20, "银行卡号", false},
    {kRemarkColumn, "备注", 116, Align::Left, FieldKind::Text, "备注", 40, "备注", false},
}};

inline constexpr const ColumnLayout& layoutOf(int column) {
    return kColumns[static_cast<std::size_t>(column)];
}

} // namespace iit::batch
