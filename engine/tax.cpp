#include "engine/tax.h"

#include "engine/bracket_table.h"
#include "runtime/convert.h"

#include <cmath>
#include <limits>

namespace iit::engine {
namespace {

struct Group {
    int first; // the group's first field
};

Group GroupOf(TaxKind kind, TaxMode mode) {
    switch (kind) {
    case TaxKind::Wages:
        return {1};
    case TaxKind::Labour:
        return {mode == TaxMode::Gross ? 7 : 13};
    case TaxKind::Royalties:
        return {19};
    }
    return {1};
}

// The first record whose band holds v (bounds in fields k+1 and k+2), or 0.
std::int32_t FindBand(TableSnapshot& t, int k, double v) {
    for (std::int32_t i = 1; i <= t.recordCount(); ++i)
        if (InBand(v, t.number(i, k + 1), t.number(i, k + 2))) return i;
    return 0;
}

TaxOutcome Computed(double tax, double companion, TaxOutcome::Caption caption) {
    TaxOutcome out;
    // A table that makes the formulas overflow or divide by zero gives no usable amount.
    if (!std::isfinite(tax) || !std::isfinite(companion)) return out;
    out.type = TaxOutcome::Type::Computed;
    out.tax = tax;
    out.companion = companion;
    out.caption = caption;
    return out;
}

TaxOutcome WagesGross(TableSnapshot& t, double x) {
    const double a = x - t.number(1, 1);
    double rate = 1.0, qd = 0.0; // without a band the whole excess is taxed
    if (const std::int32_t i = FindBand(t, 1, a)) {
        rate = t.number(i, 4) / 100;
        qd = t.number(i, 5);
    }
    const double tax = Round(a * rate - qd, 2);
    return Computed(tax, x - tax, TaxOutcome::Caption::NetPay);
}

// Works back from the net wage x to the gross wage. Each band is tried with the gross
// taxable amount it would imply, (A - qd) / (1 - rate), and the first band that holds its own
// amount wins; so the gross wage taxed forward gives back exactly the net wage.
TaxOutcome WagesNet(TableSnapshot& t, double x) {
    const std::int32_t threshold = t.integer(1, 1);
    const double a = x - t.number(1, 1);
    for (std::int32_t i = 1; i <= t.recordCount(); ++i) {
        const double lower = t.number(i, 2), upper = t.number(i, 3);
        if (lower == 0 && upper == 0) continue; // a row not in use
        const double ratePercent = t.number(i, 4);
        if (!Less(ratePercent, 100)) continue; // also skips a NaN rate
        const double rate = ratePercent / 100;
        const double qd = t.number(i, 5);
        const double taxable = Divide(a - qd, 1 - rate);
        if (!InBand(taxable, lower, upper)) continue;
        const double gross = Round(taxable + threshold, 2);
        if (Less(gross, 0) || !Less(gross, 1e12) || std::isnan(gross)) return {};
        TaxOutcome out = Computed(0, gross, TaxOutcome::Caption::GrossTotalFullWidth);
        if (out.type != TaxOutcome::Type::Computed) return out;
        out.companionText = ToText(gross);
        out.tax = Round(ToNumber(*out.companionText) - x, 2);
        return out;
    }
    return {};
}

// Labour remuneration: record 1 of group k gives the threshold, the first-band limit U1, the
// first band's rate and quick deduction, and the rate truncated as the deduction percentage d.
// Above U1 the band of x itself gives the rate and quick deduction (record 1's without one).
template <typename FirstBand, typename Above>
double LabourTax(TableSnapshot& t, int k, double x, FirstBand firstBand, Above above) {
    const std::int32_t threshold = t.integer(1, k);
    const std::int32_t u1 = t.integer(1, k + 2);
    double rate = t.number(1, k + 3);
    double qd = t.number(1, k + 4);
    const double d = t.integer(1, k + 3);
    if (!Greater(x, threshold)) return 0;
    if (!Greater(x, u1)) return Round(firstBand(threshold, d, rate, qd), 2);
    if (const std::int32_t i = FindBand(t, k, x)) {
        rate = t.number(i, k + 3);
        qd = t.number(i, k + 4);
    }
    return Round(above(d, rate, qd), 2);
}

TaxOutcome LabourGross(TableSnapshot& t, double x) {
    const double tax = LabourTax(
        t, 7, x,
        [&](double threshold, double, double rate, double qd) {
            return (x - threshold) * rate / 100 - qd;
        },
        [&](double d, double rate, double qd) { return (x - x * d / 100) * rate / 100 - qd; });
    return Computed(tax, x - tax, TaxOutcome::Caption::NetPay);
}

TaxOutcome LabourNet(TableSnapshot& t, double x) {
    const double tax = LabourTax(
        t, 13, x,
        // The first band uses the deduction percentage d both in the divisor and as the rate.
        [&](double threshold, double d, double, double qd) {
            return Divide(x - threshold, 1 - d / 100) * d / 100 - qd;
        },
        [&](double d, double rate, double qd) {
            return Divide((x - qd) * (1 - d / 100), 1 - rate / 100 * (1 - d / 100)) * rate / 100 -
                   qd;
        });
    return Computed(tax, x + tax, TaxOutcome::Caption::GrossTotal);
}

TaxOutcome Royalties(TableSnapshot& t, double x, std::int32_t threshold) {
    const std::int32_t d = t.integer(1, 22);
    const std::int32_t u1 = t.integer(1, 21);
    const std::int32_t reduction = t.integer(2, 22); // 0 when the table has one record
    double tax = 0;
    if (!Greater(x, threshold)) {
        tax = 0;
    } else if (!Greater(x, u1)) {
        tax = Round((x - threshold) * d / 100 * (1 - reduction / 100.0), 2);
    } else {
        tax = Round(x * (1 - d / 100.0) * d / 100 * (1 - reduction / 100.0), 2);
    }
    return Computed(tax, x - tax, TaxOutcome::Caption::NetPay);
}

} // namespace

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
    TableSnapshot table;
    if (std::optional<Text> problem = EnsureRateTableOpen(tablePath); problem || !table.load()) {
        TaxOutcome out;
        out.type = TaxOutcome::Type::TableUnavailable;
        out.problem = problem ? *problem : Text{};
        return out;
    }

    if (kind == TaxKind::Royalties) mode = TaxMode::Gross;
    const std::int32_t threshold = table.integer(1, GroupOf(kind, mode).first);
    messageThreshold = threshold;
    if (Less(x, threshold)) {
        TaxOutcome out;
        out.type = TaxOutcome::Type::BelowThreshold;
        out.threshold = threshold;
        return out;
    }
    TaxOutcome out;
    switch (kind) {
    case TaxKind::Wages:
        out = mode == TaxMode::Gross ? WagesGross(table, x) : WagesNet(table, x);
        break;
    case TaxKind::Labour:
        out = mode == TaxMode::Gross ? LabourGross(table, x) : LabourNet(table, x);
        break;
    case TaxKind::Royalties:
        out = Royalties(table, x, threshold);
        break;
    }
    out.threshold = threshold;
    return out;
}

} // namespace iit::engine
