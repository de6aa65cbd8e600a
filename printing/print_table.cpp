#include "printing/print_table.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace iit::printing {
namespace {

// A template is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxTemplateBytes = 64u << 20;

} // namespace

double scaleFactor(std::int32_t scaleCode, double tableWidth, double printableWidth) {
    const double fit = tableWidth > 0 && printableWidth > 0 ? printableWidth / tableWidth : 1.0;
    if (scaleCode == -1) return fit;
    if (scaleCode == -2) return tableWidth > printableWidth ? fit : 1.0;
    if (scaleCode <= 0) return 1.0; // 0, and codes the list does not have
    if (scaleCode < 20) return 0.2;
    return std::min(scaleCode, 1000) / 100.0;
}

Alignment alignmentOf(std::uint32_t format) {
    const std::uint32_t code = format & kAlignMask;
    if (code < 1 || code > 14) return {};
    if (code >= 13) return {HAlign::Spread, code == 13 ? VAlign::Middle : VAlign::Top, false};
    static constexpr HAlign kColumn[] = {HAlign::Left, HAlign::Centre, HAlign::Right};
    const std::uint32_t band = (code - 1) / 3;
    const VAlign vertical = band < 2 ? VAlign::Middle : band == 2 ? VAlign::Top : VAlign::Bottom;
    return {kColumn[(code - 1) % 3], vertical, band != 0};
}

bool PrintTable::load(const std::filesystem::path& file) {
    clear();
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxTemplateBytes) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return loadBytes(bytes);
}

bool PrintTable::loadBytes(std::string_view bytes) {
    clear();
    std::optional<PrintTemplate> t = decodePrintTemplate(bytes);
    if (!t) return false;
    m_rowHeights = std::move(t->rowHeights);
    m_columnWidths = std::move(t->columnWidths);
    m_cells = std::move(t->cells);
    m_page.margins = t->page.margins;
    m_page.paper = t->page.paper;
    m_page.orientation = t->page.orientation;
    m_page.copies = t->page.copies;
    m_page.scale = t->page.scale;
    return true;
}

void PrintTable::clear() {
    *this = PrintTable();
}

bool PrintTable::insertRows(int before, int count) {
    if (count < 1 || before < 1) return false;
    const int rows = rowCount();
    before = std::min(before, rows + 1);
    const int model = before <= rows ? before : rows; // the row whose format the new ones take
    const std::size_t columns = m_columnWidths.size();

    std::vector<PrintCell> fresh(columns);
    for (std::size_t c = 0; c < columns && model >= 1; ++c) {
        const PrintCell& from = cell(model, static_cast<int>(c) + 1);
        PrintCell& to = fresh[c];
        to = from;
        to.text = Text();
        // Inside a vertically merged area (the model row is joined to the row above) the new
        // row joins it; anywhere else it starts unmerged.
        const bool inside = before <= rows && (from.format & kMergeUp) != 0 && model > 1 &&
                            (cell(model - 1, static_cast<int>(c) + 1).format & kMergeDown) != 0;
        to.format &= inside ? ~0u : ~kMergeMask;
        if (inside) to.format |= kMergeUp | kMergeDown;
    }

    const std::int32_t height = model >= 1 ? rowHeight(model) : 0;
    m_rowHeights.insert(m_rowHeights.begin() + (before - 1), static_cast<std::size_t>(count),
                        height);
    // One insertion of count rows: the rows below move once.
    const auto at = m_cells.begin() + static_cast<std::ptrdiff_t>(index(before, 1));
    m_cells.insert(at, static_cast<std::size_t>(count) * columns, PrintCell{});
    for (int r = 0; r < count; ++r)
        std::copy(fresh.begin(), fresh.end(),
                  m_cells.begin() + static_cast<std::ptrdiff_t>(index(before + r, 1)));
    return true;
}

bool PrintTable::setText(int row, int column, Text text) {
    if (!isValid(row, column)) return false;
    cell(row, column).text = std::move(text);
    return true;
}

