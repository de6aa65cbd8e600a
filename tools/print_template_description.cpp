#include "tools/print_template_description.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>
#include <vector>

namespace iit::tools {
namespace {

using printing::PrintTemplate;
using printing::TemplateCell;

struct Token {
    std::string key;                 // empty for a bare word
    std::vector<std::string> values; // the word itself, or the comma list after "key="
};

// Splits a line into words at blanks outside double quotes; a word "key=a,b" becomes a key with
// its list of values. Quoted values take the escapes \r, \n, \" and \\.
bool tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
    out.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size()) break;
        Token token;
        std::string current;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            const char c = line[i];
            if (quoted) {
                if (c == '"') {
                    quoted = false;
                } else if (c == '\\' && i + 1 < line.size()) {
                    const char e = line[++i];
                    if (e == 'r')
                        current += '\r';
                    else if (e == 'n')
                        current += '\n';
                    else if (e == '"' || e == '\\')
                        current += e;
                    else {
                        error = std::string("unknown escape \\") + e;
                        return false;
                    }
                } else {
                    current += c;
                }
                continue;
            }
            if (c == ' ' || c == '\t') break;
            if (c == '"')
                quoted = true;
            else if (c == '=' && token.key.empty() && token.values.empty())
                token.key.swap(current);
            else if (c == ',' && !token.key.empty())
                token.values.push_back(std::exchange(current, {}));
            else
                current += c;
        }
        if (quoted) {
            error = "unterminated quote";
            return false;
        }
        token.values.push_back(std::move(current));
        out.push_back(std::move(token));
    }
    return true;
}

template <typename T> bool number(const std::string& s, T& v, long long lo, long long hi) {
    long long n = 0;
    int base = 10;
    std::string_view digits = s;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, base);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < lo || n > hi) return false;
    v = static_cast<T>(n);
    return true;
}

constexpr long long kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr long long kI32Max = std::numeric_limits<std::int32_t>::max();

bool gbk(const std::string& utf8, Text& out) {
    out = Text::fromUtf8(utf8);
    return out.toUtf8() == utf8;
}

bool mergeBits(const std::string& letters, std::uint32_t& bits) {
    bits = 0;
    if (letters == "-") return true;
    for (char c : letters) {
        switch (c) {
        case 'L':
            bits |= printing::kMergeLeft;
            break;
        case 'R':
            bits |= printing::kMergeRight;
            break;
        case 'U':
            bits |= printing::kMergeUp;
            break;
        case 'D':
            bits |= printing::kMergeDown;
            break;
        default:
            return false;
        }
    }
    return !letters.empty();
}

// Applies one "key=value,..." to the cells of `row`, columns first..last.
bool applyToCells(PrintTemplate& t, int row, int first, int last, const Token& token,
                  std::string& error) {
    const std::size_t count = static_cast<std::size_t>(last - first + 1);
    if (token.values.size() != 1 && token.values.size() != count) {
        error = "'" + token.key + "' needs one value or one per column";
        return false;
    }
    for (int column = first; column <= last; ++column) {
        const std::string& v = token.values.size() == 1
                                   ? token.values[0]
                                   : token.values[static_cast<std::size_t>(column - first)];
        TemplateCell& c = t.cell(row, column);
        bool ok = true;
        if (token.key == "align") {
            std::uint32_t a = 0;
            ok = number(v, a, 1, 14);
            c.format = (c.format & ~printing::kAlignMask) | a;
        } else if (token.key == "border") {
            std::uint32_t b = 0;
            ok = number(v, b, 0, 15);
            c.format = (c.format & ~printing::kBorderMask) | (b << 4);
        } else if (token.key == "merge") {
            std::uint32_t m = 0;
            ok = mergeBits(v, m);
            c.format = (c.format & ~printing::kMergeMask) | m;
        } else if (token.key == "font") {
            ok = gbk(v, c.fontName);
        } else if (token.key == "text") {
            ok = gbk(v, c.text);
        } else if (token.key == "size") {
            ok = number(v, c.fontSize, 0, 0xffff);
        } else if (token.key == "flags") {
            ok = number(v, c.textFlags, 0, 0xffff);
        } else if (token.key == "colour") {
            ok = number(v, c.colour, 0, 0xffffffffLL);
        } else {
            error = "unknown cell key '" + token.key + "'";
            return false;
        }
        if (!ok) {
            error = "bad value '" + v + "' for '" + token.key + "'";
            return false;
        }
    }
    return true;
}

