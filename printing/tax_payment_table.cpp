#include "printing/tax_payment_table.h"

#include "runtime/convert.h"

#include <array>
#include <vector>

namespace iit::printing {
namespace {

// Rows of the template, and the grid's columns that the fill reads.
constexpr int kUnitRow = 2;
constexpr int kHeaderRow = 3;
constexpr int kFirstPersonRow = 4;
constexpr int kGridName = 1;
constexpr int kGridId = 2;
constexpr int kGridIncome = 3;
constexpr int kGridAfterTax = 5;
constexpr int kGridCard = 6;
constexpr int kGridRemark = 7;
constexpr int kGridColumns = 8;
constexpr int kTaxColumn = 5;  // of the print table
constexpr int kDateColumn = 8; // of the print table

// Serial numbers are centred, amounts line up on the right.
constexpr int kSerialAlignment = 2;
constexpr int kAmountAlignment = 3;

// A reopened batch file fills every row it holds, empty ones with "0" as income, tax and
// after-tax amount: such a row carries nothing of a person and is not printed. A name, a
// number, a card, a remark or any amount that is not zero makes it a person's row.
bool HoldsAPerson(const Grid& grid, int row) {
    for (int c : {kGridName, kGridId, kGridCard, kGridRemark})
        if (!grid.text(row, c).empty()) return true;
    for (int c = kGridIncome; c <= kGridAfterTax; ++c)
        if (ToNumber(grid.text(row, c)) != 0) return true;
    return false;
}

} // namespace

const Text& EmployerPlaceholder() {
    static const Text kText = sysText("在这里输入使用单位名称");
    return kText;
}

const Text& TaxTableTitle() {
    static const Text kText = sysText("个人所得税缴纳表");
    return kText;
}

PageSetup TaxTablePageSetup() {
    return PageSetup{}; // its defaults are the settings of the tax payment table
}

void FillTaxPaymentTable(PrintTable& table, const Grid& grid, const TaxTableInput& input) {
    static const Text kTotals = sysText("合计");
    static const Text kGrossHeader = sysText("自行负\r\n担税额");
    static const Text kNetHeader = sysText("雇主全额\r\n负担税额");
    static const Text kDateLabel = sysText("打印日期：");
    static const Text kPreparedBy = sysText("制表：");
    static const Text kCheckedBy = sysText("审核：");
    static const Text kAccountant = sysText("会计：");

    table.setHeaderRows(0);
    table.setText(kHeaderRow, kTaxColumn,
                  input.mode == engine::TaxMode::Net ? kNetHeader : kGrossHeader);
    table.setText(kUnitRow, kDateColumn, kDateLabel + ToTextDateTime(DatePart(input.today)));

    // The people: every data row with an income, except the grid's totals row and the rows
    // that hold nothing of a person. They are counted first so that their rows go in with one
    // insertion.
    const int lastGridRow = grid.rowCount() - 1;
    std::vector<int> people;
    people.reserve(static_cast<std::size_t>(lastGridRow > 0 ? lastGridRow : 0));
    for (int row = 1; row <= lastGridRow; ++row) {
        if (RemoveSpaces(grid.text(row, kGridName)) == kTotals) continue;
        if (grid.text(row, kGridIncome).empty()) continue;
        if (!HoldsAPerson(grid, row)) continue;
        people.push_back(row);
    }
    const int first = std::min(kFirstPersonRow, table.rowCount() + 1);
    std::array<double, 3> totals{0, 0, 0};
    if (!people.empty()) table.insertRows(first, static_cast<int>(people.size()));
    for (std::size_t p = 0; p < people.size(); ++p) {
        const int printRow = first + static_cast<int>(p);
        const int gridRow = people[p];
        for (int j = 1; j <= kGridColumns; ++j)
            table.setText(printRow, j, grid.text(gridRow, j - 1));
        for (int k = 0; k < 3; ++k)
            totals[static_cast<std::size_t>(k)] += ToNumber(grid.text(gridRow, kGridIncome + k));
    }

    const int n = table.rowCount();
    table.merge(n - 1, 1, 1, 2);
    if (input.employer != EmployerPlaceholder())
        table.setText(1, 1, input.employer + TaxTableTitle());
    table.setText(n - 1, 1, kTotals);
    for (int k = 0; k < 3; ++k)
        table.setText(n - 1, k + 4, ToText(totals[static_cast<std::size_t>(k)]));

    if (n >= 1) table.insertRows(n, 1);
    table.setText(n, 1, kPreparedBy);
    table.setText(n, 4, kCheckedBy);
    table.setText(n, 6, kAccountant);

    const int m = table.rowCount();
    table.setAlignment(kFirstPersonRow, 1, m - 3, 1, kSerialAlignment);
    table.setAlignment(kFirstPersonRow, 4, m, 3, kAmountAlignment);

    table.applyPageSetup(TaxTablePageSetup());
    table.setHeaderRows(3);
    // Totals, signatures and the closing row stay with the last person.
    table.setClosingRows(3);
}

PrintTable MakeTaxPaymentTable(const std::filesystem::path& templateFile, const Grid& grid,
                               const TaxTableInput& input) {
    PrintTable table;
    table.load(templateFile);
    FillTaxPaymentTable(table, grid, input);
    return table;
}

} // namespace iit::printing
