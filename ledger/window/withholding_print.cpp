#include "ledger/window/withholding_print.h"

#include "base/convert.h"
#include "ledger/window/ledger_sheet.h"
#include "printing/print_template.h"

#include <algorithm>

namespace iit::ledger {
namespace {

// Rows of the table before the people are inserted.
constexpr int kTitleRow = 1, kInfoRow = 2, kHeaderRow = 3, kPersonRow = 4, kTotalsRow = 5,
              kSignatureRow = 6, kRows = 6;

// Alignment codes of the print table: left, centre, right on one line; centre with wrapping.
constexpr std::uint32_t kLeft = 1, kCentre = 2, kRight = 3, kCentreWrapped = 5;
constexpr std::uint32_t kBoxed =
    printing::kBorderLeft | printing::kBorderTop | printing::kBorderRight | printing::kBorderBottom;
constexpr std::uint16_t kBodySize = 36;    // 9 points, in quarter points
constexpr std::uint16_t kTitleSize = 64;   // 16 points
constexpr std::uint16_t kWrap = 0x1 | 0x8; // wrap at words, clip to the cell

// Widths in tenths of a millimetre.
std::int32_t widthOf(int column) {
    switch (column) {
    case kNumberColumn:
        return 90;
    case kNameColumn:
        return 170;
    case kIdColumn:
        return 380;
    case kRateColumn:
        return 110;
    default:
        return 160;
    }
}

// The width an amount of `chars` digits needs at the body size (a digit is some 1.75 mm at
// 9 points), with the cell's padding: a total of millions keeps its size rather than shrinking
// below what can be read.
std::int32_t figureWidth(std::size_t chars) {
    return static_cast<std::int32_t>(chars) * 18 + 24;
}

} // namespace

const Text& withholdingTableTitle() {
    static const Text title = sysText("工资薪金个人所得税预扣明细表");
    return title;
}

const std::vector<int>& printedColumns() {
    // The sheet's columns without the bonus method and the remark, the bonus beside its tax.
    // clang-format off
    static const std::vector<int> columns = {
        kNumberColumn,           kNameColumn,            kIdColumn,
        kIncomeColumn,           kTaxFreeColumn,         kSpecialColumn,
        kSpecialAdditionalColumn, kOtherColumn,          kReliefColumn,
        kCumulativeIncomeColumn, kCumulativeBasicColumn, kTaxableColumn,
        kRateColumn,             kQuickDeductionColumn,  kCumulativeTaxColumn,
        kWithheldBeforeColumn,   kWithholdingColumn,     kBonusColumn,
        kBonusTaxColumn,         kAfterTaxColumn};
    // clang-format on
    return columns;
}

printing::PrintTable makeWithholdingTable(const std::vector<MonthLine>& lines,
                                          const std::array<Text, kSheetColumns>& totals,
                                          const WithholdingPrintInput& input) {
    const std::vector<int>& columns = printedColumns();
    const int n = static_cast<int>(columns.size());

    printing::PrintTemplate t;
    t.rowHeights = {130, 80, 120, 64, 64, 110};
    for (int c : columns) {
        std::size_t longest = 0;
        if (sheetLayoutOf(c).amount()) {
            for (const MonthLine& line : lines)
                longest = std::max(longest, sheetCellText(line, c).size());
            longest = std::max(longest, totals[static_cast<std::size_t>(c)].size());
        }
        t.columnWidths.push_back(std::max(widthOf(c), figureWidth(longest)));
    }
    t.resetCells();
    for (int row = 1; row <= kRows; ++row) {
        for (int col = 1; col <= n; ++col) {
            printing::TemplateCell& cell = t.cell(row, col);
            cell.fontSize = kBodySize;
            cell.textFlags = kWrap;
            const int column = columns[static_cast<std::size_t>(col - 1)];
            const Align align = sheetLayoutOf(column).align;
            switch (row) {
            case kTitleRow:
                cell.format = kCentre;
                cell.fontSize = kTitleSize;
                break;
            case kInfoRow:
            case kSignatureRow:
                cell.format = kLeft;
                break;
            case kHeaderRow:
                cell.format = kCentreWrapped | kBoxed;
                break;
            default:
                cell.format = (align == Align::Right    ? kRight
                               : align == Align::Centre ? kCentre
                                                        : kLeft) |
                              kBoxed;
            }
        }
    }
    t.page.headerRows = kHeaderRow;

    printing::PrintTable table;
    table.loadBytes(printing::encodePrintTemplate(t));
    table.setDocumentName(withholdingTableTitle() + ToText(input.year) + sysText("年") +
                          ToText(input.month) + sysText("月"));

    // The title, the line under it and the column headers.
    table.merge(kTitleRow, 1, 1, n);
    table.setText(kTitleRow, 1,
                  input.employer.empty()
                      ? withholdingTableTitle()
                      : input.employer + sysText("　") + withholdingTableTitle());
    const int half = n / 2;
    table.merge(kInfoRow, 1, 1, half);
    table.merge(kInfoRow, half + 1, 1, n - half);
    table.setText(kInfoRow, 1,
                  sysText("扣缴义务人：") + input.employer + sysText("　　所属期：") +
                      ToText(input.year) + sysText("年") + ToText(input.month) + sysText("月") +
                      (input.declared ? sysText("（已申报）") : Text{}));
    table.setAlignment(kInfoRow, half + 1, 1, n - half, static_cast<int>(kRight));
    table.setText(kInfoRow, half + 1,
                  sysText("金额单位：元　　打印日期：") + toTextDateTime(DatePart(input.today)));
    for (int col = 1; col <= n; ++col)
        table.setText(kHeaderRow, col,
                      sysText(sheetLayoutOf(columns[static_cast<std::size_t>(col - 1)]).caption()));

    // One row per employee before the totals.
    const int people = static_cast<int>(lines.size());
    if (people > 1) table.insertRows(kPersonRow, people - 1);
    for (int p = 0; p < people; ++p) {
        const int row = kPersonRow + p;
        const MonthLine& line = lines[static_cast<std::size_t>(p)];
        for (int col = 1; col <= n; ++col) {
            const int column = columns[static_cast<std::size_t>(col - 1)];
            table.setText(row, col,
                          column == kNumberColumn ? ToText(p + 1) : sheetCellText(line, column));
        }
    }

    const int totalsRow = kTotalsRow + std::max(people - 1, 0);
    table.merge(totalsRow, 1, 1, 2);
    table.setText(totalsRow, 1, sysText("合计"));
    for (int col = 3; col <= n; ++col) {
        const int column = columns[static_cast<std::size_t>(col - 1)];
        table.setText(totalsRow, col,
                      column == kIdColumn ? ToText(people) + sysText("人")
                                          : totals[static_cast<std::size_t>(column)]);
    }
    const int signature = totalsRow + 1;
    const int quarter = n / 4;
    const char* const signers[] = {"制表人：", "审核人：", "扣缴义务人负责人（签章）：",
                                   "日期：　　　年　　月　　日"};
    for (int k = 0; k < 4; ++k) {
        const int first = 1 + k * quarter;
        table.merge(signature, first, 1, k == 3 ? n - first + 1 : quarter);
        table.setText(signature, first, sysText(signers[k]));
    }

    table.applyPageSetup(printing::PageSetup{}); // A4 landscape, the width fitted to the page
    table.setHeaderRows(kHeaderRow);
    table.setClosingRows(2);
    return table;
}

} // namespace iit::ledger
