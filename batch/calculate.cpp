// CalculateAll and CalculateEditedRow: the tax computation of the engine applied row by row
// under a sheet's policies (engine::TaxPolicy::sheetAll and sheetRow), the people of
// the sheet with their exact totals, and the report of the rows that could not be computed.
#include "batch/sheet.h"

#include "base/convert.h"
#include "base/identity_card.h"
#include "engine/rate_table_file.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace iit::batch {
namespace {

using engine::Exact;
using engine::greater;
using engine::less;
using engine::TaxKind;
using engine::TaxMode;

const Text& tooLargeReason() {
    static const Text text = sysText("超出可计算的范围");
    return text;
}

const Text& noResultReason() {
    static const Text text = sysText("税率表无法计算此收入");
    return text;
}

// A row of the totals: nothing in columns 1 to 7.
bool isEmptyRow(const Grid& g, int row) {
    for (int c = kNameColumn; c <= kRemarkColumn; ++c)
        if (!g.text(row, c).empty()) return false;
    return true;
}

bool isTotalsRow(const Grid& g, int row) {
    return RemoveSpaces(g.text(row, kNameColumn)) == totalsMarker();
}

// A reopened batch file fills every row it holds, empty ones with "0" as income, tax and
// after-tax amount: such a row carries nothing of a person. A name, a number, a card, a remark
// or any amount that is not zero makes it a person's row.
bool holdsAPerson(const Grid& g, int row) {
    for (int c : {kNameColumn, kIdColumn, kCardColumn, kRemarkColumn})
        if (!g.text(row, c).empty()) return true;
    for (int c = kIncomeColumn; c <= kAfterTaxColumn; ++c)
        if (ToNumber(g.text(row, c)) != 0) return true;
    return false;
}

void clearComputed(Grid& g, int row) {
    g.setText(row, kTaxColumn, Text{});
    g.setText(row, kAfterTaxColumn, Text{});
}

} // namespace

const Text& totalsMarker() {
    static const Text marker = sysText("合计");
    return marker;
}

Income readIncome(const Text& cell) {
    static const Text notAnAmount = sysText("不是金额");
    static const Text negative = sysText("不能为负数");
    Income out;
    if (cell.empty()) return out;
    const std::optional<std::string> number = wholeNumberText(cell.view());
    if (!number) {
        out.kind = Income::Kind::Invalid;
        out.reason = notAnAmount;
        return out;
    }
    const double v = ToNumber(Text::fromBytes(*number));
    if (!std::isfinite(v) || greater(v, engine::kMaxIncome)) {
        out.kind = Income::Kind::Invalid;
        out.reason = tooLargeReason();
        return out;
    }
    if (less(v, 0)) {
        out.kind = Income::Kind::Invalid;
        out.reason = negative;
        return out;
    }
    out.kind = Income::Kind::Amount;
    out.amount = Exact::fromText(Text::fromBytes(*number));
    return out;
}

SheetPeople peopleOf(const Grid& grid) {
    SheetPeople out;
    const int last = std::min(grid.rowCount() - 1, kDataRows);
    for (int row = 1; row <= last; ++row) {
        if (isTotalsRow(grid, row) || grid.text(row, kIncomeColumn).empty()) continue;
        if (!holdsAPerson(grid, row)) continue;
        out.rows.push_back(row);
        // A row whose income could not be computed has no tax and is left out of the totals.
        const Income income = readIncome(grid.text(row, kIncomeColumn));
        if (income.kind != Income::Kind::Amount) continue;
        out.income += income.amount;
        out.tax += Exact::fromText(grid.text(row, kTaxColumn));
        out.afterTax += Exact::fromText(grid.text(row, kAfterTaxColumn));
    }
    return out;
}

