#include "printing/cell_text.h"

#include <algorithm>
#include <cstddef>

namespace iit::printing {
namespace {

constexpr double kTenthsPerPoint = 254.0 / 72.0;
constexpr std::string_view kEllipsis = "\u2026";
// Widths and heights are compared with this much slack, so that a text measured to fit
// exactly is not set smaller for a rounding error.
constexpr double kSlack = 1e-6;
// The size is searched to this part of the cell's font size.
constexpr double kSizeStep = 0.005;

struct CodePoint {
    char32_t c;
    std::size_t at; // byte offset of the character
};

// Decodes UTF-8; a byte that starts no valid sequence stands for itself as U+FFFD.
std::vector<CodePoint> decode(std::string_view s) {
    std::vector<CodePoint> out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80           ? 1
                        : (b >> 5) == 0x6  ? 2
                        : (b >> 4) == 0xe  ? 3
                        : (b >> 3) == 0x1e ? 4
                                           : 0;
        char32_t c = n == 1 ? b : n == 2 ? (b & 0x1f) : n == 3 ? (b & 0x0f) : (b & 0x07);
        for (std::size_t k = 1; k < n; ++k) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) {
                n = 0;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
        }
        if (n == 0) {
            out.push_back({0xfffd, i});
            ++i;
            continue;
        }
        out.push_back({c, i});
        i += n;
    }
    return out;
}

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == 0x3000;
}

// Characters set one by one, between which a line may break: CJK ideographs, kana, hangul,
// CJK punctuation and the full-width forms.
bool isWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0x303e) ||
           (c >= 0x3041 && c <= 0x33ff) || (c >= 0x3400 && c <= 0x4dbf) ||
           (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xa000 && c <= 0xa4cf) ||
           (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) ||
           (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
           (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x20000 && c <= 0x3fffd);
}

// Closing punctuation stays with the character before it, opening with the one after it.
bool noBreakBefore(char32_t c) {
    static constexpr std::u32string_view kClosing =
        U",.;:?!)]}%\u00b7\u2026\u3001\u3002\u300b\u300d\u300f\u3011\u3015\u30fb\uff01\uff09"
        U"\uff0c\uff0e\uff1a\uff1b\uff1f\uff3d\uff5d";
    return kClosing.find(c) != std::u32string_view::npos;
}
bool noBreakAfter(char32_t c) {
    static constexpr std::u32string_view kOpening =
        U"([{\u300a\u300c\u300e\u3010\u3014\uff08\uff3b\uff5b";
    return kOpening.find(c) != std::u32string_view::npos;
}

// A line may break before character i (0 < i < size).
bool breaksBefore(const std::vector<CodePoint>& cps, std::size_t i) {
    const char32_t before = cps[i - 1].c;
    const char32_t c = cps[i].c;
    if (noBreakBefore(c) || noBreakAfter(before)) return false;
    if (isSpace(before)) return !isSpace(c);
    if (isSpace(c)) return false;
    // The middle dot of transcribed names ("阿卜杜·买买提") lets the line go on after it.
    return isWide(before) || isWide(c) || before == 0x00b7 || before == 0x30fb;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    if (s.size() >= 3 && s.substr(s.size() - 3) == "\u3000")
        return trimmed(s.substr(0, s.size() - 3));
    return s;
}

std::vector<std::string_view> explicitLines(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        out.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    out.push_back(text.substr(start));
    return out;
}

class Fitter {
public:
    Fitter(std::string_view text, const Text& font, double em, double width, double height,
           bool wraps, const TextMeasure& measure)
        : m_explicit(explicitLines(text)), m_font(font), m_em(em), m_width(width), m_height(height),
          m_wraps(wraps), m_measure(measure) {
        m_maxLines = std::max(static_cast<int>(m_explicit.size()), wraps ? kWrappedLines : 1);
    }

