#pragma once
// The batch sheet: what the batch window does, without widgets.
//
// A 10,001 x 8 grid (row 0 the headers, column 0 the row numbers) holds up to 10,000 people:
// name, identity-card number, income for tax, tax payable, after-tax amount, bank card number,
// remark. Two radio groups choose the income kind and who bears the tax. CalculateEditedRow
// computes one row as soon as its income was edited; CalculateAll computes every row and
// writes the totals row ("合计") into the first empty row after the last data row. The sheet
// also selects, copies, pastes and clears, and saves to and opens batch files (table files of
// seven fields).
//
// The calculations read the bracket table from the rate-table file the sheet is given (the
// program's windows share one; engine/rate_table_file.h); one CalculateAll reads the table once
// and computes every row from that reading, with the engine's computation under a sheet's
// policies (engine::TaxPolicy::sheetAll and sheetRow).

#include "base/outcome.h"
#include "base/text.h"
#include "batch/batch_file.h"
#include "batch/layout.h"
#include "batch/spreadsheet.h"
#include "database/database.h"
#include "engine/exact.h"
#include "engine/rate_table_file.h"
#include "engine/tax.h"
#include "grid/grid.h"
#include "printing/tax_payment_table.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace iit::batch {

const Text& totalsMarker(); // "合计"

// What an income cell holds: nothing, an amount the calculation takes (the exact decimal the
// text says), or a text it cannot compute, with the reason.
struct Income {
    enum class Kind { Empty, Amount, Invalid };
    Kind kind = Kind::Empty;
    engine::Exact amount;
    Text reason; // Invalid: why
};
Income readIncome(const Text& cell);

// The people of a sheet and their totals: one rule for the totals row of "计算", the printed
// table and the command line. A person is a data row with an income that is not the totals
// row and holds something of a person; the totals add up income, tax and after-tax amount of
// every person whose income could be computed, exactly.
struct SheetPeople {
    std::vector<int> rows;
    engine::Exact income, tax, afterTax;
    // The totals as the totals row shows them.
    std::array<Text, 3> totalTexts() const {
        return {ToText(income), ToText(tax), ToText(afterTax)};
    }
    // The people as the printed tax payment table lists them, with the grid's columns.
    printing::TaxTablePeople forPrint() const {
        return {rows, totalTexts(),
                printing::TaxTableColumns{kGridColumns, kTaxColumn, kIncomeColumn}};
    }
};
SheetPeople peopleOf(const Grid& grid);

// What "计算" could not do: the rows whose income could not be computed (not computed, no
// tax, left out of the totals), and a full grid without a row for the totals.
struct CalculationReport {
    struct Row {
        int row;
        Text income;
        Text reason;
    };
    std::vector<Row> uncomputed;
    bool noTotalsRow = false;

    bool empty() const { return uncomputed.empty() && !noTotalsRow; }
    // The message that names them (the first five rows); empty when there is nothing to say.
    Text message() const;
};

// The seven fields of a batch file.
const std::vector<db::FieldSpec>& BatchFileFields();

class BatchSheet {
public:
    BatchSheet(); // the grid set up as the window shows it, empty but for the row numbers

    Grid& grid() { return m_grid; }
    const Grid& grid() const { return m_grid; }

    // The radios. Choosing royalties selects "自行负担" and disables "雇主全额负担".
    void setKind(engine::TaxKind kind);
    // Ignored while royalties are chosen (the radio is disabled then).
    void setMode(engine::TaxMode mode);
    engine::TaxKind kind() const { return m_kind; }
    engine::TaxMode mode() const { return m_mode; }
    bool netModeEnabled() const { return engine::netModeAllowed(m_kind); }

    // Computes every row that has an income and writes the totals row. The window first
    // commits an edit in progress. Fails when the rate table cannot be read (nothing is
    // computed then); otherwise reports what could not be computed.
    Outcome<CalculationReport> CalculateAll();
    // The last data row that took part in the latest CalculateAll (0 before the first): the
    // last row with an income, a tax or an after-tax amount. The totals sum rows 1 to it and
    // go into the first row after it that is empty in columns 1 to 7 (none when there is none).
    int LastDataRow() const { return m_lastDataRow; }
    // Computes the row of an edited cell when it is the income column. Gives the notice to
    // show, empty when there is none ("  个人所得收入小于纳税标准, 不计税! . . .    " for wages
    // below the threshold). Fails, with the message to show, when the rate table cannot be
    // read (nothing is computed) or the income is beyond the largest the system computes (the
    // row is left uncomputed and marked).
    Outcome<Text> CalculateEditedRow(int row, int column);
    // The warning the grid shows on a cell (its colour and tooltip): an income that is no
    // amount, or that the last calculation could not compute; an identity-card number whose
    // date of birth or check character is wrong. Empty for every other cell.
    Text noteOf(int row, int column) const;

    // The rate-table file the calculations read. Without one the sheet opens a file of its own,
    // the data directory's rate table, at its first calculation.
    void setRateTable(std::shared_ptr<engine::RateTableFile> file) {
        m_rateTable = std::move(file);
    }
    engine::RateTableFile& rateTable();

