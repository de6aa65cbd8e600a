#pragma once
// The system's own text tables ("预扣率表.txt", "社保公积金规则.txt"): lines of words separated
// by blanks, "#" and what follows it a comment, a keyword first. One reader splits them, and a
// wrong line is named by its number.

#include "base/outcome.h"
#include "engine/exact.h"

#include <optional>
#include <string_view>
#include <vector>

namespace iit::engine {

struct TextTableLine {
    int number = 0;                      // from 1
    std::string_view text;               // the line without its comment
    std::vector<std::string_view> words; // never empty

    // The line from its word `first` to the end, blanks around it removed (a notice's title).
    std::string_view from(std::size_t first) const;
};

// The lines that hold a word, in order.
std::vector<TextTableLine> textTableLines(std::string_view text);

// "第N行：WHY".
Problem lineProblem(int line, std::string_view whyUtf8);

// A figure of the law written as a plain decimal, 0 or more; a whole number of fen is kept in
// fen, the form every amount takes.
std::optional<Exact> nonNegativeFigure(std::string_view word);

} // namespace iit::engine