    CellText fit() {
        CellText out;
        if (m_width <= 0 || m_height <= 0 || m_em <= 0) {
            for (std::string_view l : m_explicit)
                out.lines.emplace_back(l);
            return out;
        }
        out.lines = linesAt(1.0);
        if (fits(out.lines, 1.0)) return out;
        std::vector<std::string> smallest = linesAt(kSmallestSize);
        if (fits(smallest, kSmallestSize)) {
            // Fitting only grows with the size: the largest size that fits, to a step.
            double lo = kSmallestSize, hi = 1.0;
            while (hi - lo > kSizeStep) {
                const double mid = (lo + hi) / 2;
                std::vector<std::string> lines = linesAt(mid);
                if (fits(lines, mid)) {
                    lo = mid;
                    smallest = std::move(lines);
                } else {
                    hi = mid;
                }
            }
            out.lines = std::move(smallest);
            out.size = lo;
            return out;
        }
        return elided(std::move(smallest));
    }

private:
    // The lines of the text at `size`, as many as wrapping makes.
    std::vector<std::string> linesAt(double size) const {
        std::vector<std::string> out;
        for (std::string_view line : m_explicit) {
            if (m_wraps && !readsAsOneNumber(line))
                wrap(line, size, out);
            else
                out.emplace_back(line);
        }
        return out;
    }

    double width(std::string_view line, double size) const {
        return line.empty() ? 0.0 : m_measure.width(m_font, m_em * size, line);
    }

    bool fits(const std::vector<std::string>& lines, double size) const {
        const int n = static_cast<int>(lines.size());
        if (n > m_maxLines || linesHeight(n, m_em * size) > m_height + kSlack) return false;
        return std::all_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return width(l, size) <= m_width + kSlack;
        });
    }

    // Greedy: each line takes as much as fits up to a break; a piece without a break that is
    // wider than the cell makes a line of its own (the size is then made smaller).
    void wrap(std::string_view line, double size, std::vector<std::string>& out) const {
        if (width(line, size) <= m_width + kSlack) {
            out.emplace_back(line);
            return;
        }
        const std::vector<CodePoint> cps = decode(line);
        std::size_t start = 0; // index into cps
        while (start < cps.size()) {
            while (start < cps.size() && isSpace(cps[start].c))
                ++start;
            if (start == cps.size()) break;
            const std::size_t from = cps[start].at;
            std::size_t taken = 0; // cps index where the line ends
            for (std::size_t i = start + 1; i <= cps.size(); ++i) {
                if (i < cps.size() && !breaksBefore(cps, i)) continue;
                const std::size_t to = i < cps.size() ? cps[i].at : line.size();
                if (taken != 0 &&
                    width(trimmed(line.substr(from, to - from)), size) > m_width + kSlack)
                    break;
                taken = i;
            }
            const std::size_t to = taken < cps.size() ? cps[taken].at : line.size();
            out.emplace_back(trimmed(line.substr(from, to - from)));
            start = taken;
        }
        if (out.empty()) out.emplace_back();
    }

    // At the smallest size: the lines that the cell holds, each cut to fit with "…" where it
    // does not, the last one also where lines were left out.
    CellText elided(std::vector<std::string> lines) const {
        CellText out;
        out.size = kSmallestSize;
        out.elided = true;
        int keep = 1;
        while (keep < m_maxLines && keep < static_cast<int>(lines.size()) &&
               linesHeight(keep + 1, m_em * kSmallestSize) <= m_height + kSlack)
            ++keep;
        const bool dropped = static_cast<int>(lines.size()) > keep;
        lines.resize(static_cast<std::size_t>(keep));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const bool last = i + 1 == lines.size();
            if (width(lines[i], kSmallestSize) > m_width + kSlack || (last && dropped))
                lines[i] = cut(lines[i]);
        }
        out.lines = std::move(lines);
        return out;
    }

    // The longest start of the line that fits with "…" after it.
    std::string cut(const std::string& line) const {
        const std::vector<CodePoint> cps = decode(line);
        std::size_t lo = 0, hi = cps.size(); // characters kept
        auto with = [&](std::size_t n) {
            const std::size_t to = n < cps.size() ? cps[n].at : line.size();
            return std::string(trimmed(std::string_view(line).substr(0, to))) +
                   std::string(kEllipsis);
        };
        if (width(with(hi), kSmallestSize) <= m_width + kSlack) return with(hi);
        while (hi - lo > 1) {
            const std::size_t mid = (lo + hi) / 2;
            if (width(with(mid), kSmallestSize) <= m_width + kSlack)
                lo = mid;
            else
                hi = mid;
        }
        return with(lo);
    }

    std::vector<std::string_view> m_explicit;
    const Text& m_font;
    double m_em, m_width, m_height;
    bool m_wraps;
    const TextMeasure& m_measure;
    int m_maxLines = 1;
};

