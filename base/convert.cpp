// ToNumber, ToInteger, ToText, ToBytes and Round.
#include "base/convert.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace iit {
namespace {

bool isBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The double of a scanned number: the decimal rounded to the nearest double; a magnitude too
// large gives an infinity, one too small zero.
double toDouble(const NumberLiteral& n) {
    if (!n.hasDigits) return 0.0;
    std::string_view intDigits = n.intDigits;
    // Leading zeros carry no value; dropping them keeps the magnitude estimate below right.
    while (!intDigits.empty() && intDigits.front() == '0')
        intDigits.remove_prefix(1);
    std::string buf;
    buf.reserve(intDigits.size() + n.fracDigits.size() + 16);
    buf.append(intDigits.empty() ? std::string_view("0") : intDigits);
    buf.push_back('.');
    buf.append(n.fracDigits.empty() ? std::string_view("0") : n.fracDigits);
    buf.push_back('e');
    buf.append(std::to_string(n.exponent));

    double value = 0.0;
    auto [ptr, ec] = std::from_chars(buf.data(), buf.data() + buf.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Decimal exponent of the first significant digit decides overflow or underflow.
        long magnitude = static_cast<long>(intDigits.size());
        if (intDigits.empty()) {
            std::size_t zeros = n.fracDigits.find_first_not_of('0');
            magnitude = -static_cast<long>(zeros == std::string_view::npos ? 0 : zeros);
        }
        value = magnitude + n.exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return n.negative ? -value : value;
}

std::int32_t low32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// "%.<precision>g" with the exponent widened to at least three digits.
Text formatG(double v, int precision) {
    if (v == 0) return Text::fromBytes("0"); // also negative zero
    if (std::isnan(v)) return Text::fromBytes(std::signbit(v) ? "-nan" : "nan");
    std::array<char, 64> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::general,
                             precision);
    std::string out(buf.data(), res.ptr);
    std::size_t e = out.find('e');
    if (e != std::string::npos) {
        // to_chars writes at least two exponent digits after the sign.
        std::size_t digits = out.size() - (e + 2);
        if (digits < 3) out.insert(e + 2, 3 - digits, '0');
    }
    return Text::fromBytes(std::move(out));
}

template <typename T> ByteSet littleEndian(T v) {
    ByteSet out(sizeof(T));
    std::memcpy(out.data(), &v, sizeof(T)); // the platform is little-endian (x86-64, arm64)
    return out;
}

} // namespace

NumberLiteral scanNumber(std::string_view s) {
    NumberLiteral out;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n && isBlank(s[i]))
        ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';

    const std::size_t intStart = i;
    while (i < n && isDigit(s[i]))
        ++i;
    out.intDigits = s.substr(intStart, i - intStart);
    if (i < n && s[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < n && isDigit(s[i]))
            ++i;
        out.fracDigits = s.substr(fracStart, i - fracStart);
    }
    out.hasDigits = !out.intDigits.empty() || !out.fracDigits.empty();
    if (!out.hasDigits) {
        out.end = 0;
        return out;
    }
    // The exponent saturates far outside the double range, so it never overflows.
    if (i < n && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < n && (s[j] == '+' || s[j] == '-')) expNegative = s[j++] == '-';
        if (j < n && isDigit(s[j])) {
            while (j < n && isDigit(s[j])) {
                if (out.exponent < 100'000'000) out.exponent = out.exponent * 10 + (s[j] - '0');
                ++j;
            }
            if (expNegative) out.exponent = -out.exponent;
            i = j;
        }
    }
    out.end = i;
    return out;
}

std::optional<std::string> wholeNumberText(std::string_view text) {
    std::string s = normalizeFullWidth(text);
    std::size_t begin = 0, end = s.size();
    while (begin < end && isBlank(static_cast<unsigned char>(s[begin])))
        ++begin;
    while (end > begin && isBlank(static_cast<unsigned char>(s[end - 1])))
        --end;
    s = s.substr(begin, end - begin);
    // Thousands separators: one to three digits, then groups of a comma and three digits.
    if (s.find(',') != std::string::npos) {
        std::size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
        std::size_t lead = 0;
        while (i < s.size() && isDigit(static_cast<unsigned char>(s[i])) && lead < 4)
            ++i, ++lead;
        if (lead < 1 || lead > 3) return std::nullopt;
        std::string plain = s.substr(0, i);
        while (i + 3 < s.size() && s[i] == ',' && isDigit(static_cast<unsigned char>(s[i + 1])) &&
               isDigit(static_cast<unsigned char>(s[i + 2])) &&
               isDigit(static_cast<unsigned char>(s[i + 3]))) {
            plain.append(s, i + 1, 3);
            i += 4;
        }
        if (i < s.size() && (s[i] == ',' || isDigit(static_cast<unsigned char>(s[i]))))
            return std::nullopt;
        plain.append(s, i);
        s = std::move(plain);
        if (s.find(',') != std::string::npos) return std::nullopt;
    }
    const NumberLiteral n = scanNumber(s);
    if (!n.hasDigits || n.end != s.size()) return std::nullopt;
    return s;
}

std::string normalizeFullWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CharSpan ch = nextChar(text, i);
        if (!ch.complete) break; // a character cut short at the end ends the copy
        if (ch.length != 2) {
            out.append(text.substr(i, ch.length));
            i += ch.length;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const unsigned char t = static_cast<unsigned char>(text[i + 1]);
        i += 2;
        if (c == 0xA3 && t >= 0xA1 && t <= 0xFE) {
            out.push_back(static_cast<char>(t & 0x7F));
        } else if (c == 0xA1 && t == 0xA1) {
            out.push_back(' ');
        } else if (c == 0xA1 && t == 0xAB) {
            out.push_back('~');
        } else if (c == 0xA1 && (t == 0xEE || t == 0xEF)) {
            out.push_back('*');
        } else {
            out.push_back(static_cast<char>(c));
            out.push_back(static_cast<char>(t));
        }
    }
    return out;
}

