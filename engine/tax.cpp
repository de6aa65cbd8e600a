#include "engine/tax.h"

#include "base/convert.h"
#include "engine/bracket_table.h"

#include <cmath>
#include <limits>

namespace iit::engine {
namespace {

constexpr int kWageThreshold = fieldOf(SubTable::Wages, Field::Threshold);
constexpr int kWageLower = fieldOf(SubTable::Wages, Field::Lower);
constexpr int kWageUpper = fieldOf(SubTable::Wages, Field::Upper);
constexpr int kWageRate = fieldOf(SubTable::Wages, Field::Rate);
constexpr int kWageDeduction = fieldOf(SubTable::Wages, Field::Deduction);

// One computation: the table, the policy, and the fields read as the policy says. Bands and
// thresholds are decided on doubles; every amount is computed on the exact values. A field that
// an amount needs and that holds no finite number, or a division by zero, leaves the
// computation without a usable amount (NoResult).
class Computation {
public:
    Computation(const BracketTable& t, const TaxPolicy& p) : m_t(t), m_p(p) {}

    // The exact value of a field; a field without one spoils the computation.
    Exact value(std::int32_t record, int field) const {
        const std::optional<Exact>& v = m_t.exact(record, field);
        if (!v) {
            m_spoilt = true;
            return Exact{};
        }
        return *v;
    }

    Exact quickDeduction(std::int32_t record, int field) const {
        return m_p.quickDeductionsTruncated ? Exact(m_t.integer(record, field))
                                            : value(record, field);
    }

    Exact quotient(const Exact& a, const Exact& b) const {
        if (b.isZero()) {
            m_spoilt = true;
            return Exact{};
        }
        return a / b;
    }

    // The band of v in sub-table t, first or last match; 0 for none.
    std::int32_t findBand(SubTable t, double v) const {
        std::int32_t found = 0;
        for (std::int32_t i = 1; i <= m_t.recordCount(); ++i) {
            if (!inBand(v, m_t.number(i, fieldOf(t, Field::Lower)),
                        m_t.number(i, fieldOf(t, Field::Upper))))
                continue;
            found = i;
            if (m_p.bandMatch == BandMatch::First) break;
        }
        return found;
    }

    TaxFigures taxed(const Exact& tax, const Exact& companion) const {
        TaxFigures out;
        if (m_spoilt) return out;
        out.type = TaxFigures::Type::Taxed;
        out.tax = tax;
        out.companion = companion;
        return out;
    }

    // Taxed, or NoTax when the policy's test finds no tax.
    TaxFigures result(const Exact& tax, const Exact& companion) const {
        if (m_spoilt) return {};
        if (m_p.noTax == TaxPolicy::NoTaxTest::NotPositive && !greater(tax.toDouble(), 0)) {
            TaxFigures out;
            out.type = TaxFigures::Type::NoTax;
            return out;
        }
        return taxed(tax, companion);
    }

    Exact wageTaxable(const Exact& x) const {
        return m_p.wageThresholdTruncated ? x - Exact(m_t.integer(1, kWageThreshold))
                                          : x - value(1, kWageThreshold);
    }

    Exact percent(const Exact& p) const { return p / Exact(100); }

    TaxFigures wagesGross(const Exact& x, double xd) const {
        const std::int32_t threshold = m_t.integer(1, kWageThreshold);
        if (!m_p.belowThresholdEveryKind && less(xd, threshold)) return below();
        const Exact a = wageTaxable(x);
        Exact rate = m_p.wageRateWithoutBand, qd;
        if (const std::int32_t i = findBand(SubTable::Wages, a.toDouble())) {
            rate = percent(value(i, kWageRate));
            qd = quickDeduction(i, kWageDeduction);
        }
        const Exact tax = Round(a * rate - qd, 2);
        return result(tax, m_p.wageNetPayRounded ? Round(a - tax + Exact(threshold), 2) : x - tax);
    }

