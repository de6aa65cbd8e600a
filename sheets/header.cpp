// Header recognition and totals rows.
#include "sheets/header.h"

namespace iit::sheets {

std::optional<HeaderMatch> findHeader(const Sheet& sheet, std::span<const HeaderField> fields,
                                      std::size_t searchRows) {
    std::vector<std::vector<std::string>> accepted(fields.size());
    for (std::size_t f = 0; f < fields.size(); ++f)
        for (const std::string& n : fields[f].names)
            accepted[f].push_back(compactName(n));
    const auto fieldOf = [&](const std::string& compact) {
        for (std::size_t f = 0; f < accepted.size(); ++f)
            for (const std::string& n : accepted[f])
                if (n == compact) return static_cast<int>(f);
        return -1;
    };

    for (std::size_t index = 0; index < sheet.rows.size() && index < searchRows; ++index) {
        const SheetRow& row = sheet.rows[index];
        HeaderMatch match;
        match.rowIndex = index;
        match.rowNumber = row.number;
        match.columnField.assign(row.cells.size(), -1);
        match.fieldColumn.assign(fields.size(), -1);
        std::size_t named = 0;
        for (std::size_t column = 0; column < row.cells.size(); ++column) {
            const Cell& cell = row.cells[column];
            if (cell.empty()) continue;
            const int field = cell.kind == Cell::Kind::Text ? fieldOf(headerName(cell.text)) : -1;
            if (field < 0 || match.fieldColumn[static_cast<std::size_t>(field)] >= 0) {
                match.unmapped.push_back(cell.text);
                continue;
            }
            match.columnField[column] = field;
            match.fieldColumn[static_cast<std::size_t>(field)] = static_cast<int>(column);
            ++named;
        }
        if (named >= 2) return match;
    }
    return std::nullopt;
}

bool isTotalsRow(const SheetRow& row) {
    for (const Cell& cell : row.cells) {
        if (cell.kind != Cell::Kind::Text) continue;
        const std::string name = compactName(cell.text);
        if (name.empty()) continue;
        return name == "合计" || name == "总计";
    }
    return false;
}

} // namespace iit::sheets
