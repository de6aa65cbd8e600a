// The batch sheet's set-up, radios, selection, clipboard and clearing.
#include "batch/sheet.h"

#include "base/convert.h"

#include <string>

namespace iit::batch {
namespace {

// The columns that hold what the user entered: everything but the row number and the
// computed amounts.
bool IsUserColumn(int column) {
    return column != kNumberColumn && !LayoutOf(column).computed;
}

} // namespace

const std::vector<db::FieldSpec>& BatchFileFields() {
    static const std::vector<db::FieldSpec> fields = [] {
        std::vector<db::FieldSpec> out;
        for (const ColumnLayout& c : kColumns) {
            if (c.field == FieldKind::None) continue;
            out.push_back({sysText(c.fieldName),
                           c.field == FieldKind::Text ? db::kText : db::kDouble, c.fieldWidth});
        }
        return out;
    }();
    return fields;
}

BatchSheet::BatchSheet()
    : m_grid(GridSetup{.rows = kGridRows, .columns = kGridColumns, .fixedRows = 1,
                       .fixedColumns = 1, .rowHeight = 24, .columnWidth = 80}) {
    for (const ColumnLayout& c : kColumns) {
        m_grid.setColumnWidth(c.column, c.width);
        m_grid.setText(0, c.column, sysText(c.header));
        m_grid.setAlignment(1, c.column, kDataRows, c.column, c.align);
    }
    m_grid.setAlignment(0, 0, 0, kGridColumns - 1, Align::Centre);
    m_grid.setRowHeight(0, 50);
    m_grid.setWordWrap(0, 0, 0, kGridColumns - 1, true);
    for (int row = 1; row <= kDataRows; ++row)
        m_grid.setText(row, 0, ToText(row));
    m_savedDigest = PeopleDigest();
}

std::uint64_t BatchSheet::PeopleDigest() const {
    // FNV-1a over the user's columns of every row but the totals row, with separators.
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&](unsigned char c) {
        h ^= c;
        h *= 0x100000001b3ull;
    };
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == TotalsMarker()) continue;
        for (int c = 1; c < kGridColumns; ++c) {
            if (!IsUserColumn(c)) continue;
            for (unsigned char b : m_grid.text(row, c).view())
                mix(b);
            mix(0xff);
        }
    }
    return h;
}

bool BatchSheet::HasUnsavedChanges() const {
    bool people = false;
    for (int row = 1; row <= kDataRows && !people; ++row) {
        if (m_grid.text(row, kNameColumn) == TotalsMarker()) continue;
        for (int c = 1; c < kGridColumns; ++c)
            if (IsUserColumn(c) && !m_grid.text(row, c).empty()) people = true;
    }
    return people && PeopleDigest() != m_savedDigest;
}

std::vector<BatchSheet::CutCell> BatchSheet::CellsCutBySave() const {
    std::vector<CutCell> cut;
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == TotalsMarker()) continue;
        for (const ColumnLayout& c : kColumns) {
            if (c.field == FieldKind::Text &&
                m_grid.text(row, c.column).size() > static_cast<std::size_t>(c.fieldWidth))
                cut.push_back({row, c.column, c.fieldWidth});
        }
        // An income that is no amount has no number to keep: it is saved as 0.
        if (ReadIncome(m_grid.text(row, kIncomeColumn)).kind == Income::Kind::Invalid)
            cut.push_back({row, kIncomeColumn, 0});
    }
    return cut;
}

void BatchSheet::setKind(engine::TaxKind kind) {
    m_kind = kind;
    m_mode = engine::EffectiveMode(kind, m_mode);
}

void BatchSheet::setMode(engine::TaxMode mode) {
    if (netModeEnabled()) m_mode = mode;
}

void BatchSheet::SelectAll() {
    m_grid.setSelection(1, 1, kDataRows, kGridColumns - 1);
}

std::optional<Text> BatchSheet::CopySelection() const {
    return m_grid.copy();
}

Text PasteLeftOutMessage(std::size_t rowsRead, std::size_t rowsLeftOut) {
    return sysText("粘贴的 " + std::to_string(rowsRead) + " 行中有 " + std::to_string(rowsLeftOut) +
                   " 行超出了表格（最多 " + std::to_string(kDataRows) +
                   " 人），没有粘贴。 . . . ");
}

PasteResult BatchSheet::PasteAtCursor(const Text& clipboard) {
    return m_grid.paste(clipboard);
}

void BatchSheet::ClearGrid() {
    m_grid.clearCells(1, 1, kDataRows, kGridColumns - 1);
}

} // namespace iit::batch
