// The ledger sheet: the grid laid out from the ledger's month, the totals, the notes, and the
// actions applied with their undo and redo.
#include "ledger/window/ledger_sheet.h"

#include "base/convert.h"
#include "engine/amount.h"

#include <algorithm>

namespace iit::ledger {
namespace {

const Text& noteText(const char* utf8) {
    static std::unordered_map<const char*, Text> texts;
    auto it = texts.find(utf8);
    if (it == texts.end()) it = texts.emplace(utf8, sysText(utf8)).first;
    return it->second;
}

} // namespace

Text sheetCellText(const MonthLine& line, int column) {
    const SheetColumnLayout& c = sheetLayoutOf(column);
    if (c.role == ColumnRole::Number) return Text{};
    // A line whose income is still to be entered (carried forward) has no figures yet.
    if (c.role == ColumnRole::Computed && !line.entry.income) return Text{};
    return monthCell(line, c.field, CellStyle::Sheet);
}

namespace {

// The line's amounts in fen by column, for the totals.
Outcome<std::array<std::int64_t, kSheetColumns>> fenOf(const MonthLine& l) {
    std::array<std::int64_t, kSheetColumns> f{};
    for (const SheetColumnLayout& c : kSheetLayout) {
        if (!c.amount() || (c.role == ColumnRole::Computed && !l.entry.income)) continue;
        const std::optional<Exact> v = monthAmount(l, c.field);
        if (!v) continue;
        Outcome<std::int64_t> fen = engine::fenOf(*v);
        if (!fen) return fen.problem();
        f[static_cast<std::size_t>(c.column)] = *fen;
    }
    return f;
}

GridSetup sheetSetup(int rows) {
    return GridSetup{.rows = rows,
                     .columns = kSheetColumns,
                     .fixedRows = 1,
                     .fixedColumns = 1,
                     .rowHeight = 24,
                     .columnWidth = 80};
}

void layOutColumns(Grid& grid) {
    const int last = grid.rowCount() - 1;
    for (const SheetColumnLayout& c : kSheetLayout) {
        grid.setColumnWidth(c.column, c.width);
        grid.setText(0, c.column, sysText(c.header()));
        if (last >= 1) grid.setAlignment(1, c.column, last, c.column, c.align);
        if (c.role == ColumnRole::Computed)
            for (int row = 1; row <= last; ++row)
                grid.setReadOnly(row, c.column, true);
    }
    grid.setAlignment(0, 0, 0, kSheetColumns - 1, Align::Centre);
    grid.setWordWrap(0, 0, 0, kSheetColumns - 1, true);
    grid.setRowHeight(0, 44);
}

bool isYearMonth(int year, int month) {
    return year >= 1900 && year <= 9999 && month >= 1 && month <= 12;
}

} // namespace

LedgerSheet::LedgerSheet(Ledger& ledger)
    : m_ledger(ledger), m_grid(sheetSetup(kSheetRows)), m_totals(sheetSetup(2)) {
    {
        Grid::UpdateScope scope(m_grid);
        layOutColumns(m_grid);
        for (int row = 1; row <= kSheetEmployees; ++row)
            m_grid.setText(row, kNumberColumn, ToText(row));
    }
    Grid::UpdateScope scope(m_totals);
    layOutColumns(m_totals);
    m_totals.setRowHeight(0, 0); // the captions are the main grid's
    for (int c = 0; c < kSheetColumns; ++c)
        m_totals.setReadOnly(1, c, true);
    m_totals.setText(1, kNumberColumn, sysText("合计"));
}

const MonthLine* LedgerSheet::lineAt(int row) const {
    if (row < 1 || row > static_cast<int>(m_lines.size())) return nullptr;
    return &m_lines[static_cast<std::size_t>(row - 1)];
}

int LedgerSheet::rowOf(const PersonKey& key) const {
    auto it = m_lineByNumber.find(key.idNumber.bytes());
    if (it == m_lineByNumber.end()) return 0;
    if (it->second >= 0)
        return m_lines[static_cast<std::size_t>(it->second)].employee.key == key ? it->second + 1
                                                                                 : 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) // the number under several types
        if (m_lines[i].employee.key == key) return static_cast<int>(i) + 1;
    return 0;
}

