#pragma once
// The tax computation: one income amount, one income kind and mode, one outcome.
//
// Every number comes from the bracket table (bracket_table.h) handed to the computation. There
// is one computation, computeTaxFigures, over a BracketTable; a TaxPolicy says which rules it
// applies: those of the single-person calculation (single_person.h) or those of a sheet of
// people, computed all at once or one row as its income is entered.
// Conventions: the band and the threshold are decided on doubles with a tolerance of 1e-7,
// numbers read as integers are truncated toward zero, and amounts are computed exactly and
// rounded to 2 places with Round() (engine/exact.h).

#include "base/text.h"
#include "engine/bracket_table.h"
#include "engine/exact.h"

#include <cstdint>
#include <optional>

namespace iit::engine {

enum class TaxKind { Wages, Labour, Royalties };
enum class TaxMode { Gross, Net }; // Gross: the amount includes the tax ("税前"); Net: "税后"

// Royalties are always computed with the tax included: "雇主全额负担" is only for wages and
// labour. The mode a computation uses is the chosen one where it is allowed.
constexpr bool netModeAllowed(TaxKind kind) {
    return kind != TaxKind::Royalties;
}
constexpr TaxMode effectiveMode(TaxKind kind, TaxMode mode) {
    return netModeAllowed(kind) ? mode : TaxMode::Gross;
}

// The system's texts of kinds and modes: "薪金收入", "劳务费", "稿费"; "税前", "税后".
const Text& kindText(TaxKind kind);
const Text& modeText(TaxMode mode);
std::optional<TaxKind> kindFromText(const Text& text);
std::optional<TaxMode> modeFromText(const Text& text);

// The largest income the system computes: the single-person calculation refuses more, and a
// sheet leaves a larger income uncomputed.
constexpr double kMaxIncome = 1999999999;

// Tolerant comparisons of the calculations.
inline bool less(double a, double b) {
    return a - b < -1e-7;
}
inline bool greater(double a, double b) {
    return a - b > 1e-7;
}
// A band holds v when lower <= v < upper, with the tolerance.
inline bool inBand(double v, double lower, double upper) {
    return !less(v, lower) && less(v, upper);
}
// Quotient with the IEEE result spelt out, so that a table rate of 100 % gives a defined
// infinity or NaN (which the callers then refuse) rather than a division by zero.
double divide(double a, double b);

// Which band holds an amount that lies in several.
enum class BandMatch { First, Last };

// The rules a computation applies to the table: the single-person rules, or a sheet's with its
// written differences. Every difference of a sheet is one field here.
struct TaxPolicy {
    BandMatch bandMatch = BandMatch::First;
    // The wage rate kept when no band holds the taxable amount (1.0: the whole excess is tax).
    Exact wageRateWithoutBand = Exact(1);
    // Wages: the taxable amount is the income less the threshold read as a truncated integer;
    // otherwise less the threshold read as a double.
    bool wageThresholdTruncated = false;
    // Quick deductions are read as truncated integers; otherwise as doubles.
    bool quickDeductionsTruncated = false;
    // Every kind has a below-threshold outcome; otherwise only wages with tax included, whose
    // income below the threshold has no tax.
    bool belowThresholdEveryKind = true;
    // Labour at or below its threshold has tax 0; otherwise the formula decides.
    bool labourUntaxedAtThreshold = true;
    // Wages with tax included: the net pay is rounded again, R(x - T - tax + T); otherwise x - tax.
    bool wageNetPayRounded = false;
    // Amounts that are not finite, and gross wages outside 0 to 10^12, give no result; the tax
    // of a gross wage is taken from the text of that wage.
    bool checkedAmounts = true;

    // When a computed row has no tax (NoTax) rather than a tax of that amount.
    enum class NoTaxTest {
        Never,       // every computed amount is a tax, 0 and negatives included
        NotPositive, // a rounded tax not above 1e-7 is no tax
    };
    NoTaxTest noTax = NoTaxTest::Never;
    // Royalties: a tax of 0 is written as a tax even when noTax says otherwise.
    bool royaltyZeroIsTax = false;
    // Wages with tax excluded: the test of a tax on the gross wage G of net N (x = N - T).
    enum class GrossWageTest {
        Never,         // the single-person rules: G itself decides (checkedAmounts)
        RoundedExcess, // R(G - x - T, 3) > 1e-7
        Taxable,       // (x - qd) / (1 - rate) > 1e-7, before rounding
    };
    GrossWageTest grossWageTest = GrossWageTest::Never;

    // One person's tax, every amount checked: the defaults above.
    static TaxPolicy singlePerson();
    // Every row of a sheet computed at once (its totals follow), by the sheet's rules as the
    // fields above set them.
    static TaxPolicy sheetAll();
    // One row of a sheet as its income is entered: sheetAll, except that a royalty tax of 0 is
    // no tax and the gross wage is tested by its taxable amount before rounding.
    static TaxPolicy sheetRow();
};

// What one computation found. Amounts are exact (engine/exact.h): the decimal value of the
// rule, rounded to the fen with halves away from zero where the rule rounds.
struct TaxFigures {
    enum class Type {
        BelowThreshold, // the income is below the group's threshold
        Taxed,          // tax and companion hold the result
        NoTax,          // the policy's no-tax test held
        NoResult,       // no usable amount: the table divides by zero or gives no gross wage
    };
    Type type = Type::NoResult;
    std::int32_t threshold = 0; // the threshold of the group in use, the message threshold
    Exact tax;                  // rounded to 2 places
    Exact companion;            // the net pay (x - tax), or the gross amount
};

// The one tax computation: x of the given kind and mode (effectiveMode) over the table, under
// the policy.
TaxFigures computeTaxFigures(const BracketTable& table, const Exact& x, TaxKind kind, TaxMode mode,
                             const TaxPolicy& policy);

// The threshold of the sub-table a kind and mode use (record 1, read as a truncated integer),
// and whether x lies below it: the test every calculation makes first.
SubTable subTableOf(TaxKind kind, TaxMode mode);
std::int32_t thresholdOf(const BracketTable& table, TaxKind kind, TaxMode mode);
bool isBelowThreshold(const BracketTable& table, const Exact& x, TaxKind kind, TaxMode mode);

// The caption of the companion amount: "实发数" (net pay), "合计数" (gross total), and the
// wage gross-up's "合计数：" with its full-width colon.
enum class Caption { NetPay, GrossTotal, GrossTotalFullWidth };
Caption captionOf(TaxKind kind, TaxMode mode);

} // namespace iit::engine
