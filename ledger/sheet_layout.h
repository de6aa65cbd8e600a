#pragma once
// The ledger window's month in one table: its columns with their captions, widths and alignment
// in the grid, whether the clerk enters them or the ledger computes them, the name of the
// import column an entered one fills, and whether the totals row sums it. The sheet, the
// window, the export and the printed table all read it.

#include "grid/grid.h"

#include <array>

namespace iit::ledger {

constexpr int kSheetEmployees = 10000;
constexpr int kSheetRows = kSheetEmployees + 1; // the header row included

enum SheetColumn : int {
    kNumberColumn,
    kNameColumn,
    kIdColumn,
    kIncomeColumn,
    kTaxFreeColumn,
    kSpecialColumn,
    kSpecialAdditionalColumn,
    kOtherColumn,
    kReliefColumn,
    kBonusColumn,
    kBonusMethodColumn,
    kRemarkColumn,
    kCumulativeIncomeColumn,
    kCumulativeBasicColumn,
    kTaxableColumn,
    kRateColumn,
    kQuickDeductionColumn,
    kCumulativeTaxColumn,
    kWithheldBeforeColumn,
    kWithholdingColumn,
    kBonusTaxColumn,
    kAfterTaxColumn,
    kSheetColumns
};

// The clerk's columns, contiguous: a paste fills them in this order from the current cell.
constexpr int kFirstInputColumn = kNameColumn;
constexpr int kLastInputColumn = kRemarkColumn;

enum class ColumnRole { Number, Input, Computed };

struct SheetColumnLayout {
    SheetColumn column;
    const char* header;  // the grid's caption (UTF-8, CR LF between its lines)
    const char* caption; // the same on one line, for the export, the print and messages
    int width;           // pixels
    Align align;
    ColumnRole role;
    bool amount;            // a number of yuan: a number cell in the export, summed in totals
    const char* importName; // the import column an input fills ("" for the others)
};

inline constexpr std::array<SheetColumnLayout, kSheetColumns> kSheetLayout = {{
    {kNumberColumn, "序号", "序号", 48, Align::Centre, ColumnRole::Number, false, ""},
    {kNameColumn, "姓名", "姓名", 68, Align::Left, ColumnRole::Input, false, "姓名"},
    {kIdColumn, "身份证号", "身份证号", 150, Align::Left, ColumnRole::Input, false, "证件号码"},
    {kIncomeColumn, "本月\r\n收入", "本月收入", 80, Align::Right, ColumnRole::Input, true,
     "本月收入"},
    {kTaxFreeColumn, "免税\r\n收入", "免税收入", 64, Align::Right, ColumnRole::Input, true,
     "本月免税收入"},
    {kSpecialColumn, "专项\r\n扣除", "专项扣除", 68, Align::Right, ColumnRole::Input, true,
     "本月专项扣除"},
    {kSpecialAdditionalColumn, "专项附加\r\n扣除", "专项附加扣除", 72, Align::Right,
     ColumnRole::Input, true, "本月专项附加扣除"},
    {kOtherColumn, "其他\r\n扣除", "其他扣除", 64, Align::Right, ColumnRole::Input, true,
     "本月其他扣除"},
    {kReliefColumn, "减免\r\n税额", "减免税额", 64, Align::Right, ColumnRole::Input, true,
     "减免税额"},
    {kBonusColumn, "全年一次性\r\n奖金", "全年一次性奖金", 84, Align::Right, ColumnRole::Input,
     true, "全年一次性奖金"},
    {kBonusMethodColumn, "奖金\r\n计税方式", "奖金计税方式", 88, Align::Left, ColumnRole::Input,
     false, "奖金计税方式"},
    {kRemarkColumn, "备注", "备注", 80, Align::Left, ColumnRole::Input, false, "备注"},
    {kCumulativeIncomeColumn, "累计\r\n收入", "累计收入", 86, Align::Right, ColumnRole::Computed,
     true, ""},
    {kCumulativeBasicColumn, "累计减除\r\n费用", "累计减除费用", 80, Align::Right,
     ColumnRole::Computed, true, ""},
    {kTaxableColumn, "累计应纳税\r\n所得额", "累计应纳税所得额", 88, Align::Right,
     ColumnRole::Computed, true, ""},
    {kRateColumn, "预扣率", "预扣率", 52, Align::Centre, ColumnRole::Computed, false, ""},
    {kQuickDeductionColumn, "速算\r\n扣除数", "速算扣除数", 64, Align::Right, ColumnRole::Computed,
     false, ""},
    {kCumulativeTaxColumn, "累计应\r\n纳税额", "累计应纳税额", 80, Align::Right,
     ColumnRole::Computed, true, ""},
    {kWithheldBeforeColumn, "累计\r\n已预扣", "累计已预扣", 76, Align::Right, ColumnRole::Computed,
     true, ""},
    {kWithholdingColumn, "本月\r\n应预扣", "本月应预扣", 76, Align::Right, ColumnRole::Computed,
     true, ""},
    {kBonusTaxColumn, "奖金\r\n税额", "奖金税额", 68, Align::Right, ColumnRole::Computed, true, ""},
    {kAfterTaxColumn, "实发", "实发", 84, Align::Right, ColumnRole::Computed, true, ""},
}};

inline constexpr const SheetColumnLayout& sheetLayoutOf(int column) {
    return kSheetLayout[static_cast<std::size_t>(column)];
}
inline constexpr bool isInputColumn(int column) {
    return column >= kFirstInputColumn && column <= kLastInputColumn;
}

} // namespace iit::ledger