Text CalculationReport::message() const {
    std::string text;
    if (!uncomputed.empty()) {
        text = "有 " + std::to_string(uncomputed.size()) +
               " 行的收入无法计算，这些行没有税额，也不计入合计：\r\n";
        for (std::size_t i = 0; i < uncomputed.size() && i < 5; ++i) {
            const Row& r = uncomputed[i];
            text += "\r\n    第 " + std::to_string(r.row) + " 行（" + r.income.toUtf8() + "）：" +
                    r.reason.toUtf8();
        }
        if (uncomputed.size() > 5) text += "\r\n    ……";
    }
    if (noTotalsRow) {
        if (!text.empty()) text += "\r\n\r\n";
        text += "表格最后一行之后没有空行，合计未能写入。";
    }
    return sysText(text);
}

// Writes columns 4 and 5 of one row from the tax computation under the batch's policy.
// `edited` is CalculateEditedRow's variant: no tax repeats the income as its number text
// instead of the cell's text. False when the row could not be computed (its cells emptied).
bool BatchSheet::computeRow(int row, const Income& income, const engine::BracketTable& table,
                            bool edited) {
    static const engine::TaxPolicy all = engine::TaxPolicy::sheetAll();
    static const engine::TaxPolicy editedRow = engine::TaxPolicy::sheetRow();
    Grid& g = m_grid;
    const Text incomeText = g.text(row, kIncomeColumn);
    if (income.kind != Income::Kind::Amount) {
        clearComputed(g, row);
        if (income.kind == Income::Kind::Invalid) m_uncomputed[row] = income.reason;
        return income.kind == Income::Kind::Empty;
    }
    const engine::TaxFigures f =
        engine::computeTaxFigures(table, income.amount, m_kind, m_mode, edited ? editedRow : all);
    switch (f.type) {
    case engine::TaxFigures::Type::Taxed:
        g.setText(row, kTaxColumn, ToText(f.tax));
        g.setText(row, kAfterTaxColumn, ToText(f.companion));
        break;
    case engine::TaxFigures::Type::BelowThreshold:
        g.setText(row, kTaxColumn, Text{});
        g.setText(row, kAfterTaxColumn, incomeText);
        break;
    case engine::TaxFigures::Type::NoTax:
        g.setText(row, kTaxColumn, Text{});
        g.setText(row, kAfterTaxColumn, edited ? ToText(ToNumber(incomeText)) : incomeText);
        break;
    case engine::TaxFigures::Type::NoResult:
        clearComputed(g, row);
        m_uncomputed[row] = noResultReason();
        return false;
    }
    m_uncomputed.erase(row);
    return true;
}

Text BatchSheet::noteOf(int row, int column) const {
    // A number that is no identity-card number is marked, never refused or changed.
    if (column == kIdColumn) return identityCardProblem(m_grid.text(row, kIdColumn).view());
    if (column != kIncomeColumn) return {};
    const Income income = readIncome(m_grid.text(row, kIncomeColumn));
    if (income.kind == Income::Kind::Invalid) return income.reason;
    if (income.kind == Income::Kind::Empty) return {};
    const auto found = m_uncomputed.find(row);
    return found != m_uncomputed.end() ? found->second : Text{};
}

