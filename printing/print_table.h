#pragma once
// The print table: what is printed, as rows and columns of cells.
//
// Printing loads the table from the template file, fills it from the batch grid
// (tax_payment_table.h), applies the page settings, and hands it to the page layout
// (page_layout.h), which the drawing (table_painter.h) and the print engine follow page by
// page. The table is pure data: cells with their text, format word, colour, font and size
// (print_template.h gives the bits), row heights and column widths in tenths of a millimetre,
// the number of header rows printed at the top of every page, and the number of closing rows
// (totals, signatures) kept on the page of the row before them.

#include "base/text.h"
#include "printing/print_template.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace iit::printing {

using PrintCell = TemplateCell;

// The 19 page settings the system applies before printing, in their order. Lengths are in
// tenths of a millimetre.
struct PageSetup {
    Paper paper = Paper::A4;                                 // print_template.h
    Orientation orientation = Orientation::Landscape;        // any value but 1 is portrait
    std::array<std::int32_t, 4> margins{160, 100, 160, 120}; // left, top, right, bottom
    std::int32_t style = 6; // 0 to 6; kept for the page drawing, which uses the cells' borders
    std::int32_t copies = 1;
    std::int32_t collate = 1; // 1: each copy whole before the next, else page by page
    bool printToFile = false;
    std::filesystem::path fileName; // for printToFile
    // Fields 12 to 18 mean nothing to this system's drawing: they are kept as set.
    std::array<bool, 2> keptFlags{false, false};      // fields 12 and 13
    std::array<std::int32_t, 2> keptCodes{0, 0};      // fields 14 and 15, each 0 to 2
    std::array<std::int32_t, 3> keptValues{1, 0, 26}; // fields 16 (at least 1), 17 (at least 0), 18
    // -1 fits the table's width to the printable width; -2 prints at 100 percent unless the
    // table is wider than the printable width (then it fits); 0 is 100; 1 to 19 are 20;
    // otherwise percent, at most 1000.
    std::int32_t scale = -1;

    friend bool operator==(const PageSetup&, const PageSetup&) = default;
};

// The scale of a PageSetup as a factor, for a table of the given width on a printable width.
double scaleFactor(std::int32_t scaleCode, double tableWidth, double printableWidth);

// Alignment codes (bits 0-3 of the format word). Codes 1-6 centre the text vertically:
// 1, 2, 3 put each line of the text on one line (left, centre, right; numbers in a right
// aligned cell line up on their decimal point); 4, 5, 6 wrap a line that is wider than the
// cell when the cell's wrap flag is set. 7, 8, 9 are left, centre, right at the top; 10, 11,
// 12 at the bottom; 13 spreads each line over the cell's width, vertically centred; 14 does
// so at the top. Any other code draws as 1.
enum class HAlign { Left, Centre, Right, Spread };
enum class VAlign { Top, Middle, Bottom };
struct Alignment {
    HAlign horizontal = HAlign::Left;
    VAlign vertical = VAlign::Middle;
    bool mayWrap = false;
};
Alignment alignmentOf(std::uint32_t format);

// Bits of PrintCell::textFlags.
constexpr std::uint16_t kTextWrap = 0x1;
constexpr std::uint16_t kTextClip = 0x8;

// A rectangle of cells, rows and columns from 1.
struct CellArea {
    int row = 1;
    int column = 1;
    int rows = 1;
    int columns = 1;
    int lastRow() const { return row + rows - 1; }
    int lastColumn() const { return column + columns - 1; }
    friend bool operator==(const CellArea&, const CellArea&) = default;
};

class PrintTable {
public:
    PrintTable() = default;

    // Replace the table with a template: the file, or its bytes. A file that is missing or
    // not a template leaves the table empty (and false). Page settings take the template's
    // margins, paper, orientation, copies and scale.
    bool load(const std::filesystem::path& file);
    bool loadBytes(std::string_view bytes);
    void clear();

    int rowCount() const { return static_cast<int>(m_rowHeights.size()); }
    int columnCount() const { return static_cast<int>(m_columnWidths.size()); }
    bool empty() const { return rowCount() == 0 || columnCount() == 0; }
    bool isValid(int row, int column) const {
        return row >= 1 && row <= rowCount() && column >= 1 && column <= columnCount();
    }

    // Rows and columns from 1; the caller checks isValid().
    const PrintCell& cell(int row, int column) const { return m_cells[index(row, column)]; }
    PrintCell& cell(int row, int column) { return m_cells[index(row, column)]; }

    std::int32_t rowHeight(int row) const {
        return m_rowHeights[static_cast<std::size_t>(row - 1)];
    }
    std::int32_t columnWidth(int column) const {
        return m_columnWidths[static_cast<std::size_t>(column - 1)];
    }
    const std::vector<std::int32_t>& rowHeights() const { return m_rowHeights; }
    const std::vector<std::int32_t>& columnWidths() const { return m_columnWidths; }

    int headerRows() const { return m_headerRows; }
    void setHeaderRows(int rows) { m_headerRows = rows < 0 ? 0 : rows; }
    int closingRows() const { return m_closingRows; }
    void setClosingRows(int rows) { m_closingRows = rows < 0 ? 0 : rows; }

    // Inserts `count` empty rows before `before` (rowCount() + 1, or more, appends). The new
    // rows take the height and the cell formats of the row they are inserted before (of the
    // last row when appending), without texts and without merge marks unless they fall inside
    // a vertically merged area, which then grows. One move of the rows below, whatever the
    // count. False when count < 1 or before < 1.
    bool insertRows(int before, int count = 1);

    // False for a cell outside the table.
    bool setText(int row, int column, Text text);

    // Joins the rectangle (clipped to the table) into one merged area showing the text of its
    // top-left cell. Merged areas it overlaps are dissolved first. False when nothing of
    // the rectangle is in the table or it is a single cell.
    bool merge(int row, int column, int rows, int columns);

    // Sets the alignment code of every cell of the rectangle (clipped to the table), keeping
    // the other bits of the format word. False when the code is not 1 to 14 or nothing of the
    // rectangle is in the table.
    bool setAlignment(int row, int column, int rows, int columns, int code);

    const PageSetup& pageSetup() const { return m_page; }
    void applyPageSetup(const PageSetup& page) { m_page = page; }

    // What the printed document is called: the PDF's title, the preview's caption and the file
    // name a save proposes (without ".pdf"). Empty: the tax payment table's.
    const Text& documentName() const { return m_documentName; }
    void setDocumentName(Text name) { m_documentName = std::move(name); }

    // The merged areas of the table: rectangles read from the merge marks, row by row.
    // A mark without its partner on the neighbour is ignored; areas never overlap.
    std::vector<CellArea> mergedAreas() const;

    friend bool operator==(const PrintTable&, const PrintTable&) = default;

private:
    std::size_t index(int row, int column) const {
        return static_cast<std::size_t>(row - 1) * m_columnWidths.size() +
               static_cast<std::size_t>(column - 1);
    }
    bool clip(int& row, int& column, int& rows, int& columns) const;

    std::vector<std::int32_t> m_rowHeights;
    std::vector<std::int32_t> m_columnWidths;
    std::vector<PrintCell> m_cells; // row by row
    int m_headerRows = 0;
    int m_closingRows = 0;
    Text m_documentName;
    PageSetup m_page;
};

} // namespace iit::printing
