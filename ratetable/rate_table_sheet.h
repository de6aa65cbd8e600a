#pragma once
// The rate-table sheet: what the rate-table window does, without widgets.
//
// The window shows one of the four sub-tables of the bracket table in a 14 x 9 grid (row 0 the
// column numbers, column 0 the row numbers): the threshold in cell (5, 1) and, for records 1
// to 9 in rows 5 to 13, the band's lower bound (column 2), upper bound (4), rate in percent (5)
// and quick deduction (7). Two hidden rows carry what the grid does not show from a load to
// the next save: row 1 the spare field k+5 of records 1 to 8, row 2 the threshold field k of
// records 2 to 9, each from column 3 on (the values without a cell are kept beside the grid).
//
// Every action goes through a staging table of 9 records by the six fields k to k+5 of the
// sub-table, as texts: a load reads the rate-table file (engine::RateTableFile::load) into it
// and the grid from it; a save reads the grid back into it and writes the sub-table's fields of
// the file (engine::RateTableFile::writeFields), the fields k to k+4 as the leading integers of
// the cells' texts; "恢复默认" replaces the file by the built-in table. The sheet keeps no copy
// of the table between actions, and the program's windows share one open file, so a saved
// change is seen by the next calculation.
//
// Before a save the sheet checks what it would store: a cell whose integer lies outside the
// 32-bit range is refused (never wrapped), then the sub-table as it would be written goes
// through the bracket rules of its layout (engine/rate_table_check.h); each finding names its
// cell. A save refuses the errors itself; the warnings are for the window to ask about.

#include "base/outcome.h"
#include "base/text.h"
#include "engine/bracket_table.h"
#include "engine/rate_table_check.h"
#include "engine/rate_table_file.h"
#include "grid/grid.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace iit::ratetable {

constexpr int kGridRows = 14;
constexpr int kGridColumns = 9;
constexpr int kRecords = 9;      // the records the window shows and saves
constexpr int kFirstBandRow = 5; // record r is grid row r + 4
constexpr int kSpareRow = 1;     // hidden: field k+5 of records 1 to 8
constexpr int kThresholdRow = 2; // hidden: field k of records 2 to 9

// Columns of the band rows.
enum Column : int {
    kThresholdColumn = 1, // row 5 only
    kLowerColumn = 2,
    kUpperColumn = 4,
    kRateColumn = 5,
    kDeductionColumn = 7,
};

using engine::firstField;
using engine::SubTable;

// The sub-table the radios choose: `单选框个税` (wages), `单选框劳务前` (labour, tax
// included), `单选框劳务后` (labour, tax excluded), `单选框稿酬税表` (royalties). Each later
// selected radio overrides an earlier one; none selected gives the wage sub-table.
SubTable subTableFromRadios(bool wages, bool labourGross, bool labourNet, bool royalties);

// A cell the save will store as another value than it shows: 3.5 is stored as 3, letters as 0.
struct StoredDifference {
    int row = 0;
    int column = 0;
    Text shown;
    std::int32_t stored = 0;
};

// "第 6 行第 5 列": a cell as the grid's row and column numbers name it.
Text cellName(int row, int column);

// A finding of the checks before a save, at the cell that shows the record and field (row 0
// for a record beyond the nine the grid shows).
struct CellFinding {
    int row = 0;
    int column = 0;
    engine::TableFinding finding;
    bool isError() const { return finding.severity == engine::TableFinding::Severity::Error; }
};
// The message of an error: the cell, what is wrong, and that the table cannot be saved so.
Text refusalText(const CellFinding& f);
// The question of a warning. With an offer: "是" takes the continuous quick deduction and
// saves, "否" saves the value as it is, "取消" goes back to the grid. Without one: "是" saves,
// "否" goes back.
Text continuityQuestion(const CellFinding& f);

class RateTableSheet {
public:
    // The grid laid out (numbers, merges, hidden rows and columns, widths, alignments, captions),
    // without a sub-table.
    RateTableSheet();

    Grid& grid() { return m_grid; }
    const Grid& grid() const { return m_grid; }

    // The rate-table file the sheet reads and writes. Without one the sheet opens a file of its
    // own, the data directory's rate table, at its first action.
    void setRateTable(std::shared_ptr<engine::RateTableFile> file) {
        m_rateTable = std::move(file);
    }
    engine::RateTableFile& rateTable() const;

    // Shows the sub-table: nine records whatever the file holds (those beyond its last record
    // as 0). A file that is not open is opened first; when that fails the data cells are
    // emptied, nothing is shown and the problem says what is wrong with which file.
    Outcome<void> Load(SubTable table);
    // The sub-table the last successful load showed.
    std::optional<SubTable> shown() const { return m_shown; }

    // The cells of the shown sub-table whose text the save will store as a different number:
    // anything but a whole number (full-width digits and surrounding blanks count as written;
    // an empty cell stores 0 as expected). For the window to show before it saves. A cell
    // whose integer lies outside the 32-bit range is not listed: the save refuses it.
    std::vector<StoredDifference> storageDifferences() const;

    // What the save of the shown sub-table would store, checked: the cells whose integer lies
    // outside the 32-bit range, or else the findings of the bracket rules over the table as it
    // would be written (the file's table with the grid's sub-table in place). Errors come
    // first; warnings only when there is no error. Empty when the save may go ahead without a
    // word; fails when the table cannot be read or nothing is shown.
    Outcome<std::vector<CellFinding>> checkBeforeSave() const;
    // Writes a warning's continuous quick deduction into its cell, as an edit the user may undo.
    void takeOffer(const CellFinding& f);

    // Saves the shown sub-table: ends the edit in progress (the current cell moves to (1, 2),
    // then (1, 1)), then writes fields k to k+4 of records 1 to 9 as the leading integers of
    // the cells and field k+5 of records 1 to 8 from the hidden row. The other sub-tables are
    // not touched. A sub-table with an error of checkBeforeSave is not written: the problem is
    // the first error's refusalText. A write the table refuses leaves that field as it was and
    // the save goes on; the problem then says how many and why.
    Outcome<void> Save();

    // "恢复默认": replaces the table file by the built-in table and shows its wage sub-table;
    // gives the new table's wage threshold (record 1 field 1, truncated: the main window's
    // message threshold). On failure the old file stays, still open, the grid is left as it
    // was and the problem says which file and why.
    Outcome<std::int32_t> restoreDefaults();

private:
    using Staging = std::array<std::array<Text, 6>, kRecords>;

    void fillGrid(const Staging& staging);
    // Shows a sub-table of a bracket table read from the file.
    void show(const engine::BracketTable& bracket, SubTable table);
    Staging readGrid() const;
    // The file's table with the staged sub-table in place, as a save writes it.
    Outcome<engine::BracketTable> stagedTable(const Staging& staging) const;
    Outcome<std::vector<CellFinding>> check(const Staging& staging) const;
    void clearData();

    Grid m_grid;
    std::optional<SubTable> m_shown;
    // The hidden values of the last load whose column lies beyond the grid.
    std::array<Text, kRecords - 1> m_spare;      // field k+5 of records 1 to 8
    std::array<Text, kRecords - 1> m_thresholds; // field k of records 2 to 9
    mutable std::shared_ptr<engine::RateTableFile> m_rateTable;
};

} // namespace iit::ratetable
