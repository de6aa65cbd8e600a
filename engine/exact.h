#pragma once
// Exact arithmetic of amounts: the one place where money is computed.
//
// An Exact is a rational number. Amounts, rates and deductions enter as the decimals they
// say: a text as written (in the number grammar of ToNumber), a double as the shortest decimal
// that reads back as that double. Sums, differences, products and quotients are exact, and
// Round() rounds the exact value to a number of decimals with halves away from zero, as a
// person or a spreadsheet rounds it. Values live in 128-bit integers; the rare value that
// does not fit (a table whose rates carry many decimals) moves to GMP's rationals, so the
// result is exact whatever the table holds.
//
// Decisions that the system takes with a tolerance (which band holds an amount, whether an
// income is below the threshold) are taken on toDouble(); they choose the rule, not the fen.

#include "base/text.h"

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>

namespace iit::engine {

class Exact {
public:
    Exact() = default;
    Exact(std::int64_t integer) : m_num(integer) {}
    Exact(std::int32_t integer) : m_num(integer) {}

    // The decimal a text says, in ToNumber's grammar (full-width forms, an exponent with e or d,
    // the rest after the number ignored; no number at all is 0). Magnitudes no amount of the
    // system comes near are cut: 10^60 and beyond read as +-10^60 (every caller refuses such an
    // income by its limit first), below 10^-60 as 0.
    static Exact fromText(const Text& text);
    // The shortest decimal that reads back as v; nullopt for an infinity or NaN.
    static std::optional<Exact> fromDouble(double v);

    double toDouble() const;
    int sign() const;
    bool isZero() const { return sign() == 0; }

    friend Exact operator+(const Exact& a, const Exact& b);
    friend Exact operator-(const Exact& a, const Exact& b);
    friend Exact operator*(const Exact& a, const Exact& b);
    // b must not be zero (callers test isZero() first).
    friend Exact operator/(const Exact& a, const Exact& b);
    Exact operator-() const;
    Exact& operator+=(const Exact& b) { return *this = *this + b; }

    friend bool operator==(const Exact& a, const Exact& b) { return compare(a, b) == 0; }
    friend std::strong_ordering operator<=>(const Exact& a, const Exact& b) {
        return compare(a, b) <=> 0;
    }

    // v rounded to `places` decimals (0 or more), halves away from zero.
    friend Exact Round(const Exact& v, int places);
    // An amount in fen is written whole, without exponent, trailing zeros and a bare point
    // removed ("90", "12325.8", "-0.5", "12345678901234.56"); any other value (an income typed
    // with more decimals) as ToText writes its double, in 13 significant digits.
    friend Text ToText(const Exact& v);
    // An amount of whole fen, and back: nullopt when v is not a whole number of fen or does not
    // fit 64 bits. Stores keep amounts in fen.
    friend Exact fromFen(std::int64_t fen);
    friend std::optional<std::int64_t> toFen(const Exact& v);

    struct Big; // GMP's rational, when the value does not fit 128 bits

private:
    __extension__ typedef __int128 Int;
    static int compare(const Exact& a, const Exact& b);
    static Exact fromBig(Big&& big);
    Big toBig() const;

    Int m_num = 0;
    Int m_den = 1;                    // above 0; num/den need not be reduced
    std::shared_ptr<const Big> m_big; // when set, the value is *m_big and num/den are unused
};

Exact fromFen(std::int64_t fen);
std::optional<std::int64_t> toFen(const Exact& v);

} // namespace iit::engine
