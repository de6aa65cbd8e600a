#pragma once
// The ledger window's month, without widgets: the grid the window shows and what the clerk does
// to it.
//
// The grid (sheet_layout.h) holds one row per employee with an entry in the month, in the
// ledger's order, followed by the rows the clerk is filling in for new employees (drafts): a
// draft goes into the ledger once it has a name and an identity number. The totals of the month
// have a grid of their own, which the window shows under the first. Every action of the clerk
// (an edit, a paste, a deletion, a copy of the previous month, an employee's details, a leave,
// opening balances) is one ledger action (ledger_actions.h) and one transaction, and its undo
// goes on the sheet's undo list; afterwards the lines it touched are read back from the ledger,
// so that the grid always shows what the ledger holds. A failure changes nothing: the ledger
// stays as it was and the grid shows it again.

#include "base/outcome.h"
#include "grid/grid.h"
#include "ledger/ledger.h"
#include "ledger/window/ledger_actions.h"
#include "ledger/window/sheet_layout.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace iit::ledger {

// The text of a line's cell in a column of the layout.
// Computed columns are empty while the line's income is not entered.
Text sheetCellText(const MonthLine& line, int column);

// What a paste did: the ledger's report, and how many rows of the text held something and how
// many of those fell below the sheet's last row and were left out.
struct PasteReport {
    ChangeReport change;
    std::size_t rowsRead = 0;
    std::size_t rowsLeftOut = 0;
    std::size_t columnsLeftOut = 0; // the most cells of a row beyond the clerk's last column
};
// The clerk's message about the rows and columns a paste left out; empty when it left none.
Text pasteLeftOutMessage(const PasteReport& report);

class LedgerSheet {
public:
    explicit LedgerSheet(Ledger& ledger);
    LedgerSheet(const LedgerSheet&) = delete;
    LedgerSheet& operator=(const LedgerSheet&) = delete;

    Ledger& ledger() { return m_ledger; }
    Grid& grid() { return m_grid; }
    const Grid& grid() const { return m_grid; }
    Grid& totalsGrid() { return m_totals; }
    const Grid& totalsGrid() const { return m_totals; }

    int year() const { return m_year; }
    int month() const { return m_month; }
    bool declared() const { return m_declared; }
    const std::vector<int>& declaredMonths() const { return m_declaredMonths; }
    const std::vector<MonthLine>& lines() const { return m_lines; }
    // The line of a grid row; nullptr for a draft or an empty row.
    const MonthLine* lineAt(int row) const;
    // The grid row of an employee's line; 0 when the month has none.
    int rowOf(const PersonKey& key) const;
    // The first row after the lines and the drafts: where a new employee is typed.
    int firstFreeRow() const;
    // The sums of the month as the totals row shows them (amount columns; empty for others).
    const std::array<Text, kSheetColumns>& totals() const { return m_totalTexts; }

    // Shows a month; the drafts of another month are dropped. Undo and redo stay.
    Outcome<void> show(int year, int month);
    // Shows the ledger's month to work on, or the given month (today's) while it is empty.
    Outcome<void> showStart(int year, int month);

    // The clerk's actions; each returns the ledger's report of what changed.
    // An in-place edit the grid has stored in (row, column).
    Outcome<ChangeReport> commitCell(int row, int column);
    // Clipboard text (TAB-separated rows, a spreadsheet's copy) into the clerk's columns from
    // the current cell: a row that holds an identity number is that employee's, whichever row
    // of the grid it lands on; the columns it leaves out keep the employee's entry. Rows below
    // the sheet's last row are counted, not pasted.
    Outcome<PasteReport> paste(const Text& clipboard);
    // Empties the clerk's amounts, choices and remarks in the rectangle (names and numbers of
    // employees stay) and the drafts' cells.
    Outcome<ChangeReport> clearCells(const CellRange& range);
    // Rows of a file for the month (the header first, in the ledger's names); the month's
    // employees the rows leave out keep their entries or lose them, as `missing` says.
    Outcome<ChangeReport> importRows(const std::vector<std::vector<Text>>& rows,
                                     const std::vector<std::size_t>& rowNumbers,
                                     const Progress& progress = {},
                                     Missing missing = Missing::Keep);
    // The month's lines whose employee the rows of a file (the header first) do not hold.
    std::vector<const MonthLine*> linesNotIn(const std::vector<std::vector<Text>>& rows) const;
    // The previous month's employees still employed, with their recurring deductions.
    // January's carries from December of the year before.
    Outcome<ChangeReport> copyFromPreviousMonth(bool withIncome = false);
    // Several employees' details changed at once, one step of undo.
    Outcome<ChangeReport> putEmployees(const std::vector<Employee>& employees);
    Outcome<ChangeReport> putEmployee(const Employee& employee);
    Outcome<ChangeReport> changeKey(const PersonKey& from, const PersonKey& to);
    // The employee of the row leaves before this month: their entries from this month on go and
    // the month before becomes their last; without earlier entries they are removed whole.
    bool hasEarlierMonths(int row);
    Outcome<ChangeReport> leave(int row);
    // Removes the month's entries of the rows' employees.
    Outcome<ChangeReport> removeEntries(const std::vector<int>& rows);
    // Sets the items of the groups in `itemised` (groupBit) and the donation of an employee's
    // entry of the month; the other groups keep their sums alone.
    // For an insured employee an item of 专项扣除 that changes stands as given, and one of
    // `byRules` (bits by item, 0 to 3) is the rules' again.
    Outcome<ChangeReport> setItems(const PersonKey& key, int itemised,
                                   const std::array<Exact, kItems>& items, const Exact& donation,
                                   int byRules = 0);
    // An employee's social insurance and housing fund (the city, empty for none, the bases and
    // the rates) from this month on: this month's entry, and each later open month's that had
    // what this month had, as one step of undo.
    struct Insurance {
        Text city;
        Exact socialBase, fundBase, fundRate, fundExtraRate;
        friend bool operator==(const Insurance&, const Insurance&) = default;
    };
    static Insurance insuranceOf(const Entry& e);
    Outcome<ChangeReport> setInsurance(const PersonKey& key, const Insurance& insurance);
    // Sets the taxation of an employee's bonus in the month it was paid.
    Outcome<ChangeReport> setBonusMethod(const BonusChoice& choice, BonusMethod method);
    // Opening balances: rows to import (the header first), and employees whose balances go.
    Outcome<ChangeReport> putOpenings(const std::vector<std::vector<Text>>& rows,
                                      const std::vector<std::size_t>& rowNumbers,
                                      const std::vector<PersonKey>& removed);
    // Any other action, applied, undoable and shown.
    Outcome<ChangeReport> run(Action action, const Progress& progress = {});