int LedgerSheet::firstFreeRow() const {
    return std::min(static_cast<int>(m_lines.size() + m_drafts.size()) + 1, kSheetEmployees);
}

// ---- Showing a month

Outcome<void> LedgerSheet::show(int year, int month) {
    if (!isYearMonth(year, month)) return fail(sysText("月份应为1到12"));
    Outcome<MonthView> view = m_ledger.showMonth(year, month);
    if (!view) return view.problem();
    Outcome<std::vector<int>> declared = m_ledger.declaredMonths(year);
    if (!declared) return declared.problem();
    if (view->lines.size() > static_cast<std::size_t>(kSheetEmployees))
        return fail(sysText("本月超过") + ToText(kSheetEmployees) +
                    sysText("人，台账窗口无法显示"));
    std::vector<std::array<std::int64_t, kSheetColumns>> fens;
    fens.reserve(view->lines.size());
    for (const MonthLine& line : view->lines) {
        Outcome<std::array<std::int64_t, kSheetColumns>> fen = fenOf(line);
        if (!fen) return fen.problem();
        fens.push_back(*fen);
    }
    if (year != m_year || month != m_month) m_drafts.clear();
    m_year = year;
    m_month = month;
    m_declaredMonths = std::move(*declared);
    m_lines = std::move(view->lines);
    m_fen = std::move(fens);
    m_lineByNumber.clear();
    m_lineByNumber.reserve(m_lines.size());
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        auto [at, fresh] =
            m_lineByNumber.emplace(m_lines[i].employee.key.idNumber.bytes(), static_cast<int>(i));
        if (!fresh) at->second = -1;
    }
    const std::size_t room = static_cast<std::size_t>(kSheetEmployees) - m_lines.size();
    if (m_drafts.size() > room) m_drafts.resize(room);
    {
        Grid::UpdateScope scope(m_grid);
        int row = 1;
        for (const MonthLine& line : m_lines)
            fillRow(row++, line);
        for (const Draft& d : m_drafts)
            fillDraft(row++, d);
        const int filled = row - 1;
        for (; row <= m_filledRows; ++row)
            fillDraft(row, Draft{});
        m_filledRows = filled;
        // A ledger that may only be read here is closed as a declared month is.
        setDeclared(view->declared || m_ledger.store().readOnly());
    }
    fillTotals();
    return {};
}

Outcome<void> LedgerSheet::showStart(int year, int month) {
    Outcome<std::optional<Ledger::YearMonth>> start = m_ledger.latestOpenMonth();
    if (!start) return start.problem();
    if (*start) return show((*start)->year, (*start)->month);
    return show(year, month);
}

Outcome<void> LedgerSheet::reload() {
    return show(m_year, m_month);
}

// The three sums' columns and their groups of items: a sum entered item by item is its items',
// edited in them, and read-only in the grid.
constexpr std::pair<int, ItemGroup> kSumColumns[] = {
    {kSpecialColumn, ItemGroup::Special},
    {kSpecialAdditionalColumn, ItemGroup::SpecialAdditional},
    {kOtherColumn, ItemGroup::Other}};

void LedgerSheet::fillRow(int row, const MonthLine& line) {
    for (int c = kFirstInputColumn; c < kSheetColumns; ++c)
        m_grid.setText(row, c, sheetCellText(line, c));
    for (const auto& [column, group] : kSumColumns)
        m_grid.setReadOnly(row, column, m_declared || (line.entry.itemised & groupBit(group)));
}

void LedgerSheet::fillDraft(int row, const Draft& draft) {
    for (int c = kFirstInputColumn; c < kSheetColumns; ++c)
        m_grid.setText(row, c, c <= kLastInputColumn ? draft[static_cast<std::size_t>(c)] : Text{});
    for (const auto& [column, group] : kSumColumns)
        m_grid.setReadOnly(row, column, m_declared);
}

