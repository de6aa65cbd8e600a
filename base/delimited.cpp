// The delimited-text grammar: splitting with spreadsheet quoting, and joining that reads back.
#include "base/delimited.h"

#include "base/convert.h"

#include <algorithm>
#include <cstring>

namespace iit {
namespace {

// Bytes the grammar drops: C0 controls other than TAB, LF and CR, and DEL. No byte of a
// multi-byte character of the encodings read here is among them.
bool isDropped(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

// Appends text[from, to) to cell without the dropped bytes.
void appendKept(std::string* cell, std::string_view text, std::size_t from, std::size_t to) {
    if (!cell) return;
    std::size_t run = from;
    for (std::size_t i = from; i < to; ++i) {
        if (!isDropped(static_cast<unsigned char>(text[i]))) continue;
        cell->append(text.data() + run, i - run);
        run = i + 1;
    }
    cell->append(text.data() + run, to - run);
}

// Position of the first CR or LF at or after `from`, or text.size().
std::size_t lineEndFrom(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i)
        if (text[i] == '\n' || text[i] == '\r') return i;
    return text.size();
}

// Past the line break at pos (CR LF, LF or CR); pos itself at the end of the text.
std::size_t pastLineBreak(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return pos;
    if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') return pos + 2;
    return pos + 1;
}

} // namespace

bool isThousandsNumber(std::string_view line) {
    return line.find(',') != std::string_view::npos && WholeNumberText(line).has_value();
}

DelimitedReader::DelimitedReader(std::string_view text, Delimiter delimiter)
    : m_text(text), m_delimiter(delimiter) {
    if (m_delimiter == Delimiter::Detect) {
        const bool tab = std::memchr(text.data(), '\t', text.size()) != nullptr;
        m_delimiter = tab ? Delimiter::Tab : Delimiter::Comma;
        m_separator = tab ? '\t' : ',';
        if (tab) return;
        // Lines of formatted amounts stay whole unless another line shows that this is a real
        // comma-separated table. Only an explicit Comma reader is exact for every grid.
        DelimitedReader plain(text, Delimiter::Comma);
        DelimitedRow cells;
        for (;;) {
            const std::size_t start = plain.m_pos;
            if (start >= text.size()) break;
            if (text[start] != '"' && plain.wholeLineNumber(lineEndFrom(text, start))) {
                plain.m_pos = pastLineBreak(text, lineEndFrom(text, start));
                continue;
            }
            plain.next(&cells);
            if (cells.size() > 1) return;
        }
        m_amountLines = true;
        return;
    }
    m_separator = m_delimiter == Delimiter::Tab ? '\t' : ',';
}

bool DelimitedReader::wholeLineNumber(std::size_t lineEnd) const {
    return isThousandsNumber(m_text.substr(m_pos, lineEnd - m_pos));
}

std::size_t DelimitedReader::readQuoted(std::string* cell) {
    std::size_t i = m_pos + 1;
    for (;;) {
        const std::size_t quote = m_text.find('"', i);
        if (quote == std::string_view::npos) {
            // No closing quote: the cell runs to the end of the text.
            appendKept(cell, m_text, i, m_text.size());
            return m_text.size();
        }
        appendKept(cell, m_text, i, quote);
        if (quote + 1 < m_text.size() && m_text[quote + 1] == '"') {
            if (cell) cell->push_back('"');
            i = quote + 2;
            continue;
        }
        return quote + 1;
    }
}

bool DelimitedReader::next(DelimitedRow* cells) {
    if (m_pos >= m_text.size()) return false;
    if (cells) cells->clear();
    if (m_amountLines && m_text[m_pos] != '"') {
        const std::size_t end = lineEndFrom(m_text, m_pos);
        if (wholeLineNumber(end)) {
            appendKept(cells ? &cells->emplace_back() : nullptr, m_text, m_pos, end);
            m_pos = pastLineBreak(m_text, end);
            return true;
        }
    }
    for (;;) {
        std::string* cell = cells ? &cells->emplace_back() : nullptr;
        if (m_pos < m_text.size() && m_text[m_pos] == '"') m_pos = readQuoted(cell);
        // Unquoted bytes (or those after a closing quote) up to the separator or the line end.
        std::size_t i = m_pos;
        while (i < m_text.size() && m_text[i] != m_separator && m_text[i] != '\n' &&
               m_text[i] != '\r')
            ++i;
        appendKept(cell, m_text, m_pos, i);
        m_pos = i;
        if (m_pos < m_text.size() && m_text[m_pos] == m_separator) {
            ++m_pos;
            continue;
        }
        m_pos = pastLineBreak(m_text, m_pos);
        return true;
    }
}

std::vector<DelimitedRow> splitDelimited(std::string_view text, Delimiter delimiter) {
    std::vector<DelimitedRow> rows;
    DelimitedReader reader(text, delimiter);
    DelimitedRow cells;
    while (reader.next(&cells))
        rows.push_back(std::move(cells));
    return rows;
}

void appendDelimitedRow(std::string& out, const DelimitedRow& cells, Delimiter delimiter,
                        std::string_view lineEnd) {
    const char separator = delimiter == Delimiter::Comma ? ',' : '\t';
    // One pass over the cell's bytes: find_first_of would search the set once a byte.
    auto special = [separator](char ch) {
        return ch == separator || ch == '"' || ch == '\r' || ch == '\n';
    };
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) out.push_back(separator);
        const std::string& cell = cells[c];
        if (std::none_of(cell.begin(), cell.end(), special)) {
            out += cell;
            continue;
        }
        out.push_back('"');
        for (char ch : cell) {
            if (ch == '"') out.push_back('"');
            out.push_back(ch);
        }
        out.push_back('"');
    }
    out += lineEnd;
}

std::string joinDelimited(const std::vector<DelimitedRow>& rows, Delimiter delimiter,
                          std::string_view lineEnd) {
    std::string out;
    for (const DelimitedRow& row : rows)
        appendDelimitedRow(out, row, delimiter, lineEnd);
    return out;
}

} // namespace iit
