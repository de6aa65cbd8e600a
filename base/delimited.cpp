// The delimited-text grammar: splitting with spreadsheet quoting, and joining that reads back.
#include "base/delimited.h"

#include "base/convert.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace iit {
namespace {

// Bytes the grammar drops: C0 controls other than TAB, LF and CR, and DEL. No byte of a
// multi-byte character of the encodings read here is among them.
bool isDropped(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

// Appends text[from, to) to cell without the dropped bytes. Inlined into the reader, the hot
// loop of every paste and text sheet.
inline void appendKept(std::string* cell, std::string_view text, std::size_t from, std::size_t to) {
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
    return line.find(',') != std::string_view::npos && wholeNumberText(line).has_value();
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
        // Unquoted bytes (or those after a closing quote) up to the separator or the line end,
        // noting on the way whether any is dropped: nearly every byte is printable and passes
        // with two comparisons.
        std::size_t i = m_pos;
        bool dropped = false;
        for (; i < m_text.size(); ++i) {
            const auto c = static_cast<unsigned char>(m_text[i]);
            if (c == static_cast<unsigned char>(m_separator)) break;
            if (c >= 0x20 && c != 0x7F) continue;
            if (c == '\n' || c == '\r') break;
            dropped = dropped || isDropped(c);
        }
        if (dropped)
            appendKept(cell, m_text, m_pos, i);
        else if (cell)
            cell->append(m_text.data() + m_pos, i - m_pos);
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

namespace {

// The bytes a cell is quoted for: the separator, the quote, CR and LF.
constexpr std::array<bool, 256> quotedBytes(char separator) {
    std::array<bool, 256> quoted{};
    for (const char c : {separator, '"', '\r', '\n'})
        quoted[static_cast<unsigned char>(c)] = true;
    return quoted;
}
constexpr std::array<bool, 256> kQuotedTab = quotedBytes('\t'), kQuotedComma = quotedBytes(',');

} // namespace

void appendDelimitedRow(std::string& out, const DelimitedRow& cells, Delimiter delimiter,
                        std::string_view lineEnd) {
    const char separator = delimiter == Delimiter::Comma ? ',' : '\t';
    const std::array<bool, 256>& quoted = delimiter == Delimiter::Comma ? kQuotedComma : kQuotedTab;
    // A row without a cell to quote, the usual one, is copied into room made for it at once,
    // its bytes checked on the way; a row with one is written again cell by cell.
    const std::size_t at = out.size();
    std::size_t size = lineEnd.size() + (cells.empty() ? 0 : cells.size() - 1);
    for (const std::string& cell : cells)
        size += cell.size();
    out.resize(at + size);
    char* p = out.data() + at;
    bool quoting = false;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) *p++ = separator;
        for (const char ch : cells[c]) {
            quoting = quoting || quoted[static_cast<unsigned char>(ch)];
            *p++ = ch;
        }
    }
    if (!quoting) {
        std::copy(lineEnd.begin(), lineEnd.end(), p);
        return;
    }
    out.resize(at);
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) out.push_back(separator);
        const std::string& cell = cells[c];
        if (std::none_of(cell.begin(), cell.end(),
                         [&](char ch) { return quoted[static_cast<unsigned char>(ch)]; })) {
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
