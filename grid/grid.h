#pragma once
// The grid model: a rectangle of text cells behind the editable grids of the batch and
// rate-table windows.
//
// Rows and columns are numbered from 0; the first fixedRowCount() rows and
// fixedColumnCount() columns are the fixed headers, never edited in place. Each cell holds
// its text and a few format and state bits. Row heights and column widths live beside the
// cells (0 hides a row or column from copy and paste), and so do the merged rectangles,
// the current cell and one rectangular selection. copy() and paste() produce and consume
// the clipboard text (lines joined by CR LF, fields by TAB) as GBK bytes; the clipboard
// edge converts it and adds or strips the closing NUL.
//
// The model is pure C++. The batch sheet and the rate-table window drive it; a Qt view
// adapts it through a QAbstractTableModel and learns about every change through the
// signals of GridEvents, which are raised after the model is consistent again, so a
// listener may call back into the grid.
//
// Undo: while a GridHistory (grid/grid_history.h) records, every store of a cell's text
// (setText, clearCells, paste, commitEdit) first appends the cell's previous state to the
// journal the history gave the grid; exchange() puts recorded states back.

#include "base/signal.h"
#include "base/text.h"
#include "base/value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace iit {

// Text-drawing flags of a cell.
namespace cellformat {
inline constexpr std::uint16_t kLeft = 0x0;
inline constexpr std::uint16_t kCentre = 0x1;
inline constexpr std::uint16_t kRight = 0x2;
inline constexpr std::uint16_t kHorizontalMask = 0x3;
inline constexpr std::uint16_t kVCentre = 0x4;
inline constexpr std::uint16_t kWordWrap = 0x10;
inline constexpr std::uint16_t kSingleLine = 0x20;
inline constexpr std::uint16_t kNoPrefix = 0x800; // "&" is drawn as is
// What a fresh cell has: left, vertically centred, one line, no prefix processing.
inline constexpr std::uint16_t kDefault = kLeft | kVCentre | kSingleLine | kNoPrefix;
} // namespace cellformat

// The horizontal alignment of a cell's text.
enum class Align { Left, Centre, Right };

// An inclusive rectangle of cells.
struct CellRange {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;

    bool contains(int row, int column) const {
        return row >= top && row <= bottom && column >= left && column <= right;
    }
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

// The shape and look a grid is created with (the values of its window template).
struct GridSetup {
    int rows = 0;
    int columns = 0;
    int fixedRows = 0;
    int fixedColumns = 0;
    int rowHeight = 24;   // pixels
    int columnWidth = 80; // pixels
    // 0x00BBGGRR colours, for the view.
    std::uint32_t gridLineColour = 0xC0C0C0;
    std::uint32_t background = 0xFFFFFF;
    std::uint32_t textColour = 0x000000;
};

// The events of a grid. Each is a Signal: the view, the window and the print preview each
// connect their own listener and keep the Connection for as long as they listen.
struct GridEvents {
    // Asked before the current cell moves, so that a view with an edit in progress stores
    // it through commitEdit() while the current cell is still the edited one.
    Signal<> endPendingEdit;
    Signal<> currentCellMoved;
    // An in-place edit was stored into (row, column).
    Signal<int, int> cellEditCommitted;
    // Texts, format or state bits of the rectangle changed; one raise per operation.
    Signal<const CellRange&> cellsChanged;
    Signal<> selectionChanged;
    Signal<int> rowResized;    // the row's number
    Signal<int> columnResized; // the column's number
    // Around insertRow() and deleteRow(), with the row's number.
    Signal<int> rowAboutToBeInserted;
    Signal<int> rowInserted;
    Signal<int> rowAboutToBeRemoved;
    Signal<int> rowRemoved;
};

// What a paste did: nothing without an editable current cell or a text; else how many rows the
// text held and how many of them fell below the grid and were left out.
struct PasteResult {
    bool pasted = false;
    std::size_t rowsRead = 0;
    std::size_t rowsLeftOut = 0;
    explicit operator bool() const { return pasted; }
};

// The state a cell had before a change, as an undo history keeps it (grid/grid_history.h):
// the cell's index (row * columnCount() + column), its modified bit and its text.
struct CellChange {
    std::uint32_t cell = 0;
    bool modified = false;
    Text text;
};

class Grid {
public:
    // Negative counts are taken as 0 and fixed counts are limited to the grid's size.
    explicit Grid(const GridSetup& setup);

