#pragma once
// Spreadsheets in and out of the batch sheet: a worksheet read into the sheet's rows by its
// header (or in the sheet's own column order without one), and the computed sheet as a table
// for an .xlsx, .csv or .tsv file.
//
// A header row is found by its names among the first rows, below any title rows, and each of
// its columns goes to the batch column it names whatever the order: 姓名; 身份证号, 身份证号码,
// 证件号码, 身份证; 收入, 应发工资, 本期收入, 用于报税的收入, 金额; 银行卡号, 账号, 卡号; 备注; and
// the captions the sheet itself exports, so that an exported file reads back. Columns that name
// nothing are listed in the summary, never dropped in silence; a sheet's own totals row
// (合计, 总计) is no person. Identity-card and bank-card numbers are taken as the text the
// sheet shows: a number cell of more than 15 digits or in scientific form has lost digits and
// is reported by its cell, as is an error value.

#include "base/outcome.h"
#include "base/text.h"
#include "batch/batch_file.h"
#include "sheets/sheet.h"
#include "sheets/writer.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace iit {
class Grid;
}

namespace iit::batch {

struct SheetImport {
    std::vector<BatchRecord> records;         // the people, at most kDataRows
    std::int64_t beyondSheet = 0;             // people past the sheet's kDataRows rows
    bool header = false;                      // a header row was found
    std::size_t headerRow = 0;                // its row number in the sheet
    std::vector<Column> mapped;               // the batch columns read, in the sheet's order
    std::vector<std::string> unmapped;        // header texts (UTF-8) of columns read into nothing
    std::size_t extraColumns = 0;             // without a header: columns past the seventh
    std::size_t totalsRows = 0;               // the sheet's own totals rows, skipped
    std::vector<sheets::RowProblem> problems; // cells that could not be taken as they are

    // A short account for the window and the command line: how many people were read, the
    // columns read and what was left out, and the cells in error (the first few).
    Text summary() const;
    // What was left out or is in error; empty when the sheet was read whole. Without
    // `rowsBeyond`, the people beyond the sheet are left to the caller to tell.
    Text notes(bool rowsBeyond = true) const;
};

// The people of a worksheet.
SheetImport importSheet(const sheets::Sheet& sheet);

// Reads a spreadsheet file (.xlsx, .xls, or delimited text in UTF-8, UTF-16 or GB18030) or its
// bytes; fails for other formats (an OpenDocument sheet, a binary file) with a message that
// names the formats read.
Outcome<SheetImport> readSpreadsheet(const std::filesystem::path& path);
Outcome<SheetImport> readSpreadsheetBytes(std::string_view bytes);

// The sheet's people and its totals row as a table: a header of the column captions, amounts
// as amounts (an income that is no amount stays its text), numbers of cards as text. The
// captions are the grid's, with their line breaks, for a workbook, whose header row wraps; a
// text file gets the columns' one-line names ("收入", "应缴税额"), which scripts read easily.
enum class ExportFormat { Xlsx, Csv, Tsv };
sheets::Table exportTable(const Grid& grid, ExportFormat format = ExportFormat::Xlsx);

// How a file name is written: by its extension (.csv, .tsv and .txt as text, anything else as
// .xlsx). isSpreadsheetName: the name ends in .xlsx, .csv or .tsv, in any case.
ExportFormat exportFormatOf(const std::filesystem::path& path);
bool isSpreadsheetName(const std::filesystem::path& path);
// The export as .csv (UTF-8 with a byte-order mark) or .tsv text.
std::string exportText(const Grid& grid, ExportFormat format);
// Writes the export in the file's format through a temporary file beside it.
Outcome<void> writeExport(const std::filesystem::path& path, const Grid& grid);

} // namespace iit::batch
