// The batch sheet's set-up, radios, selection, clipboard and clearing.
#include "batch/sheet.h"

#include "base/convert.h"

#include <algorithm>
#include <optional>
#include <string>

namespace iit::batch {
namespace {

// The columns that hold what the user entered: everything but the row number and the
// computed amounts.
bool isUserColumn(int column) {
    return column != kNumberColumn && !layoutOf(column).computed;
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
    : m_grid(GridSetup{.rows = kGridRows,
                       .columns = kGridColumns,
                       .fixedRows = 1,
                       .fixedColumns = 1,
                       .rowHeight = 24,
                       .columnWidth = 80}) {
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
    m_savedDigest = peopleDigest();
}

std::uint64_t BatchSheet::peopleDigest() const {
    // FNV-1a over the user's columns of every row but the totals row, with separators.
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&](unsigned char c) {
        h ^= c;
        h *= 0x100000001b3ull;
    };
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == totalsMarker()) continue;
        for (int c = 1; c < kGridColumns; ++c) {
            if (!isUserColumn(c)) continue;
            for (unsigned char b : m_grid.text(row, c).view())
                mix(b);
            mix(0xff);
        }
    }
    return h;
}

int BatchSheet::peopleCount() const {
    int people = 0;
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == totalsMarker()) continue;
        for (int c = 1; c < kGridColumns; ++c)
            if (isUserColumn(c) && !m_grid.text(row, c).empty()) {
                ++people;
                break;
            }
    }
    return people;
}

bool BatchSheet::hasUnsavedChanges() const {
    return peopleCount() > 0 && peopleDigest() != m_savedDigest;
}

std::vector<BatchSheet::CutCell> BatchSheet::cellsCutBySave() const {
    std::vector<CutCell> cut;
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == totalsMarker()) continue;
        for (const ColumnLayout& c : kColumns) {
            if (c.field == FieldKind::Text &&
                m_grid.text(row, c.column).size() > static_cast<std::size_t>(c.fieldWidth))
                cut.push_back({row, c.column, c.fieldWidth});
        }
        // An income that is no amount has no number to keep: it is saved as 0.
        if (readIncome(m_grid.text(row, kIncomeColumn)).kind == Income::Kind::Invalid)
            cut.push_back({row, kIncomeColumn, 0});
    }
    return cut;
}

void BatchSheet::setKind(engine::TaxKind kind) {
    m_kind = kind;
    m_mode = engine::effectiveMode(kind, m_mode);
    showModeInHeader();
}

void BatchSheet::setMode(engine::TaxMode mode) {
    if (netModeEnabled()) m_mode = mode;
    showModeInHeader();
}

void BatchSheet::showModeInHeader() {
    // With the employer bearing the tax, column 5 holds the gross the employer pays; the files
    // keep their fields whatever the header says.
    static const Text gross = sysText("含税\r\n收入额");
    const Text header =
        m_mode == engine::TaxMode::Net ? gross : sysText(layoutOf(kAfterTaxColumn).header);
    if (m_grid.text(0, kAfterTaxColumn) != header) m_grid.setText(0, kAfterTaxColumn, header);
}

std::vector<BatchSheet::Found> BatchSheet::findPeople(const Text& query) const {
    std::vector<Found> found;
    if (query.empty()) return found;
    const auto lower = [](std::string s) {
        // ASCII only: the bytes of GB18030's multi-byte characters are never changed.
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    const std::string wanted = lower(query.bytes());
    for (int row = 1; row <= kDataRows; ++row)
        for (int column : {kNameColumn, kIdColumn, kCardColumn}) {
            const Text& text = m_grid.text(row, column);
            if (text.size() < wanted.size()) continue;
            // A match starts at a character: the walker steps from one to the next.
            const std::string bytes = lower(text.bytes());
            for (std::size_t at = 0; at + wanted.size() <= bytes.size();
                 at += charLength(bytes, at))
                if (bytes.compare(at, wanted.size(), wanted) == 0) {
                    found.push_back({row, column});
                    break;
                }
        }
    return found;
}

void BatchSheet::sortPeople(int column, bool ascending) {
    if (column < kNameColumn || column > kRemarkColumn) return;
    std::vector<BatchRecord> people;
    std::optional<BatchRecord> totals;
    for (int row = 1; row <= kDataRows; ++row) {
        BatchRecord record;
        bool any = false;
        for (int c = kNameColumn; c <= kRemarkColumn; ++c) {
            record[static_cast<std::size_t>(c - 1)] = m_grid.text(row, c);
            any = any || !m_grid.text(row, c).empty();
        }
        if (!any) continue;
        if (RemoveSpaces(record[kNameColumn - 1]) == totalsMarker())
            totals = std::move(record);
        else
            people.push_back(std::move(record));
    }
    const std::size_t at = static_cast<std::size_t>(column - 1);
    const bool amounts = layoutOf(column).field == FieldKind::Amount;
    // The key of a cell: whether it sorts last (empty, or no amount in an amount column), then
    // its amount or its bytes.
    struct Key {
        bool last;
        engine::Exact amount;
        const Text* text;
    };
    std::vector<std::pair<Key, std::size_t>> keys;
    keys.reserve(people.size());
    for (std::size_t i = 0; i < people.size(); ++i) {
        const Text& text = people[i][at];
        Key key{text.empty(), {}, &text};
        if (amounts && !text.empty()) {
            const Income income = readIncome(text);
            key.last = income.kind != Income::Kind::Amount;
            key.amount = income.amount;
        }
        keys.push_back({key, i});
    }
    std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        if (a.first.last != b.first.last) return b.first.last;
        if (a.first.last) return false;
        if (amounts)
            return ascending ? a.first.amount < b.first.amount : b.first.amount < a.first.amount;
        return ascending ? a.first.text->bytes() < b.first.text->bytes()
                         : b.first.text->bytes() < a.first.text->bytes();
    });
    std::vector<BatchRecord> sorted;
    sorted.reserve(people.size() + 1);
    for (const auto& [key, i] : keys)
        sorted.push_back(std::move(people[i]));
    if (totals) sorted.push_back(std::move(*totals));
    fillRecords(sorted);
}

void BatchSheet::SelectAll() {
    m_grid.setSelection(1, 1, kDataRows, kGridColumns - 1);
}

std::optional<Text> BatchSheet::CopySelection() const {
    return m_grid.copy();
}

Text pasteLeftOutMessage(std::size_t rowsRead, std::size_t rowsLeftOut) {
    return sysText("粘贴的 " + std::to_string(rowsRead) + " 行中有 " + std::to_string(rowsLeftOut) +
                   " 行超出了表格（最多 " + std::to_string(kDataRows) + " 人），没有粘贴。 . . . ");
}

PasteResult BatchSheet::PasteAtCursor(const Text& clipboard) {
    return m_grid.paste(clipboard);
}

void BatchSheet::ClearGrid() {
    m_grid.clearCells(1, 1, kDataRows, kGridColumns - 1);
}

} // namespace iit::batch
