// The byte-counting text operations. Positions and lengths are bytes: these operations do
// not respect two-byte characters and can split one, exactly as callers expect.
#include "base/convert.h"

#include <algorithm>

namespace iit {

std::int32_t TextLength(const Text& t) {
    // A text ends at its first NUL, as the stored form does.
    const std::size_t nul = t.view().find('\0');
    return static_cast<std::int32_t>(
        std::min<std::size_t>(nul == std::string_view::npos ? t.size() : nul, 0x7FFFFFFF));
}

Text LeftText(const Text& t, std::int32_t n) {
    if (n <= 0) return {};
    return Text::fromBytes(
        t.view().substr(0, std::min<std::size_t>(static_cast<std::size_t>(n),
                                                 static_cast<std::size_t>(TextLength(t)))));
}

Text MidText(const Text& t, std::int32_t start, std::int32_t count) {
    const std::int64_t k = static_cast<std::int64_t>(start) - 1;
    const std::int64_t length = TextLength(t);
    if (k < 0 || k >= length || count <= 0) return {};
    const std::int64_t n = std::min<std::int64_t>(count, length - k);
    return Text::fromBytes(
        t.view().substr(static_cast<std::size_t>(k), static_cast<std::size_t>(n)));
}

Text CharText(std::uint8_t c) {
    if (c == 0) return {};
    return Text::fromBytes(std::string(1, static_cast<char>(c)));
}

Text RemoveSpaces(const Text& t) {
    std::string out;
    const std::string_view s = t.view();
    out.reserve(s.size());
    static const Text ideographicSpace = sysText("　");
    for (std::size_t i = 0; i < s.size();) {
        const CharSpan ch = nextChar(s, i);
        if (!ch.complete) break; // a character cut short at the very end is dropped
        const std::string_view one = s.substr(i, ch.length);
        i += ch.length;
        if (one == " " || one == ideographicSpace.view()) continue;
        out.append(one);
    }
    return Text::fromBytes(std::move(out));
}

Text cutToWidth(const Text& text, std::size_t width) {
    if (text.size() <= width) return text;
    const std::string_view s = text.view();
    std::size_t end = 0;
    while (end < s.size()) {
        const std::size_t next = end + charLength(s, end);
        if (next > width) break;
        end = next;
    }
    return Text::fromBytes(s.substr(0, end));
}

int CompareText(const Text& a, const Text& b) {
    const std::string_view x = a.view().substr(0, static_cast<std::size_t>(TextLength(a)));
    const std::string_view y = b.view().substr(0, static_cast<std::size_t>(TextLength(b)));
    // std::string_view compares through char_traits<char>, which compares as unsigned bytes.
    const int r = x.compare(y);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

} // namespace iit
