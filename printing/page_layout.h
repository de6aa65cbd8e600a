#pragma once
// The page layout of a print table: which rows go on which page, at what scale and where.
//
// A pure function of the table (its row heights, column widths, merged areas, header and
// closing rows, and page settings) and the paper size, cheap enough for the preview to call
// on every change of its settings. All lengths are tenths of a millimetre: the table's row
// heights and column widths, the margins, the paper. The scale maps table lengths to paper
// lengths (fonts scale with it).
//
// Every page starts with the header rows; the other rows follow in order, a page holding as
// many as fit. Rows joined by a merged area stay on one page, and the closing rows stay on the
// page of the row before them. The header rows are raised until no merged area crosses their
// end; when they alone would fill a page they print once, on the first page.
//
// With a TextMeasure, a row grows where a cell's text needs a second line (cell_text.h), and
// the page breaks follow the grown rows. Below the table every page carries its number,
// "第 N 页 共 M 页", in the bottom margin (which grows where it is too small to hold it).

#include "printing/print_table.h"

#include <string>
#include <vector>

namespace iit::printing {

struct PaperSize {
    double width = 2100; // tenths of a millimetre
    double height = 2970;
};

// The size of a paper, turned for the orientation; papers the list does not have (the printer's
// default, platform numbers) give A4.
PaperSize paperOf(Paper paper, Orientation orientation);

struct PageRows {
    int first = 1; // the body rows of the page, inclusive; first > last on a page without
    int last = 0;  // body rows
    int count() const { return last >= first ? last - first + 1 : 0; }
    friend bool operator==(const PageRows&, const PageRows&) = default;
};

struct PageLayout {
    PaperSize paper;
    double scale = 1;                // paper length per table length
    double left = 0, top = 0;        // the table's top-left corner on the paper
    double printableHeight = 0;      // paper height inside the margins and the page number
    int headerRows = 0;              // rows 1 to headerRows open every page
    std::vector<PageRows> pages;     // at least one
    std::vector<double> columnEdges; // x of each column's left edge and of the last right edge
    std::vector<double> rowHeights;  // of each row as it prints (from row 1), in table lengths

    // The page number: its font (that of the table's body), its em on the paper, and the
    // middle of its line.
    Text numberFont;
    double numberEm = 0;
    double numberX = 0, numberY = 0;

    int pageCount() const { return static_cast<int>(pages.size()); }
    double rowHeight(int row) const { return rowHeights[static_cast<std::size_t>(row - 1)]; }
};

class TextMeasure;

// `measure`: rows grow where their texts need it; without it rows keep the table's heights.
PageLayout layOutPages(const PrintTable& table, const PaperSize& paper,
                       const TextMeasure* measure = nullptr);
// With the paper of the table's page settings.
PageLayout layOutPages(const PrintTable& table, const TextMeasure* measure = nullptr);

// "第 N 页 共 M 页", pages from 1.
std::string pageNumberText(int page, int pages);

} // namespace iit::printing
