#pragma once
// The print template "print.dbf": the layout of the printed tax payment table.
//
// The file holds a table of rows and columns of cells with their texts, fonts and format words,
// the row heights and column widths, and the page settings. Printing loads it afresh each time
// and fills it from the batch sheet; start-up writes the built-in copy when the file is missing.
//
// Layout (little-endian):
//   "SDTQ", row count R, column count C, two reserved int32 (0),
//   R row heights and C column widths (int32, tenths of a millimetre),
//   R x C cell records row by row, then 36 bytes of page settings.
// Cell record: format word (uint32), reserved int32 (0), colour (uint32, ARGB), font size
// (uint16, quarter points), text flags (uint16), font name length (int32) and its bytes (no
// terminator; 0 for the default font), text length (int32) and its GBK bytes with a trailing
// NUL (0 for an empty cell).
// Page settings: margins left, top, right, bottom (int32, tenths of a millimetre), then five
// int32: paper code (2 = A4), orientation (1 = landscape), copies, scale code (-1 = fit the
// table's width to the page) and the number of header rows repeated on every page.

#include "base/text.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iit::printing {

// Format word: bits 0-3 the alignment code (1 to 14), bits 4-7 the borders drawn around the
// cell, bits 18-21 the merge marks, each joining the cell with one neighbour. A merged area is
// the rectangle of cells joined to each other; its top-left cell holds the text.
constexpr std::uint32_t kAlignMask = 0x0000000Fu;
constexpr std::uint32_t kBorderLeft = 1u << 4;
constexpr std::uint32_t kBorderTop = 1u << 5;
constexpr std::uint32_t kBorderRight = 1u << 6;
constexpr std::uint32_t kBorderBottom = 1u << 7;
constexpr std::uint32_t kBorderMask = 0x000000F0u;
constexpr std::uint32_t kMergeLeft = 1u << 18;  // joined with the cell on its left
constexpr std::uint32_t kMergeRight = 1u << 19; // joined with the cell on its right
constexpr std::uint32_t kMergeUp = 1u << 20;    // joined with the cell above
constexpr std::uint32_t kMergeDown = 1u << 21;  // joined with the cell below
constexpr std::uint32_t kMergeMask = 0x003C0000u;

constexpr std::uint32_t kOpaqueBlack = 0xff000000u;

struct TemplateCell {
    std::uint32_t format = 1;
    std::int32_t reserved = 0;
    std::uint32_t colour = kOpaqueBlack;
    std::uint16_t fontSize = 40;
    // Bit 0 wraps the text at word boundaries, bit 3 clips it to the cell.
    std::uint16_t textFlags = 9;
    Text fontName; // empty: the default font
    Text text;     // without the trailing NUL of the file

    friend bool operator==(const TemplateCell&, const TemplateCell&) = default;
};

// The paper of the page, as its code is stored: 0 the printer's default, 1 to 16 the sizes
// named here; 1000 or more a platform's paper number (the value - 999). A code read from a file
// is kept as it was (the enumeration holds any 32-bit value), so that a file written again
// keeps it.
enum class Paper : std::int32_t {
    PrinterDefault = 0,
    A3 = 1,
    A4 = 2,
    A5 = 3,
    B4 = 4,
    B5 = 5,
    Quarto = 6,
    Prc16K = 7,
    Prc32K = 8,
    Letter = 9,
    Legal = 10,
    Executive = 11,
    Statement = 12,
    Tabloid = 13,
    Note = 14,
    Ledger = 15,
    Folio = 16,
};
// A platform's paper numbers are stored from this code on.
constexpr std::int32_t kPlatformPaperBase = 1000;

// The orientation of the page, as it is stored: 1 landscape, any other value portrait. A value
// read from a file is kept as it was, like the paper's.
enum class Orientation : std::int32_t { Portrait = 0, Landscape = 1 };

struct PageSettings {
    std::array<std::int32_t, 4> margins{230, 230, 230, 230}; // left, top, right, bottom
    Paper paper = Paper::A4;
    Orientation orientation = Orientation::Landscape;
    std::int32_t copies = 1;
    std::int32_t scale = -1;
    std::int32_t headerRows = 3;

    friend bool operator==(const PageSettings&, const PageSettings&) = default;
};

struct PrintTemplate {
    std::vector<std::int32_t> rowHeights;
    std::vector<std::int32_t> columnWidths;
    std::array<std::int32_t, 2> reserved{0, 0};
    std::vector<TemplateCell> cells; // rows x columns, row by row
    PageSettings page;

    int rows() const { return static_cast<int>(rowHeights.size()); }
    int columns() const { return static_cast<int>(columnWidths.size()); }
    // Gives every cell its defaults for the current row and column counts.
    void resetCells() { cells.assign(rowHeights.size() * columnWidths.size(), TemplateCell{}); }
    // Rows and columns count from 1.
    TemplateCell& cell(int row, int column) {
        return cells[static_cast<std::size_t>((row - 1) * columns() + (column - 1))];
    }
    const TemplateCell& cell(int row, int column) const {
        return cells[static_cast<std::size_t>((row - 1) * columns() + (column - 1))];
    }

    friend bool operator==(const PrintTemplate&, const PrintTemplate&) = default;
};

constexpr std::string_view kTemplateMagic = "SDTQ";
constexpr std::size_t kPageSettingsSize = 36;

std::string encodePrintTemplate(const PrintTemplate& t);

// Reads a template file's bytes. Counts and lengths are checked against the bytes present;
// nullopt with a reason when the bytes are not a template.
std::optional<PrintTemplate> decodePrintTemplate(std::string_view bytes,
                                                 std::string* error = nullptr);

} // namespace iit::printing
