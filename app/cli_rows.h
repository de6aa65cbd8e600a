#pragma once
// Payroll sheets in and tables out, for the commands of residents' wages (withhold, ledger).
//
// INPUT ("-" for standard input) is read once and told by content: delimited text, .xlsx or
// .xls, with no cap on its rows. Its rows are handed to the core at the index of their sheet
// row (blank rows in the gaps), so that the core's "第N行" is the row a spreadsheet program
// shows. A table goes to standard output as TSV without a header, or to -o OUTPUT by its
// extension: .csv (UTF-8 with a byte-order mark) and .xlsx with a header row, anything else as
// the TSV of standard output.

#include "app/cli.h"
#include "sheets/sheet.h"
#include "sheets/writer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace iit::cli {

using CellRow = std::vector<std::string>;

// Reads INPUT as a sheet, with no cap on its rows (`options` may hand them over one at a
// time). Prints the problem ("iitcalc-cli: INPUT: ...") and returns nullopt when it cannot be
// read, is empty or is no sheet.
std::optional<sheets::Sheet> readPayroll(const std::string& input,
                                         sheets::ReadOptions options = {});

// Cells a computation must not take as written: those the sheet could not read (an error
// value, a formula saved without its result) and, in the `keyColumns` (an identity number, a
// bank card), a number whose digits the spreadsheet program has already lost (an 18-digit
// identity number typed as a number, or saved to a text file as 1.10101199001011E+17). Each is
// printed, named by its cell; false when there is one. A key's number cell that holds every
// digit is taken as the file stores it. cellsSound checks a whole sheet and says that nothing
// was done; a caller that takes the rows one at a time asks keyCellsSound of each and
// sheetProblemsNone of the sheet.
bool cellsSound(const std::string& input, sheets::Sheet& sheet,
                const std::vector<std::size_t>& keyColumns);
bool keyCellsSound(const std::string& input, sheets::SheetRow& row,
                   const std::vector<std::size_t>& keyColumns);
bool sheetProblemsNone(const std::string& input, const sheets::Sheet& sheet);

// The sheet's rows with rows[n - 1] holding its row n. With `header` (an index into
// sheet.rows), that row comes first and the rows above it (titles) are left out.
std::vector<CellRow> numberedRows(sheets::Sheet&& sheet,
                                  std::optional<std::size_t> header = std::nullopt);

// A table of payroll columns: the captions' texts (names, numbers, months, rates, choices) are
// text cells in a workbook, every other column an amount.
sheets::Table payrollTable(std::vector<std::string> captions, std::vector<CellRow> rows);

// Writes the table to OUTPUT, or without it to standard output. OUTPUT is replaced whole or not
// at all. Prints the problem and returns false on failure.
bool writeTable(const std::optional<std::string>& output, const sheets::Table& table);

// True when OUTPUT receives the TSV of standard output (no OUTPUT, or a name that is neither
// .csv nor .xlsx), which a caller may then build row by row in a TsvText and write with
// writeTsv: a file gets the captions as its header, standard output the rows alone (scripts
// cut its columns).
bool tsvOutput(const std::optional<std::string>& output);
// A file name's extension in lower case (".xlsx").
std::string lowerExtension(const std::string& name);

// TSV rows kept in parts of about a megabyte: a text of many megabytes grows without being
// copied again and again.
class TsvText {
public:
    void append(const CellRow& row);
    const std::vector<std::string>& parts() const { return m_parts; }

private:
    std::vector<std::string> m_parts;
};
bool writeTsv(const std::optional<std::string>& output, const TsvText& tsv,
              const CellRow& captions);

// The year and the month of the ledger's commands: 1 to 9999, and 1 to 12.
std::optional<int> parseYear(const std::string& word);
std::optional<int> parseMonth(const std::string& word);
// This calendar year.
int thisYear();

} // namespace iit::cli
