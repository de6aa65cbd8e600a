#pragma once
// What every reader fills a sheet through: rows in increasing order, cells by column. It applies
// the row cap (rows past it are only counted) and the bounds that keep a hostile file from
// claiming unbounded memory: columns up to XFD, a cell's text up to kMaxCellBytes, at most
// kMaxCellSlots cells and kMaxTextBytes of text stored in all.

#include "sheets/sheet.h"

#include <optional>

namespace iit::sheets {

constexpr std::size_t kMaxRows = 1048576;     // the last row of a worksheet
constexpr std::size_t kMaxColumns = 16384;    // XFD
constexpr std::size_t kMaxCellBytes = 131072; // 32,767 characters of up to 4 UTF-8 bytes
// 120,000 rows of 17 columns are 2.04 million cells; twice that is still about 200 MB.
constexpr std::size_t kMaxCellSlots = 4u << 20;
// The texts of the cells stored, together: such a sheet holds about 25 MB of them. Without the
// bound one long shared string referenced by every cell would claim gigabytes.
constexpr std::size_t kMaxTextBytes = 256u << 20;

class SheetBuilder {
public:
    explicit SheetBuilder(const ReadOptions& options);

    // Starts the row `number` (from 1); rows come in increasing order.
    void beginRow(std::size_t number);
    // Sets the cell in `column` (from 0) of the current row; an empty cell changes nothing.
    // Fails when the cell breaks a bound.
    Outcome<void> setCell(std::size_t column, Cell cell);
    // Ends the current row.
    void endRow();
    // True when the current row's cells are being stored (the cap not reached yet).
    bool storing() const { return m_kept < m_cap; }

    // A problem of the cell in `column` of the current row, when that row is stored.
    void problem(std::size_t column, std::string_view message);

    Sheet finish(std::string name);

private:
    std::size_t m_cap;
    std::function<void(SheetRow&)> m_onRow; // ReadOptions::onRow
    std::size_t m_kept = 0;                 // rows stored or handed over
    std::size_t m_row = 0;
    bool m_rowOpen = false;
    bool m_rowHasCells = false;
    SheetRow m_current;
    std::size_t m_lastWidth = 0; // cells of the last row stored: the next row likely has as many
    std::vector<SheetRow> m_stored;
    std::vector<RowProblem> m_problems;
    std::size_t m_slots = 0;
    std::size_t m_textBytes = 0;
    std::size_t m_seen = 0;
    bool m_more = false;
};

// The problem of a file that breaks a bound: far too large or hostile.
Problem tooLarge(std::string_view what);

} // namespace iit::sheets
