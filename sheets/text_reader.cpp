// The reader of delimited text files (.csv, .tsv, .txt): the encoding is told from the bytes,
// the text converted to UTF-8 strictly and split by the delimited-text grammar.
#include "base/delimited.h"
#include "base/unicode.h"
#include "sheets/builder.h"
#include "sheets/readers.h"

namespace iit::sheets {
namespace {

bool startsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

// A byte-order mark decides; else valid UTF-8 is UTF-8; else the text is GB18030 (GBK's
// superset, what Chinese desktop programs write). Text that is UTF-8 already is read where it
// lies (`converted` stays empty).
Outcome<std::string_view> decode(std::string_view bytes, std::string& converted) {
    Outcome<std::string> text = std::string();
    if (startsWith(bytes, "\xEF\xBB\xBF"))
        text = toUtf8From(bytes.substr(3), "UTF-8");
    else if (startsWith(bytes, "\xFF\xFE"))
        text = toUtf8From(bytes.substr(2), "UTF-16LE");
    else if (startsWith(bytes, "\xFE\xFF"))
        text = toUtf8From(bytes.substr(2), "UTF-16BE");
    else if (isValidUtf8(bytes))
        return bytes;
    else
        text = toUtf8From(bytes, "GB18030");
    if (!text) return text.problem();
    converted = std::move(*text);
    return std::string_view(converted);
}

} // namespace

Outcome<Sheet> readText(std::string_view bytes, const ReadOptions& options) {
    std::string converted;
    Outcome<std::string_view> text = decode(bytes, converted);
    if (!text) return text.problem();
    SheetBuilder builder(options);
    DelimitedReader reader(*text);
    DelimitedRow cells;
    for (std::size_t number = 1; reader.next(&cells); ++number) {
        if (number > kMaxRows) return tooLarge("行数超过 1048576");
        if (cells.size() > kMaxColumns)
            return tooLarge("第 " + std::to_string(number) + " 行的列数超过 16384");
        builder.beginRow(number);
        for (std::size_t column = 0; column < cells.size(); ++column) {
            if (cells[column].empty()) continue;
            if (cells[column].size() > kMaxCellBytes)
                return tooLarge("第 " + std::to_string(number) +
                                " 行的单元格文字过长（也许缺少配对的引号）");
            Cell cell;
            cell.kind = Cell::Kind::Text;
            cell.text = std::move(cells[column]);
            Outcome<void> set = builder.setCell(column, std::move(cell));
            if (!set) return set.problem();
        }
        builder.endRow();
    }
    return builder.finish({});
}

} // namespace iit::sheets