    int rowCount() const { return m_rows; }
    int columnCount() const { return m_columns; }
    int fixedRowCount() const { return m_fixedRows; }
    int fixedColumnCount() const { return m_fixedColumns; }
    const GridSetup& setup() const { return m_setup; }

    bool isValid(int row, int column) const {
        return row >= 0 && row < m_rows && column >= 0 && column < m_columns;
    }
    bool isFixed(int row, int column) const { return row < m_fixedRows || column < m_fixedColumns; }
    // A valid cell that is neither fixed nor read-only: it can be edited in place and can
    // be the origin of a paste.
    bool isEditable(int row, int column) const;

    // --- Cells ---

    // Stores the value as text (numbers as ToText writes them). An invalid cell gives
    // false and changes nothing.
    bool setCellData(int row, int column, const Value& value);
    bool setText(int row, int column, Text text);
    // A copy of the cell's text; nullopt for an invalid cell.
    std::optional<Text> cellData(int row, int column) const;
    // The cell's text without a copy; the empty text for an invalid cell.
    const Text& text(int row, int column) const;
    // Empties every cell of the rectangle, clipped to the grid, with one notification.
    // False when the clipped rectangle is empty.
    bool clearCells(int top, int left, int bottom, int right);

    std::uint16_t format(int row, int column) const; // 0 for an invalid cell
    bool isSelected(int row, int column) const;
    bool isModified(int row, int column) const;
    bool isReadOnly(int row, int column) const;
    bool setReadOnly(int row, int column, bool readOnly);

    // --- Layout ---

    // False for a row or column outside the grid; a negative size is taken as 0 (hidden).
    bool setRowHeight(int row, int height);
    bool setColumnWidth(int column, int width);
    int rowHeight(int row) const;      // 0 for an invalid row
    int columnWidth(int column) const; // 0 for an invalid column
    bool isRowHidden(int row) const { return rowHeight(row) == 0; }
    bool isColumnHidden(int column) const { return columnWidth(column) == 0; }

    // row2 and column2 are first reduced to the last row and column; false when a bound is
    // negative, the range is inverted or (row1, column1) is outside the grid. Every cell
    // then becomes vertically centred without prefix processing and aligned as `align` says;
    // word wrap stays, a cell without it becomes single line.
    bool setAlignment(int row1, int column1, int row2, int column2, Align align);
    bool setAlignment(int row, int column, Align align) {
        return setAlignment(row, column, row, column, align);
    }
    // Same range rules. On: word wrap, not vertically centred. Off: single line, vertically
    // centred. The horizontal alignment stays.
    bool setWordWrap(int row1, int column1, int row2, int column2, bool on);
    bool setWordWrap(int row, int column, bool on) {
        return setWordWrap(row, column, row, column, on);
    }

    // Draws the rectangle as one cell showing its top-left text; merges it overlaps are
    // dropped. The range is clipped to the grid; a negative bound, an inverted or a
    // single-cell range does nothing.
    void mergeCells(int row1, int column1, int row2, int column2);
    std::optional<CellRange> mergeAt(int row, int column) const;
    const std::vector<CellRange>& merges() const { return m_merges; }

    // Inserts an empty row before `before` when that is a non-fixed row, else appends one.
    // The current cell keeps its position.
    bool insertRow(std::optional<int> before = std::nullopt);
    // Removes the row (a fixed one lowers the fixed row count). The current cell keeps its
    // row number, moves up one when it was on the last row and becomes none when it ends
    // on a fixed row. False for a row outside the grid.
    bool deleteRow(int row);

    // --- Current cell and selection ---

    // Clears the selection and the current cell, then makes a valid cell current (an
    // invalid one leaves none). currentCellMoved is raised only when the position changed.
    void setCurrentCell(int row, int column);
    int currentRow() const { return m_currentRow; }
    int currentColumn() const { return m_currentColumn; }

    // From (fixed rows, fixed columns) to the last cell; none when the grid has no
    // non-fixed cell.
    void selectAll();
    // The rectangle spanned by two valid corners in any order; false (and no change) when
    // a corner is outside the grid.
    bool setSelection(int row1, int column1, int row2, int column2);
    void clearSelection();
    const std::optional<CellRange>& selection() const { return m_selection; }

    // --- Editing and clipboard ---

