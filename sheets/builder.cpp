// The sheet builder: row cap, row numbers and memory bounds for every reader.
#include "sheets/builder.h"

#include <algorithm>

namespace iit::sheets {

SheetBuilder::SheetBuilder(const ReadOptions& options)
    : m_cap(options.rowCap), m_onRow(options.onRow) {}

void SheetBuilder::beginRow(std::size_t number) {
    if (m_rowOpen) endRow();
    m_row = number;
    m_rowOpen = true;
    m_rowHasCells = false;
    m_current.number = number;
    m_current.cells.clear();
    // Rows of one sheet are mostly alike: room for as many cells as the last row stored saves
    // the row's growth cell by cell (a slot counts against the bound only when it is used).
    m_current.cells.reserve(m_lastWidth);
}

Outcome<void> SheetBuilder::setCell(std::size_t column, Cell cell) {
    if (column >= kMaxColumns) return tooLarge("列号超过 XFD");
    if (cell.text.size() > kMaxCellBytes) return tooLarge("单元格的文字过长");
    if (cell.empty()) return {};
    m_rowHasCells = true;
    if (!storing()) return {};
    m_textBytes += cell.text.size();
    if (m_textBytes > kMaxTextBytes) return tooLarge("单元格的文字总量过大");
    std::vector<Cell>& cells = m_current.cells;
    if (column >= cells.size()) {
        const std::size_t grow = column + 1 - cells.size();
        if (m_slots + grow > kMaxCellSlots) return tooLarge("单元格过多");
        m_slots += grow;
        cells.resize(column + 1);
    }
    cells[column] = std::move(cell);
    return {};
}

void SheetBuilder::endRow() {
    if (!m_rowOpen) return;
    m_rowOpen = false;
    if (!m_rowHasCells) return;
    ++m_seen;
    if (!storing()) {
        m_more = true;
        return;
    }
    m_lastWidth = m_current.cells.size();
    ++m_kept;
    if (m_onRow) {
        // A row handed over is held no longer: the bounds count the cells held at once.
        for (const Cell& c : m_current.cells)
            m_textBytes -= std::min(m_textBytes, c.text.size());
        m_slots -= std::min(m_slots, m_current.cells.size());
        m_onRow(m_current);
        m_current.cells.clear();
        return;
    }
    m_stored.push_back(std::move(m_current));
    m_current = SheetRow();
}

void SheetBuilder::problem(std::size_t column, std::string_view message) {
    if (!m_rowOpen || !storing()) return;
    m_problems.push_back({m_row, cellName(column, m_row) + "：" + std::string(message)});
}

Sheet SheetBuilder::finish(std::string name) {
    endRow();
    Sheet sheet;
    sheet.name = std::move(name);
    sheet.rows = std::move(m_stored);
    sheet.problems = std::move(m_problems);
    sheet.more = m_more;
    sheet.rowsSeen = m_seen;
    return sheet;
}

Problem tooLarge(std::string_view what) {
    return fail(sysText("表格文件过大或已损坏：") + Text::fromUtf8(what));
}

} // namespace iit::sheets
