// The grid model: cells, layout, current cell and selection, clipboard text.
#include "grid/grid.h"

#include "base/cell_text.h"
#include "base/convert.h"
#include "base/delimited.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

namespace iit {
namespace {

// State bits of a cell.
constexpr std::uint8_t kModified = 0x1;
constexpr std::uint8_t kReadOnly = 0x2;
// The cell lies in the selection rectangle but a paste took it out of the selection.
constexpr std::uint8_t kLeftSelection = 0x4;

// A text buffer this much larger than twice its text is given back after a store, so that
// a cell that once held a huge paste does not keep the memory.
constexpr std::size_t kKeepCapacity = 64;

const Text kEmptyText;

void trimCapacity(std::string& s) {
    if (s.capacity() > kKeepCapacity && s.capacity() / 2 > s.size()) s.shrink_to_fit();
}

CellRange unite(const CellRange& a, const CellRange& b) {
    return {std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
            std::max(a.right, b.right)};
}

void extend(std::optional<CellRange>& range, const CellRange& more) {
    range = range ? unite(*range, more) : more;
}

bool intersects(const CellRange& a, const CellRange& b) {
    return a.top <= b.bottom && b.top <= a.bottom && a.left <= b.right && b.left <= a.right;
}

// A range after a row was inserted at `at`: rows from `at` on move down one, so a range
// across the new row grows by one.
CellRange afterInsert(CellRange r, int at) {
    if (r.top >= at) ++r.top;
    if (r.bottom >= at) ++r.bottom;
    return r;
}

// A range after row `at` was removed; nullopt when it lay on that row alone.
std::optional<CellRange> afterRemove(CellRange r, int at) {
    if (r.top > at) --r.top;
    if (r.bottom >= at) --r.bottom;
    if (r.bottom < r.top) return std::nullopt;
    return r;
}

// Sets a flag for the lifetime of the guard.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagGuard() { m_flag = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& m_flag;
};

} // namespace

Grid::Grid(const GridSetup& setup) : m_setup(setup) {
    m_rows = std::max(setup.rows, 0);
    m_columns = std::max(setup.columns, 0);
    m_fixedRows = std::clamp(setup.fixedRows, 0, m_rows);
    m_fixedColumns = std::clamp(setup.fixedColumns, 0, m_columns);
    m_setup.rows = m_rows;
    m_setup.columns = m_columns;
    m_setup.fixedRows = m_fixedRows;
    m_setup.fixedColumns = m_fixedColumns;
    m_setup.rowHeight = std::max(setup.rowHeight, 0);
    m_setup.columnWidth = std::max(setup.columnWidth, 0);
    m_cells.resize(static_cast<std::size_t>(m_rows) * static_cast<std::size_t>(m_columns));
    m_rowHeights.assign(static_cast<std::size_t>(m_rows), m_setup.rowHeight);
    m_columnWidths.assign(static_cast<std::size_t>(m_columns), m_setup.columnWidth);
}

bool Grid::isEditable(int row, int column) const {
    return isValid(row, column) && !isFixed(row, column) &&
           (cell(row, column).state & kReadOnly) == 0;
}

// --- Cells ---

bool Grid::setCellData(int row, int column, const Value& value) {
    if (!isValid(row, column)) return false;
    return setText(row, column, ToText(value));
}

bool Grid::setText(int row, int column, Text text) {
    if (!isValid(row, column)) return false;
    Cell& c = cell(row, column);
    if (c.text != text) {
        willChange(row, column, c);
        c.text.bytes() = std::move(text.bytes());
        trimCapacity(c.text.bytes());
    }
    notifyChanged({row, column, row, column});
    return true;
}

std::optional<Text> Grid::cellData(int row, int column) const {
    if (!isValid(row, column)) return std::nullopt;
    return cell(row, column).text;
}

const Text& Grid::text(int row, int column) const {
    return isValid(row, column) ? cell(row, column).text : kEmptyText;
}

