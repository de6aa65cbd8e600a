#pragma once
// Residents' wages by the cumulative method (累计预扣法), the annual bonus, and the comparison
// of the two ways of taxing the bonus.
//
// An employer withholds month by month over the calendar year. Each month adds its amounts to
// the year-to-date sums at this employer (YearToDate); the cumulative taxable income is the
// cumulative income less the cumulative tax-free income, basic deduction and deductions; its
// band of the annual table (withholding_table.h) gives the cumulative tax, and this month's
// withholding is that tax less the reliefs and what was withheld before, never below 0: a month
// of less pay refunds nothing, the later months absorb it. The computation is one function of
// the sums before the month and the month's amounts, so that the stateless withhold command,
// the ledger's import of a month and its recomputation of one employee's year all agree.
//
// With the tax borne by the employer (TaxMode::Net) the month's income entered is the pay after
// tax; the gross income is worked back so that the ordinary computation of that gross income
// withholds exactly gross − net. The result is then the gross computation itself: a ledger kept
// net and the same ledger kept with the worked-back gross incomes agree to the fen.

#include "base/outcome.h"
#include "engine/exact.h"
#include "engine/tax.h"
#include "engine/withholding_table.h"

#include <optional>
#include <vector>

namespace iit::engine {

// An employee's options for the cumulative basic deduction (announcements 2020 No. 13, No. 19).
struct DeductionOptions {
    // No wages earlier in the year until joining: the months are counted from January.
    bool fromJanuary = false;
    // Low wages in every month of the previous year at this employer: the whole year's basic
    // deduction (the table's annual deduction) from January on.
    bool annualDeduction = false;
};

// Year-to-date sums at one employer through `month` (0: no month yet). `withheld` is all that
// was withheld, the last month's included.
struct YearToDate {
    int month = 0;
    // Sums start in fen, so that the sums of amounts in fen stay on Exact's quickest path.
    Exact income = fromFen(0), taxFree = fromFen(0), basicDeduction = fromFen(0),
          special = fromFen(0), specialAdditional = fromFen(0), other = fromFen(0),
          relief = fromFen(0), withheld = fromFen(0);
    // Donations deducted in withholding (准予扣除的捐赠额): off the taxable income after every
    // other deduction.
    Exact donation = fromFen(0);
};

// One month's amounts as entered. In net mode `income` is the pay after tax.
struct MonthAmounts {
    Exact income = fromFen(0), taxFree = fromFen(0), special = fromFen(0),
          specialAdditional = fromFen(0), other = fromFen(0), relief = fromFen(0),
          donation = fromFen(0);
};

struct CumulativeFigures {
    YearToDate after;  // the sums through this month, this month's withholding included
    Exact grossIncome; // this month's income before tax (net mode: the net + the withholding)
    Exact taxable;     // cumulative taxable income, never below 0
    Exact ratePercent; // of the band of `taxable`
    Exact quickDeduction;
    Exact tax; // cumulative tax, rounded to the fen
    Exact withheldBefore;
    Exact withholding; // this month's, never below 0
    Exact afterTax;    // grossIncome − this month's special deductions − withholding
};

// The pay after tax of a month: what was paid (wages, and a bonus) less the employee's special
// deductions, which the payroll pays on their behalf, and the tax withheld.
Exact afterTaxPay(const Exact& paid, const Exact& special, const Exact& withheld);

// The cumulative basic deduction through `month`. With sums of earlier months (or opening
// balances) each month since adds one month's deduction, months without pay included; in the
// first month the count starts at the joining month (January with options.fromJanuary).
Exact cumulativeBasicDeduction(const WithholdingTable& table, const YearToDate& before, int month,
                               int joinMonth, const DeductionOptions& options);

// One employee's month `month` (after before.month, 1 to 12). `joinMonth` counts only in the
// first month (before.month == 0); a joining month after `month` counts as `month`. Fails when
// the taxable income lies above the table's last band.
Outcome<CumulativeFigures> computeCumulative(const WithholdingTable& table,
                                             const YearToDate& before, int month, int joinMonth,
                                             const DeductionOptions& options,
                                             const MonthAmounts& amounts, TaxMode mode);

// Whether an employee's options go together: the 60,000 deduction neither with the count from
// January nor for one who joined after January (`joinMonth`, none when not known yet).
Outcome<void> checkDeductionOptions(const DeductionOptions& options, std::optional<int> joinMonth);

// A non-resident's wages of a month: the monthly method of the bracket table's wages on the
// month's income less its tax-free income (tax included, or worked back for an employer who
// bears it), no tax below the threshold; the year-to-date sums carried on as the cumulative
// method carries them, without its figures.
struct MonthlyFigures {
    YearToDate after; // this month's tax withheld included
    Exact grossIncome;
    Exact withholding;
    Exact afterTax;
};
Outcome<MonthlyFigures> computeMonthly(const BracketTable& table, const YearToDate& before,
                                       int month, const MonthAmounts& amounts, TaxMode mode);

// The annual one-off bonus taxed on its own: bonus ÷ 12 finds the band of the monthly table,
// tax = bonus × rate − quick deduction (the quick deduction once), to the fen.
struct BonusFigures {
    Exact bonus, ratePercent, quickDeduction, tax, afterTax;
};
Outcome<BonusFigures> computeSeparateBonus(const std::vector<TaxBand>& monthlyBands,
                                           const Exact& bonus);

// The bonus taxed on its own against added to its month's income, over the whole year.
//
// `months` are the months entered, increasing, with all their income (bonuses other than the
// compared one included). The months after the last one entered, up to `lastMonth` (the month
// the employee leaves, or December), are projected: the last month entered is repeated. Months
// without a row before it are months without pay, as they were.
struct PlannedMonth {
    int month = 0;
    MonthAmounts amounts;
};
struct BonusPlan {
    YearToDate opening; // opening balances, or nothing
    int joinMonth = 1;
    DeductionOptions options;
    std::vector<PlannedMonth> months;
    int lastMonth = 12;
    int bonusMonth = 12;
    Exact bonus;
};
struct BonusWay {
    Exact wagesTax; // everything withheld on wages in the year, opening balances included
    Exact bonusTax; // the bonus taxed on its own; 0 when it is added to a month
    Exact total;
};
struct BonusComparison {
    BonusWay separate, combined;
    int projectedMonths = 0;
    enum class Lower { Separate, Combined, Same } lower = Lower::Same;
    Exact saving; // what the lower way saves against the other
};
Outcome<BonusComparison> compareBonus(const WithholdingTable& table,
                                      const std::vector<TaxBand>& monthlyBands,
                                      const BonusPlan& plan);

} // namespace iit::engine