    // Stores the text of an in-place edit into an editable cell (on one line: TABs and line
    // breaks become spaces), marks it modified and raises cellEditCommitted. False (and
    // nothing stored) for any other cell.
    bool commitEdit(int row, int column, Text text);

    // The selection as clipboard text: hidden rows and columns skipped, TAB between
    // fields, CR LF between lines, no closing NUL, a cell quoted as spreadsheets quote it
    // (base/delimited.h). nullopt when nothing is selected.
    std::optional<Text> copy() const;
    // Writes clipboard text into the grid from the current cell, which must be editable, split
    // by the delimited-text grammar (base/delimited.h: TABs, or commas with the one-column
    // copy of formatted amounts kept whole; spreadsheet quoting; control characters dropped).
    // A cell keeps one line: TABs and line breaks inside a quoted cell become spaces. Hidden
    // rows and columns are skipped; fields beyond the last column are dropped and rows below
    // the grid counted. Written cells become modified and leave the selection.
    PasteResult paste(const Text& clipboard);

    GridEvents& events() { return m_events; }

    // --- Undo support (for GridHistory) ---

    // While a journal is set, every change of a cell's text first appends the cell's previous
    // state (text and modified bit) to it; a store that leaves the text as it was appends
    // nothing, since the modified bit alone is not seen.
    void setJournal(std::vector<CellChange>* journal) { m_journal = journal; }
    std::vector<CellChange>* journal() const { return m_journal; }
    // Swaps each recorded state with the cell's present one, the last change first when
    // `backwards` (undo) and the first change first otherwise (redo); afterwards `changes`
    // holds the states they replaced. One cellsChanged for all; nothing is journaled.
    void exchange(std::vector<CellChange>& changes, bool backwards);
    // Counts the changes of cell texts and of the rows: equal revisions mean equal texts.
    std::uint64_t textRevision() const { return m_textRevision; }

    // Gathers the cellsChanged notifications of many operations into one, raised when the
    // outermost scope ends: for calculations that write thousands of cells.
    class UpdateScope {
    public:
        explicit UpdateScope(Grid& grid) : m_grid(grid) { ++m_grid.m_updateDepth; }
        ~UpdateScope() { m_grid.endUpdate(); }
        UpdateScope(const UpdateScope&) = delete;
        UpdateScope& operator=(const UpdateScope&) = delete;

    private:
        Grid& m_grid;
    };

private:
    struct Cell {
        Text text;
        std::uint16_t format = cellformat::kDefault;
        std::uint8_t state = 0;
    };

    Cell& cell(int row, int column) {
        return m_cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(m_columns) +
                       static_cast<std::size_t>(column)];
    }
    const Cell& cell(int row, int column) const {
        return m_cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(m_columns) +
                       static_cast<std::size_t>(column)];
    }

    std::optional<CellRange> formatRange(int row1, int column1, int row2, int column2) const;
    std::uint32_t indexOf(int row, int column) const {
        return static_cast<std::uint32_t>(row) * static_cast<std::uint32_t>(m_columns) +
               static_cast<std::uint32_t>(column);
    }
    // Journals the cell's state before it changes (when a history records) and counts the
    // change.
    void willChange(int row, int column, Cell& c);
    void storeText(int row, int column, Cell& c, std::string_view bytes);
    void pasteRow(int row, const std::vector<std::string>& cells,
                  std::optional<CellRange>& written);
    void resetSelection();
    void notifyChanged(const CellRange& range);
    void endUpdate();

    GridSetup m_setup;
    int m_rows = 0;
    int m_columns = 0;
    int m_fixedRows = 0;
    int m_fixedColumns = 0;
    std::vector<Cell> m_cells; // row by row
    std::vector<int> m_rowHeights;
    std::vector<int> m_columnWidths;
    std::vector<CellRange> m_merges;
    int m_currentRow = -1;
    int m_currentColumn = -1;
    std::optional<CellRange> m_selection;
    // Bounds the cells whose kLeftSelection bit may be set, so that a new selection clears
    // only those instead of every cell.
    std::optional<CellRange> m_leftSelectionArea;
    GridEvents m_events;
    std::vector<CellChange>* m_journal = nullptr;
    std::uint64_t m_textRevision = 0;
    bool m_endingEdit = false;
    int m_updateDepth = 0;
    std::optional<CellRange> m_pendingChange;
};

} // namespace iit