bool Grid::clearCells(int top, int left, int bottom, int right) {
    top = std::max(top, 0);
    left = std::max(left, 0);
    bottom = std::min(bottom, m_rows - 1);
    right = std::min(right, m_columns - 1);
    if (top > bottom || left > right) return false;
    for (int r = top; r <= bottom; ++r) {
        for (int c = left; c <= right; ++c) {
            Cell& cl = cell(r, c);
            if (cl.text.empty()) continue;
            willChange(r, c, cl); // a history takes the text over, with no copy
            cl.text.bytes().clear();
            trimCapacity(cl.text.bytes());
        }
    }
    notifyChanged({top, left, bottom, right});
    return true;
}

std::uint16_t Grid::format(int row, int column) const {
    return isValid(row, column) ? cell(row, column).format : 0;
}

bool Grid::isSelected(int row, int column) const {
    return m_selection && m_selection->contains(row, column) &&
           (cell(row, column).state & kLeftSelection) == 0;
}

bool Grid::isModified(int row, int column) const {
    return isValid(row, column) && (cell(row, column).state & kModified) != 0;
}

bool Grid::isReadOnly(int row, int column) const {
    return isValid(row, column) && (cell(row, column).state & kReadOnly) != 0;
}

bool Grid::setReadOnly(int row, int column, bool readOnly) {
    if (!isValid(row, column)) return false;
    std::uint8_t& state = cell(row, column).state;
    state = static_cast<std::uint8_t>(readOnly ? state | kReadOnly : state & ~kReadOnly);
    notifyChanged({row, column, row, column});
    return true;
}

// --- Layout ---

bool Grid::setRowHeight(int row, int height) {
    if (row < 0 || row >= m_rows) return false;
    m_rowHeights[static_cast<std::size_t>(row)] = std::max(height, 0);
    m_events.rowResized(row);
    return true;
}

bool Grid::setColumnWidth(int column, int width) {
    if (column < 0 || column >= m_columns) return false;
    m_columnWidths[static_cast<std::size_t>(column)] = std::max(width, 0);
    m_events.columnResized(column);
    return true;
}

int Grid::rowHeight(int row) const {
    return row >= 0 && row < m_rows ? m_rowHeights[static_cast<std::size_t>(row)] : 0;
}

int Grid::columnWidth(int column) const {
    return column >= 0 && column < m_columns ? m_columnWidths[static_cast<std::size_t>(column)] : 0;
}

std::optional<CellRange> Grid::formatRange(int row1, int column1, int row2, int column2) const {
    row2 = std::min(row2, m_rows - 1);
    column2 = std::min(column2, m_columns - 1);
    if (row1 < 0 || column1 < 0 || row2 < 0 || column2 < 0) return std::nullopt;
    if (row2 < row1 || column2 < column1) return std::nullopt;
    if (!isValid(row1, column1) || !isValid(row2, column2)) return std::nullopt;
    return CellRange{row1, column1, row2, column2};
}

bool Grid::setAlignment(int row1, int column1, int row2, int column2, Align align) {
    using namespace cellformat;
    const std::optional<CellRange> range = formatRange(row1, column1, row2, column2);
    if (!range) return false;
    const std::uint16_t horizontal = align == Align::Centre  ? kCentre
                                     : align == Align::Right ? kRight
                                                             : kLeft;
    for (int r = range->top; r <= range->bottom; ++r) {
        for (int c = range->left; c <= range->right; ++c) {
            std::uint16_t& f = cell(r, c).format;
            const std::uint16_t lines = (f & kWordWrap) != 0 ? kWordWrap : kSingleLine;
            f = static_cast<std::uint16_t>(horizontal | kVCentre | kNoPrefix | lines);
        }
    }
    notifyChanged(*range);
    return true;
}

