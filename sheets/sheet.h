#pragma once
// Spreadsheet files in and out: the cells and sheets the callers work with, and the readers.
//
// A sheet is read from a path or from bytes in memory (standard input). Its format is decided by
// content, never by name (detectFormat): a zip archive is an .xlsx workbook (minizip and expat,
// sheets/xlsx_reader.cpp), an OLE2 file an .xls workbook (FreeXL, sheets/xls_reader.cpp), anything
// else a delimited text file (sheets/text_reader.cpp over base/delimited.h). Every reader fills
// the sheet through one builder (sheets/builder.h) that keeps the sheet's row numbers, applies
// the row cap and bounds the memory a hostile file can claim. header.h finds the header row and
// the columns' fields; writer.h writes .xlsx, .csv and .tsv.
//
// Texts inside this module are UTF-8; the callers convert to Text at their edge. A failure to
// read the file as a whole is the Outcome's Problem; what is wrong with single cells (an error
// value, a formula without its result) is reported by row in Sheet::problems, never dropped.

#include "base/outcome.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace iit::sheets {

struct Cell {
    enum class Kind : std::uint8_t { Empty, Text, Number, Boolean, Date, Error };
    Kind kind = Kind::Empty;
    // What the sheet shows: the string itself; a number as a spreadsheet shows it in its General
    // format, the double to 15 significant digits (generalText: 88957.9 for a file's
    // 88957.899999999994, as the spreadsheet itself computes with it), except an integer a
    // writer kept digit for digit beyond 15 (a card number), whose digits stay as the file has
    // them; "TRUE"/"FALSE"; a date as yyyy-mm-dd (with " hh:mm:ss" when its format shows the
    // time, or the time alone); an error value such as "#DIV/0!".
    std::string text;
    // Number; Boolean (1 or 0); Date: the serial day number of an .xlsx number cell (0 where the
    // file holds the date as text: .xls through FreeXL, .xlsx cells of type "d").
    double number = 0;

    bool empty() const { return kind == Kind::Empty; }
};

struct SheetRow {
    std::size_t number = 0;  // the row's number in the sheet, from 1
    std::vector<Cell> cells; // by column from A; no trailing empty cells

    // The cell in `column` (from 0); an empty cell past the last one.
    const Cell& at(std::size_t column) const;
};

struct RowProblem {
    std::size_t row = 0; // the sheet row number
    std::string message; // names the cell: "C5：……"
};

struct Sheet {
    std::string name;
    // The rows that hold at least one non-empty cell, in order, at most the row cap of them.
    // Rows that are empty in the file are left out; every row keeps its sheet row number.
    std::vector<SheetRow> rows;
    std::vector<RowProblem> problems; // of the rows read, in row order
    bool more = false;                // non-empty rows beyond the cap exist
    std::size_t rowsSeen = 0;         // non-empty rows of the sheet, those beyond the cap too
};

enum class Format {
    Xlsx,          // a zip archive other than an OpenDocument file
    Xls,           // an OLE2 compound file
    Ods,           // an OpenDocument spreadsheet (refused with its own message)
    TableDatabase, // the system's own table-database batch file (.dat)
    Text,          // anything else that is not recognisably binary
    Binary,        // a binary file of another kind (refused)
};

// The format of a file from its first bytes.
Format detectFormat(std::string_view bytes);

struct ReadOptions {
    // At most this many non-empty rows are read; further rows are only counted (Sheet::rowsSeen)
    // and set Sheet::more. Title, header and totals rows count: a caller that takes N people
    // asks for N + kHeaderSearchRows + 1 and counts the people after the header itself.
    std::size_t rowCap = 10000;
    // The worksheet to read by name; empty: the first worksheet (the first visible one).
    std::string sheetName;
    // When set, each row within the cap is handed to it as soon as it is read instead of being
    // kept in Sheet::rows, which stays empty: a caller that takes rows one at a time never
    // holds the whole sheet (a year's payroll of 120,000 rows). The row's cells may be taken.
    // A file found damaged further on has handed rows already: nothing may be done with them
    // before the read as a whole has succeeded.
    std::function<void(SheetRow&)> onRow;
};

// Reads a sheet from a file; the file is read bounded (kMaxInputBytes).
Outcome<Sheet> readSheet(const std::filesystem::path& path, const ReadOptions& options = {});
// Reads a sheet from bytes in memory.
Outcome<Sheet> readSheetBytes(std::string_view bytes, const ReadOptions& options = {});

// The largest file read: far above any sheet of 120,000 people.
constexpr std::size_t kMaxInputBytes = 256u << 20;

// True when a number cell's text holds more than 15 significant digits or an exponent: a double
// cannot hold such a number (an 18-digit identity-card number) digit for digit.
bool isLongOrScientific(std::string_view numberText);

// A double as a spreadsheet's General format shows it: rounded to 15 significant digits,
// trailing zeros dropped; from 10^15 on, and below 10^-9, with an exponent.
std::string generalText(double v);

// The text of a cell of a column of keys (an identity number, a bank card, an employee number):
// a text cell as it is, a number cell's digits when every digit is there. Fails where the
// spreadsheet has lost digits: a number with an exponent (1.10101199001011E+17, in a workbook
// or a text file) or more than 15 significant digits. The problem says so, for the caller to
// name the cell and the column.
Outcome<std::string> keyCellText(const Cell& cell);

// "C5" for column 2 (from 0) and row 5.
std::string cellName(std::size_t column, std::size_t row);

} // namespace iit::sheets