bool wrapsIn(const PrintCell& cell) {
    return alignmentOf(cell.format).mayWrap && (cell.textFlags & kTextWrap) != 0;
}

// True when the text (GB18030 bytes, no line break) fits `width` at `em` whatever its
// characters: no glyph is wider than its em, and a character of two or four bytes is one.
bool surelyFits(const Text& text, double em, double width) {
    double bound = 0;
    for (char b : text.bytes())
        bound += static_cast<unsigned char>(b) < 0x80 ? em : em / 2;
    return bound <= width;
}

bool breaksLines(const Text& text) {
    return std::any_of(text.bytes().begin(), text.bytes().end(),
                       [](char c) { return c == '\r' || c == '\n'; });
}

} // namespace

double cellEm(const PrintCell& cell) {
    return cell.fontSize / 4.0 * kTenthsPerPoint;
}

double linesHeight(int lines, double em) {
    return lines <= 0 ? 0.0 : em * (1 + kLinePitch * (lines - 1));
}

bool readsAsOneNumber(std::string_view line) {
    bool digit = false;
    for (char c : line) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (std::string_view(" .,+-/:Xx").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return digit;
}

CellText fitText(std::string_view text, const Text& fontName, double em, double width,
                 double height, bool wraps, const TextMeasure& measure) {
    if (text.empty()) return {};
    return Fitter(text, fontName, em, width, height, wraps, measure).fit();
}

CellText fitCell(const PrintCell& cell, double width, double height, const TextMeasure& measure) {
    if (cell.text.empty()) return {};
    const double em = cellEm(cell);
    const double room = width - 2 * kCellPaddingX;
    if (!breaksLines(cell.text) && surelyFits(cell.text, em, room) &&
        linesHeight(1, em) <= height - 2 * kCellPaddingY + kSlack)
        return {{cell.text.toUtf8()}, 1.0, false};
    return fitText(cell.text.toUtf8(), cell.fontName, em, room, height - 2 * kCellPaddingY,
                   wrapsIn(cell), measure);
}

double heightWanted(const PrintCell& cell, double width, const TextMeasure& measure) {
    if (cell.text.empty()) return 0;
    const double em = cellEm(cell);
    const double room = width - 2 * kCellPaddingX;
    // A text that breaks its own lines has as many as it may have: wrapping adds none. A line
    // that does not fit and may wrap takes two (set smaller if two are not enough).
    int lines =
        breaksLines(cell.text) ? static_cast<int>(explicitLines(cell.text.bytes()).size()) : 1;
    // (A number is ASCII, the same in GB18030 and in UTF-8.)
    if (lines == 1 && !surelyFits(cell.text, em, room) && wrapsIn(cell) &&
        !readsAsOneNumber(cell.text.bytes()) &&
        measure.width(cell.fontName, em, cell.text.toUtf8()) > room + kSlack)
        lines = kWrappedLines;
    return linesHeight(lines, em) + 2 * kCellPaddingY;
}

} // namespace iit::printing