bool Grid::setWordWrap(int row1, int column1, int row2, int column2, bool on) {
    using namespace cellformat;
    const std::optional<CellRange> range = formatRange(row1, column1, row2, column2);
    if (!range) return false;
    for (int r = range->top; r <= range->bottom; ++r) {
        for (int c = range->left; c <= range->right; ++c) {
            std::uint16_t& f = cell(r, c).format;
            const auto kept = static_cast<std::uint16_t>(f & ~(kWordWrap | kSingleLine | kVCentre));
            f = static_cast<std::uint16_t>(kept | (on ? kWordWrap : kSingleLine | kVCentre));
        }
    }
    notifyChanged(*range);
    return true;
}

void Grid::mergeCells(int row1, int column1, int row2, int column2) {
    if (row1 < 0 || column1 < 0 || row2 < 0 || column2 < 0) return;
    row2 = std::min(row2, m_rows - 1);
    column2 = std::min(column2, m_columns - 1);
    if (!isValid(row1, column1) || row2 < row1 || column2 < column1) return;
    if (row1 == row2 && column1 == column2) return;
    const CellRange merged{row1, column1, row2, column2};
    CellRange redraw = merged;
    std::erase_if(m_merges, [&](const CellRange& old) {
        if (!intersects(old, merged)) return false;
        redraw = unite(redraw, old);
        return true;
    });
    m_merges.push_back(merged);
    notifyChanged(redraw);
}

std::optional<CellRange> Grid::mergeAt(int row, int column) const {
    for (const CellRange& m : m_merges) {
        if (m.contains(row, column)) return m;
    }
    return std::nullopt;
}

bool Grid::insertRow(std::optional<int> before) {
    if (m_rows == INT_MAX) return false;
    const int at = before && *before >= m_fixedRows && *before < m_rows ? *before : m_rows;
    m_events.rowAboutToBeInserted(at);
    const auto offset = static_cast<std::ptrdiff_t>(at) * m_columns;
    m_cells.insert(m_cells.begin() + offset, static_cast<std::size_t>(m_columns), Cell{});
    m_rowHeights.insert(m_rowHeights.begin() + at, m_setup.rowHeight);
    ++m_rows;
    ++m_textRevision;
    for (CellRange& m : m_merges)
        m = afterInsert(m, at);
    const std::optional<CellRange> oldSelection = m_selection;
    if (m_selection) m_selection = afterInsert(*m_selection, at);
    if (m_leftSelectionArea) m_leftSelectionArea = afterInsert(*m_leftSelectionArea, at);
    if (m_pendingChange) m_pendingChange = afterInsert(*m_pendingChange, at);
    m_setup.rows = m_rows;
    m_events.rowInserted(at);
    if (m_selection != oldSelection) m_events.selectionChanged();
    return true;
}

bool Grid::deleteRow(int row) {
    if (row < 0 || row >= m_rows) return false;
    m_events.rowAboutToBeRemoved(row);
    const auto offset = static_cast<std::ptrdiff_t>(row) * m_columns;
    m_cells.erase(m_cells.begin() + offset, m_cells.begin() + offset + m_columns);
    m_rowHeights.erase(m_rowHeights.begin() + row);
    --m_rows;
    ++m_textRevision;
    if (row < m_fixedRows) --m_fixedRows;
    m_setup.rows = m_rows;
    m_setup.fixedRows = m_fixedRows;

    std::vector<CellRange> merges;
    for (const CellRange& m : m_merges) {
        const std::optional<CellRange> kept = afterRemove(m, row);
        if (kept && (kept->top != kept->bottom || kept->left != kept->right))
            merges.push_back(*kept);
    }
    m_merges = std::move(merges);

    const std::optional<CellRange> oldSelection = m_selection;
    if (m_selection) m_selection = afterRemove(*m_selection, row);
    if (m_leftSelectionArea) m_leftSelectionArea = afterRemove(*m_leftSelectionArea, row);
    // kLeftSelection bits mean something only inside a selection.
    if (!m_selection) resetSelection();
    if (m_pendingChange) m_pendingChange = afterRemove(*m_pendingChange, row);

    const int oldRow = m_currentRow;
    const int oldColumn = m_currentColumn;
    if (m_currentRow >= 0) {
        if (m_currentRow == m_rows) --m_currentRow; // it was on the last row
        if (m_currentRow < m_fixedRows) m_currentRow = m_currentColumn = -1;
    }

    m_events.rowRemoved(row);
    if (m_selection != oldSelection) m_events.selectionChanged();
    if (m_currentRow != oldRow || m_currentColumn != oldColumn) m_events.currentCellMoved();
    return true;
}

