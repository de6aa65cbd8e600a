#include "engine/amount.h"

#include "base/convert.h"

namespace iit::engine {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of a space at the start (or the end) of s, 0 when there is none.
std::size_t leadingSpace(std::string_view s) {
    if (s.empty()) return 0;
    if (s[0] == ' ' || s[0] == '\t' || s[0] == '\r' || s[0] == '\n') return 1;
    if (s.substr(0, 2) == "\xC2\xA0") return 2;     // U+00A0
    if (s.substr(0, 3) == "\xE3\x80\x80") return 3; // U+3000
    return 0;
}
std::size_t trailingSpace(std::string_view s) {
    if (s.empty()) return 0;
    const char c = s.back();
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return 1;
    if (s.size() >= 2 && s.substr(s.size() - 2) == "\xC2\xA0") return 2;
    if (s.size() >= 3 && s.substr(s.size() - 3) == "\xE3\x80\x80") return 3;
    return 0;
}

} // namespace

std::string_view trimCell(std::string_view s) {
    while (std::size_t n = leadingSpace(s))
        s.remove_prefix(n);
    while (std::size_t n = trailingSpace(s))
        s.remove_suffix(n);
    return s;
}

std::optional<Exact> parseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view frac =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if (whole.empty() || (point != std::string_view::npos && frac.empty())) return std::nullopt;
    for (char c : whole)
        if (!isDigit(c)) return std::nullopt;
    for (char c : frac)
        if (!isDigit(c)) return std::nullopt;
    // Past 30 digits no figure of the law or of a payroll remains; refusing them keeps every
    // value in 128 bits.
    if (whole.size() + frac.size() > 30) return std::nullopt;
    const Exact v = Exact::fromText(Text::fromBytes(text));
    return negative ? -v : v;
}

Outcome<std::string> plainAmountText(std::string_view utf8) {
    static const Text notAnAmount = sysText("不是金额");
    const std::optional<std::string> number = wholeNumberText(Text::fromUtf8(utf8).view());
    if (!number) return fail(notAnAmount);
    const NumberLiteral n = scanNumber(*number);
    // The digits with the point where the exponent puts it; past 30 digits no figure of the
    // law or of a payroll remains.
    std::string digits = std::string(n.intDigits) + std::string(n.fracDigits);
    long point = static_cast<long>(n.intDigits.size()) + n.exponent;
    if (point > 30 || point < -30) return fail(notAnAmount);
    if (point < 0) {
        digits.insert(0, static_cast<std::size_t>(-point), '0');
        point = 0;
    }
    if (static_cast<std::size_t>(point) > digits.size())
        digits.append(static_cast<std::size_t>(point) - digits.size(), '0');
    std::string whole = digits.substr(0, static_cast<std::size_t>(point));
    std::string frac = digits.substr(static_cast<std::size_t>(point));
    const std::size_t lead = whole.find_first_not_of('0');
    whole = lead == std::string::npos ? "0" : whole.substr(lead);
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    std::string out = (n.negative && (whole != "0" || !frac.empty()) ? "-" : "") + whole;
    if (!frac.empty()) out += "." + frac;
    return out;
}

namespace {

// A cell of plain ASCII digits with at most one point and a leading minus: the shape nearly every
// cell of a payroll has, read without the grammar's copies.
bool plainShape(std::string_view cell) {
    std::size_t i = !cell.empty() && cell[0] == '-' ? 1 : 0;
    bool digit = false, point = false;
    for (; i < cell.size(); ++i) {
        if (cell[i] >= '0' && cell[i] <= '9') {
            digit = true;
        } else if (cell[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

} // namespace

Outcome<Exact> parseAmount(std::string_view utf8) {
    std::string_view cell = trimCell(utf8);
    if (cell.empty()) return fromFen(0);
    // Anything else (full-width digits, thousands separators, a plus sign, an exponent) is the
    // same grammar's, made plain first.
    std::string plain;
    if (!plainShape(cell)) {
        Outcome<std::string> text = plainAmountText(cell);
        if (!text) return text.problem();
        plain = std::move(*text);
        cell = plain;
    }
    // Read straight into fen: a payroll sheet has a hundred thousand of these.
    const bool negative = cell[0] == '-';
    if (negative) cell.remove_prefix(1);
    const std::size_t point = cell.find('.');
    const std::string_view whole = cell.substr(0, point);
    std::string_view frac =
        point == std::string_view::npos ? std::string_view{} : cell.substr(point + 1);
    if (whole.empty() || (point != std::string_view::npos && frac.empty()))
        return fail(sysText("不是金额"));
    for (char c : whole)
        if (!isDigit(c)) return fail(sysText("不是金额"));
    for (char c : frac)
        if (!isDigit(c)) return fail(sysText("不是金额"));
    if (negative) return fail(sysText("金额不能为负"));
    while (frac.size() > 2 && frac.back() == '0') // "12.500" says no more than "12.50"
        frac.remove_suffix(1);
    if (frac.size() > 2) return fail(sysText("金额最多两位小数"));
    std::string_view digits = whole;
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    if (digits.size() > 13) return fail(sysText("金额过大"));
    std::int64_t fen = 0;
    for (char c : digits)
        fen = fen * 10 + (c - '0');
    for (std::size_t i = 0; i < 2; ++i)
        fen = fen * 10 + (i < frac.size() ? frac[i] - '0' : 0);
    if (fen > kLargestAmount * 100) return fail(sysText("金额过大"));
    return fromFen(fen);
}

Outcome<std::int64_t> fenOf(const Exact& amount) {
    if (const std::optional<std::int64_t> fen = toFen(amount)) return *fen;
    return fail(sysText("金额不是整分，或超出了台账能记的范围：") + ToText(amount));
}

} // namespace iit::engine
