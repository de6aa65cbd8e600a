#include "engine/tax.h"

#include "engine/bracket_table.h"
#include "runtime/convert.h"

#include <cmath>
#include <limits>

namespace iit::engine {
namespace {

// The group's first field: wages 1, labour 7 (tax included) or 13 (excluded), royalties 19.
int GroupOf(TaxKind kind, TaxMode mode) {
    switch (kind) {
    case TaxKind::Wages:
        return 1;
    case TaxKind::Labour:
        return mode == TaxMode::Gross ? 7 : 13;
    case TaxKind::Royalties:
        return 19;
    }
    return 1;
}

// One computation: the table, the policy, and the fields read as the policy says.
class Computation {
public:
    Computation(const BracketTable& t, const TaxPolicy& p) : m_t(t), m_p(p) {}

    double quickDeduction(std::int32_t record, int field) const {
        return m_p.quickDeductionsTruncated ? m_t.integer(record, field)
                                            : m_t.number(record, field);
    }

    // The band of v in group k (bounds in fields k+1 and k+2), first or last match; 0 for none.
    std::int32_t findBand(int k, double v) const {
        std::int32_t found = 0;
        for (std::int32_t i = 1; i <= m_t.recordCount(); ++i) {
            if (!InBand(v, m_t.number(i, k + 1), m_t.number(i, k + 2))) continue;
            found = i;
            if (m_p.bandMatch == BandMatch::First) break;
        }
        return found;
    }

    TaxFigures taxed(double tax, double companion) const {
        TaxFigures out;
        // A table that makes the formulas overflow or divide by zero gives no usable amount.
        if (m_p.checkedAmounts && (!std::isfinite(tax) || !std::isfinite(companion))) return out;
        out.type = TaxFigures::Type::Taxed;
        out.tax = tax;
        out.companion = companion;
        return out;
    }

    // Taxed, or NoTax when the policy's test finds no tax.
    TaxFigures result(double tax, double companion) const {
        if (m_p.noTax == TaxPolicy::NoTaxTest::NotPositive && !Greater(tax, 0)) {
            TaxFigures out;
            out.type = TaxFigures::Type::NoTax;
            return out;
        }
        return taxed(tax, companion);
    }

    double wageTaxable(double x) const {
        return m_p.wageThresholdTruncated ? x - m_t.integer(1, 1) : x - m_t.number(1, 1);
    }

    TaxFigures wagesGross(double x) const {
        const std::int32_t threshold = m_t.integer(1, 1);
        if (!m_p.belowThresholdEveryKind && Less(x, threshold)) return below();
        const double a = wageTaxable(x);
        double rate = m_p.wageRateWithoutBand, qd = 0.0;
        if (const std::int32_t i = findBand(1, a)) {
            rate = m_t.number(i, 4) / 100;
            qd = quickDeduction(i, 5);
        }
        const double tax = Round(a * rate - qd, 2);
        return result(tax, m_p.wageNetPayRounded ? Round(a - tax + threshold, 2) : x - tax);
    }

    // Works back from the net wage x to the gross wage. Each band is tried with the gross
    // taxable amount it would imply, (A - qd) / (1 - rate), and the first band that holds its
    // own amount wins; so the gross wage taxed forward gives back exactly the net wage.
    TaxFigures wagesNet(double x) const {
        const std::int32_t threshold = m_t.integer(1, 1);
        const double a = wageTaxable(x);
        double rate = m_p.wageRateWithoutBand, qd = 0.0;
        for (std::int32_t i = 1; i <= m_t.recordCount(); ++i) {
            const double lower = m_t.number(i, 2), upper = m_t.number(i, 3);
            if (lower == 0 && upper == 0) continue; // a row not in use
            const double ratePercent = m_t.number(i, 4);
            if (!Less(ratePercent, 100)) continue; // also skips a NaN rate
            const double q = quickDeduction(i, 5);
            if (InBand(Divide(a - q, 1 - ratePercent / 100), lower, upper)) {
                rate = ratePercent / 100;
                qd = q;
                break;
            }
        }
        const double taxable = Divide(a - qd, 1 - rate);
        const double gross = Round(taxable + threshold, 2);
        if (m_p.checkedAmounts) {
            if (Less(gross, 0) || !Less(gross, 1e12) || std::isnan(gross)) return {};
            TaxFigures out = taxed(0, gross);
            if (out.type != TaxFigures::Type::Taxed) return out;
            out.companionText = ToText(gross);
            out.tax = Round(ToNumber(*out.companionText) - x, 2);
            return out;
        }
        const double excess = gross - a - threshold;
        bool hasTax = true;
        switch (m_p.grossWageTest) {
        case TaxPolicy::GrossWageTest::Never:
            break;
        case TaxPolicy::GrossWageTest::RoundedExcess:
            hasTax = Greater(Round(excess, 3), 0);
            break;
        case TaxPolicy::GrossWageTest::Taxable:
            hasTax = Greater(taxable, 0);
            break;
        }
        if (!hasTax) {
            TaxFigures out;
            out.type = TaxFigures::Type::NoTax;
            return out;
        }
        return taxed(Round(excess, 2), gross);
    }

