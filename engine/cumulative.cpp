#include "engine/cumulative.h"

#include "base/convert.h"

#include <algorithm>

namespace iit::engine {
namespace {

Exact maxZero(const Exact& v) {
    return v.sign() < 0 ? fromFen(0) : v;
}

Problem aboveTable() {
    return fail(sysText("应纳税所得额超出预扣率表的最高一级"));
}

// The sums through this month before its income is added.
YearToDate sumsWithoutIncome(const WithholdingTable& table, const YearToDate& before, int month,
                             int joinMonth, const DeductionOptions& options,
                             const MonthAmounts& a) {
    YearToDate s = before;
    s.month = month;
    s.taxFree += a.taxFree;
    s.basicDeduction = cumulativeBasicDeduction(table, before, month, joinMonth, options);
    s.special += a.special;
    s.specialAdditional += a.specialAdditional;
    s.other += a.other;
    s.relief += a.relief;
    s.donation += a.donation;
    return s;
}

// Everything the cumulative income is reduced by; the donation comes off last.
Exact deductions(const YearToDate& s) {
    return s.taxFree + s.basicDeduction + s.special + s.specialAdditional + s.other + s.donation;
}

// The forward computation of a gross income; `sums` become the figures' sums.
Outcome<CumulativeFigures> forward(const WithholdingTable& table, const YearToDate& before,
                                   YearToDate sums, const Exact& gross, const Exact& monthSpecial) {
    CumulativeFigures f;
    f.after = std::move(sums);
    f.after.income = before.income + gross;
    f.grossIncome = gross;
    f.taxable = maxZero(f.after.income - deductions(f.after));
    const TaxBand* band = findBand(table.bands, f.taxable);
    if (!band) return aboveTable();
    f.ratePercent = band->ratePercent;
    f.quickDeduction = band->quickDeduction;
    f.tax = f.taxable.isZero() ? fromFen(0)
                               : maxZero(Round(f.taxable * band->rate() - band->quickDeduction, 2));
    f.withheldBefore = before.withheld;
    f.withholding = maxZero(f.tax - f.after.relief - before.withheld);
    f.after.withheld = before.withheld + f.withholding;
    f.afterTax = afterTaxPay(gross, monthSpecial, f.withholding);
    return f;
}

// The cumulative taxable income A whose tax T(A) leaves the cumulative net taxable N:
// A − (A × r − q) = N, so A = (N − q) ÷ (1 − r) in the band that holds A, which is the band
// whose net upper bound (its upper bound less that bound's tax) N does not pass.
Exact workedBackTaxable(const WithholdingTable& table, const Exact& n) {
    if (n.sign() <= 0) return n;
    for (const TaxBand& band : table.bands) {
        if (band.upper && n > *band.upper - (*band.upper * band.rate() - band.quickDeduction))
            continue;
        return (n - band.quickDeduction) / (Exact(1) - band.rate());
    }
    return n; // above a last band with an upper bound: the forward computation refuses it
}

} // namespace

Exact cumulativeBasicDeduction(const WithholdingTable& table, const YearToDate& before, int month,
                               int joinMonth, const DeductionOptions& options) {
    if (options.annualDeduction && !table.annualDeduction.isZero()) return table.annualDeduction;
    if (before.month > 0)
        return before.basicDeduction + table.basicDeduction * Exact(month - before.month);
    const int start = options.fromJanuary ? 1 : std::clamp(joinMonth, 1, month);
    return table.basicDeduction * Exact(month - start + 1);
}

Outcome<CumulativeFigures> computeCumulative(const WithholdingTable& table,
                                             const YearToDate& before, int month, int joinMonth,
                                             const DeductionOptions& options, const MonthAmounts& a,
                                             TaxMode mode) {
    YearToDate sums = sumsWithoutIncome(table, before, month, joinMonth, options, a);
    if (mode == TaxMode::Gross) return forward(table, before, std::move(sums), a.income, a.special);

    // Employer-borne: with the earlier months' gross incomes less what was withheld from them
    // (their net pay) and this month's net, the cumulative net taxable N is what remains after
    // the cumulative tax less reliefs. Work A back from N, take this month's tax from it, and
    // check the gross income forward, moving it by the fen until gross − tax is the net exactly
    // (the cumulative tax is rounded, so the closed form may be a fen off).
    const Exact n = before.income + a.income - deductions(sums) - sums.relief - before.withheld;
    const Exact taxable = workedBackTaxable(table, n);
    Exact tax;
    if (taxable.sign() > 0) {
        const TaxBand* band = findBand(table.bands, taxable);
        if (!band) return aboveTable();
        tax = Round(taxable * band->rate() - band->quickDeduction, 2);
    }
    Exact gross = a.income + maxZero(tax - sums.relief - before.withheld);
    for (int i = 0; i < 64; ++i) {
        Outcome<CumulativeFigures> f = forward(table, before, sums, gross, a.special);
        if (!f) return f;
        const Exact miss = a.income - (gross - f->withholding);
        if (miss.isZero()) return f;
        // Within a band, gross − tax moves by (1 − r) of the gross: step by that slope, and by
        // whole fen.
        const Exact slope =
            f->withholding.isZero() ? Exact(1) : Exact(1) - f->ratePercent / Exact(100);
        Exact step = Round(miss / slope, 2);
        if (step.isZero()) step = miss.sign() > 0 ? fromFen(1) : fromFen(-1);
        gross = gross + step;
    }
    return fail(sysText("无法倒算税前收入"));
}

Outcome<BonusFigures> computeSeparateBonus(const std::vector<TaxBand>& monthlyBands,
                                           const Exact& bonus) {
    BonusFigures f;
    f.bonus = bonus;
    const TaxBand* band = findBand(monthlyBands, bonus / Exact(12));
    if (!band) return fail(sysText("奖金超出税率表的最高一级"));
    f.ratePercent = band->ratePercent;
    f.quickDeduction = band->quickDeduction;
    f.tax = maxZero(Round(bonus * band->rate() - band->quickDeduction, 2));
    f.afterTax = afterTaxPay(bonus, Exact{}, f.tax);
    return f;
}

namespace {

// The months a plan withholds: those entered, then the last one entered repeated up to
// plan.lastMonth.
class PlanMonths {
public:
    explicit PlanMonths(const BonusPlan& plan) : m_plan(plan), m_entered(plan.months.size()) {
        m_projected = m_entered == 0 ? 0 : std::max(0, plan.lastMonth - plan.months.back().month);
    }
    std::size_t size() const { return m_entered + static_cast<std::size_t>(m_projected); }
    int projected() const { return m_projected; }
    int month(std::size_t i) const {
        if (i < m_entered) return m_plan.months[i].month;
        return m_plan.months.back().month + static_cast<int>(i - m_entered) + 1;
    }
    const MonthAmounts& amounts(std::size_t i) const {
        return m_plan.months[std::min(i, m_entered - 1)].amounts;
    }

private:
    const BonusPlan& m_plan;
    std::size_t m_entered;
    int m_projected = 0;
};

// The sums after the months [from, to) of the plan, from `sums`, with `extra` added to the
// bonus month's income.
Outcome<YearToDate> withhold(const WithholdingTable& table, const BonusPlan& plan,
                             const PlanMonths& months, std::size_t from, std::size_t to,
                             YearToDate sums, const Exact* extra) {
    MonthAmounts withExtra;
    for (std::size_t i = from; i < to; ++i) {
        const int month = months.month(i);
        const MonthAmounts* a = &months.amounts(i);
        if (extra && month == plan.bonusMonth) {
            withExtra = *a;
            withExtra.income += *extra;
            a = &withExtra;
        }
        Outcome<CumulativeFigures> f =
            computeCumulative(table, sums, month, plan.joinMonth, plan.options, *a, TaxMode::Gross);
        if (!f) return f.problem();
        sums = std::move(f->after);
    }
    return sums;
}

} // namespace

Outcome<BonusComparison> compareBonus(const WithholdingTable& table,
                                      const std::vector<TaxBand>& monthlyBands,
                                      const BonusPlan& plan) {
    BonusComparison c;
    const PlanMonths months(plan);
    std::size_t bonusAt = 0;
    while (bonusAt < plan.months.size() && plan.months[bonusAt].month != plan.bonusMonth)
        ++bonusAt;
    if (bonusAt == plan.months.size()) return fail(sysText("奖金所在的月份没有工资记录"));
    c.projectedMonths = months.projected();
    Outcome<BonusFigures> bonus = computeSeparateBonus(monthlyBands, plan.bonus);
    if (!bonus) return bonus.problem();
    // The two ways agree until the bonus month: the months before it are computed once.
    Outcome<YearToDate> before = withhold(table, plan, months, 0, bonusAt, plan.opening, nullptr);
    if (!before) return before.problem();
    Outcome<YearToDate> separate =
        withhold(table, plan, months, bonusAt, months.size(), *before, nullptr);
    if (!separate) return separate.problem();
    Outcome<YearToDate> combined =
        withhold(table, plan, months, bonusAt, months.size(), *before, &plan.bonus);
    if (!combined) return combined.problem();
    c.separate = BonusWay{separate->withheld, bonus->tax, separate->withheld + bonus->tax};
    c.combined = BonusWay{combined->withheld, Exact{}, combined->withheld};
    if (c.separate.total < c.combined.total) {
        c.lower = BonusComparison::Lower::Separate;
        c.saving = c.combined.total - c.separate.total;
    } else if (c.combined.total < c.separate.total) {
        c.lower = BonusComparison::Lower::Combined;
        c.saving = c.separate.total - c.combined.total;
    }
    return c;
}

Exact afterTaxPay(const Exact& paid, const Exact& special, const Exact& withheld) {
    return paid - special - withheld;
}

Outcome<void> checkDeductionOptions(const DeductionOptions& options, std::optional<int> joinMonth) {
    if (!options.annualDeduction) return {};
    if (options.fromJanuary)
        return fail(sysText("“减除费用从1月起算”与“全年减除6万元”不能同时选择"));
    if (joinMonth && *joinMonth > 1)
        return fail(sysText("全年减除6万元只适用于1月起在本单位任职的职工，此人") +
                    Text::fromBytes(std::to_string(*joinMonth)) + sysText("月入职"));
    return {};
}

Outcome<MonthlyFigures> computeMonthly(const BracketTable& table, const YearToDate& before,
                                       int month, const MonthAmounts& a, TaxMode mode) {
    const Exact x = a.income - a.taxFree;
    const TaxFigures f = computeTaxFigures(table, x, TaxKind::Wages, mode, TaxPolicy::sheetAll());
    if (f.type == TaxFigures::Type::NoResult) return fail(sysText("税率表无法计算此收入"));
    MonthlyFigures out;
    out.withholding = f.type == TaxFigures::Type::Taxed && f.tax.sign() > 0 ? f.tax : Exact{};
    // Borne by the employer, the income entered is the pay after tax.
    out.grossIncome = mode == TaxMode::Net ? a.income + out.withholding : a.income;
    out.after = before;
    out.after.month = month;
    out.after.income += out.grossIncome;
    out.after.taxFree += a.taxFree;
    out.after.special += a.special;
    out.after.specialAdditional += a.specialAdditional;
    out.after.donation += a.donation;
    out.after.other += a.other;
    out.after.relief += a.relief;
    out.after.withheld += out.withholding;
    out.afterTax = afterTaxPay(out.grossIncome, a.special, out.withholding);
    return out;
}

} // namespace iit::engine