    // Works back from the net wage x to the gross wage. Each band is tried with the gross
    // taxable amount it would imply, (A - qd) / (1 - rate), and the first band that holds its
    // own amount wins; so the gross wage taxed forward gives back exactly the net wage.
    TaxFigures wagesNet(const Exact& x) const {
        const std::int32_t threshold = m_t.integer(1, kWageThreshold);
        const Exact a = wageTaxable(x);
        const double ad = a.toDouble();
        Exact rate = m_p.wageRateWithoutBand, qd;
        for (std::int32_t i = 1; i <= m_t.recordCount(); ++i) {
            const double lower = m_t.number(i, kWageLower), upper = m_t.number(i, kWageUpper);
            if (lower == 0 && upper == 0) continue; // a row not in use
            const double ratePercent = m_t.number(i, kWageRate);
            if (!less(ratePercent, 100)) continue; // also skips a NaN rate
            const double q = m_p.quickDeductionsTruncated ? m_t.integer(i, kWageDeduction)
                                                          : m_t.number(i, kWageDeduction);
            if (inBand(divide(ad - q, 1 - ratePercent / 100), lower, upper)) {
                rate = percent(value(i, kWageRate));
                qd = quickDeduction(i, kWageDeduction);
                break;
            }
        }
        const Exact taxable = quotient(a - qd, Exact(1) - rate);
        const Exact gross = Round(taxable + Exact(threshold), 2);
        if (m_spoilt) return {};
        if (m_p.checkedAmounts) {
            if (gross.sign() < 0 || !(gross < Exact(std::int64_t{1'000'000'000'000}))) return {};
            return taxed(Round(gross - x, 2), gross);
        }
        const Exact excess = gross - a - Exact(threshold);
        bool hasTax = true;
        switch (m_p.grossWageTest) {
        case TaxPolicy::GrossWageTest::Never:
            break;
        case TaxPolicy::GrossWageTest::RoundedExcess:
            hasTax = Round(excess, 3).sign() > 0;
            break;
        case TaxPolicy::GrossWageTest::Taxable:
            hasTax = greater(taxable.toDouble(), 0);
            break;
        }
        if (!hasTax) {
            TaxFigures out;
            out.type = TaxFigures::Type::NoTax;
            return out;
        }
        return taxed(Round(excess, 2), gross);
    }

    // Labour remuneration: record 1 of sub-table t gives the threshold, the first-band limit
    // U1 (its upper bound), the first band's rate and quick deduction, and the rate truncated
    // as the deduction percentage d. Above U1 the band of x itself gives the rate and quick
    // deduction (record 1's without one).
    template <typename FirstBand, typename Above>
    Exact labourTax(SubTable t, double xd, FirstBand firstBand, Above above) const {
        const int rateField = fieldOf(t, Field::Rate), deduction = fieldOf(t, Field::Deduction);
        const std::int32_t threshold = m_t.integer(1, fieldOf(t, Field::Threshold));
        const std::int32_t u1 = m_t.integer(1, fieldOf(t, Field::Upper));
        const Exact d(m_t.integer(1, rateField));
        if (m_p.labourUntaxedAtThreshold && !greater(xd, threshold)) return Exact{};
        if (!greater(xd, u1))
            return Round(
                firstBand(Exact(threshold), d, value(1, rateField), quickDeduction(1, deduction)),
                2);
        std::int32_t record = 1;
        if (const std::int32_t i = findBand(t, xd)) record = i;
        return Round(above(d, value(record, rateField), quickDeduction(record, deduction)), 2);
    }

    TaxFigures labourGross(const Exact& x, double xd) const {
        const Exact tax = labourTax(
            SubTable::LabourGross, xd,
            [&](const Exact& threshold, const Exact&, const Exact& rate, const Exact& qd) {
                return (x - threshold) * percent(rate) - qd;
            },
            [&](const Exact& d, const Exact& rate, const Exact& qd) {
                return (x - x * percent(d)) * percent(rate) - qd;
            });
        return result(tax, x - tax);
    }

    TaxFigures labourNet(const Exact& x, double xd) const {
        const Exact one(1);
        const Exact tax = labourTax(
            SubTable::LabourNet, xd,
            // The first band uses the deduction percentage d both in the divisor and as the rate.
            [&](const Exact& threshold, const Exact& d, const Exact&, const Exact& qd) {
                return quotient(x - threshold, one - percent(d)) * percent(d) - qd;
            },
            [&](const Exact& d, const Exact& rate, const Exact& qd) {
                return quotient((x - qd) * (one - percent(d)),
                                one - percent(rate) * (one - percent(d))) *
                           percent(rate) -
                       qd;
            });
        return result(tax, x + tax);
    }

