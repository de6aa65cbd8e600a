#pragma once
// A month of the ledger in and out of spreadsheet files (.xlsx, .xls, .csv through sheets/).
//
// An import finds the sheet's header among its first rows and maps each column to the ledger's
// fields the ledger imports (importFields(), by any of their names); the plan says
// what it recognised, what it leaves out and which totals rows it skips, for the clerk to
// confirm before anything changes, and names every row by its row number in the sheet. An
// export writes the month as the window shows it: amounts as number cells, identity numbers
// and every other text as text cells, the totals row last.

#include "ledger/declaration.h"
#include "ledger/ledger.h"
#include "ledger/pay_slips.h"
#include "ledger/window/sheet_layout.h"
#include "sheets/sheet.h"
#include "sheets/writer.h"

#include <array>
#include <functional>
#include <vector>

namespace iit::ledger {

struct MonthImportPlan {
    std::vector<std::vector<Text>> rows; // the header, in the ledger's names, then the people
    std::vector<std::size_t> rowNumbers; // each row's number in the sheet
    std::size_t people = 0;
    Text summary; // the header mapping, the columns left out, the totals rows skipped
};

Outcome<MonthImportPlan> planMonthImport(const sheets::Sheet& sheet, int year, int month);
// The same for a sheet of opening balances (openingFields()).
Outcome<MonthImportPlan> planOpeningImport(const sheets::Sheet& sheet);

// The same from a file; a sheet of more people than the grid holds is refused whole.
Outcome<MonthImportPlan> readMonthFile(const std::filesystem::path& file, int year, int month);
Outcome<MonthImportPlan> readOpeningFile(const std::filesystem::path& file);

// The month as a table for writeXlsx: the layout's columns (序号 left out, 证件类型 after the
// identity number) and the totals row.
sheets::Table monthTable(const std::vector<MonthLine>& lines,
                         const std::array<Text, kSheetColumns>& totals, int year, int month);

// Writes a month's declaration files into `folder` (made when missing), each one whole or not
// at all. What was written, and the files of the declaration's names that the folder holds
// from before and this month has no rows for (they are not this month's: told, not removed).
struct DeclarationWritten {
    std::vector<std::pair<std::filesystem::path, std::size_t>> files; // and their rows
    std::vector<std::filesystem::path> stale;
};
Outcome<DeclarationWritten> writeDeclaration(const Declaration& declaration,
                                             const std::filesystem::path& folder,
                                             const std::function<void()>& meanwhile = {});
// Writes them and keeps what they gave of the employees (Declaration::details) while the
// workbooks are written, in one transaction committed only once every file is whole: the
// details are kept with the files or not at all. `kept` tells of the keeping where the files
// were written.
struct DeclarationDone {
    Outcome<DeclarationWritten> written;
    Outcome<void> kept;
};
DeclarationDone writeAndKeepDeclaration(Ledger& ledger, const Declaration& declaration,
                                        const std::filesystem::path& folder);
// The same with the ledger that `keeper` gives, called on this thread while the workbooks are
// written (none: the files are written all the same, and `kept` fails).
DeclarationDone writeAndKeepDeclaration(const std::function<Ledger*()>& keeper,
                                        const Declaration& declaration,
                                        const std::filesystem::path& folder);
// What the clerk is told of it: the files and their rows, the non-residents left off the wages
// form, the zero declarations, the stale files and the notes.
Text declarationSummary(const Declaration& declaration, const DeclarationWritten& written);

// The month's pay slips as a workbook in the layout clerks make by hand: the title, then for
// each employee the captions (bold) above their row and a blank row after it.
sheets::Table slipsTable(const PaySlips& slips, const Text& title);

// "工资台账2024年03月": the name an export proposes.
std::string monthFileStem(int year, int month);

} // namespace iit::ledger