bool PrintTable::clip(int& row, int& column, int& rows, int& columns) const {
    if (rows < 1 || columns < 1) return false;
    const long long lastRow =
        std::min<long long>(static_cast<long long>(row) + rows - 1, rowCount());
    const long long lastColumn =
        std::min<long long>(static_cast<long long>(column) + columns - 1, columnCount());
    row = std::max(row, 1);
    column = std::max(column, 1);
    if (lastRow < row || lastColumn < column) return false;
    rows = static_cast<int>(lastRow - row + 1);
    columns = static_cast<int>(lastColumn - column + 1);
    return true;
}

bool PrintTable::merge(int row, int column, int rows, int columns) {
    if (!clip(row, column, rows, columns) || (rows == 1 && columns == 1)) return false;
    const int lastRow = row + rows - 1;
    const int lastColumn = column + columns - 1;
    // Areas the rectangle overlaps are dissolved first.
    for (const CellArea& a : mergedAreas()) {
        if (a.row > lastRow || a.lastRow() < row || a.column > lastColumn ||
            a.lastColumn() < column)
            continue;
        for (int r = a.row; r <= a.lastRow(); ++r)
            for (int c = a.column; c <= a.lastColumn(); ++c)
                cell(r, c).format &= ~kMergeMask;
    }
    // Stray marks of neighbours pointing into the rectangle let go as well.
    for (int c = column; c <= lastColumn; ++c) {
        if (row > 1) cell(row - 1, c).format &= ~kMergeDown;
        if (lastRow < rowCount()) cell(lastRow + 1, c).format &= ~kMergeUp;
    }
    for (int r = row; r <= lastRow; ++r) {
        if (column > 1) cell(r, column - 1).format &= ~kMergeRight;
        if (lastColumn < columnCount()) cell(r, lastColumn + 1).format &= ~kMergeLeft;
    }
    for (int r = row; r <= lastRow; ++r)
        for (int c = column; c <= lastColumn; ++c) {
            std::uint32_t& f = cell(r, c).format;
            f &= ~kMergeMask;
            if (c > column) f |= kMergeLeft;
            if (c < lastColumn) f |= kMergeRight;
            if (r > row) f |= kMergeUp;
            if (r < lastRow) f |= kMergeDown;
        }
    return true;
}

bool PrintTable::setAlignment(int row, int column, int rows, int columns, int code) {
    if (code < 1 || code > 14 || !clip(row, column, rows, columns)) return false;
    for (int r = row; r < row + rows; ++r)
        for (int c = column; c < column + columns; ++c) {
            std::uint32_t& f = cell(r, c).format;
            f = (f & ~kAlignMask) | static_cast<std::uint32_t>(code);
        }
    return true;
}

std::vector<CellArea> PrintTable::mergedAreas() const {
    std::vector<CellArea> areas;
    const int rows = rowCount();
    const int columns = columnCount();
    std::vector<bool> covered(m_cells.size(), false);
    auto joinedRight = [&](int r, int c) {
        return c < columns && (cell(r, c).format & kMergeRight) &&
               (cell(r, c + 1).format & kMergeLeft) && !covered[index(r, c + 1)];
    };
    auto joinedDown = [&](int r, int c) {
        return r < rows && (cell(r, c).format & kMergeDown) && (cell(r + 1, c).format & kMergeUp) &&
               !covered[index(r + 1, c)];
    };
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= columns; ++c) {
            if (covered[index(r, c)]) continue;
            const std::uint32_t f = cell(r, c).format;
            if (!(f & (kMergeRight | kMergeDown))) continue;
            CellArea a{r, c, 1, 1};
            while (joinedRight(r, a.lastColumn()))
                ++a.columns;
            // Grows down while the whole next row of the area is joined to it.
            for (;;) {
                const int below = a.lastRow();
                bool all = true;
                for (int cc = a.column; cc <= a.lastColumn() && all; ++cc)
                    all = joinedDown(below, cc);
                if (!all) break;
                ++a.rows;
            }
            if (a.rows == 1 && a.columns == 1) continue;
            for (int rr = a.row; rr <= a.lastRow(); ++rr)
                for (int cc = a.column; cc <= a.lastColumn(); ++cc)
                    covered[index(rr, cc)] = true;
            areas.push_back(a);
        }
    return areas;
}

} // namespace iit::printing
