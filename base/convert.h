#pragma once
// The value operations every amount of the system passes through: text to number, number
// to text, rounding, integer conversion, the byte-counting text operations and the dates.
// They never fail: malformed texts convert to 0, out-of-range dates are clamped.

#include "base/text.h"
#include "base/value.h"

#include <cstdint>
#include <optional>
#include <string>

namespace iit {

// Full-width forms (A3 A1..A3 FE, ideographic space, A1 AB, A1 EE/EF) become their ASCII
// bytes; a lead byte without its trail byte at the end is dropped.
std::string normalizeFullWidth(std::string_view text);

// The number shape of ToNumber at the start of a normalised text: white space, a sign, digits
// with an optional point, and an exponent introduced by e, E, d or D. The views point into the
// scanned text; end is where the number ends (0 when it holds no digit).
struct NumberLiteral {
    bool negative = false;
    bool hasDigits = false;
    std::string_view intDigits;
    std::string_view fracDigits;
    long exponent = 0; // saturates at +-100,000,000
    std::size_t end = 0;
};
NumberLiteral scanNumber(std::string_view normalised);

// The number a whole cell says, in ToNumber's grammar (full-width forms, blanks around it, a
// sign, an exponent with e or d), where the integer part may be written with thousands
// separators ("12,500.50", "1,234,567"): the plain number ("12500.50"), normalised. nullopt
// when the cell holds anything else ("abc", "nan", "0x1F40", "8000元", "1,2,3").
std::optional<std::string> wholeNumberText(std::string_view text);

double ToNumber(const Text& text);
double ToNumber(const Value& v);
std::int32_t ToInteger(const Text& text);
std::int32_t ToInteger(double v);
std::int32_t ToInteger(const Value& v);

// "%.13g" with the exponent in at least three digits; negative zero gives "0".
Text ToText(double v);
// The shortest decimal that reads back as v, without exponent for magnitudes from 1e-6 to
// below 1e15 (ToText's form beyond them): an amount stored as a double comes back as the
// decimal it was stored from, 13 significant digits or more.
Text toTextShortest(double v);
Text ToText(std::int32_t v);
Text ToText(std::int64_t v);
Text toTextFloat(float v); // 6 significant digits
Text toTextBool(bool v);
Text toTextDateTime(double days);
Text ToText(const Value& v);

ByteSet ToBytes(const Value& v);

// Halves away from zero; 1e-12 is added to the scaled magnitude before the split.
double Round(double v, int places = 0);

std::int32_t TextLength(const Text& t);
Text LeftText(const Text& t, std::int32_t n);
Text MidText(const Text& t, std::int32_t start, std::int32_t count);
Text CharText(std::uint8_t c);
Text RemoveSpaces(const Text& t);
template <typename... Texts> Text ConcatText(const Text& first, const Texts&... rest) {
    Text out = first;
    ((out += rest), ...);
    return out;
}
int CompareText(const Text& a, const Text& b);

// Date-times: days since 1899-12-30 00:00; the day is the whole part (toward zero) and the
// time of day its fraction's magnitude, as in the OLE automation date.
constexpr double kMinDateTime = -657434.0; // 0100-01-01
constexpr double kMaxDateTime = 2958465.0; // 9999-12-31
double clampDateTime(double days);
double DatePart(double days);
std::int32_t YearOf(double days);
double Now();
// Days of a calendar date and time of day (no range check beyond the clamp).
double makeDateTime(int year, unsigned month, unsigned day, int hour = 0, int minute = 0,
                    int second = 0);

struct CivilDateTime {
    int year;
    unsigned month, day;
    int hour, minute, second;
};
// The calendar date and the time rounded to the second (clamped first).
CivilDateTime splitDateTime(double days);

} // namespace iit
