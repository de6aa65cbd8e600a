#pragma once
// The ledger window's month in one table: its columns in the grid with their widths and
// alignment, the field of the month each shows (its captions, its cell and whether it is an
// amount come from the month's table, ledger/month_cells.h), and whether the clerk enters it or
// the ledger computes it. The sheet, the window, the export and the printed table all read it.

#include "grid/grid.h"
#include "ledger/month_cells.h"

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
    MonthField field; // what the column shows (序号 shows the row's number instead)
    int width;        // pixels
    Align align;
    ColumnRole role;

    // The grid's caption, and the column's name in files, the print and messages (UTF-8).
    const char* header() const {
        return role == ColumnRole::Number ? "序号" : monthFieldLayout(field).header;
    }
    const char* caption() const {
        return role == ColumnRole::Number ? "序号" : monthFieldLayout(field).name;
    }
    // A number of yuan: a number cell in the export, summed in totals.
    bool amount() const { return role != ColumnRole::Number && monthFieldLayout(field).amount; }
};

inline constexpr std::array<SheetColumnLayout, kSheetColumns> kSheetLayout = {{
    {kNumberColumn, MonthField::Name, 36, Align::Centre, ColumnRole::Number},
    {kNameColumn, MonthField::Name, 68, Align::Left, ColumnRole::Input},
    {kIdColumn, MonthField::IdNumber, 138, Align::Left, ColumnRole::Input},
    {kIncomeColumn, MonthField::Income, 72, Align::Right, ColumnRole::Input},
    {kTaxFreeColumn, MonthField::TaxFree, 56, Align::Right, ColumnRole::Input},
    {kSpecialColumn, MonthField::Special, 60, Align::Right, ColumnRole::Input},
    {kSpecialAdditionalColumn, MonthField::SpecialAdditional, 68, Align::Right, ColumnRole::Input},
    {kOtherColumn, MonthField::Other, 56, Align::Right, ColumnRole::Input},
    {kReliefColumn, MonthField::Relief, 56, Align::Right, ColumnRole::Input},
    {kBonusColumn, MonthField::Bonus, 76, Align::Right, ColumnRole::Input},
    {kBonusMethodColumn, MonthField::BonusMethod, 80, Align::Left, ColumnRole::Input},
    {kRemarkColumn, MonthField::Remark, 64, Align::Left, ColumnRole::Input},
    {kCumulativeIncomeColumn, MonthField::CumulativeIncome, 80, Align::Right, ColumnRole::Computed},
    {kCumulativeBasicColumn, MonthField::CumulativeBasic, 72, Align::Right, ColumnRole::Computed},
    {kTaxableColumn, MonthField::Taxable, 80, Align::Right, ColumnRole::Computed},
    {kRateColumn, MonthField::Rate, 48, Align::Centre, ColumnRole::Computed},
    {kQuickDeductionColumn, MonthField::QuickDeduction, 56, Align::Right, ColumnRole::Computed},
    {kCumulativeTaxColumn, MonthField::CumulativeTax, 72, Align::Right, ColumnRole::Computed},
    {kWithheldBeforeColumn, MonthField::WithheldBefore, 72, Align::Right, ColumnRole::Computed},
    {kWithholdingColumn, MonthField::Withholding, 72, Align::Right, ColumnRole::Computed},
    {kBonusTaxColumn, MonthField::BonusTax, 64, Align::Right, ColumnRole::Computed},
    {kAfterTaxColumn, MonthField::AfterTax, 76, Align::Right, ColumnRole::Computed},
}};

inline constexpr const SheetColumnLayout& sheetLayoutOf(int column) {
    return kSheetLayout[static_cast<std::size_t>(column)];
}
inline constexpr bool isInputColumn(int column) {
    return column >= kFirstInputColumn && column <= kLastInputColumn;
}

} // namespace iit::ledger