// --- Current cell and selection ---

void Grid::setCurrentCell(int row, int column) {
    if (!m_endingEdit) {
        FlagGuard guard(m_endingEdit);
        m_events.endPendingEdit();
    }
    const int oldRow = m_currentRow;
    const int oldColumn = m_currentColumn;
    clearSelection();
    m_currentRow = m_currentColumn = -1;
    if (isValid(row, column)) {
        m_currentRow = row;
        m_currentColumn = column;
    }
    if (m_currentRow != oldRow || m_currentColumn != oldColumn) m_events.currentCellMoved();
}

void Grid::resetSelection() {
    if (!m_leftSelectionArea) return;
    const CellRange area = *m_leftSelectionArea;
    m_leftSelectionArea.reset();
    for (int r = std::max(area.top, 0); r <= std::min(area.bottom, m_rows - 1); ++r) {
        for (int c = std::max(area.left, 0); c <= std::min(area.right, m_columns - 1); ++c)
            cell(r, c).state &= static_cast<std::uint8_t>(~kLeftSelection);
    }
}

void Grid::selectAll() {
    resetSelection();
    if (m_fixedRows < m_rows && m_fixedColumns < m_columns)
        m_selection = CellRange{m_fixedRows, m_fixedColumns, m_rows - 1, m_columns - 1};
    else
        m_selection.reset();
    m_events.selectionChanged();
}

bool Grid::setSelection(int row1, int column1, int row2, int column2) {
    if (!isValid(row1, column1) || !isValid(row2, column2)) return false;
    resetSelection();
    m_selection = CellRange{std::min(row1, row2), std::min(column1, column2), std::max(row1, row2),
                            std::max(column1, column2)};
    m_events.selectionChanged();
    return true;
}

void Grid::clearSelection() {
    resetSelection();
    if (!m_selection) return;
    m_selection.reset();
    m_events.selectionChanged();
}

// --- Editing and clipboard ---

bool Grid::commitEdit(int row, int column, Text text) {
    if (!isEditable(row, column)) return false;
    text = Text::fromBytes(oneLine(text.view()));
    Cell& c = cell(row, column);
    if (c.text != text) {
        willChange(row, column, c);
        c.text.bytes() = std::move(text.bytes());
        trimCapacity(c.text.bytes());
    }
    c.state |= kModified;
    notifyChanged({row, column, row, column});
    m_events.cellEditCommitted(row, column);
    return true;
}

std::optional<Text> Grid::copy() const {
    if (!m_selection) return std::nullopt;
    const CellRange s = *m_selection;
    // Rows of TAB-separated cells as spreadsheets write them: a cell that holds a quote (or a
    // TAB or a line break, which no cell keeps) is quoted, so that a paste gives the same back.
    std::string out;
    DelimitedRow cells;
    bool firstLine = true;
    for (int r = s.top; r <= s.bottom; ++r) {
        if (isRowHidden(r)) continue;
        if (!firstLine) out += "\r\n";
        firstLine = false;
        cells.clear();
        for (int c = s.left; c <= s.right; ++c)
            if (!isColumnHidden(c)) cells.emplace_back(cell(r, c).text.view());
        appendDelimitedRow(out, cells, Delimiter::Tab, "");
    }
    return Text::fromBytes(std::move(out));
}

