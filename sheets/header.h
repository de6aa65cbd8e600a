#pragma once
// The header row of a sheet and the columns' fields, for any caller's table of fields: the first
// of the first rows whose cells name at least two fields is the header (title rows above it are
// skipped), each column maps to the field it names whatever the order, and the columns that name
// nothing are reported by their header text. Names compare without ASCII spaces, ideographic
// spaces (U+3000), CR, LF and TAB, and without regard to ASCII case, so that an exported "姓  名"
// or "用于报税\r\n的 收 入" reads back.

#include "base/cell_text.h"
#include "sheets/sheet.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace iit::sheets {

struct HeaderField {
    std::vector<std::string> names; // the accepted names, UTF-8
};

struct HeaderMatch {
    std::size_t rowIndex = 0;     // the header's index in Sheet::rows; people start after it
    std::size_t rowNumber = 0;    // its sheet row number
    std::vector<int> columnField; // by column: the field it names, or -1
    std::vector<int> fieldColumn; // by field: its column, or -1
    // Header texts of the non-empty columns that name no field, or a field an earlier column
    // already took.
    std::vector<std::string> unmapped;
};

constexpr std::size_t kHeaderSearchRows = 20;

// The header among the first `searchRows` rows of the sheet; nullopt when none names two fields.
std::optional<HeaderMatch> findHeader(const Sheet& sheet, std::span<const HeaderField> fields,
                                      std::size_t searchRows = kHeaderSearchRows);

using iit::compactName; // names compare as base/cell_text.h says

// True for a sheet's own totals row: its first non-empty text cell reads 合计 or 总计.
bool isTotalsRow(const SheetRow& row);

} // namespace iit::sheets
