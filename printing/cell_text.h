#pragma once
// How the text of a cell is set in its rectangle: which lines, at what size, and whether it
// had to be cut.
//
// A text keeps its own line breaks. A line wider than its cell wraps onto a second line of
// the cell (in a cell whose alignment and flags wrap) before anything is set smaller; a text
// that still does not fit is set smaller, down to kSmallestSize of its size; what does not
// fit even then ends in "…", so that nothing is ever cut short without a sign. A line that
// reads as one number (a bank-card or identity number, an amount, a date) is never broken:
// it is set smaller instead. Other lines break at spaces and around CJK characters, never
// inside a run of Latin letters or digits.
//
// The rules measure through a TextMeasure, so that the page layout (which rows grow to two
// lines) and the drawing decide alike. Lengths are table lengths (tenths of a millimetre).

#include "base/text.h"
#include "printing/print_table.h"

#include <string>
#include <string_view>
#include <vector>

namespace iit::printing {

class TextMeasure {
public:
    virtual ~TextMeasure() = default;
    // The advance of `line` (UTF-8, one line) in the font `fontName` (empty: the default
    // font) whose em is `em`.
    virtual double width(const Text& fontName, double em, std::string_view line) const = 0;
};

// Room between a cell's edge and its text.
constexpr double kCellPaddingX = 10;
constexpr double kCellPaddingY = 4;
// Lines of a cell follow each other at 1.25 times the font size: the fonts' own line spacing
// (1.45 em for Noto CJK) would not fit two lines into the header row.
constexpr double kLinePitch = 1.25;
// A text is set no smaller than this part of its size.
constexpr double kSmallestSize = 0.6;
// A text wraps onto at most this many lines (more only where it breaks lines itself).
constexpr int kWrappedLines = 2;

// The em of the cell's font (its size is in quarter points).
double cellEm(const PrintCell& cell);
// The height of `lines` lines set at `em`.
double linesHeight(int lines, double em);

// Digits with the spaces, dots, commas, signs, dashes and the "X" of identity numbers that
// numbers are written with.
bool readsAsOneNumber(std::string_view utf8Line);

struct CellText {
    std::vector<std::string> lines; // UTF-8
    double size = 1;                // the part of the cell's font size the lines are set at
    bool elided = false;            // a line ends in "…" for what did not fit
};

// Sets `text` (UTF-8) in the room of a cell, `width` by `height` inside its padding, in the
// font `fontName` with the em `em`; `wraps` allows lines to break.
CellText fitText(std::string_view text, const Text& fontName, double em, double width,
                 double height, bool wraps, const TextMeasure& measure);
// The same for a cell of the table, in a rectangle of `width` by `height` (padding included).
CellText fitCell(const PrintCell& cell, double width, double height, const TextMeasure& measure);

// The height a cell of `width` needs for its text at full size: one line, or two (more where
// the text breaks lines itself) where a line does not fit and may wrap. Padding included.
double heightWanted(const PrintCell& cell, double width, const TextMeasure& measure);

} // namespace iit::printing
