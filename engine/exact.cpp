#include "engine/exact.h"

#include "base/convert.h"

#include <array>
#include <charconv>
#include <cmath>
#include <gmp.h>
#include <string>

namespace iit::engine {

struct Exact::Big {
    mpq_t q;
    Big() { mpq_init(q); }
    ~Big() { mpq_clear(q); }
    Big(const Big& other) {
        mpq_init(q);
        mpq_set(q, other.q);
    }
    Big& operator=(const Big&) = delete;
};

namespace {

__extension__ typedef __int128 Int;
__extension__ typedef unsigned __int128 UInt;

// The decimal magnitudes an Exact is made from; beyond them a text is no amount.
constexpr long kLargestExponent = 60;

Int gcd(Int a, Int b) {
    if (a < 0) a = -a;
    if (b < 0) b = -b;
    // Denominators are small: 64-bit divisions, a fraction of the cost of 128-bit ones.
    if (a <= INT64_MAX && b <= INT64_MAX) {
        std::uint64_t x = static_cast<std::uint64_t>(a), y = static_cast<std::uint64_t>(b);
        while (y != 0) {
            const std::uint64_t t = x % y;
            x = y;
            y = t;
        }
        return static_cast<Int>(x);
    }
    while (b != 0) {
        const Int t = a % b;
        a = b;
        b = t < 0 ? -t : t;
    }
    return a;
}

bool mul(Int a, Int b, Int& out) {
    // Factors within 64 bits, nearly all, cannot overflow 128.
    if (a == static_cast<std::int64_t>(a) && b == static_cast<std::int64_t>(b)) {
        out = a * b;
        return true;
    }
    return !__builtin_mul_overflow(a, b, &out);
}
bool add(Int a, Int b, Int& out) {
    return !__builtin_add_overflow(a, b, &out);
}

void setInt(mpz_t z, Int v) {
    const bool negative = v < 0;
    UInt m = negative ? UInt(0) - static_cast<UInt>(v) : static_cast<UInt>(v);
    mpz_set_ui(z, static_cast<unsigned long>(m >> 64));
    mpz_mul_2exp(z, z, 64);
    mpz_add_ui(z, z, static_cast<unsigned long>(m & 0xFFFFFFFFFFFFFFFFull));
    if (negative) mpz_neg(z, z);
}

// The value of z when it fits 127 bits.
bool getInt(const mpz_t z, Int& out) {
    if (mpz_sizeinbase(z, 2) > 126) return false;
    mpz_t m;
    mpz_init(m);
    mpz_abs(m, z);
    mpz_t high;
    mpz_init(high);
    mpz_fdiv_q_2exp(high, m, 64);
    const UInt h = mpz_get_ui(high);
    mpz_fdiv_r_2exp(m, m, 64);
    const UInt l = mpz_get_ui(m);
    mpz_clear(high);
    mpz_clear(m);
    const Int v = static_cast<Int>((h << 64) | l);
    out = mpz_sgn(z) < 0 ? -v : v;
    return true;
}

Int pow10(int n) {
    Int p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// Appends the decimal digits of a non-negative value.
void appendDigits(std::string& out, UInt v) {
    char buf[40];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v != 0);
    while (n > 0)
        out.push_back(buf[--n]);
}

// "int.frac" of an integer count of 10^-places, trailing zeros and a bare point removed.
std::string decimalText(bool negative, const std::string& digits, int places) {
    std::string intPart, frac;
    if (static_cast<int>(digits.size()) > places) {
        intPart = digits.substr(0, digits.size() - static_cast<std::size_t>(places));
        frac = digits.substr(digits.size() - static_cast<std::size_t>(places));
    } else {
        intPart = "0";
        frac = std::string(static_cast<std::size_t>(places) - digits.size(), '0') + digits;
    }
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    std::string out;
    if (negative && (intPart != "0" || !frac.empty())) out.push_back('-');
    out += intPart;
    if (!frac.empty()) out += "." + frac;
    return out;
}

} // namespace

Exact Exact::fromBig(Big&& big) {
    mpq_canonicalize(big.q);
    Exact out;
    Int num = 0, den = 1;
    if (getInt(mpq_numref(big.q), num) && getInt(mpq_denref(big.q), den)) {
        out.m_num = num;
        out.m_den = den;
        return out;
    }
    out.m_big = std::make_shared<const Big>(big);
    return out;
}

Exact::Big Exact::toBig() const {
    if (m_big) return *m_big;
    Big b;
    setInt(mpq_numref(b.q), m_num);
    setInt(mpq_denref(b.q), m_den);
    mpq_canonicalize(b.q);
    return b;
}

Exact Exact::fromText(const Text& text) {
    std::string normalised;
    std::string_view view = text.view();
    for (unsigned char c : view) {
        if (isLeadByte(c)) {
            normalised = normalizeFullWidth(view);
            view = normalised;
            break;
        }
    }
    const NumberLiteral n = scanNumber(view);
    if (!n.hasDigits) return Exact{};
    std::string_view intDigits = n.intDigits, fracDigits = n.fracDigits;
    while (!intDigits.empty() && intDigits.front() == '0')
        intDigits.remove_prefix(1);
    while (!fracDigits.empty() && fracDigits.back() == '0')
        fracDigits.remove_suffix(1);
    // The usual amount (up to 36 digits) is read straight into an integer.
    {
        const long count = static_cast<long>(intDigits.size() + fracDigits.size());
        const long scale = n.exponent - static_cast<long>(fracDigits.size());
        if (count <= 36 && scale >= -36 && scale + count <= 36) {
            Int num = 0;
            for (char c : intDigits)
                num = num * 10 + (c - '0');
            for (char c : fracDigits)
                num = num * 10 + (c - '0');
            Exact out;
            out.m_num =
                (n.negative ? -num : num) * (scale > 0 ? pow10(static_cast<int>(scale)) : 1);
            out.m_den = scale < 0 ? pow10(static_cast<int>(-scale)) : 1;
            return out;
        }
    }
    std::string digits(intDigits);
    digits += fracDigits;
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return Exact{};
    digits.erase(0, first);
    // The value is digits x 10^scale.
    const long scale = n.exponent - static_cast<long>(fracDigits.size());
    const long magnitude = scale + static_cast<long>(digits.size());
    if (magnitude > kLargestExponent) {
        Big b;
        mpz_ui_pow_ui(mpq_numref(b.q), 10, kLargestExponent);
        if (n.negative) mpz_neg(mpq_numref(b.q), mpq_numref(b.q));
        return fromBig(std::move(b));
    }
    if (magnitude < -kLargestExponent) return Exact{}; // no amount is that small: it reads as 0
    Big b;
    mpz_set_str(mpq_numref(b.q), digits.c_str(), 10);
    mpz_t p;
    mpz_init(p);
    mpz_ui_pow_ui(p, 10, static_cast<unsigned long>(scale < 0 ? -scale : scale));
    if (scale < 0)
        mpz_set(mpq_denref(b.q), p);
    else
        mpz_mul(mpq_numref(b.q), mpq_numref(b.q), p);
    mpz_clear(p);
    if (n.negative) mpz_neg(mpq_numref(b.q), mpq_numref(b.q));
    return fromBig(std::move(b));
}

std::optional<Exact> Exact::fromDouble(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    if (v == 0) return Exact{};
    std::array<char, 64> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return fromText(Text::fromBytes(std::string_view(buf.data(), res.ptr)));
}

double Exact::toDouble() const {
    if (m_big) return mpq_get_d(m_big->q);
    if (m_den == 1) return static_cast<double>(m_num);
    return static_cast<double>(static_cast<long double>(m_num) / static_cast<long double>(m_den));
}

int Exact::sign() const {
    if (m_big) return mpq_sgn(m_big->q);
    return m_num > 0 ? 1 : m_num < 0 ? -1 : 0;
}

Exact Exact::operator-() const {
    if (m_big) {
        Big b(*m_big);
        mpq_neg(b.q, b.q);
        return fromBig(std::move(b));
    }
    Exact out = *this;
    out.m_num = -m_num;
    return out;
}

Exact operator+(const Exact& a, const Exact& b) {
    if (!a.m_big && !b.m_big) {
        Exact out;
        if (a.m_den == b.m_den) {
            if (add(a.m_num, b.m_num, out.m_num)) {
                out.m_den = a.m_den;
                return out;
            }
        } else {
            const Exact::Int g = gcd(a.m_den, b.m_den);
            Exact::Int bd = 0, ad = 0;
            if (a.m_den <= INT64_MAX && b.m_den <= INT64_MAX) { // 64-bit division when it fits
                bd = static_cast<std::uint64_t>(b.m_den) / static_cast<std::uint64_t>(g);
                ad = static_cast<std::uint64_t>(a.m_den) / static_cast<std::uint64_t>(g);
            } else {
                bd = b.m_den / g;
                ad = a.m_den / g;
            }
            Exact::Int x = 0, y = 0;
            if (mul(a.m_num, bd, x) && mul(b.m_num, ad, y) && add(x, y, out.m_num) &&
                mul(a.m_den, bd, out.m_den))
                return out;
        }
    }
    Exact::Big r, x = a.toBig(), y = b.toBig();
    mpq_add(r.q, x.q, y.q);
    return Exact::fromBig(std::move(r));
}

Exact operator-(const Exact& a, const Exact& b) {
    if (!a.m_big && !b.m_big && a.m_den == b.m_den) { // amounts in fen: no negated copy
        Exact out;
        if (!__builtin_sub_overflow(a.m_num, b.m_num, &out.m_num)) {
            out.m_den = a.m_den;
            return out;
        }
    }
    return a + (-b);
}

Exact operator*(const Exact& a, const Exact& b) {
    if (!a.m_big && !b.m_big) {
        Exact out;
        if (mul(a.m_num, b.m_num, out.m_num) && mul(a.m_den, b.m_den, out.m_den)) {
            // Keep the denominator small, so that a chain of products stays in 128 bits.
            if (out.m_den > 1'000'000'000'000LL) {
                const Exact::Int g = gcd(out.m_num, out.m_den);
                if (g > 1) {
                    out.m_num /= g;
                    out.m_den /= g;
                }
            }
            return out;
        }
    }
    Exact::Big r, x = a.toBig(), y = b.toBig();
    mpq_mul(r.q, x.q, y.q);
    return Exact::fromBig(std::move(r));
}

Exact operator/(const Exact& a, const Exact& b) {
    if (!a.m_big && !b.m_big) {
        Exact out;
        Exact::Int num = 0, den = 0;
        if (mul(a.m_num, b.m_den, num) && mul(a.m_den, b.m_num, den)) {
            if (den < 0) {
                num = -num;
                den = -den;
            }
            const Exact::Int g = gcd(num, den);
            out.m_num = num / g;
            out.m_den = den / g;
            return out;
        }
    }
    Exact::Big r, x = a.toBig(), y = b.toBig();
    mpq_div(r.q, x.q, y.q);
    return Exact::fromBig(std::move(r));
}

int Exact::compare(const Exact& a, const Exact& b) {
    if (!a.m_big && !b.m_big) {
        if (a.m_den == b.m_den) return a.m_num < b.m_num ? -1 : a.m_num > b.m_num ? 1 : 0;
        Int x = 0, y = 0;
        if (mul(a.m_num, b.m_den, x) && mul(b.m_num, a.m_den, y)) return x < y ? -1 : x > y ? 1 : 0;
    }
    const Big x = a.toBig(), y = b.toBig();
    const int c = mpq_cmp(x.q, y.q);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

Exact Round(const Exact& v, int places) {
    if (places < 0) places = 0;
    if (!v.m_big && places <= 18) {
        const Exact::Int scale = pow10(places);
        const bool negative = v.m_num < 0;
        const Exact::Int m = negative ? -v.m_num : v.m_num;
        Exact::Int scaled = 0;
        if (mul(m, scale, scaled)) {
            Exact::Int q = 0, r = 0;
            if (scaled <= INT64_MAX && v.m_den <= INT64_MAX) { // 64-bit division when it fits
                const auto s64 = static_cast<std::uint64_t>(scaled);
                const auto d64 = static_cast<std::uint64_t>(v.m_den);
                q = s64 / d64;
                r = s64 % d64;
            } else {
                q = scaled / v.m_den;
                r = scaled % v.m_den;
            }
            if (r >= v.m_den - r) ++q; // the remainder is half the denominator or more
            Exact out;
            out.m_num = negative ? -q : q;
            out.m_den = scale;
            return out;
        }
    }
    // |v| x 10^places, the remainder compared with half the denominator.
    Exact::Big b = v.toBig();
    mpz_t scale, num, q, r;
    mpz_inits(scale, num, q, r, nullptr);
    mpz_ui_pow_ui(scale, 10, static_cast<unsigned long>(places));
    mpz_abs(num, mpq_numref(b.q));
    mpz_mul(num, num, scale);
    mpz_tdiv_qr(q, r, num, mpq_denref(b.q));
    mpz_mul_2exp(r, r, 1);
    if (mpz_cmp(r, mpq_denref(b.q)) >= 0) mpz_add_ui(q, q, 1);
    if (mpq_sgn(b.q) < 0) mpz_neg(q, q);
    Exact::Big out;
    mpz_set(mpq_numref(out.q), q);
    mpz_set(mpq_denref(out.q), scale);
    mpz_clears(scale, num, q, r, nullptr);
    return Exact::fromBig(std::move(out));
}

Text ToText(const Exact& v) {
    // The usual amount, already in fen; within 64 bits (every amount of a payroll) its digits
    // are written straight, without 128-bit divisions.
    if (!v.m_big && v.m_den <= 100 && (v.m_den == 100 || 100 % static_cast<int>(v.m_den) == 0)) {
        const Int fen = v.m_den == 100 ? v.m_num : v.m_num * (100 / static_cast<int>(v.m_den));
        const UInt magnitude = fen < 0 ? UInt(0) - static_cast<UInt>(fen) : static_cast<UInt>(fen);
        if (magnitude <= UINT64_MAX) {
            const std::uint64_t m = static_cast<std::uint64_t>(magnitude);
            const unsigned cents = static_cast<unsigned>(m % 100);
            char buf[32];
            char* const end = buf + sizeof buf;
            char* p = end;
            if (cents != 0) {
                if (cents % 10 != 0) *--p = static_cast<char>('0' + cents % 10);
                *--p = static_cast<char>('0' + cents / 10);
                *--p = '.';
            }
            // The whole part two digits at a time.
            static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324"
                                             "25262728293031323334353637383940414243444546474849"
                                             "50515253545556575859606162636465666768697071727374"
                                             "75767778798081828384858687888990919293949596979899";
            std::uint64_t whole = m / 100;
            while (whole >= 100) {
                const std::size_t pair = static_cast<std::size_t>(whole % 100) * 2;
                whole /= 100;
                *--p = kPairs[pair + 1];
                *--p = kPairs[pair];
            }
            if (whole >= 10) {
                *--p = kPairs[whole * 2 + 1];
                *--p = kPairs[whole * 2];
            } else {
                *--p = static_cast<char>('0' + whole);
            }
            if (fen < 0) *--p = '-';
            return Text::fromBytes(std::string(p, end));
        }
        const bool negative = v.m_num < 0;
        std::string digits;
        appendDigits(digits, static_cast<UInt>((negative ? -v.m_num : v.m_num) * (100 / v.m_den)));
        return Text::fromBytes(decimalText(negative, digits, 2));
    }
    const Exact fen = Round(v, 2);
    if (!(fen == v)) return iit::ToText(v.toDouble());
    std::string digits;
    bool negative = false;
    if (!fen.m_big) { // fen's denominator is 100
        negative = fen.m_num < 0;
        appendDigits(digits, static_cast<UInt>(negative ? -fen.m_num : fen.m_num));
    } else {
        Exact::Big b = fen.toBig();
        mpz_t num;
        mpz_init(num);
        mpz_mul_ui(num, mpq_numref(b.q), 100);
        mpz_tdiv_q(num, num, mpq_denref(b.q));
        negative = mpz_sgn(num) < 0;
        mpz_abs(num, num);
        digits.assign(mpz_sizeinbase(num, 10) + 2, '\0');
        mpz_get_str(digits.data(), 10, num);
        digits.resize(std::char_traits<char>::length(digits.c_str()));
        mpz_clear(num);
    }
    return Text::fromBytes(decimalText(negative, digits, 2));
}

Exact fromFen(std::int64_t fen) {
    Exact out;
    out.m_num = fen;
    out.m_den = 100;
    return out;
}

std::optional<std::int64_t> toFen(const Exact& v) {
    if (v.m_big) return std::nullopt;
    if (v.m_den == 100 && v.m_num >= INT64_MIN && v.m_num <= INT64_MAX) // kept in fen already
        return static_cast<std::int64_t>(v.m_num);
    Exact::Int scaled = 0;
    if (!mul(v.m_num, 100, scaled) || scaled % v.m_den != 0) return std::nullopt;
    const Exact::Int fen = scaled / v.m_den;
    if (fen > INT64_MAX || fen < INT64_MIN) return std::nullopt;
    return static_cast<std::int64_t>(fen);
}

} // namespace iit::engine