    // Rows 1 to 10,000, columns 1 to 7.
    void SelectAll();
    // The selection as clipboard text; nullopt when nothing is selected.
    std::optional<Text> CopySelection() const;
    // Writes clipboard text from the current cell on; says how many rows did not fit.
    PasteResult PasteAtCursor(const Text& clipboard);
    // Empties rows 1 to 10,000, columns 1 to 7.
    void ClearGrid();

    // Batch files. The window runs CalculateAll before its save dialog, so that the taxes and
    // the totals row are up to date. An open replaces the whole sheet once the file has proved
    // to be a batch file: the grid is emptied, then filled from the records.
    // A failure keeps the written message, followed by the reason and the path. A success may
    // carry a notice: the configuration file could not remember the path.
    Outcome<Text> SaveBatchFile(const std::filesystem::path& path);
    // Reads the file and fills the sheet; a damaged file fails (the window asks first, with
    // readBatchFile and applyBatchFile).
    Outcome<Text> OpenBatchFile(const std::filesystem::path& path);
    // Fills the sheet with what a batch file held; `path` is remembered as the file opened
    // last (none for a file that came through standard input). Gives the notice that the
    // configuration file could not take the path, empty when it did.
    Text applyBatchFile(const BatchFileContent& content,
                        const std::optional<std::filesystem::path>& path);
    // The cells of names, identity-card and bank-card numbers that hold `query` (ASCII letters
    // in either case), row by row and in that column order; none for an empty query.
    struct Found {
        int row;
        int column;
    };
    std::vector<Found> findPeople(const Text& query) const;
    // Sorts the people by a column (1 to 7): amounts as amounts, texts in the order of their
    // characters (GB18030 keeps the common characters in pinyin order), empty cells and cells
    // that are no amount after the others, the order of equal rows kept. The people move up
    // to rows 1 to n without the empty rows between them, and the totals row stays after them.
    void sortPeople(int column, bool ascending);
    // Fills the sheet with the people a spreadsheet held, as an open of a batch file does; the
    // remembered paths stay those of batch files.
    void applySpreadsheet(const SheetImport& import);
    // Writes the sheet's people and totals as a spreadsheet (.xlsx, .csv or .tsv by the name's
    // extension). The file then holds what the sheet holds: nothing is lost on a close. A
    // failure keeps the written save message, followed by the reason and the path.
    Outcome<void> exportSpreadsheet(const std::filesystem::path& path);
    // The path of the last file chosen in the save or open dialog.
    const std::filesystem::path& CurrentBatchFile() const { return m_currentFile; }

    // A text longer than its field is cut when it is saved (a cut never splits a character),
    // and an income that is no amount is saved as 0.
    struct CutCell {
        int row;
        int column;
        int width; // the field's width in bytes; 0 for an income that is no amount
    };
    // The cells a save into a new batch file does not keep as they are, row by row.
    std::vector<CutCell> cellsCutBySave() const;

    // True when the sheet holds people and their data (names, numbers, incomes, cards,
    // remarks; not the computed columns or the totals row) differ from what the last save or
    // open left, or from the empty sheet before either.
    bool hasUnsavedChanges() const;
    // The rows that hold a person's data (the totals row aside).
    int peopleCount() const;

private:
    // The header of column 5 names what it holds in the chosen mode.
    void showModeInHeader();
    // The grid emptied, then rows from 1 on filled with the records.
    void fillRecords(const std::vector<BatchRecord>& records);
    bool computeRow(int row, const Income& income, const engine::BracketTable& table, bool edited);
    // A digest of the people's data, as hasUnsavedChanges compares it.
    std::uint64_t peopleDigest() const;

    Grid m_grid;
    engine::TaxKind m_kind = engine::TaxKind::Wages;
    engine::TaxMode m_mode = engine::TaxMode::Gross;
    int m_lastDataRow = 0;
    std::filesystem::path m_currentFile;
    std::shared_ptr<engine::RateTableFile> m_rateTable;
    std::uint64_t m_savedDigest = 0;
    // Rows the last calculation could not compute, with the reason.
    std::map<int, Text> m_uncomputed;
};

// Reads a batch file (batch/batch_file.h); a failure keeps the written open message, followed
// by the reason and the path.
Outcome<BatchFileContent> readBatchFile(const std::filesystem::path& path);
// What "打开" reads: a batch file or a spreadsheet, told by content. Failures as above.
using PeopleFile = std::variant<BatchFileContent, SheetImport>;
Outcome<PeopleFile> readPeopleFile(const std::filesystem::path& path);

// The names the save and open dialogs propose: the remembered path of "config.inf" (save);
// for an open, that of "configJS.inf" or "config.inf", whichever was written last (the batch
// file used last); without the file, the default "个人所得税扣税表.dat" in the program
// directory.
std::filesystem::path proposedSaveName();
std::filesystem::path proposedOpenName();
std::filesystem::path defaultBatchFileName();

// What the window says when a paste held more rows than the sheet has below its current cell.
Text pasteLeftOutMessage(std::size_t rowsRead, std::size_t rowsLeftOut);

// The messages of the file operations.
const Text& saveFailedMessage(); // "文件保存失败！ . . .   "
const Text& openFailedMessage(); // "文件打开失败，请选择正确的文件！ . . .   "

} // namespace iit::batch
