// CalculateAll and CalculateEditedRow: the tax rules applied row by row, with the batch's own
// conventions (the threshold as a truncated integer, truncated quick deductions, the defaults
// of rate 0.03 and deduction 0 when no band matches, the last matching band winning).
#include "batch/sheet.h"

#include "engine/bracket_table.h"
#include "engine/calculate.h"
#include "runtime/convert.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace iit::batch {
namespace {

using engine::Divide;
using engine::Greater;
using engine::InBand;
using engine::Less;
using engine::TaxKind;
using engine::TaxMode;

struct Band {
    double lower = 0, upper = 0;
    double rate = 0;     // percent, as a double
    std::int32_t qd = 0; // quick deduction, truncated
};

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

// The bracket values one computation needs, read once from the table.
class Rules {
public:
    // The rules of the table at `tablePath`; nullopt, with the message in `problem`, when the
    // table cannot be read.
    static std::optional<Rules> load(const std::filesystem::path& tablePath, TaxKind kind,
                                     TaxMode mode, Text& problem) {
        engine::TableSnapshot t;
        if (std::optional<Text> p = engine::EnsureRateTableOpen(tablePath); p || !t.load()) {
            problem = p ? *p : Text{};
            return std::nullopt;
        }
        return Rules(t, kind, mode);
    }

    Rules(engine::TableSnapshot& t, TaxKind kind, TaxMode mode)
        : m_kind(kind), m_mode(kind == TaxKind::Royalties ? TaxMode::Gross : mode) {
        m_wageThreshold = t.integer(1, 1);
        const int k = m_kind == TaxKind::Wages       ? 1
                      : m_kind == TaxKind::Royalties ? 19
                      : m_mode == TaxMode::Gross     ? 7
                                                     : 13;
        m_first.qd = t.integer(1, k + 4);
        m_first.rate = t.number(1, k + 3);
        m_deduction = t.integer(1, k);
        m_u1 = t.integer(1, k + 2);
        m_d = t.integer(1, k + 3);
        if (m_kind == TaxKind::Royalties) {
            m_reduction = t.integer(2, 22);
            return;
        }
        for (std::int32_t i = 1; i <= t.recordCount(); ++i)
            m_bands.push_back(
                {t.number(i, k + 1), t.number(i, k + 2), t.number(i, k + 3), t.integer(i, k + 4)});
    }

    std::int32_t wageThreshold() const { return m_wageThreshold; }