double ToNumber(const Text& text) {
    // Plain ASCII needs no normalisation copy: the usual amount text takes the short path.
    for (unsigned char c : text.view())
        if (isLeadByte(c)) return toDouble(scanNumber(normalizeFullWidth(text.view())));
    return toDouble(scanNumber(text.view()));
}

double ToNumber(const Value& v) {
    switch (v.kind()) {
    case Kind::Text:
        return ToNumber(Text::fromBytes(v.rawBytes()));
    case Kind::Double:
    case Kind::Float:
        return v.realSlot();
    case Kind::Int:
    case Kind::Int64:
    case Kind::Short:
    case Kind::Byte:
    case Kind::Subroutine:
        return static_cast<double>(v.intSlot());
    case Kind::Bool:
        return v.intSlot() != 0 ? 1.0 : 0.0;
    case Kind::DateTime:
    case Kind::ByteSet:
        return 0.0;
    }
    return 0.0;
}

std::int32_t ToInteger(const Text& text) {
    const std::string s = normalizeFullWidth(text.view());
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::uint32_t acc = 0; // wraps around like the 32-bit accumulator it stands for
    while (i < s.size() && isDigit(s[i]))
        acc = acc * 10u + static_cast<std::uint32_t>(s[i++] - '0');
    if (negative) acc = 0u - acc;
    return static_cast<std::int32_t>(acc);
}

std::int32_t ToInteger(double v) {
    // Only values inside the 64-bit range are truncated; NaN and infinities fail both tests.
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return 0;
    return low32(static_cast<std::int64_t>(v));
}

std::int32_t ToInteger(const Value& v) {
    switch (v.kind()) {
    case Kind::Text:
        return ToInteger(Text::fromBytes(v.rawBytes()));
    case Kind::Double:
    case Kind::Float:
        return ToInteger(v.realSlot());
    case Kind::Int:
    case Kind::Int64:
    case Kind::Short:
    case Kind::Byte:
    case Kind::Bool:
    case Kind::Subroutine:
        return low32(v.intSlot());
    case Kind::DateTime:
    case Kind::ByteSet:
        return 0;
    }
    return 0;
}

Text ToText(double v) {
    return formatG(v, 13);
}

Text toTextShortest(double v) {
    const double m = std::fabs(v);
    if (v == 0 || !std::isfinite(v) || m < 1e-6 || m >= 1e15) return ToText(v);
    std::array<char, 64> buf{};
    const auto res =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed);
    return Text::fromBytes(std::string(buf.data(), res.ptr));
}

Text ToText(std::int32_t v) {
    return Text::fromBytes(std::to_string(v));
}

Text ToText(std::int64_t v) {
    return Text::fromBytes(std::to_string(v));
}

Text toTextFloat(float v) {
    return formatG(static_cast<double>(v), 6);
}

Text toTextBool(bool v) {
    static const Text yes = sysText("真");
    static const Text no = sysText("假");
    return v ? yes : no;
}

Text ToText(const Value& v) {
    switch (v.kind()) {
    case Kind::Text:
        return v.asText();
    case Kind::Double:
        return ToText(v.realSlot());
    case Kind::Float:
        return toTextFloat(static_cast<float>(v.realSlot()));
    case Kind::Int:
    case Kind::Short:
    case Kind::Subroutine:
        return ToText(static_cast<std::int32_t>(v.intSlot()));
    case Kind::Byte:
    case Kind::Int64:
        return ToText(v.intSlot());
    case Kind::Bool:
        return toTextBool(v.intSlot() != 0);
    case Kind::DateTime:
        return toTextDateTime(v.realSlot());
    case Kind::ByteSet: {
        const std::string& b = v.rawBytes();
        return Text::fromBytes(b.substr(0, b.find('\0')));
    }
    }
    return {};
}

ByteSet ToBytes(const Value& v) {
    switch (v.kind()) {
    case Kind::Text:
    case Kind::ByteSet:
        return v.asByteSet();
    case Kind::Double:
    case Kind::DateTime:
        return littleEndian(v.realSlot());
    case Kind::Float:
        return littleEndian(static_cast<float>(v.realSlot()));
    case Kind::Int:
    case Kind::Bool:
    case Kind::Subroutine:
        return littleEndian(static_cast<std::int32_t>(v.intSlot()));
    case Kind::Int64:
        return littleEndian(v.intSlot());
    case Kind::Short:
        return littleEndian(static_cast<std::int16_t>(v.intSlot()));
    case Kind::Byte:
        return littleEndian(static_cast<std::uint8_t>(v.intSlot()));
    }
    return {};
}

double Round(double v, int places) {
    if (v == 0 || std::isnan(v)) return v;
    const bool negative = std::signbit(v);
    const double m = std::fabs(v);
    const double scale = places == 0 ? 1.0 : std::pow(10.0, places > 0 ? places : -places);
    double f = m;
    if (places > 0)
        f = m * scale;
    else if (places < 0)
        f = m / scale;
    double i = 0;
    const double r = std::modf(f + 1e-12, &i);
    if (r >= 0.5) i += 1;
    double result = i;
    if (places > 0)
        result = i / scale;
    else if (places < 0)
        result = i * scale;
    return negative ? -result : result;
}

} // namespace iit
