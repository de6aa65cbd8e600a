#include "printing/page_layout.h"

#include "printing/cell_text.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace iit::printing {
namespace {

// Paper sizes of the paper codes 1 to 16, in tenths of a millimetre, portrait.
constexpr PaperSize kPapers[] = {
    {2970, 4200}, // 1 A3
    {2100, 2970}, // 2 A4
    {1480, 2100}, // 3 A5
    {2500, 3530}, // 4 B4
    {1760, 2500}, // 5 B5
    {2150, 2750}, // 6 Quarto
    {1460, 2150}, // 7 PRC 16K
    {970, 1510},  // 8 PRC 32K
    {2159, 2794}, // 9 Letter
    {2159, 3556}, // 10 Legal
    {1841, 2667}, // 11 Executive
    {1397, 2159}, // 12 Statement
    {2794, 4318}, // 13 Tabloid
    {2159, 2794}, // 14 Note
    {4318, 2794}, // 15 Ledger (landscape by nature)
    {2159, 3302}, // 16 Folio
};

// The page number is set at the size of the table's body, within these bounds (6 and 10
// points, in tenths of a millimetre), in the middle of a bottom margin at least this many
// ems high.
constexpr double kSmallestNumber = 6 * 254.0 / 72.0;
constexpr double kLargestNumber = 10 * 254.0 / 72.0;
constexpr double kNumberBand = 2.2;

// The heights of the rows, grown where a cell's text needs more lines than its row holds, but
// not past `limit` (a page). Cells of areas that span rows keep the heights they have.
std::vector<double> rowHeightsOf(const PrintTable& table, const std::vector<CellArea>& areas,
                                 const std::vector<double>& columnEdges, const TextMeasure* measure,
                                 double limit) {
    const int rows = table.rowCount();
    const int columns = table.columnCount();
    std::vector<double> heights(static_cast<std::size_t>(rows));
    for (int r = 1; r <= rows; ++r)
        heights[static_cast<std::size_t>(r - 1)] = std::max(table.rowHeight(r), 0);
    if (!measure) return heights;
    // lastColumn[i]: the last column of the area cell i opens; 0 for a cell inside an area,
    // -1 for a cell of an area spanning rows.
    std::vector<int> lastColumn(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
    auto at = [&](int r, int c) {
        return static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns) +
               static_cast<std::size_t>(c - 1);
    };
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= columns; ++c)
            lastColumn[at(r, c)] = c;
    for (const CellArea& a : areas)
        for (int r = a.row; r <= a.lastRow(); ++r)
            for (int c = a.column; c <= a.lastColumn(); ++c)
                lastColumn[at(r, c)] = a.rows > 1 ? -1 : (c == a.column ? a.lastColumn() : 0);
    for (int r = 1; r <= rows; ++r) {
        double& height = heights[static_cast<std::size_t>(r - 1)];
        for (int c = 1; c <= columns; ++c) {
            const int last = lastColumn[at(r, c)];
            const PrintCell& cell = table.cell(r, c);
            if (last <= 0 || cell.text.empty()) continue;
            const double width = columnEdges[static_cast<std::size_t>(last)] -
                                 columnEdges[static_cast<std::size_t>(c - 1)];
            height =
                std::max(height, std::min(std::ceil(heightWanted(cell, width, *measure)), limit));
        }
    }
    return heights;
}

} // namespace

std::string pageNumberText(int page, int pages) {
    return "第 " + std::to_string(page) + " 页 共 " + std::to_string(pages) + " 页";
}

PaperSize paperOf(Paper paper, Orientation orientation) {
    const std::int32_t code = static_cast<std::int32_t>(paper);
    PaperSize p = code >= 1 && code <= 16 ? kPapers[code - 1] : kPapers[1];
    const bool landscape = orientation == Orientation::Landscape;
    if (landscape != (p.width > p.height)) std::swap(p.width, p.height);
    return p;
}

PageLayout layOutPages(const PrintTable& table, const TextMeasure* measure) {
    const PageSetup& s = table.pageSetup();
    return layOutPages(table, paperOf(s.paper, s.orientation), measure);
}

