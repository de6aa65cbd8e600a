#include "printing/tax_payment_table.h"

#include "base/convert.h"

#include <array>
#include <vector>

namespace iit::printing {
namespace {

// Rows of the template, and its column of the print date.
constexpr int kUnitRow = 2;
constexpr int kHeaderRow = 3;
constexpr int kFirstPersonRow = 4;
constexpr int kDateColumn = 8;

// Serial numbers are centred, amounts line up on the right.
constexpr int kSerialAlignment = 2;
constexpr int kAmountAlignment = 3;

} // namespace

const Text& taxTableTitle() {
    static const Text kText = sysText("个人所得税缴纳表");
    return kText;
}

PageSetup taxTablePageSetup() {
    return PageSetup{}; // its defaults are the settings of the tax payment table
}

void fillTaxPaymentTable(PrintTable& table, const Grid& grid, const TaxTablePeople& people,
                         const TaxTableInput& input) {
    static const Text kTotals = sysText("合计");
    static const Text kGrossHeader = sysText("自行负\r\n担税额");
    static const Text kNetHeader = sysText("雇主全额\r\n负担税额");
    static const Text kDateLabel = sysText("打印日期：");
    static const Text kPreparedBy = sysText("制表：");
    static const Text kCheckedBy = sysText("审核：");
    static const Text kAccountant = sysText("会计：");

    // A grid column's column in the table: the row number is the table's first.
    const TaxTableColumns& columns = people.columns;
    const auto printed = [](int gridColumn) { return gridColumn + 1; };
    table.setHeaderRows(0);
    table.setText(kHeaderRow, printed(columns.tax),
                  input.mode == engine::TaxMode::Net ? kNetHeader : kGrossHeader);
    table.setText(kUnitRow, kDateColumn, kDateLabel + toTextDateTime(DatePart(input.today)));

    const int first = std::min(kFirstPersonRow, table.rowCount() + 1);
    if (!people.rows.empty()) table.insertRows(first, static_cast<int>(people.rows.size()));
    for (std::size_t p = 0; p < people.rows.size(); ++p) {
        const int printRow = first + static_cast<int>(p);
        for (int c = 0; c < columns.count; ++c)
            table.setText(printRow, printed(c), grid.text(people.rows[p], c));
    }

    const int n = table.rowCount();
    table.merge(n - 1, 1, 1, 2);
    if (!input.employer.empty()) table.setText(1, 1, input.employer + taxTableTitle());
    table.setText(n - 1, 1, kTotals);
    for (int k = 0; k < 3; ++k)
        table.setText(n - 1, printed(columns.firstTotal) + k,
                      people.totals[static_cast<std::size_t>(k)]);

    if (n >= 1) table.insertRows(n, 1);
    table.setText(n, 1, kPreparedBy);
    table.setText(n, 4, kCheckedBy);
    table.setText(n, 6, kAccountant);

    const int m = table.rowCount();
    table.setAlignment(kFirstPersonRow, 1, m - 3, 1, kSerialAlignment);
    table.setAlignment(kFirstPersonRow, printed(columns.firstTotal), m, 3, kAmountAlignment);

    table.applyPageSetup(taxTablePageSetup());
    table.setHeaderRows(3);
    // Totals, signatures and the closing row stay with the last person.
    table.setClosingRows(3);
}

PrintTable makeTaxPaymentTable(const std::filesystem::path& templateFile, const Grid& grid,
                               const TaxTablePeople& people, const TaxTableInput& input) {
    PrintTable table;
    table.load(templateFile);
    fillTaxPaymentTable(table, grid, people, input);
    return table;
}

} // namespace iit::printing
