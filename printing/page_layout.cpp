#include "printing/page_layout.h"

#include <algorithm>
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

} // namespace

PaperSize PaperOf(std::int32_t paperCode, std::int32_t orientation) {
    PaperSize p = paperCode >= 1 && paperCode <= 16 ? kPapers[paperCode - 1] : kPapers[1];
    const bool landscape = orientation == 1;
    if (landscape != (p.width > p.height)) std::swap(p.width, p.height);
    return p;
}

PageLayout LayOutPages(const PrintTable& table) {
    const PageSetup& s = table.pageSetup();
    return LayOutPages(table, PaperOf(s.paper, s.orientation));
}

PageLayout LayOutPages(const PrintTable& table, const PaperSize& paper) {
    PageLayout out;
    out.paper = paper;
    const PageSetup& setup = table.pageSetup();
    const auto margin = [&](int i) {
        return static_cast<double>(std::max(setup.margins[static_cast<std::size_t>(i)], 0));
    };
    const double printableWidth = std::max(paper.width - margin(0) - margin(2), 1.0);
    out.printableHeight = std::max(paper.height - margin(1) - margin(3), 1.0);

    const int rows = table.rowCount();
    const int columns = table.columnCount();
    out.columnEdges.resize(static_cast<std::size_t>(columns) + 1, 0.0);
    for (int c = 1; c <= columns; ++c)
        out.columnEdges[static_cast<std::size_t>(c)] =
            out.columnEdges[static_cast<std::size_t>(c - 1)] + std::max(table.columnWidth(c), 0);
    const double tableWidth = out.columnEdges.back();
    out.scale = ScaleFactor(setup.scale, tableWidth, printableWidth);
    out.left = margin(0) + std::max((printableWidth - tableWidth * out.scale) / 2, 0.0);
    out.top = margin(1);
    if (table.empty()) {
        out.pages.push_back({1, 0});
        return out;
    }

    // joined[r]: row r + 1 must print on the page of row r (index r from 1).
    std::vector<bool> merged(static_cast<std::size_t>(rows) + 1, false);
    for (const CellArea& a : table.mergedAreas())
        for (int r = a.row; r < a.lastRow(); ++r)
            merged[static_cast<std::size_t>(r)] = true;
    std::vector<bool> joined = merged;
    for (int r = std::max(rows - table.closingRows(), 1); r < rows; ++r)
        joined[static_cast<std::size_t>(r)] = true;

    const double available = out.printableHeight / out.scale; // in table lengths
    auto height = [&](int r) { return static_cast<double>(std::max(table.rowHeight(r), 0)); };

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
