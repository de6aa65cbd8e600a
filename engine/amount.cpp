#include "engine/amount.h"

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

Outcome<Exact> parseAmount(std::string_view utf8) {
    std::string_view cell = trimCell(utf8);
    if (cell.empty()) return fromFen(0);
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