    TaxFigures royalties(const Exact& x, double xd) const {
        constexpr SubTable t = SubTable::Royalties;
        const std::int32_t threshold = m_t.integer(1, fieldOf(t, Field::Threshold));
        const Exact d(m_t.integer(1, fieldOf(t, Field::Rate)));
        const std::int32_t u1 = m_t.integer(1, fieldOf(t, Field::Upper));
        // The reduction percentage, record 2's rate field: 0 when the table has one record.
        const Exact reduction(m_t.integer(2, fieldOf(t, Field::Rate)));
        const Exact one(1);
        Exact tax;
        if (!greater(xd, threshold)) {
            tax = Exact{};
        } else if (!greater(xd, u1)) {
            tax = Round((x - Exact(threshold)) * percent(d) * (one - percent(reduction)), 2);
        } else {
            tax = Round(x * (one - percent(d)) * percent(d) * (one - percent(reduction)), 2);
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
    mutable bool m_spoilt = false;
};

} // namespace

TaxPolicy TaxPolicy::singlePerson() {
    return TaxPolicy{};
}

TaxPolicy TaxPolicy::sheetAll() {
    TaxPolicy p;
    p.bandMatch = BandMatch::Last;
    p.wageRateWithoutBand = Exact(3) / Exact(100);
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

TaxPolicy TaxPolicy::sheetRow() {
    TaxPolicy p = sheetAll();
    p.royaltyZeroIsTax = false;
    p.grossWageTest = GrossWageTest::Taxable;
    return p;
}

TaxFigures computeTaxFigures(const BracketTable& table, const Exact& x, TaxKind kind, TaxMode mode,
                             const TaxPolicy& policy) {
    mode = effectiveMode(kind, mode);
    const std::int32_t threshold = thresholdOf(table, kind, mode);
    const Computation c(table, policy);
    const double xd = x.toDouble();
    TaxFigures out;
    if (policy.belowThresholdEveryKind && isBelowThreshold(table, x, kind, mode)) {
        out = Computation::below();
    } else {
        switch (kind) {
        case TaxKind::Wages:
            out = mode == TaxMode::Gross ? c.wagesGross(x, xd) : c.wagesNet(x);
            break;
        case TaxKind::Labour:
            out = mode == TaxMode::Gross ? c.labourGross(x, xd) : c.labourNet(x, xd);
            break;
        case TaxKind::Royalties:
            out = c.royalties(x, xd);
            break;
        }
    }
    out.threshold = threshold;
    return out;
}

double divide(double a, double b) {
    if (b != 0) return a / b;
    if (a == 0 || std::isnan(a)) return std::numeric_limits<double>::quiet_NaN();
    return (std::signbit(a) != std::signbit(b) ? -1 : 1) * std::numeric_limits<double>::infinity();
}

const Text& kindText(TaxKind kind) {
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

const Text& modeText(TaxMode mode) {
    static const Text gross = sysText("税前"), net = sysText("税后");
    return mode == TaxMode::Gross ? gross : net;
}

std::optional<TaxKind> kindFromText(const Text& text) {
    for (TaxKind k : {TaxKind::Wages, TaxKind::Labour, TaxKind::Royalties})
        if (text == kindText(k)) return k;
    return std::nullopt;
}

std::optional<TaxMode> modeFromText(const Text& text) {
    for (TaxMode m : {TaxMode::Gross, TaxMode::Net})
        if (text == modeText(m)) return m;
    return std::nullopt;
}

SubTable subTableOf(TaxKind kind, TaxMode mode) {
    switch (kind) {
    case TaxKind::Wages:
        return SubTable::Wages;
    case TaxKind::Labour:
        return mode == TaxMode::Gross ? SubTable::LabourGross : SubTable::LabourNet;
    case TaxKind::Royalties:
        return SubTable::Royalties;
    }
    return SubTable::Wages;
}

std::int32_t thresholdOf(const BracketTable& table, TaxKind kind, TaxMode mode) {
    return table.integer(1, fieldOf(subTableOf(kind, effectiveMode(kind, mode)), Field::Threshold));
}

bool isBelowThreshold(const BracketTable& table, const Exact& x, TaxKind kind, TaxMode mode) {
    return less(x.toDouble(), thresholdOf(table, kind, mode));
}

Caption captionOf(TaxKind kind, TaxMode mode) {
    if (kind == TaxKind::Wages && mode == TaxMode::Net) return Caption::GrossTotalFullWidth;
    if (kind == TaxKind::Labour && mode == TaxMode::Net) return Caption::GrossTotal;
    return Caption::NetPay;
}

} // namespace iit::engine
