#pragma once
// The tax computation: one income amount, one income kind and mode, one outcome.
//
// Every number comes from the bracket table (bracket_table.h), read afresh at each call.
// Conventions: doubles compare with a tolerance of 1e-7, numbers read as integers are
// truncated toward zero, and tax amounts are rounded to 2 places with Round().

#include "runtime/text.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace iit::engine {

enum class TaxKind { Wages, Labour, Royalties };
enum class TaxMode { Gross, Net }; // Gross: the amount includes the tax ("税前"); Net: "税后"

// The system's texts of kinds and modes: "薪金收入", "劳务费", "稿费"; "税前", "税后".
const Text& KindText(TaxKind kind);
const Text& ModeText(TaxMode mode);
std::optional<TaxKind> KindFromText(const Text& text);
std::optional<TaxMode> ModeFromText(const Text& text);

// Tolerant comparisons of the calculations.
inline bool Less(double a, double b) {
    return a - b < -1e-7;
}
inline bool Greater(double a, double b) {
    return a - b > 1e-7;
}
// A band holds v when lower <= v < upper, with the tolerance.
inline bool InBand(double v, double lower, double upper) {
    return !Less(v, lower) && Less(v, upper);
}
// Quotient with the IEEE result spelt out, so that a table rate of 100 % gives a defined
// infinity or NaN (which the callers then refuse) rather than a division by zero.
double Divide(double a, double b);

struct TaxOutcome {
    // TableUnavailable: the rate table cannot be opened; `problem` says which file and why.
    enum class Type { BelowThreshold, Computed, NoResult, TableUnavailable };
    Type type = Type::NoResult;
    std::int32_t threshold = 0; // the group's threshold (also set for the other outcomes)
    double tax = 0;             // rounded to 2 places
    double companion = 0;       // net pay x - tax, or the gross total
    // Wages with tax excluded: the text of the gross wage, from which the tax was taken.
    std::optional<Text> companionText;
    enum class Caption { NetPay, GrossTotal, GrossTotalFullWidth } caption = Caption::NetPay;
    Text problem;
};

// Computes the tax of x with the table at tablePath (opened under its alias when it is not
// open yet). The caller has checked that x is at most 1,999,999,999.
// `messageThreshold` receives the threshold of the group in use before the threshold check.
TaxOutcome ComputeTax(const std::filesystem::path& tablePath, double x, TaxKind kind, TaxMode mode,
                      std::int32_t& messageThreshold);

} // namespace iit::engine