    // Writes columns 4 and 5 of one row. `edited` selects CalculateEditedRow's variant of
    // the no-tax branch: the income's own number text instead of the cell text.
    void computeRow(Grid& g, int row, bool edited) const {
        const Text& incomeText = g.text(row, kIncomeColumn);
        const double v = ToNumber(incomeText);
        if (!usableIncome(v)) {
            g.setText(row, kTaxColumn, Text{});
            g.setText(row, kAfterTaxColumn, Text{});
            return;
        }
        auto noTax = [&](bool keepTextForAll) {
            g.setText(row, kTaxColumn, Text{});
            g.setText(row, kAfterTaxColumn, edited && !keepTextForAll ? ToText(v) : incomeText);
        };
        auto taxed = [&](double tax, double after) {
            g.setText(row, kTaxColumn, ToText(tax));
            g.setText(row, kAfterTaxColumn, ToText(after));
        };
        switch (m_kind) {
        case TaxKind::Wages: {
            const double t = m_wageThreshold;
            if (m_mode == TaxMode::Gross) {
                if (Less(v, t)) return noTax(true);
                const double x = v - t;
                double rate = 0.03, qd = 0;
                for (const Band& b : m_bands) {
                    if (InBand(x, b.lower, b.upper)) {
                        rate = b.rate / 100;
                        qd = b.qd;
                    }
                }
                const double tax = Round(x * rate - qd, 2);
                if (Greater(tax, 0)) return taxed(tax, Round(x - tax + t, 2));
                return noTax(false);
            }
            const double x = v - t;
            double rate = 0.03, qd = 0;
            // The band is the first whose gross taxable amount (x - qd) / (1 - rate) lies in
            // it, so the gross wage taxed forward gives back the net wage.
            for (const Band& b : m_bands) {
                if (b.lower == 0 && b.upper == 0) continue;
                if (!Less(b.rate, 100)) continue;
                if (InBand(Divide(x - b.qd, 1 - b.rate / 100), b.lower, b.upper)) {
                    rate = b.rate / 100;
                    qd = b.qd;
                    break;
                }
            }
            const double taxable = Divide(x - qd, 1 - rate);
            const double gross = Round(taxable + t, 2);
            const bool hasTax = edited ? Greater(taxable, 0) : Greater(Round(gross - x - t, 3), 0);
            if (hasTax) return taxed(Round(gross - x - t, 2), gross);
            return noTax(false);
        }
        case TaxKind::Labour: {
            double rate = m_first.rate, qd = m_first.qd;
            const double d = m_d;
            double tax = 0;
            if (m_mode == TaxMode::Gross) {
                if (!Greater(v, m_u1)) {
                    tax = Round((v - m_deduction) * rate / 100 - qd, 2);
                } else {
                    pickLastBand(v, rate, qd);
                    tax = Round((v - v * d / 100) * rate / 100 - qd, 2);
                }
                if (Greater(tax, 0)) return taxed(tax, v - tax);
                return noTax(false);
            }
            if (!Greater(v, m_u1)) {
                tax = Round(Divide(v - m_deduction, 1 - d / 100) * d / 100 - qd, 2);
            } else {
                pickLastBand(v, rate, qd);
                tax = Round(Divide((v - qd) * (1 - d / 100), 1 - rate / 100 * (1 - d / 100)) *
                                    rate / 100 -
                                qd,
                            2);
            }
            if (Greater(tax, 0)) return taxed(tax, tax + v);
            return noTax(false);
        }
        case TaxKind::Royalties: {
            const double d = m_d;
            double tax = 0;
            if (v - m_deduction > 1e-7) {
                if (!Greater(v, m_u1))
                    tax = Round((v - m_deduction) * d / 100 * (1 - m_reduction / 100.0), 2);
                else
                    tax = Round(v * (1 - d / 100) * d / 100 * (1 - m_reduction / 100.0), 2);
            }
            if (edited && !Greater(tax, 0)) return noTax(false);
            return taxed(tax, v - tax);
        }
        }
    }

private:
    // Every record is tried and the last band that holds v wins.
    void pickLastBand(double v, double& rate, double& qd) const {
        for (const Band& b : m_bands) {
            if (InBand(v, b.lower, b.upper)) {
                rate = b.rate;
                qd = b.qd;
            }
        }
    }

    TaxKind m_kind;
    TaxMode m_mode;
    std::int32_t m_wageThreshold = 0;
    std::int32_t m_deduction = 0; // the group's threshold D
    std::int32_t m_u1 = 0;
    std::int32_t m_d = 0;
    std::int32_t m_reduction = 0;
    Band m_first;
    std::vector<Band> m_bands;
};

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
    const std::optional<Rules> rules = Rules::load(rateTablePath(), m_kind, m_mode, problem);
    if (!rules) return problem;
    // Every row with an income is computed; empty rows are skipped, so no person after a
    // run of empty rows is left with a stale tax that the totals would still add up.
    for (int row = 1; row <= kDataRows; ++row)
        if (!m_grid.text(row, kIncomeColumn).empty()) rules->computeRow(m_grid, row, false);

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
    // With 10,000 data rows there is no row left for the totals: the grid refuses them.
    const int totalsRow = m_lastDataRow + 1;
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
    const std::optional<Rules> rules = Rules::load(rateTablePath(), m_kind, m_mode, problem);
    if (!rules) return problem;
    const Text& income = m_grid.text(row, kIncomeColumn);
    if (!usableIncome(ToNumber(income))) {
        rules->computeRow(m_grid, row, true);
        return tooLarge;
    }
    if (m_kind == TaxKind::Wages && Less(ToNumber(income), rules->wageThreshold())) {
        // As CalculateAll does, so that a lowered income does not keep its old tax.
        m_grid.setText(row, kTaxColumn, Text{});
        m_grid.setText(row, kAfterTaxColumn, income);
        return belowThreshold;
    }
    if (!income.empty()) rules->computeRow(m_grid, row, true);
    return std::nullopt;
}

} // namespace iit::batch