void Grid::willChange(int row, int column, Cell& c) {
    ++m_textRevision;
    if (m_journal)
        m_journal->push_back({indexOf(row, column), (c.state & kModified) != 0, std::move(c.text)});
}

void Grid::storeText(int row, int column, Cell& c, std::string_view bytes) {
    if (c.text.view() != bytes) {
        willChange(row, column, c);
        c.text.bytes().assign(bytes.data(), bytes.size());
        trimCapacity(c.text.bytes());
    }
    c.state |= kModified;
}

PasteResult Grid::paste(const Text& clipboard) {
    PasteResult result;
    if (!isEditable(m_currentRow, m_currentColumn) || clipboard.empty()) return result;
    std::optional<CellRange> written;
    int row = m_currentRow;
    DelimitedReader reader(clipboard.view());
    DelimitedRow cells;
    while (reader.next(&cells)) {
        result.rowsRead += 1;
        while (row < m_rows && isRowHidden(row))
            ++row;
        // Rows below the grid are counted, not written: the grid never grows.
        if (row >= m_rows) {
            result.rowsLeftOut += 1;
            while (reader.next(nullptr))
                result.rowsRead += 1, result.rowsLeftOut += 1;
            break;
        }
        pasteRow(row, cells, written);
        ++row;
    }
    if (written) notifyChanged(*written);
    result.pasted = result.rowsRead > 0;
    return result;
}

void Grid::pasteRow(int row, const DelimitedRow& cells, std::optional<CellRange>& written) {
    // An empty line writes nothing but takes up its row, and a separator at the end of a line
    // gives no further cell: a paste never empties the cell after the last one it names.
    std::size_t count = cells.size();
    if (count > 0 && cells[count - 1].empty()) --count;
    int column = m_currentColumn;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& field = cells[i];
        while (column < m_columns && isColumnHidden(column))
            ++column;
        if (column >= m_columns) return; // fields past the last column are dropped
        Cell& c = cell(row, column);
        storeText(row, column, c, oneLine(field));
        if (m_selection && m_selection->contains(row, column)) {
            c.state |= kLeftSelection;
            extend(m_leftSelectionArea, {row, column, row, column});
        }
        extend(written, {row, column, row, column});
        ++column;
    }
}

// --- Undo support ---

void Grid::exchange(std::vector<CellChange>& changes, bool backwards) {
    std::optional<CellRange> range;
    auto swapOne = [&](CellChange& change) {
        if (change.cell >= m_cells.size()) return;
        Cell& c = m_cells[change.cell];
        std::swap(c.text, change.text);
        const bool wasModified = (c.state & kModified) != 0;
        c.state =
            static_cast<std::uint8_t>(change.modified ? c.state | kModified : c.state & ~kModified);
        change.modified = wasModified;
        const int row = static_cast<int>(change.cell / static_cast<std::uint32_t>(m_columns));
        const int column = static_cast<int>(change.cell % static_cast<std::uint32_t>(m_columns));
        extend(range, {row, column, row, column});
    };
    if (backwards)
        std::for_each(changes.rbegin(), changes.rend(), swapOne);
    else
        std::for_each(changes.begin(), changes.end(), swapOne);
    if (!range) return;
    ++m_textRevision;
    notifyChanged(*range);
}

// --- Notifications ---

void Grid::notifyChanged(const CellRange& range) {
    if (m_updateDepth > 0) {
        extend(m_pendingChange, range);
        return;
    }
    m_events.cellsChanged(range);
}

void Grid::endUpdate() {
    if (m_updateDepth == 0 || --m_updateDepth > 0 || !m_pendingChange) return;
    CellRange range = *m_pendingChange;
    m_pendingChange.reset();
    range.bottom = std::min(range.bottom, m_rows - 1);
    range.right = std::min(range.right, m_columns - 1);
    if (range.top <= range.bottom && range.left <= range.right) notifyChanged(range);
}

} // namespace iit