bool intList(const std::vector<Token>& tokens, std::vector<std::int32_t>& out, std::size_t expected,
             std::string& error) {
    if (tokens.size() - 1 != expected) {
        error = "expected " + std::to_string(expected) + " numbers";
        return false;
    }
    out.clear();
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        std::int32_t v = 0;
        if (!tokens[i].key.empty() || !number(tokens[i].values[0], v, kI32Min, kI32Max)) {
            error = "bad number '" + tokens[i].values[0] + "'";
            return false;
        }
        out.push_back(v);
    }
    return true;
}

bool parseLine(const std::vector<Token>& tokens, PrintTemplate& t, bool& sized,
               std::string& error) {
    const std::string& word = tokens[0].values[0];
    if (!tokens[0].key.empty()) {
        error = "a line starts with a statement word";
        return false;
    }
    if (word == "size") {
        std::vector<std::int32_t> rc;
        if (!intList(tokens, rc, 2, error)) return false;
        if (rc[0] < 1 || rc[0] > 1000 || rc[1] < 1 || rc[1] > 1000) {
            error = "size out of range";
            return false;
        }
        t.rowHeights.assign(static_cast<std::size_t>(rc[0]), 0);
        t.columnWidths.assign(static_cast<std::size_t>(rc[1]), 0);
        t.resetCells();
        sized = true;
        return true;
    }
    if (!sized) {
        error = "'size' must come first";
        return false;
    }
    if (word == "row-heights") return intList(tokens, t.rowHeights, t.rowHeights.size(), error);
    if (word == "column-widths")
        return intList(tokens, t.columnWidths, t.columnWidths.size(), error);
    if (word == "margins") {
        std::vector<std::int32_t> m;
        if (!intList(tokens, m, 4, error)) return false;
        std::copy(m.begin(), m.end(), t.page.margins.begin());
        return true;
    }
    if (word == "page") {
        // Paper and orientation are read as the codes the file stores.
        std::int32_t paper = static_cast<std::int32_t>(t.page.paper);
        std::int32_t orientation = static_cast<std::int32_t>(t.page.orientation);
        for (std::size_t i = 1; i < tokens.size(); ++i) {
            const Token& tk = tokens[i];
            std::int32_t* slot = tk.key == "paper"         ? &paper
                                 : tk.key == "orientation" ? &orientation
                                 : tk.key == "copies"      ? &t.page.copies
                                 : tk.key == "scale"       ? &t.page.scale
                                 : tk.key == "header-rows" ? &t.page.headerRows
                                                           : nullptr;
            if (!slot || tk.values.size() != 1 || !number(tk.values[0], *slot, kI32Min, kI32Max)) {
                error = "bad page setting '" + tk.key + "'";
                return false;
            }
        }
        t.page.paper = static_cast<printing::Paper>(paper);
        t.page.orientation = static_cast<printing::Orientation>(orientation);
        return true;
    }
    if (word == "row" || word == "cell") {
        const std::size_t need = word == "row" ? 2 : 3;
        if (tokens.size() < need) {
            error = "'" + word + "' needs its position";
            return false;
        }
        int row = 0, first = 1, last = t.columns();
        if (!tokens[1].key.empty() || !number(tokens[1].values[0], row, 1, t.rows())) {
            error = "bad row number";
            return false;
        }
        if (word == "cell") {
            const std::string& cols = tokens[2].values[0];
            const std::size_t dash = cols.find('-');
            const bool ok = tokens[2].key.empty() &&
                            (dash == std::string::npos
                                 ? number(cols, first, 1, t.columns())
                                 : number(cols.substr(0, dash), first, 1, t.columns()) &&
                                       number(cols.substr(dash + 1), last, first, t.columns()));
            if (!ok) {
                error = "bad column '" + cols + "'";
                return false;
            }
            if (dash == std::string::npos) last = first;
        }
        for (std::size_t i = need; i < tokens.size(); ++i)
            if (!applyToCells(t, row, first, last, tokens[i], error)) return false;
        return true;
    }
    error = "unknown statement '" + word + "'";
    return false;
}

} // namespace

bool parsePrintTemplateDescription(std::string_view text, PrintTemplate& out, std::string& error) {
    PrintTemplate t;
    bool sized = false;
    std::size_t lineNo = 0;
    std::vector<Token> tokens;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#') continue;
        std::string why;
        if (!tokenize(line, tokens, why) || !parseLine(tokens, t, sized, why)) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
    }
    if (!sized) {
        error = "line " + std::to_string(lineNo) + ": no 'size' statement";
        return false;
    }
    out = std::move(t);
    return true;
}

} // namespace iit::tools