void LedgerSheet::fillTotals() {
    std::array<std::int64_t, kSheetColumns> sums{};
    for (const auto& f : m_fen)
        for (int c = 0; c < kSheetColumns; ++c)
            sums[static_cast<std::size_t>(c)] += f[static_cast<std::size_t>(c)];
    Grid::UpdateScope scope(m_totals);
    for (const SheetColumnLayout& c : kSheetLayout) {
        if (c.column == kNumberColumn) continue; // "合计"
        Text text;
        if (c.amount()) text = ToText(engine::fromFen(sums[static_cast<std::size_t>(c.column)]));
        if (c.column == kNameColumn)
            text = ToText(static_cast<int>(m_lines.size())) + sysText("人");
        m_totalTexts[static_cast<std::size_t>(c.column)] = text;
        m_totals.setText(1, c.column, std::move(text));
    }
}

void LedgerSheet::setDeclared(bool declared) {
    if (declared == m_declared) return;
    m_declared = declared;
    Grid::UpdateScope scope(m_grid);
    for (int row = 1; row <= kSheetEmployees; ++row)
        for (int c = kFirstInputColumn; c <= kLastInputColumn; ++c)
            m_grid.setReadOnly(row, c, declared);
    for (std::size_t i = 0; i < m_lines.size() && !declared; ++i)
        for (const auto& [column, group] : kSumColumns)
            if (m_lines[i].entry.itemised & groupBit(group))
                m_grid.setReadOnly(static_cast<int>(i) + 1, column, true);
}

Outcome<void> LedgerSheet::reloadLines(const std::vector<PersonKey>& keys) {
    for (const PersonKey& key : keys) {
        const int row = rowOf(key);
        Outcome<std::optional<MonthLine>> line = m_ledger.showLine(m_year, m_month, key);
        if (!line) return line.problem();
        if (!row && !*line) continue;
        if (!row || !*line) return reload(); // a line came or went: the rows move
        const auto i = static_cast<std::size_t>(row - 1);
        Outcome<std::array<std::int64_t, kSheetColumns>> fen = fenOf(**line);
        if (!fen) return fen.problem();
        m_lines[i] = std::move(**line);
        m_fen[i] = *fen;
        Grid::UpdateScope scope(m_grid);
        fillRow(row, m_lines[i]);
    }
    fillTotals();
    return {};
}

// ---- Actions, undo and redo

namespace {

struct Refresh {
    int year, month;
    std::vector<PersonKey> keys; // the lines to read back
    bool whole = false;          // the month again
    std::optional<std::pair<PersonKey, PersonKey>> rekey;
};

Refresh refreshOf(const Action& action, int year, int month) {
    Refresh r{year, month, {}, false, std::nullopt};
    if (const auto* a = std::get_if<SetEntries>(&action.what);
        a && a->year == year && a->month == month && a->changes.size() <= 64) {
        for (const EntryChange& c : a->changes)
            r.keys.push_back(c.key);
    } else if (const auto* p = std::get_if<PutEmployee>(&action.what); p && p->year == year) {
        r.keys.push_back(p->employee.key);
    } else if (const auto* k = std::get_if<ChangeKey>(&action.what); k && k->year == year) {
        r.rekey = std::pair(k->from, k->to);
    } else {
        r.whole = true;
    }
    return r;
}

} // namespace

Outcome<void> LedgerSheet::refreshAfter(const Action& action) {
    const Refresh r = refreshOf(action, m_year, m_month);
    if (r.rekey) {
        const int row = rowOf(r.rekey->first);
        if (row) {
            const auto i = static_cast<std::size_t>(row - 1);
            m_lineByNumber.erase(r.rekey->first.idNumber.bytes());
            m_lineByNumber[r.rekey->second.idNumber.bytes()] = static_cast<int>(i);
            m_lines[i].employee.key = r.rekey->second;
        }
        return reloadLines({r.rekey->second});
    }
    if (r.whole) return reload();
    return reloadLines(r.keys);
}

void LedgerSheet::remember(Action inverse) {
    m_undo.push_back(std::move(inverse));
    if (m_undo.size() > kUndoSteps) m_undo.pop_front();
    m_redo.clear();
}

void LedgerSheet::dropDrafts(std::vector<int> rows) {
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows) {
        const int i = row - static_cast<int>(m_lines.size()) - 1;
        if (i >= 0 && i < static_cast<int>(m_drafts.size())) m_drafts.erase(m_drafts.begin() + i);
    }
}

