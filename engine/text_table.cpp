#include "engine/text_table.h"

#include "engine/amount.h"

#include <string>

namespace iit::engine {
namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

std::string_view TextTableLine::from(std::size_t first) const {
    if (first >= words.size()) return {};
    const std::string_view last = words.back();
    const char* begin = words[first].data();
    return {begin, static_cast<std::size_t>(last.data() + last.size() - begin)};
}

std::vector<TextTableLine> textTableLines(std::string_view text) {
    std::vector<TextTableLine> lines;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        TextTableLine out{number, line, {}};
        for (std::size_t i = 0; i < line.size();) {
            while (i < line.size() && blank(line[i]))
                ++i;
            const std::size_t start = i;
            while (i < line.size() && !blank(line[i]))
                ++i;
            if (i > start) out.words.push_back(line.substr(start, i - start));
        }
        if (!out.words.empty()) lines.push_back(std::move(out));
    }
    return lines;
}

Problem lineProblem(int line, std::string_view whyUtf8) {
    return fail(sysText("第") + Text::fromBytes(std::to_string(line)) + sysText("行：") +
                sysText(whyUtf8));
}

std::optional<Exact> nonNegativeFigure(std::string_view word) {
    std::optional<Exact> v = parseDecimal(word);
    if (v && v->sign() < 0) return std::nullopt;
    if (v)
        if (const std::optional<std::int64_t> fen = toFen(*v)) return fromFen(*fen);
    return v;
}

} // namespace iit::engine
