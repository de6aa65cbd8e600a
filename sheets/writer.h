#pragma once
// Tables written as spreadsheet files: .xlsx through libxlsxwriter (a frozen header row of
// captions, amounts as number cells, every other cell, identity-card and bank-card numbers
// among them, as a text cell), and .csv and .tsv text through the delimited-text grammar.

#include "base/outcome.h"

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace iit::sheets {

enum class ColumnKind {
    Text,   // a text cell
    Amount, // a number cell shown with two decimals; its text is the exact decimal
};

struct Column {
    std::string caption; // UTF-8; may hold line breaks (the header row wraps)
    double width = 12;   // in characters
    ColumnKind kind = ColumnKind::Text;
};

struct Table {
    std::string sheetName; // empty: "Sheet1"
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows; // UTF-8 cells by column; an empty cell stays empty
    bool totalsRow = false;                     // the last row is the totals row (bold)
    // Without the captions' row the rows start at the top, nothing frozen (a sheet of blocks
    // with captions of their own, as pay slips are); the rows named in boldRows are bold.
    bool captionRow = true;
    std::vector<std::size_t> boldRows; // increasing
};

// Writes the table to a temporary file beside `target` and renames it over the target only when
// the workbook is complete; on any failure the target is left as it was and nothing else remains.
Outcome<void> writeXlsx(const std::filesystem::path& target, const Table& table);

// Several workbooks at once, each as writeXlsx writes it (on threads of their own): each
// result is its file's. A file's table is given, or made by `make` on the file's own thread
// (where making it costs as much as writing it). `meanwhile`, where given, runs on the calling
// thread while the files are written, and every file is written on a thread of its own.
struct XlsxFile {
    std::filesystem::path path;
    const Table* table = nullptr;
    std::function<Table()> make;
};
std::vector<Outcome<void>> writeXlsxFiles(std::span<const XlsxFile> files,
                                          const std::function<void()>& meanwhile = {});

// The table as text with a header row of captions and CR LF line ends: .csv with a UTF-8
// byte-order mark (so that Chinese desktop spreadsheets read it as UTF-8), .tsv without.
std::string tableToCsv(const Table& table);
std::string tableToTsv(const Table& table);

} // namespace iit::sheets