Outcome<ChangeReport> LedgerSheet::run(Action action, const Progress& progress) {
    if (m_year == 0) return fail(sysText("尚未打开台账的月份"));
    Outcome<Applied> applied = applyAction(m_ledger, action, progress);
    if (!applied) {
        // Another program or desk changed what the edit was made from: its figures are shown.
        if (applied.problem().code == kChangedElsewhere) (void)reload();
        return applied.problem();
    }
    ++m_changes;
    remember(std::move(applied->inverse));
    if (Outcome<void> r = refreshAfter(action); !r) return r.problem();
    return std::move(applied->report);
}

Outcome<ChangeReport> LedgerSheet::replay(std::deque<Action>& from, std::deque<Action>& to) {
    if (from.empty()) return ChangeReport{};
    const Action& action = from.back();
    // In the month it changes, so that the clerk sees it undone.
    const ActionPlace place = placeOf(action);
    const int wasYear = m_year, wasMonth = m_month;
    if (place.year != 0 && (place.year != m_year || (place.month != 0 && place.month != m_month)))
        if (Outcome<void> r = show(place.year, place.month != 0 ? place.month : m_month); !r)
            return r.problem();
    Outcome<Applied> applied = applyAction(m_ledger, action, {});
    if (!applied) {
        // An undo of what another program or desk has changed since would lose their change:
        // it is refused for good, and their figures are shown.
        if (applied.problem().code == kChangedElsewhere) {
            from.pop_back();
            (void)reload();
            return applied.problem();
        }
        // Refused: the clerk stays where they were, and a month of another year is named with
        // its year ("2026年12月已申报…").
        if (m_year != wasYear || m_month != wasMonth) (void)show(wasYear, wasMonth);
        if (place.year != 0 && place.year != wasYear)
            return fail(ToText(place.year) + sysText("年") + applied.problem().message);
        return applied.problem();
    }
    ++m_changes;
    to.push_back(std::move(applied->inverse));
    const Action done = std::move(from.back());
    from.pop_back();
    if (Outcome<void> r = refreshAfter(done); !r) return r.problem();
    return std::move(applied->report);
}

Outcome<ChangeReport> LedgerSheet::undo() {
    return replay(m_undo, m_redo);
}

Outcome<ChangeReport> LedgerSheet::redo() {
    return replay(m_redo, m_undo);
}

Outcome<void> LedgerSheet::declare() {
    if (Outcome<void> r = m_ledger.declareMonth(m_year, m_month); !r) return r;
    return reload();
}

Outcome<void> LedgerSheet::reopen() {
    if (Outcome<void> r = m_ledger.reopenMonth(m_year, m_month); !r) return r;
    return reload();
}

// ---- Notes

void LedgerSheet::setDamage(int year, std::vector<CheckReport::Difference> differences) {
    m_damageYear = year;
    m_damage = std::move(differences);
}

Text LedgerSheet::noteOf(int row, int column) const {
    if (const MonthLine* line = lineAt(row)) {
        if (column == kNameColumn && m_damageYear == m_year && !m_damage.empty()) {
            Text said;
            for (const CheckReport::Difference& d : m_damage)
                if (d.month == m_month && d.employee.key == line->employee.key)
                    said += (said.empty() ? noteText("台账中此行的数字与应有的不符：")
                                          : noteText("；")) +
                            d.what;
            if (!said.empty()) return said;
        }
        if (column == kIncomeColumn && !line->entry.income) return noteText("本月收入尚未填写");
        if (column == kIdColumn && line->employee.idCheckFailed)
            return engine::identityMark(line->employee.key.idType, line->employee.key.idNumber) +
                   noteText("，请核对");
        if (column == kRateColumn && line->method == Method::Monthly)
            return noteText("非居民个人：工资薪金按月计算，适用税率表的月度税率");
        return Text{};
    }
    const int d = row - static_cast<int>(m_lines.size()) - 1;
    if (d < 0 || d >= static_cast<int>(m_drafts.size())) return Text{};
    const Draft& draft = m_drafts[static_cast<std::size_t>(d)];
    if (column == kNameColumn && draft[kNameColumn].empty())
        return noteText("请填写姓名，填好姓名和身份证号后记入台账");
    if (column == kIdColumn && draft[kIdColumn].empty())
        return noteText("请填写身份证号，填好姓名和身份证号后记入台账");
    return Text{};
}

} // namespace iit::ledger