    // Labour remuneration: record 1 of group k gives the threshold, the first-band limit U1,
    // the first band's rate and quick deduction, and the rate truncated as the deduction
    // percentage d. Above U1 the band of x itself gives the rate and quick deduction (record
    // 1's without one).
    template <typename FirstBand, typename Above>
    double labourTax(int k, double x, FirstBand firstBand, Above above) const {
        const std::int32_t threshold = m_t.integer(1, k);
        const std::int32_t u1 = m_t.integer(1, k + 2);
        double rate = m_t.number(1, k + 3);
        double qd = quickDeduction(1, k + 4);
        const double d = m_t.integer(1, k + 3);
        if (m_p.labourUntaxedAtThreshold && !Greater(x, threshold)) return 0;
        if (!Greater(x, u1)) return Round(firstBand(threshold, d, rate, qd), 2);
        if (const std::int32_t i = findBand(k, x)) {
            rate = m_t.number(i, k + 3);
            qd = quickDeduction(i, k + 4);
        }
        return Round(above(d, rate, qd), 2);
    }

    TaxFigures labourGross(double x) const {
        const double tax = labourTax(
            7, x,
            [&](double threshold, double, double rate, double qd) {
                return (x - threshold) * rate / 100 - qd;
            },
            [&](double d, double rate, double qd) { return (x - x * d / 100) * rate / 100 - qd; });
        return result(tax, x - tax);
    }

    TaxFigures labourNet(double x) const {
        const double tax = labourTax(
            13, x,
            // The first band uses the deduction percentage d both in the divisor and as the rate.
            [&](double threshold, double d, double, double qd) {
                return Divide(x - threshold, 1 - d / 100) * d / 100 - qd;
            },
            [&](double d, double rate, double qd) {
                return Divide((x - qd) * (1 - d / 100), 1 - rate / 100 * (1 - d / 100)) * rate /
                           100 -
                       qd;
            });
        return result(tax, x + tax);
    }

    TaxFigures royalties(double x) const {
        const std::int32_t threshold = m_t.integer(1, 19);
        const double d = m_t.integer(1, 22);
        const std::int32_t u1 = m_t.integer(1, 21);
        const std::int32_t reduction = m_t.integer(2, 22); // 0 when the table has one record
        double tax = 0;
        if (!Greater(x, threshold)) {
            tax = 0;
        } else if (!Greater(x, u1)) {
            tax = Round((x - threshold) * d / 100 * (1 - reduction / 100.0), 2);
        } else {
            tax = Round(x * (1 - d / 100) * d / 100 * (1 - reduction / 100.0), 2);
        }
        if (m_p.royaltyZeroIsTax) return taxed(tax, x - tax);
        return result(tax, x - tax);
    }

