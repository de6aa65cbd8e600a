// CalculateAll and CalculateEditedRow: the tax computation of the engine applied row by row
// under the batch's policies (engine::TaxPolicy::BatchAll and BatchEditedRow), and the totals.
#include "batch/sheet.h"

#include "engine/bracket_table.h"
#include "engine/calculate.h"
#include "runtime/convert.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace iit::batch {
namespace {

using engine::Greater;
using engine::Less;
using engine::TaxKind;
using engine::TaxMode;

// Amounts beyond these take no part: an income the main window would refuse as too large gets
// no tax, and nothing larger than any amount the sheet can hold is added to the totals, which
// therefore stay finite.
constexpr double kLargestSummed = 1e15;

bool usableIncome(double v) {
    return std::isfinite(v) && !Greater(std::fabs(v), engine::kMaxIncome);
}

double summable(double v) {
    return std::isfinite(v) && std::fabs(v) <= kLargestSummed ? v : 0;
}

// Writes columns 4 and 5 of one row from the tax computation under the batch's policy.
// `edited` is CalculateEditedRow's variant: no tax repeats the income as its number text
// instead of the cell's text.
void ComputeRow(Grid& g, int row, const engine::BracketTable& table, TaxKind kind, TaxMode mode,
                bool edited) {
    static const engine::TaxPolicy all = engine::TaxPolicy::BatchAll();
    static const engine::TaxPolicy editedRow = engine::TaxPolicy::BatchEditedRow();
    const Text& incomeText = g.text(row, kIncomeColumn);
    const double v = ToNumber(incomeText);
    if (!usableIncome(v)) {
        g.setText(row, kTaxColumn, Text{});
        g.setText(row, kAfterTaxColumn, Text{});
        return;
    }
    const engine::TaxFigures f =
        engine::ComputeTaxFigures(table, v, kind, mode, edited ? editedRow : all);
    switch (f.type) {
    case engine::TaxFigures::Type::Taxed:
        g.setText(row, kTaxColumn, ToText(f.tax));
        g.setText(row, kAfterTaxColumn, ToText(f.companion));
        return;
    case engine::TaxFigures::Type::BelowThreshold:
        g.setText(row, kTaxColumn, Text{});
        g.setText(row, kAfterTaxColumn, incomeText);
        return;
    case engine::TaxFigures::Type::NoTax:
        g.setText(row, kTaxColumn, Text{});
        g.setText(row, kAfterTaxColumn, edited ? ToText(v) : incomeText);
        return;
    case engine::TaxFigures::Type::NoResult: // not given under the batch's policy
        g.setText(row, kTaxColumn, Text{});
        g.setText(row, kAfterTaxColumn, Text{});
        return;
    }
}

// A row of the totals: nothing in columns 1 to 7.
bool IsEmptyRow(const Grid& g, int row) {
    for (int c = kNameColumn; c <= kRemarkColumn; ++c)
        if (!g.text(row, c).empty()) return false;
    return true;
}

} // namespace

const Text& TotalsMarker() {
    static const Text marker = sysText("合计");
    return marker;
}

std::filesystem::path BatchSheet::rateTablePath() const {
    return m_tablePath.empty() ? engine::RateTablePath() : m_tablePath;
}

std::optional<Text> BatchSheet::CalculateAll() {
    Grid::UpdateScope batchOfChanges(m_grid);
    double sum = 0;
    for (int row = 1; row <= kDataRows; ++row) {
        // The old totals row's own income too.
        const double income = ToNumber(m_grid.text(row, kIncomeColumn));
        if (usableIncome(income)) sum += income;
        if (m_grid.text(row, kNameColumn) == TotalsMarker()) {
            for (int c = kNameColumn; c <= kCardColumn; ++c)
                m_grid.setText(row, c, Text{});
            break;
        }
    }
    if (!Greater(sum, 0)) return std::nullopt;

    Text problem;
    const std::optional<engine::BracketTable> table =
        engine::LoadBracketTable(rateTablePath(), problem);
    if (!table) return problem;
    // Every row with an income is computed; empty rows are skipped, so no person after a
    // run of empty rows is left with a stale tax that the totals would still add up.
    for (int row = 1; row <= kDataRows; ++row)
        if (!m_grid.text(row, kIncomeColumn).empty())
            ComputeRow(m_grid, row, *table, m_kind, m_mode, false);

    m_lastDataRow = 0;
    for (int row = 1; row <= kDataRows; ++row) {
        if (!m_grid.text(row, kIncomeColumn).empty() || !m_grid.text(row, kTaxColumn).empty() ||
            !m_grid.text(row, kAfterTaxColumn).empty()) {
            // The row's own number, as column 0 shows it.
            m_lastDataRow = std::clamp(ToInteger(m_grid.text(row, kNumberColumn)), 0, kDataRows);
        }
    }
    double sums[3] = {0, 0, 0};
    for (int row = 1; row <= m_lastDataRow; ++row) {
        if (!usableIncome(ToNumber(m_grid.text(row, kIncomeColumn)))) continue;
        for (int k = 0; k < 3; ++k)
            sums[k] += summable(ToNumber(m_grid.text(row, kIncomeColumn + k)));
    }
    // The totals go into the first empty row after the last data row, never over a person
    // who has a name, a number or a remark but no income yet; without one there is none.
    int totalsRow = m_lastDataRow + 1;
    while (totalsRow <= kDataRows && !IsEmptyRow(m_grid, totalsRow))
        ++totalsRow;
    if (totalsRow > kDataRows) return std::nullopt;
    m_grid.setText(totalsRow, kNameColumn, TotalsMarker());
    for (int k = 0; k < 3; ++k)
        m_grid.setText(totalsRow, kIncomeColumn + k, ToText(sums[k]));
    return std::nullopt;
}

std::optional<Text> BatchSheet::CalculateEditedRow(int row, int column) {
    static const Text belowThreshold = sysText("  个人所得收入小于纳税标准, 不计税! . . .    ");
    static const Text tooLarge = sysText(" 输入的数值过大! . . . ");
    if (column != kIncomeColumn || row < 1 || row > kDataRows) return std::nullopt;
    Text problem;
    const std::optional<engine::BracketTable> table =
        engine::LoadBracketTable(rateTablePath(), problem);
    if (!table) return problem;
    const Text& income = m_grid.text(row, kIncomeColumn);
    if (!usableIncome(ToNumber(income))) {
        ComputeRow(m_grid, row, *table, m_kind, m_mode, true);
        return tooLarge;
    }
    if (m_kind == TaxKind::Wages && Less(ToNumber(income), table->integer(1, 1))) {
        // As CalculateAll does, so that a lowered income does not keep its old tax.
        m_grid.setText(row, kTaxColumn, Text{});
        m_grid.setText(row, kAfterTaxColumn, income);
        return belowThreshold;
    }
    if (!income.empty()) ComputeRow(m_grid, row, *table, m_kind, m_mode, true);
    return std::nullopt;
}

} // namespace iit::batch
