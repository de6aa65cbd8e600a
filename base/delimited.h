#pragma once
// The delimited-text grammar shared by the grids' clipboard and the spreadsheet text files:
// rows of cells separated by TAB or by commas, with spreadsheet quoting.
//
// It works on the bytes of an ASCII-compatible encoding (UTF-8, GBK, GB18030): none of them
// uses TAB, LF, CR, '"' or ',' inside a multi-byte character, so the grammar never cuts one.
//
// Splitting: a text that holds a TAB anywhere splits at TABs only, any other text at commas
// (Delimiter::Detect). A cell that begins with '"' is quoted: it ends at a '"' not followed by
// another, "" inside stands for one quote, and it may hold TAB, comma, CR and LF; what follows
// its closing quote up to the separator is kept as it stands. Rows end at LF, CR LF or a lone
// CR outside quotes; a final line break makes no empty last row, and an empty line is a row of
// one empty cell. Control characters other than TAB, CR and LF (NUL among them) are dropped.
// In comma mode a line that as a whole reads as one number with thousands separators
// ("12,500.50", "-1,234") stays one cell, when every line that holds a comma outside quotes
// reads so: that is a one-column copy of formatted amounts, whereas a text whose other lines
// hold commas is a real comma-separated table whose "1,500" is two cells.
//
// Joining writes rows with a separator and a line end after every row, quoting a cell exactly
// when it holds the separator, a quote, CR or LF, as spreadsheets write it, so that
// splitDelimited(joinDelimited(rows, d), d) == rows for every grid of at least one column.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace iit {

enum class Delimiter {
    Detect, // TAB when the text holds one, else comma
    Tab,
    Comma,
};

using DelimitedRow = std::vector<std::string>;

// Reads a delimited text row by row, so that a caller can stop storing cells at a cap and only
// count the rest. The text must outlive the reader.
class DelimitedReader {
public:
    explicit DelimitedReader(std::string_view text, Delimiter delimiter = Delimiter::Detect);

    // The separator in use (Tab or Comma), after detection.
    Delimiter delimiter() const { return m_delimiter; }
    // The next row into `cells` (replaced); false at the end of the text. With nullptr the row is
    // passed over without storing its cells.
    bool next(DelimitedRow* cells);

private:
    std::size_t readQuoted(std::string* cell);
    bool wholeLineNumber(std::size_t lineEnd) const;

    std::string_view m_text;
    std::size_t m_pos = 0;
    Delimiter m_delimiter;
    char m_separator;
    bool m_amountLines = false; // comma mode: lines that read as one formatted number stay whole
};

std::vector<DelimitedRow> splitDelimited(std::string_view text,
                                         Delimiter delimiter = Delimiter::Detect);

// Appends one row and the line end to `out`. `delimiter` is Tab or Comma.
void appendDelimitedRow(std::string& out, const DelimitedRow& cells, Delimiter delimiter,
                        std::string_view lineEnd = "\r\n");
std::string joinDelimited(const std::vector<DelimitedRow>& rows, Delimiter delimiter,
                          std::string_view lineEnd = "\r\n");

// True when `line` reads as one number written with thousands separators (wholeNumberText of
// base/convert.h, the one grammar of amounts).
bool isThousandsNumber(std::string_view line);

} // namespace iit
