#include "ratetable/rate_table_sheet.h"

#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"

#include <string>
#include <utility>

namespace iit::ratetable {
namespace {

constexpr int kStagedFields = 6;
// The columns of the band rows, by staging column 2 to 5 (fields k+1 to k+4).
constexpr int kBandColumns[] = {kLowerColumn, kUpperColumn, kRateColumn, kDeductionColumn};

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether a cell stores what it shows: an empty cell (0), or a number, full-width forms folded
// and blanks around it dropped, whose value is the integer the save stores.
bool storesWhatItShows(const Text& text, std::int32_t stored) {
    const std::string folded = normalizeFullWidth(text.view());
    std::string_view s = folded;
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    if (s.empty()) return true;
    // The whole text must be a number in the grammar of ToNumber.
    const NumberLiteral n = scanNumber(s);
    return n.hasDigits && n.end == s.size() &&
           ToNumber(Text::fromBytes(s)) == static_cast<double>(stored);
}

Text numberText(int n) {
    return ToText(static_cast<std::int32_t>(n));
}

// Whether the leading integer of a cell, which the save stores (ToInteger), fits 32 bits
// rather than wrapping around.
bool fitsInt32(const Text& text) {
    const std::string folded = normalizeFullWidth(text.view());
    const NumberLiteral n = scanNumber(folded);
    std::string_view digits = n.intDigits;
    while (!digits.empty() && digits.front() == '0')
        digits.remove_prefix(1);
    if (digits.size() > 10) return false;
    const std::int64_t v = digits.empty() ? 0 : std::stoll(std::string(digits));
    return v <= (n.negative ? std::int64_t{2147483648} : std::int64_t{2147483647});
}

// The cell that shows field f of record r (1-based); row 0 when the grid shows none.
std::pair<int, int> cellOf(std::int32_t record, engine::Field f) {
    if (record < 1 || record > kRecords) return {0, 0};
    const int row = record + kFirstBandRow - 1;
    switch (f) {
    case engine::Field::Threshold:
        return record == 1 ? std::pair{kFirstBandRow, static_cast<int>(kThresholdColumn)}
                           : std::pair{0, 0};
    case engine::Field::Lower:
        return {row, kLowerColumn};
    case engine::Field::Upper:
        return {row, kUpperColumn};
    case engine::Field::Rate:
        return {row, kRateColumn};
    case engine::Field::Deduction:
        return {row, kDeductionColumn};
    case engine::Field::Spare:
        break;
    }
    return {0, 0};
}

// Where a finding is: its cell, or its record when the grid does not show it.
Text whereOf(const CellFinding& f) {
    if (f.row > 0) return cellName(f.row, f.column);
    return sysText("第 ") + ToText(f.finding.record) + sysText(" 条记录");
}

} // namespace

Text cellName(int row, int column) {
    return sysText("第 ") + numberText(row) + sysText(" 行第 ") + numberText(column) +
           sysText(" 列");
}

Text refusalText(const CellFinding& f) {
    return sysText(" ") + whereOf(f) + sysText("：") + f.finding.problem +
           sysText("。\r\n 税率表未保存，请修改后再保存! . . . ");
}

Text continuityQuestion(const CellFinding& f) {
    Text text =
        sysText(" ") + whereOf(f) + sysText("：") + f.finding.problem + sysText("。\r\n\r\n ");
    if (const std::optional<std::int32_t> offer = f.finding.continuousDeduction) {
        const Text value = ToText(*offer);
        return text + sysText("选“是”改为 ") + value +
               sysText(" 后保存，选“否”按原值保存，\r\n 选“取消”回到表格修改。");
    }
    return text + sysText("仍然保存吗？选“否”回到表格修改。");
}

SubTable subTableFromRadios(bool, bool labourGross, bool labourNet, bool royalties) {
    SubTable t = SubTable::Wages;
    if (labourGross) t = SubTable::LabourGross;
    if (labourNet) t = SubTable::LabourNet;
    if (royalties) t = SubTable::Royalties;
    return t;
}

// The grid as the window template creates it: 14 x 9, row 0 and column 0 fixed, rows 26 and
// columns 80 pixels, navy grid lines and text on white.
RateTableSheet::RateTableSheet()
    : m_grid(GridSetup{.rows = kGridRows,
                       .columns = kGridColumns,
                       .fixedRows = 1,
                       .fixedColumns = 1,
                       .rowHeight = 26,
                       .columnWidth = 80,
                       .gridLineColour = 0x800000,
                       .textColour = 0x800000}) {
    m_grid.setColumnWidth(0, 40);
    m_grid.setAlignment(0, 0, kGridRows, kGridColumns, Align::Centre); // clipped to the grid
    for (int i = 1; i < kGridRows; ++i) {
        m_grid.setText(i, 0, numberText(i));
        if (i < kGridColumns) m_grid.setText(0, i, numberText(i));
    }
    m_grid.setColumnWidth(3, 22);
    m_grid.setColumnWidth(4, 100);
    m_grid.setColumnWidth(6, 0);
    m_grid.setColumnWidth(8, 0);
    m_grid.setRowHeight(kSpareRow, 0);
    m_grid.setRowHeight(kThresholdRow, 0);
    m_grid.mergeCells(1, 1, 1, 8);
    m_grid.mergeCells(2, 1, 2, 2);
    m_grid.mergeCells(3, 1, 3, 8);
    m_grid.mergeCells(4, 2, 4, 4);
    m_grid.mergeCells(4, 5, 4, 6);
    m_grid.mergeCells(4, 7, 4, 8);
    const int lastRow = kFirstBandRow + kRecords - 1;
    m_grid.setAlignment(kFirstBandRow, kLowerColumn, lastRow, kLowerColumn, Align::Right);
    m_grid.setAlignment(kFirstBandRow, kUpperColumn, lastRow, kUpperColumn, Align::Left);
    m_grid.setText(3, 1, sysText("税率表"));
    m_grid.setText(4, 1, sysText("起征点"));
    m_grid.setText(4, 2, sysText("个人所得税征税范围"));
    m_grid.setText(4, 5, sysText("税率（%）"));
    m_grid.setText(4, 7, sysText("速算数（元）"));
    m_grid.setText(kFirstBandRow, 3, sysText("至"));
    m_grid.setText(lastRow, 3, sysText("以上"));
}

void RateTableSheet::fillGrid(const Staging& staging) {
    Grid::UpdateScope batchOfChanges(m_grid);
    for (int r = 1; r < kRecords; ++r) {
        m_spare[static_cast<std::size_t>(r - 1)] = staging[static_cast<std::size_t>(r - 1)][5];
        m_thresholds[static_cast<std::size_t>(r - 1)] = staging[static_cast<std::size_t>(r)][0];
        // Records 7 and 8 (and 8 and 9) have no cell in the 9 columns; they are kept beside.
        m_grid.setText(kSpareRow, r + 2, m_spare[static_cast<std::size_t>(r - 1)]);
        m_grid.setText(kThresholdRow, r + 2, m_thresholds[static_cast<std::size_t>(r - 1)]);
    }
    m_grid.setText(kFirstBandRow, kThresholdColumn, staging[0][0]);
    for (int j = 0; j < 4; ++j)
        for (int r = 1; r <= kRecords; ++r)
            m_grid.setText(
                r + kFirstBandRow - 1, kBandColumns[j],
                staging[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(j + 1)]);
}

RateTableSheet::Staging RateTableSheet::readGrid() const {
    Staging staging;
    for (int r = 1; r < kRecords; ++r) {
        const int column = r + 2;
        const bool inGrid = column < kGridColumns;
        staging[static_cast<std::size_t>(r - 1)][5] =
            inGrid ? m_grid.text(kSpareRow, column) : m_spare[static_cast<std::size_t>(r - 1)];
        staging[static_cast<std::size_t>(r)][0] =
            inGrid ? m_grid.text(kThresholdRow, column)
                   : m_thresholds[static_cast<std::size_t>(r - 1)];
    }
    staging[0][0] = m_grid.text(kFirstBandRow, kThresholdColumn);
    for (int r = 1; r <= kRecords; ++r)
        for (int j = 0; j < 4; ++j)
            staging[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(j + 1)] =
                m_grid.text(r + kFirstBandRow - 1, kBandColumns[j]);
    return staging;
}

void RateTableSheet::clearData() {
    Grid::UpdateScope batchOfChanges(m_grid);
    for (int column = 3; column < kGridColumns; ++column) {
        m_grid.setText(kSpareRow, column, Text{});
        m_grid.setText(kThresholdRow, column, Text{});
    }
    m_grid.setText(kFirstBandRow, kThresholdColumn, Text{});
    for (int r = kFirstBandRow; r < kFirstBandRow + kRecords; ++r)
        for (int column : kBandColumns)
            m_grid.setText(r, column, Text{});
    m_spare.fill(Text{});
    m_thresholds.fill(Text{});
}

engine::RateTableFile& RateTableSheet::rateTable() const {
    if (!m_rateTable)
        m_rateTable = std::make_shared<engine::RateTableFile>(engine::rateTablePath());
    return *m_rateTable;
}

void RateTableSheet::show(const engine::BracketTable& bracket, SubTable table) {
    const int k = firstField(table);
    Staging staging;
    for (int r = 1; r <= kRecords; ++r)
        for (int j = 0; j < kStagedFields; ++j)
            staging[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(j)] =
                ToText(bracket.field(r, k + j));
    fillGrid(staging);
    m_shown = table;
}

Outcome<void> RateTableSheet::Load(SubTable table) {
    const Outcome<engine::BracketTable> bracket = rateTable().load();
    if (!bracket) {
        clearData();
        m_shown.reset();
        return bracket.problem();
    }
    show(*bracket, table);
    return {};
}

std::vector<StoredDifference> RateTableSheet::storageDifferences() const {
    std::vector<StoredDifference> out;
    auto check = [&](int row, int column) {
        const Text& shown = m_grid.text(row, column);
        if (!fitsInt32(shown)) return; // refused by the save, never stored
        const std::int32_t stored = ToInteger(shown);
        if (!storesWhatItShows(shown, stored)) out.push_back({row, column, shown, stored});
    };
    check(kFirstBandRow, kThresholdColumn);
    for (int r = kFirstBandRow; r < kFirstBandRow + kRecords; ++r)
        for (int column : kBandColumns)
            check(r, column);
    return out;
}

Outcome<engine::BracketTable> RateTableSheet::stagedTable(const Staging& staging) const {
    Outcome<engine::BracketTable> table = rateTable().load();
    if (!table) return table.problem();
    const int k = firstField(*m_shown);
    for (int r = 1; r <= kRecords; ++r) {
        const auto& record = staging[static_cast<std::size_t>(r - 1)];
        // The table holds whole numbers: each cell is stored as its leading integer.
        for (int j = 0; j < 5; ++j)
            table->setField(r, k + j, Value::int32(ToInteger(record[static_cast<std::size_t>(j)])));
        // The spare field goes back as it was loaded (a text field as text, else its number).
        if (r < kRecords) table->setField(r, k + 5, Value::text(record[5]));
    }
    return table;
}

Outcome<std::vector<CellFinding>> RateTableSheet::check(const Staging& staging) const {
    if (!m_shown) return fail(sysText(" 税率表未能读入，无法保存! . . . "));
    std::vector<CellFinding> out;
    // The cells shown, by record and field; the hidden thresholds of records 2 to 9 are not
    // read by any calculation.
    for (int r = 1; r <= kRecords; ++r) {
        for (int j = r == 1 ? 0 : 1; j < 5; ++j) {
            const auto field = static_cast<engine::Field>(j);
            if (fitsInt32(staging[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(j)]))
                continue;
            const auto [row, column] = cellOf(r, field);
            out.push_back(
                {row,
                 column,
                 {engine::TableFinding::Severity::Error, *m_shown, r, field,
                  engine::fieldCaption(*m_shown, r, field) +
                      sysText("超出 32 位整数的范围，\r\n 应在 -2147483648 至 2147483647 之间"),
                  std::nullopt}});
        }
    }
    if (!out.empty()) return out;
    const Outcome<engine::BracketTable> table = stagedTable(staging);
    if (!table) return table.problem();
    for (engine::TableFinding& f : engine::checkSubTable(*table, *m_shown)) {
        const auto [row, column] = cellOf(f.record, f.field);
        if (row == 0) f.continuousDeduction.reset(); // no cell to take it into
        out.push_back({row, column, std::move(f)});
    }
    return out;
}

Outcome<std::vector<CellFinding>> RateTableSheet::checkBeforeSave() const {
    return check(readGrid());
}

void RateTableSheet::takeOffer(const CellFinding& f) {
    if (f.row > 0 && f.finding.continuousDeduction)
        m_grid.setText(f.row, f.column, ToText(*f.finding.continuousDeduction));
}

Outcome<void> RateTableSheet::Save() {
    // Moving the current cell stores an edit in progress before the grid is read.
    m_grid.setCurrentCell(kSpareRow, 2);
    m_grid.setCurrentCell(kSpareRow, 1);
    if (!m_shown) return fail(sysText(" 税率表未能读入，无法保存! . . . "));
    const int k = firstField(*m_shown);
    const Staging staging = readGrid();

    const Outcome<std::vector<CellFinding>> findings = check(staging);
    if (!findings) return findings.problem();
    if (!findings->empty() && findings->front().isError())
        return fail(refusalText(findings->front()));
    engine::RateTableFile& file = rateTable();
    const Outcome<engine::BracketTable> table = stagedTable(staging);
    if (!table) return table.problem();
    std::vector<engine::FieldWriteError> refused = file.writeFields(*table, k, k + 4, kRecords);
    const std::vector<engine::FieldWriteError> spare =
        file.writeFields(*table, k + 5, k + 5, kRecords - 1);
    refused.insert(refused.end(), spare.begin(), spare.end());
    if (refused.empty()) return {};

    const engine::FieldWriteError& first = refused.front();
    Text where;
    if (first.record > 0)
        where = sysText("第 ") + ToText(first.record) + sysText(" 条记录第 ") +
                ToText(static_cast<std::int32_t>(first.field)) + sysText(" 个字段：");
    return fail(sysText(" 税率表有 ") + ToText(static_cast<std::int32_t>(refused.size())) +
                    sysText(" 项未能保存：\r\n ") + displayPath(file.path()) + sysText("\r\n ") +
                    where + db::errorMessage(first.code) + sysText("! . . . "),
                first.code);
}

Outcome<std::int32_t> RateTableSheet::restoreDefaults() {
    engine::RateTableFile& file = rateTable();
    if (Outcome<void> restored = file.restoreDefault(); !restored) return restored.problem();
    const Outcome<engine::BracketTable> table = file.load();
    if (!table) {
        clearData();
        m_shown.reset();
        return table.problem();
    }
    show(*table, SubTable::Wages);
    return table->integer(1, engine::fieldOf(SubTable::Wages, engine::Field::Threshold));
}

} // namespace iit::ratetable