PageLayout layOutPages(const PrintTable& table, const PaperSize& paper,
                       const TextMeasure* measure) {
    PageLayout out;
    out.paper = paper;
    const PageSetup& setup = table.pageSetup();
    const auto margin = [&](int i) {
        return static_cast<double>(std::max(setup.margins[static_cast<std::size_t>(i)], 0));
    };
    const double printableWidth = std::max(paper.width - margin(0) - margin(2), 1.0);

    const int rows = table.rowCount();
    const int columns = table.columnCount();
    out.columnEdges.resize(static_cast<std::size_t>(columns) + 1, 0.0);
    for (int c = 1; c <= columns; ++c)
        out.columnEdges[static_cast<std::size_t>(c)] =
            out.columnEdges[static_cast<std::size_t>(c - 1)] + std::max(table.columnWidth(c), 0);
    const double tableWidth = out.columnEdges.back();
    out.scale = scaleFactor(setup.scale, tableWidth, printableWidth);
    out.left = margin(0) + std::max((printableWidth - tableWidth * out.scale) / 2, 0.0);
    out.top = margin(1);

    // The page number, in the font of the first body row.
    const int bodyRow = std::min(table.headerRows() + 1, rows);
    if (bodyRow >= 1 && columns >= 1) {
        out.numberFont = table.cell(bodyRow, 1).fontName;
        out.numberEm = cellEm(table.cell(bodyRow, 1)) * out.scale;
    }
    out.numberEm = std::clamp(out.numberEm, kSmallestNumber, kLargestNumber);
    const double band = std::max(margin(3), kNumberBand * out.numberEm);
    out.numberX = out.left + tableWidth * out.scale / 2;
    out.numberY = paper.height - band / 2;
    out.printableHeight = std::max(paper.height - margin(1) - band, 1.0);

    const double available = out.printableHeight / out.scale; // in table lengths
    const std::vector<CellArea> areas = table.mergedAreas();
    out.rowHeights = rowHeightsOf(table, areas, out.columnEdges, measure, available);
    if (table.empty()) {
        out.pages.push_back({1, 0});
        return out;
    }

    // joined[r]: row r + 1 must print on the page of row r (index r from 1).
    std::vector<bool> merged(static_cast<std::size_t>(rows) + 1, false);
    for (const CellArea& a : areas)
        for (int r = a.row; r < a.lastRow(); ++r)
            merged[static_cast<std::size_t>(r)] = true;
    std::vector<bool> joined = merged;
    for (int r = std::max(rows - table.closingRows(), 1); r < rows; ++r)
        joined[static_cast<std::size_t>(r)] = true;

    auto height = [&](int r) { return out.rowHeight(r); };

    int header = std::min(table.headerRows(), rows);
    while (header > 0 && header < rows && merged[static_cast<std::size_t>(header)])
        ++header;
    double headerHeight = 0;
    for (int r = 1; r <= header; ++r)
        headerHeight += height(r);
    // Header rows that leave no room for a body row print once, as body rows.
    const bool repeat = header > 0 && headerHeight < available;
    out.headerRows = repeat ? header : 0;
    const double room = repeat ? available - headerHeight : available;

    int r = out.headerRows + 1;
    if (r > rows) {
        out.pages.push_back({r, r - 1});
        return out;
    }
    PageRows page{r, r - 1};
    double used = 0;
    while (r <= rows) {
        // The block of rows that must stay together, cut where it cannot fit any page.
        int end = r;
        double blockHeight = height(r);
        while (end < rows && joined[static_cast<std::size_t>(end)] &&
               blockHeight + height(end + 1) <= room)
            blockHeight += height(++end);
        if (page.count() > 0 && used + blockHeight > room) {
            out.pages.push_back(page);
            page = {r, r - 1};
            used = 0;
        }
        page.last = end;
        used += blockHeight;
        r = end + 1;
    }
    out.pages.push_back(page);
    return out;
}

} // namespace iit::printing