Outcome<CalculationReport> BatchSheet::CalculateAll() {
    Grid::UpdateScope batchOfChanges(m_grid);
    // A row without an income has no tax: whatever its computed cells held is stale.
    for (int row = 1; row <= kDataRows; ++row)
        if (m_grid.text(row, kIncomeColumn).empty()) clearComputed(m_grid, row);
    m_uncomputed.clear();

    // Each income is read once.
    std::vector<Income> incomes(kDataRows + 1);
    for (int row = 1; row <= kDataRows; ++row)
        incomes[static_cast<std::size_t>(row)] = readIncome(m_grid.text(row, kIncomeColumn));
    double sum = 0;
    for (int row = 1; row <= kDataRows; ++row) {
        // The old totals row's own income too.
        const Income& income = incomes[static_cast<std::size_t>(row)];
        if (income.kind == Income::Kind::Amount) sum += income.amount.toDouble();
        if (m_grid.text(row, kNameColumn) == totalsMarker()) {
            for (int c = kNameColumn; c <= kCardColumn; ++c)
                m_grid.setText(row, c, Text{});
            break;
        }
    }
    CalculationReport report;
    if (!greater(sum, 0)) {
        // Nothing is computed; incomes that are no amounts are still named.
        for (int row = 1; row <= kDataRows; ++row) {
            const Income& income = incomes[static_cast<std::size_t>(row)];
            if (income.kind == Income::Kind::Invalid)
                report.uncomputed.push_back({row, m_grid.text(row, kIncomeColumn), income.reason});
        }
        return report;
    }

    const Outcome<engine::BracketTable> table = rateTable().load();
    if (!table) return table.problem();
    // Every row with an income is computed; empty rows are skipped, so no person after a
    // run of empty rows is left with a stale tax that the totals would still add up.
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kIncomeColumn).empty()) continue;
        if (!computeRow(row, incomes[static_cast<std::size_t>(row)], *table, false))
            report.uncomputed.push_back({row, m_grid.text(row, kIncomeColumn), m_uncomputed[row]});
    }

    m_lastDataRow = 0;
    for (int row = 1; row <= kDataRows; ++row) {
        if (!m_grid.text(row, kIncomeColumn).empty() || !m_grid.text(row, kTaxColumn).empty() ||
            !m_grid.text(row, kAfterTaxColumn).empty()) {
            // The row's own number, as column 0 shows it.
            m_lastDataRow = std::clamp(ToInteger(m_grid.text(row, kNumberColumn)), 0, kDataRows);
        }
    }
    const SheetPeople people = peopleOf(m_grid);
    // The totals go into the first empty row after the last data row, never over a person
    // who has a name, a number or a remark but no income yet; without one there is none.
    int totalsRow = m_lastDataRow + 1;
    while (totalsRow <= kDataRows && !isEmptyRow(m_grid, totalsRow))
        ++totalsRow;
    if (totalsRow > kDataRows) {
        report.noTotalsRow = true;
        return report;
    }
    m_grid.setText(totalsRow, kNameColumn, totalsMarker());
    m_grid.setText(totalsRow, kIncomeColumn, ToText(people.income));
    m_grid.setText(totalsRow, kTaxColumn, ToText(people.tax));
    m_grid.setText(totalsRow, kAfterTaxColumn, ToText(people.afterTax));
    return report;
}

engine::RateTableFile& BatchSheet::rateTable() {
    if (!m_rateTable)
        m_rateTable = std::make_shared<engine::RateTableFile>(engine::rateTablePath());
    return *m_rateTable;
}

Outcome<Text> BatchSheet::CalculateEditedRow(int row, int column) {
    static const Text belowThreshold = sysText("  个人所得收入小于纳税标准, 不计税! . . .    ");
    static const Text tooLarge = sysText(" 输入的数值过大! . . . ");
    if (column != kIncomeColumn || row < 1 || row > kDataRows) return Text{};
    const Outcome<engine::BracketTable> table = rateTable().load();
    if (!table) return table.problem();
    const Text& income = m_grid.text(row, kIncomeColumn);
    const Income read = readIncome(income);
    if (read.kind == Income::Kind::Invalid) {
        // The cell is marked and its note names the reason; only an amount beyond the limit
        // has a message of its own.
        computeRow(row, read, *table, true);
        if (read.reason == tooLargeReason()) return fail(tooLarge);
        return Text{};
    }
    if (m_kind == TaxKind::Wages && engine::isBelowThreshold(*table, read.amount, m_kind, m_mode)) {
        // An emptied income takes its tax with it; a lowered one does not keep its old tax.
        m_grid.setText(row, kTaxColumn, Text{});
        m_grid.setText(row, kAfterTaxColumn, income);
        m_uncomputed.erase(row);
        return belowThreshold;
    }
    if (income.empty()) {
        clearComputed(m_grid, row);
        m_uncomputed.erase(row);
        return Text{};
    }
    // A row the table cannot compute is marked in the grid (noteOf) rather than announced.
    computeRow(row, read, *table, true);
    return Text{};
}

} // namespace iit::batch
