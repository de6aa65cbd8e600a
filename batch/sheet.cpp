// The batch sheet's set-up, radios, selection, clipboard and clearing.
#include "batch/sheet.h"

#include "runtime/convert.h"

namespace iit::batch {
namespace {

GridSetup BatchGridSetup() {
    GridSetup s;
    s.rows = kGridRows;
    s.columns = kGridColumns;
    s.fixedRows = 1;
    s.fixedColumns = 1;
    s.rowHeight = 24;
    s.columnWidth = 80;
    s.gridLineColour = 0xC0C0C0;
    s.background = 0xFFFFFF;
    s.textColour = 0x000000;
    return s;
}

} // namespace

const std::vector<db::FieldSpec>& BatchFileFields() {
    static const std::vector<db::FieldSpec> fields = {
        {sysText("姓名"), db::kText, 16},       {sysText("身份证号"), db::kText, 20},
        {sysText("收入"), db::kDouble, 20},     {sysText("应缴税"), db::kDouble, 20},
        {sysText("所得合计"), db::kDouble, 20}, {sysText("银行卡号"), db::kText, 20},
        {sysText("备注"), db::kText, 40},
    };
    return fields;
}

BatchSheet::BatchSheet() : m_grid(BatchGridSetup()) {
    m_grid.setColumnWidth(0, 45);
    m_grid.setColumnWidth(2, 160);
    m_grid.setColumnWidth(6, 150);
    m_grid.setColumnWidth(7, 116);
    static const char* const headers[kGridColumns] = {"序号",
                                                      "姓  名",
                                                      "身份证号",
                                                      "用于报税\r\n的 收 入",
                                                      "应  缴\r\n税  额",
                                                      "计税后\r\n所得额",
                                                      "银行卡号",
                                                      "备注"};
    for (int c = 0; c < kGridColumns; ++c)
        m_grid.setText(0, c, sysText(headers[c]));
    m_grid.setAlignment(0, 0, 0, kGridColumns - 1, Grid::kAlignCentre);
    m_grid.setAlignment(0, 0, kDataRows, 0, Grid::kAlignCentre);
    m_grid.setRowHeight(0, 50);
    m_grid.setWordWrap(0, 0, 0, kGridColumns - 1, true);
    m_grid.setAlignment(1, kIncomeColumn, kDataRows, kAfterTaxColumn, Grid::kAlignRight);
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
        for (int c : {kNameColumn, kIdColumn, kIncomeColumn, kCardColumn, kRemarkColumn}) {
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
        for (int c : {kNameColumn, kIdColumn, kIncomeColumn, kCardColumn, kRemarkColumn})
            if (!m_grid.text(row, c).empty()) people = true;
    }
    return people && PeopleDigest() != m_savedDigest;
}

Text FitToField(const Text& text, int width) {
    if (width < 0 || text.size() <= static_cast<std::size_t>(width)) return text;
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t length = isLeadByte(text.at(end)) && end + 1 < text.size() ? 2 : 1;
        if (end + length > static_cast<std::size_t>(width)) break;
        end += length;
    }
    return Text::fromBytes(text.view().substr(0, end));
}

std::vector<BatchSheet::CutCell> BatchSheet::CellsCutBySave() const {
    std::vector<CutCell> cut;
    const std::vector<db::FieldSpec>& fields = BatchFileFields();
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == TotalsMarker()) continue;
        for (int c = kNameColumn; c <= kRemarkColumn; ++c) {
            const db::FieldSpec& f = fields[static_cast<std::size_t>(c - 1)];
            if (f.type == db::kText &&
                m_grid.text(row, c).size() > static_cast<std::size_t>(f.width))
                cut.push_back({row, c, f.width});
        }
    }
    return cut;
}

void BatchSheet::setKind(engine::TaxKind kind) {
    m_kind = kind;
    if (kind == engine::TaxKind::Royalties) m_mode = engine::TaxMode::Gross;
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

void BatchSheet::PasteAtCursor(const Text& clipboard) {
    m_grid.paste(clipboard);
}

void BatchSheet::ClearGrid() {
    m_grid.clearCells(1, 1, kDataRows, kGridColumns - 1);
}

} // namespace iit::batch