    static TaxFigures below() {
        TaxFigures out;
        out.type = TaxFigures::Type::BelowThreshold;
        return out;
    }

private:
    const BracketTable& m_t;
    const TaxPolicy& m_p;
};

} // namespace

TaxPolicy TaxPolicy::MainWindow() {
    return TaxPolicy{};
}

TaxPolicy TaxPolicy::BatchAll() {
    TaxPolicy p;
    p.bandMatch = BandMatch::Last;
    p.wageRateWithoutBand = 0.03;
    p.wageThresholdTruncated = true;
    p.quickDeductionsTruncated = true;
    p.belowThresholdEveryKind = false;
    p.labourUntaxedAtThreshold = false;
    p.wageNetPayRounded = true;
    p.checkedAmounts = false;
    p.noTax = NoTaxTest::NotPositive;
    p.royaltyZeroIsTax = true;
    p.grossWageTest = GrossWageTest::RoundedExcess;
    return p;
}

TaxPolicy TaxPolicy::BatchEditedRow() {
    TaxPolicy p = BatchAll();
    p.royaltyZeroIsTax = false;
    p.grossWageTest = GrossWageTest::Taxable;
    return p;
}

TaxFigures ComputeTaxFigures(const BracketTable& table, double x, TaxKind kind, TaxMode mode,
                             const TaxPolicy& policy) {
    if (kind == TaxKind::Royalties) mode = TaxMode::Gross;
    const std::int32_t threshold = table.integer(1, GroupOf(kind, mode));
    const Computation c(table, policy);
    TaxFigures out;
    if (policy.belowThresholdEveryKind && Less(x, threshold)) {
        out = Computation::below();
    } else {
        switch (kind) {
        case TaxKind::Wages:
            out = mode == TaxMode::Gross ? c.wagesGross(x) : c.wagesNet(x);
            break;
        case TaxKind::Labour:
            out = mode == TaxMode::Gross ? c.labourGross(x) : c.labourNet(x);
            break;
        case TaxKind::Royalties:
            out = c.royalties(x);
            break;
        }
    }
    out.threshold = threshold;
    return out;
}

double Divide(double a, double b) {
    if (b != 0) return a / b;
    if (a == 0 || std::isnan(a)) return std::numeric_limits<double>::quiet_NaN();
    return (std::signbit(a) != std::signbit(b) ? -1 : 1) * std::numeric_limits<double>::infinity();
}

const Text& KindText(TaxKind kind) {
    static const Text wages = sysText("薪金收入"), labour = sysText("劳务费"),
                      royalties = sysText("稿费");
    switch (kind) {
    case TaxKind::Wages:
        return wages;
    case TaxKind::Labour:
        return labour;
    case TaxKind::Royalties:
        return royalties;
    }
    return wages;
}

const Text& ModeText(TaxMode mode) {
    static const Text gross = sysText("税前"), net = sysText("税后");
    return mode == TaxMode::Gross ? gross : net;
}

std::optional<TaxKind> KindFromText(const Text& text) {
    for (TaxKind k : {TaxKind::Wages, TaxKind::Labour, TaxKind::Royalties})
        if (text == KindText(k)) return k;
    return std::nullopt;
}

std::optional<TaxMode> ModeFromText(const Text& text) {
    for (TaxMode m : {TaxMode::Gross, TaxMode::Net})
        if (text == ModeText(m)) return m;
    return std::nullopt;
}

TaxOutcome ComputeTax(const std::filesystem::path& tablePath, double x, TaxKind kind, TaxMode mode,
                      std::int32_t& messageThreshold) {
    TaxOutcome out;
    Text problem;
    const std::optional<BracketTable> table = LoadBracketTable(tablePath, problem);
    if (!table) {
        out.type = TaxOutcome::Type::TableUnavailable;
        out.problem = std::move(problem);
        return out;
    }
    const TaxFigures f = ComputeTaxFigures(*table, x, kind, mode, TaxPolicy::MainWindow());
    messageThreshold = f.threshold;
    out.threshold = f.threshold;
    switch (f.type) {
    case TaxFigures::Type::BelowThreshold:
        out.type = TaxOutcome::Type::BelowThreshold;
        break;
    case TaxFigures::Type::Taxed:
    case TaxFigures::Type::NoTax: // the main window's policy has no no-tax test
        out.type = TaxOutcome::Type::Computed;
        out.tax = f.tax;
        out.companion = f.companion;
        out.companionText = f.companionText;
        if (kind == TaxKind::Wages && mode == TaxMode::Net)
            out.caption = TaxOutcome::Caption::GrossTotalFullWidth;
        else if (kind == TaxKind::Labour && mode == TaxMode::Net)
            out.caption = TaxOutcome::Caption::GrossTotal;
        else
            out.caption = TaxOutcome::Caption::NetPay;
        break;
    case TaxFigures::Type::NoResult:
        out.type = TaxOutcome::Type::NoResult;
        break;
    }
    return out;
}

} // namespace iit::engine