    // Declares or reopens the shown month (not undone by undo: a declaration is deliberate).
    Outcome<void> declare();
    Outcome<void> reopen();

    bool canUndo() const { return !m_undo.empty(); }
    // Why the month shown takes no change: it is declared.
    Text declaredMessage() const;
    // How many changes the sheet has made (undo and redo included): what was made from the
    // ledger before is stale once it grows.
    std::uint64_t changes() const { return m_changes; }
    bool canRedo() const { return !m_redo.empty(); }
    // Applies the last action's undo (or the last undo's redo), in the month it changed. A
    // refused undo stays on its list.
    Outcome<ChangeReport> undo();
    Outcome<ChangeReport> redo();

    // The warning of a cell, for the grid's colour and tooltip: an income not entered yet, an
    // identity number whose check digit fails, a non-resident's monthly method, a draft that
    // lacks what it needs.
    Text noteOf(int row, int column) const;
    // What the check of a year found: the 姓名 cell of each such employee's line of a month
    // says what is not as it must be.
    void setDamage(int year, std::vector<CheckReport::Difference> differences);

    static constexpr std::size_t kUndoSteps = 100;

private:
    int m_damageYear = 0;
    std::vector<CheckReport::Difference> m_damage;
    using Draft = std::array<Text, kLastInputColumn + 1>;

    void fillRow(int row, const MonthLine& line);
    void fillDraft(int row, const Draft& draft);
    void fillTotals();
    void setDeclared(bool declared);
    // Reads the shown month again and lays out lines and drafts.
    Outcome<void> reload();
    // Reads back the lines of these employees (new keys after a change of key).
    Outcome<void> reloadLines(const std::vector<PersonKey>& keys);
    Outcome<void> refreshAfter(const Action& action);
    // Puts an applied action's undo on the undo list; the redo list goes.
    void remember(Action inverse);
    // Drops the drafts of these rows, which an import has made lines.
    void dropDrafts(std::vector<int> rows);
    Outcome<ChangeReport> replay(std::deque<Action>& from, std::deque<Action>& to);
    // The clerk's cells of a row as they stand: a line's entry, or a draft.
    Draft inputsOf(int row) const;
    Outcome<ChangeReport> commitLineCell(int row, int column);
    Outcome<ChangeReport> commitDraft(int row);
    std::vector<Text> importRow(const Draft& inputs);
    void restoreRow(int row);

    Ledger& m_ledger;
    Grid m_grid;
    Grid m_totals;
    int m_year = 0, m_month = 0;
    bool m_declared = false;
    std::vector<int> m_declaredMonths;
    std::vector<MonthLine> m_lines;
    std::vector<std::array<std::int64_t, kSheetColumns>> m_fen; // the lines' amounts in fen
    // Identity number -> line index; -1 for a number the month holds under several types.
    std::unordered_map<std::string, int> m_lineByNumber;
    std::vector<Draft> m_drafts; // the rows after the lines
    int m_filledRows = 0;        // rows that may hold text
    std::array<Text, kSheetColumns> m_totalTexts;
    std::deque<Action> m_undo, m_redo;
    std::uint64_t m_changes = 0;
};

} // namespace iit::ledger
