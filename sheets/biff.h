#pragma once
// What FreeXL does not tell of an .xls workbook: which cells hold formulas (FreeXL ignores them
// and gives no value), and which hold booleans or error values (it gives them as integers).
// A bounded walk over the OLE2 container finds the workbook stream and its sheets' records. It
// also guards FreeXL: a file whose container it cannot walk is refused before FreeXL sees it,
// since FreeXL trusts some of the lengths a container states (a directory entry's name length).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iit::sheets {

struct BiffCell {
    enum class Kind : std::uint8_t { Formula, Boolean, Error };
    std::uint32_t row = 0; // from 0
    std::uint16_t column = 0;
    Kind kind = Kind::Formula;
    std::uint8_t value = 0; // Boolean: 0 or 1; Error: the error code
};

struct BiffSheet {
    std::string name; // UTF-8; empty when it cannot be decoded (BIFF5 code pages)
    bool visible = true;
    bool worksheet = true;
    std::uint32_t offset = 0; // of its BOF record in the workbook stream
};

struct BiffWorkbook {
    std::string stream; // the Workbook (or Book) stream
    std::vector<BiffSheet> sheets;
};

// The workbook stream and its sheets; nullopt when the container or the stream is unreadable.
std::optional<BiffWorkbook> openBiff(std::string_view file);

// The formula, boolean and error cells of the sheet, ordered by row and column.
std::vector<BiffCell> specialCells(const BiffWorkbook& workbook, const BiffSheet& sheet);

// "#DIV/0!" for an error code of a cell.
std::string_view errorText(std::uint8_t code);

} // namespace iit::sheets
