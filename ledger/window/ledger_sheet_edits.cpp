// The clerk's edits of the ledger sheet: a cell, a paste, a deletion, a new employee, a leave,
// opening balances and the bonus's taxation, each one action.
#include "ledger/window/ledger_sheet.h"

#include "base/convert.h"
#include "base/delimited.h"
#include "engine/amount.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace iit::ledger {
namespace {

// A cell as the clerk means it: without the spaces around it.
Text trimmed(const Text& t) {
    const std::string utf8 = t.toUtf8();
    return Text::fromUtf8(engine::trimCell(utf8));
}

// An identity number as the ledger keys it, in the system's bytes.
std::string numberKey(const Text& t) {
    return Text::fromUtf8(engine::identityKey(t.toUtf8())).bytes();
}

// The entry's field of an amount column.
Exact* amountField(Entry& e, int column) {
    switch (column) {
    case kTaxFreeColumn:
        return &e.taxFree;
    case kSpecialColumn:
        return &e.special;
    case kSpecialAdditionalColumn:
        return &e.specialAdditional;
    case kOtherColumn:
        return &e.other;
    case kReliefColumn:
        return &e.relief;
    case kBonusColumn:
        return &e.bonus;
    default:
        return nullptr;
    }
}

// The header of the rows a paste or a new employee imports: 证件类型, then the clerk's columns.
const std::vector<Text>& importHeader() {
    static const std::vector<Text> header = [] {
        std::vector<Text> h{sysText(monthFieldLayout(MonthField::IdType).name)};
        for (int c = kFirstInputColumn; c <= kLastInputColumn; ++c)
            h.push_back(sysText(sheetLayoutOf(c).caption()));
        return h;
    }();
    return header;
}

Text monthDeclared(int month) {
    return ToText(month) + sysText("月已申报，不能修改；如需更正，请先撤销申报");
}

} // namespace

Text LedgerSheet::declaredMessage() const {
    if (m_ledger.store().readOnly())
        return sysText("你只能查看这份台账：台账服务器没有给你的数据库角色修改的权限；可以查看、"
                       "导出、打印");
    return monthDeclared(m_month);
}

LedgerSheet::Draft LedgerSheet::inputsOf(int row) const {
    Draft d;
    if (const MonthLine* line = lineAt(row)) {
        for (int c = kFirstInputColumn; c <= kLastInputColumn; ++c)
            d[static_cast<std::size_t>(c)] = sheetCellText(*line, c);
        return d;
    }
    const int i = row - static_cast<int>(m_lines.size()) - 1;
    if (i >= 0 && i < static_cast<int>(m_drafts.size())) d = m_drafts[static_cast<std::size_t>(i)];
    return d;
}

std::vector<Text> LedgerSheet::importRow(const Draft& inputs) {
    std::vector<Text> row{Text{}}; // 证件类型: the number's own (Ledger::importMonth)
    for (int c = kFirstInputColumn; c <= kLastInputColumn; ++c)
        row.push_back(inputs[static_cast<std::size_t>(c)]);
    return row;
}

void LedgerSheet::restoreRow(int row) {
    Grid::UpdateScope scope(m_grid);
    if (const MonthLine* line = lineAt(row))
        fillRow(row, *line);
    else
        fillDraft(row, inputsOf(row));
}

Outcome<ChangeReport> LedgerSheet::commitCell(int row, int column) {
    if (row < 1 || row > kSheetEmployees || !isInputColumn(column)) return ChangeReport{};
    if (m_declared) {
        restoreRow(row);
        return fail(declaredMessage());
    }
    Outcome<ChangeReport> r = lineAt(row) ? commitLineCell(row, column) : commitDraft(row);
    if (!r && lineAt(row)) restoreRow(row);
    return r;
}

Outcome<ChangeReport> LedgerSheet::commitLineCell(int row, int column) {
    const MonthLine& line = *lineAt(row);
    const Text text = trimmed(m_grid.text(row, column));
    const std::string utf8 = text.toUtf8();
    const SheetColumnLayout& layout = sheetLayoutOf(column);
    if (column == kNameColumn) {
        if (text.empty()) return fail(sysText("姓名不能为空"));
        if (text == line.employee.name) return ChangeReport{};
        Employee e = line.employee;
        e.name = text;
        return run(Action{PutEmployee{m_year, e}});
    }
    if (column == kIdColumn) {
        PersonKey to{line.employee.key.idType, Text::fromBytes(numberKey(text))};
        if (to.idNumber.empty()) return fail(sysText("身份证号不能为空"));
        if (to == line.employee.key) {
            restoreRow(row);
            return ChangeReport{};
        }
        return run(Action{ChangeKey{m_year, line.employee.key, to}});
    }
    Entry entry = line.entry;
    if (column == kIncomeColumn) {
        Outcome<Exact> v = engine::parseAmount(utf8);
        if (!v) return fail(sysText(layout.caption()) + sysText("：") + v.problem().message);
        entry.income = text.empty() ? std::nullopt : std::optional<Exact>(*v);
    } else if (Exact* field = amountField(entry, column)) {
        Outcome<Exact> v = engine::parseAmount(utf8);
        if (!v) return fail(sysText(layout.caption()) + sysText("：") + v.problem().message);
        // A bonus entered afresh is taxed as the law allows unless the clerk says otherwise.
        if (column == kBonusColumn && line.entry.bonus.isZero() &&
            m_grid.text(row, kBonusMethodColumn).empty())
            entry.bonusMethod = m_ledger.defaultBonusMethod(m_year, line.employee.resident);
        *field = *v;
    } else if (column == kBonusMethodColumn) {
        if (text.empty()) {
            entry.bonusMethod = m_ledger.defaultBonusMethod(m_year, line.employee.resident);
        } else {
            const std::optional<BonusMethod> m = engine::bonusMethodFromText(utf8);
            if (!m) return fail(engine::bonusMethodRefusal());
            entry.bonusMethod = *m;
        }
    } else if (column == kRemarkColumn) {
        entry.remark = text;
    }
    if (entry == line.entry) {
        restoreRow(row); // the shown text in the ledger's form
        return ChangeReport{};
    }
    return run(
        Action{SetEntries{m_year, m_month, {EntryChange{line.employee.key, entry, line.entry}}}});
}

Outcome<ChangeReport> LedgerSheet::commitDraft(int row) {
    const auto i = static_cast<std::size_t>(row - static_cast<int>(m_lines.size()) - 1);
    if (m_drafts.size() <= i) m_drafts.resize(i + 1);
    for (int c = kFirstInputColumn; c <= kLastInputColumn; ++c)
        m_drafts[i][static_cast<std::size_t>(c)] = trimmed(m_grid.text(row, c));
    m_filledRows = std::max(m_filledRows, row);
    while (!m_drafts.empty() && std::all_of(m_drafts.back().begin(), m_drafts.back().end(),
                                            [](const Text& t) { return t.empty(); }))
        m_drafts.pop_back();
    if (i >= m_drafts.size()) return ChangeReport{};
    const Draft draft = m_drafts[i];
    if (draft[kNameColumn].empty() || draft[kIdColumn].empty()) return ChangeReport{};
    ImportMonth import{
        m_year, m_month, {importHeader(), importRow(draft)}, {0, static_cast<std::size_t>(row)}};
    Outcome<Applied> applied = applyAction(m_ledger, Action{import}, {});
    if (!applied) return applied.problem(); // the draft stays for the clerk to mend
    remember(std::move(applied->inverse));
    dropDrafts({row});
    if (Outcome<void> r = reload(); !r) return r.problem();
    return std::move(applied->report);
}

// A paste whose first row names its columns (证件号码, 姓名 and 本月收入 among the import's
// fields): a sheet copied whole, its header included, which may hold columns the grid does not
// show (the deductions item by item, the employee's facts). Gives its rows, header first.
namespace {
std::optional<std::vector<std::vector<Text>>> pastedSheet(const Text& clipboard) {
    DelimitedReader reader(clipboard.view(), Delimiter::Detect);
    DelimitedRow fields;
    std::vector<std::vector<Text>> rows;
    while (reader.next(&fields)) {
        std::vector<Text> row;
        row.reserve(fields.size());
        for (const std::string& f : fields)
            row.push_back(Text::fromBytes(f));
        if (rows.empty()) {
            bool id = false, name = false, income = false;
            for (const Text& cell : row) {
                const std::optional<PayrollField> f =
                    engine::fieldNamed(cell.toUtf8(), importFields());
                id = id || f == PayrollField::IdNumber;
                name = name || f == PayrollField::Name;
                income = income || f == PayrollField::Income;
            }
            if (!id || !name || !income) return std::nullopt;
        }
        rows.push_back(std::move(row));
    }
    if (rows.size() < 2) return std::nullopt;
    return rows;
}
} // namespace

Outcome<PasteReport> LedgerSheet::paste(const Text& clipboard) {
    if (m_declared) return fail(declaredMessage());
    if (std::optional<std::vector<std::vector<Text>>> sheet = pastedSheet(clipboard)) {
        PasteReport report;
        report.rowsRead = sheet->size() - 1;
        Outcome<ChangeReport> change =
            run(Action{ImportMonth{m_year, m_month, std::move(*sheet), {}}});
        if (!change) return change.problem();
        report.change = std::move(*change);
        return report;
    }
    const int top = m_grid.currentRow(), left = m_grid.currentColumn();
    if (top < 1 || !isInputColumn(left))
        return fail(sysText("请先单击要粘贴到的单元格（姓名至备注各列）"));
    const int idField = kIdColumn - left; // the field of the identity number, if pasted
    std::vector<std::vector<Text>> rows{importHeader()};
    std::vector<std::size_t> numbers{0};
    std::vector<int> draftRows;
    PasteReport report;
    DelimitedReader reader(clipboard.view(), Delimiter::Detect);
    DelimitedRow fields;
    const auto blank = [](const DelimitedRow& cells) {
        return std::all_of(cells.begin(), cells.end(),
                           [](const std::string& f) { return engine::trimCell(f).empty(); });
    };
    for (int row = top; reader.next(&fields); ++row) {
        if (blank(fields)) continue;
        ++report.rowsRead;
        // Rows below the sheet are counted, not pasted: the clerk is told.
        if (row > kSheetEmployees) {
            ++report.rowsLeftOut;
            continue;
        }
        // The row's own cells, or those of the employee whose number it holds.
        int base = row;
        if (idField >= 0 && static_cast<std::size_t>(idField) < fields.size()) {
            const std::string number =
                numberKey(Text::fromBytes(fields[static_cast<std::size_t>(idField)]));
            auto it = m_lineByNumber.find(number);
            if (it != m_lineByNumber.end() && it->second >= 0)
                base = it->second + 1;
            else if (lineAt(row) || it != m_lineByNumber.end())
                base = 0; // another employee's row: the pasted one starts empty
        }
        const std::size_t room = static_cast<std::size_t>(kLastInputColumn - left + 1);
        if (fields.size() > room)
            report.columnsLeftOut = std::max(report.columnsLeftOut, fields.size() - room);
        Draft inputs = base ? inputsOf(base) : Draft{};
        for (std::size_t f = 0; f < fields.size() && left + static_cast<int>(f) <= kLastInputColumn;
             ++f)
            inputs[static_cast<std::size_t>(left) + f] = Text::fromBytes(fields[f]);
        std::vector<Text> cells = importRow(inputs);
        if (base && lineAt(base)) cells[0] = lineAt(base)->employee.key.idType;
        rows.push_back(std::move(cells));
        numbers.push_back(static_cast<std::size_t>(row));
        if (!lineAt(row)) draftRows.push_back(row);
    }
    if (rows.size() == 1) return report;
    Outcome<Applied> applied = applyAction(
        m_ledger, Action{ImportMonth{m_year, m_month, std::move(rows), std::move(numbers)}}, {});
    if (!applied) return applied.problem();
    remember(std::move(applied->inverse));
    dropDrafts(std::move(draftRows)); // in the ledger now
    if (Outcome<void> r = reload(); !r) return r.problem();
    report.change = std::move(applied->report);
    return report;
}

Text pasteLeftOutMessage(const PasteReport& report) {
    std::string text;
    if (report.rowsLeftOut > 0)
        text = "粘贴的 " + std::to_string(report.rowsRead) + " 行中有 " +
               std::to_string(report.rowsLeftOut) + " 行超出了表格（最多 " +
               std::to_string(kSheetEmployees) + " 人），没有粘贴。";
    if (report.columnsLeftOut > 0)
        text += std::string(text.empty() ? "" : "\n") + "粘贴的内容在“" +
                sheetLayoutOf(kLastInputColumn).caption() + "”列之后还有 " +
                std::to_string(report.columnsLeftOut) + " 列，没有读入。";
    return sysText(text);
}

Outcome<ChangeReport> LedgerSheet::clearCells(const CellRange& range) {
    if (m_declared) return fail(declaredMessage());
    std::vector<EntryChange> changes;
    const int lines = static_cast<int>(m_lines.size());
    for (int row = std::max(range.top, 1); row <= std::min(range.bottom, lines); ++row) {
        const MonthLine& line = m_lines[static_cast<std::size_t>(row - 1)];
        Entry entry = line.entry;
        for (int c = std::max(range.left, int{kIncomeColumn});
             c <= std::min(range.right, kLastInputColumn); ++c) {
            if (c == kIncomeColumn) entry.income.reset();
            if (Exact* field = amountField(entry, c)) *field = Exact{};
            if (c == kRemarkColumn) entry.remark = Text{};
        }
        if (entry.bonus.isZero()) entry.bonusMethod = line.entry.bonusMethod;
        if (!(entry == line.entry))
            changes.push_back(EntryChange{line.employee.key, entry, line.entry});
    }
    bool drafts = false;
    for (int row = std::max(range.top, lines + 1); row <= range.bottom; ++row) {
        const auto i = static_cast<std::size_t>(row - lines - 1);
        if (i >= m_drafts.size()) break;
        for (int c = std::max(range.left, kFirstInputColumn);
             c <= std::min(range.right, kLastInputColumn); ++c)
            m_drafts[i][static_cast<std::size_t>(c)] = Text{};
        drafts = true;
    }
    if (drafts) {
        while (!m_drafts.empty() && std::all_of(m_drafts.back().begin(), m_drafts.back().end(),
                                                [](const Text& t) { return t.empty(); }))
            m_drafts.pop_back();
        if (Outcome<void> r = reload(); !r) return r.problem();
    }
    if (changes.empty()) return ChangeReport{};
    return run(Action{SetEntries{m_year, m_month, std::move(changes)}});
}

Outcome<ChangeReport> LedgerSheet::importRows(const std::vector<std::vector<Text>>& rows,
                                              const std::vector<std::size_t>& rowNumbers,
                                              const Progress& progress, Missing missing) {
    if (m_declared) return fail(declaredMessage());
    return run(Action{ImportMonth{m_year, m_month, rows, rowNumbers, missing}}, progress);
}

std::vector<const MonthLine*>
LedgerSheet::linesNotIn(const std::vector<std::vector<Text>>& rows) const {
    std::vector<const MonthLine*> out;
    if (rows.empty()) return out;
    std::size_t idColumn = rows[0].size();
    for (std::size_t c = 0; c < rows[0].size(); ++c)
        if (engine::fieldNamed(rows[0][c].toUtf8(), std::array{PayrollField::IdNumber}))
            idColumn = c;
    std::unordered_set<std::string> held;
    for (std::size_t r = 1; r < rows.size(); ++r)
        if (idColumn < rows[r].size()) held.insert(numberKey(rows[r][idColumn]));
    for (const MonthLine& line : m_lines)
        if (!held.count(line.employee.key.idNumber.bytes())) out.push_back(&line);
    return out;
}

Outcome<ChangeReport> LedgerSheet::copyFromPreviousMonth(bool withIncome) {
    if (m_declared) return fail(declaredMessage());
    return run(Action{CopyForward{m_year, m_month - 1, withIncome}}); // 0: the year before
}

Outcome<ChangeReport> LedgerSheet::putEmployee(const Employee& employee) {
    return run(Action{PutEmployee{m_year, employee}});
}

Outcome<ChangeReport> LedgerSheet::putEmployees(const std::vector<Employee>& employees) {
    Several all;
    for (const Employee& e : employees)
        all.actions.push_back(Action{PutEmployee{m_year, e}});
    return run(Action{std::move(all)});
}

Outcome<ChangeReport> LedgerSheet::changeKey(const PersonKey& from, const PersonKey& to) {
    if (from == to) return ChangeReport{};
    return run(Action{ChangeKey{m_year, from, to}});
}

bool LedgerSheet::hasEarlierMonths(int row) {
    const MonthLine* line = lineAt(row);
    if (!line) return false;
    for (int m = 1; m < m_month; ++m) {
        Outcome<std::optional<Entry>> e = m_ledger.entry(m_year, m, line->employee.key);
        if (e && *e) return true;
    }
    return false;
}

Outcome<ChangeReport> LedgerSheet::leave(int row) {
    const MonthLine* line = lineAt(row);
    if (!line) return fail(sysText("请先单击要删除的职工所在的行"));
    if (m_declared) return fail(declaredMessage());
    const PersonKey key = line->employee.key;
    if (!hasEarlierMonths(row)) return run(Action{RemoveEmployee{m_year, key}});
    // Later months first, so that no month is recomputed only to go.
    Several leaving;
    for (int m = 12; m >= m_month; --m) {
        Outcome<std::optional<Entry>> e = m_ledger.entry(m_year, m, key);
        if (!e) return e.problem();
        if (*e)
            leaving.actions.push_back(
                Action{SetEntries{m_year, m, {EntryChange{key, std::nullopt}}}});
    }
    Employee employee = line->employee;
    employee.leftMonth = m_month - 1;
    leaving.actions.push_back(Action{PutEmployee{m_year, employee}});
    return run(Action{std::move(leaving)});
}

Outcome<ChangeReport> LedgerSheet::removeEntries(const std::vector<int>& rows) {
    if (m_declared) return fail(declaredMessage());
    std::vector<EntryChange> changes;
    for (int row : rows)
        if (const MonthLine* line = lineAt(row))
            changes.push_back(EntryChange{line->employee.key, std::nullopt});
    if (changes.empty()) return ChangeReport{};
    return run(Action{SetEntries{m_year, m_month, std::move(changes)}});
}

Outcome<ChangeReport> LedgerSheet::setItems(const PersonKey& key, int itemised,
                                            const std::array<Exact, kItems>& items,
                                            const Exact& donation, int byRules) {
    Outcome<std::optional<Entry>> entry = m_ledger.entry(m_year, m_month, key);
    if (!entry) return entry.problem();
    if (!*entry) return fail(sysText("此人本月还没有记录"));
    // A group whose items are taken away keeps the sum they made, as a sum alone.
    Entry e = **entry;
    e.itemised = itemised;
    e.items = items;
    e.donation = donation;
    if (!e.insuranceCity.empty()) {
        for (std::size_t i = 0; i < 4; ++i)
            if (!(e.items[i] == (**entry).items[i])) e.insuranceManual |= 1 << i;
        e.insuranceManual &= ~byRules;
        e.itemised |= groupBit(ItemGroup::Special); // the rules' items stay items
    }
    if (e == **entry) return ChangeReport{};
    return run(Action{SetEntries{m_year, m_month, {EntryChange{key, e}}}});
}

LedgerSheet::Insurance LedgerSheet::insuranceOf(const Entry& e) {
    return {e.insuranceCity, e.socialBase, e.fundBase, e.fundRate, e.fundExtraRate};
}

Outcome<ChangeReport> LedgerSheet::setInsurance(const PersonKey& key, const Insurance& insurance) {
    Outcome<std::optional<Entry>> entry = m_ledger.entry(m_year, m_month, key);
    if (!entry) return entry.problem();
    if (!*entry) return fail(sysText("此人本月还没有记录"));
    const Insurance was = insuranceOf(**entry);
    if (was == insurance) return ChangeReport{};
    Outcome<std::vector<int>> declared = m_ledger.declaredMonths(m_year);
    if (!declared) return declared.problem();
    const auto with = [&](Entry e) {
        e.insuranceCity = insurance.city;
        e.socialBase = insurance.socialBase;
        e.fundBase = insurance.fundBase;
        e.fundRate = insurance.fundRate;
        e.fundExtraRate = insurance.fundExtraRate;
        return e;
    };
    Several months;
    months.actions.push_back(
        Action{SetEntries{m_year, m_month, {EntryChange{key, with(**entry)}}}});
    for (int m = m_month + 1; m <= 12; ++m) {
        if (std::find(declared->begin(), declared->end(), m) != declared->end()) continue;
        Outcome<std::optional<Entry>> later = m_ledger.entry(m_year, m, key);
        if (!later) return later.problem();
        if (!*later || !(insuranceOf(**later) == was)) continue;
        months.actions.push_back(Action{SetEntries{m_year, m, {EntryChange{key, with(**later)}}}});
    }
    return run(Action{std::move(months)});
}

Outcome<ChangeReport> LedgerSheet::setBonusMethod(const BonusChoice& choice, BonusMethod method) {
    Outcome<std::optional<Entry>> entry = m_ledger.entry(m_year, choice.month, choice.employee.key);
    if (!entry) return entry.problem();
    if (!*entry) return fail(sysText("没有找到这笔奖金"));
    Entry e = **entry;
    if (e.bonusMethod == method) return ChangeReport{};
    e.bonusMethod = method;
    return run(Action{SetEntries{m_year, choice.month, {EntryChange{choice.employee.key, e}}}});
}

Outcome<ChangeReport> LedgerSheet::putOpenings(const std::vector<std::vector<Text>>& rows,
                                               const std::vector<std::size_t>& rowNumbers,
                                               const std::vector<PersonKey>& removed) {
    Several openings;
    if (rows.size() > 1)
        openings.actions.push_back(Action{ImportOpening{m_year, rows, rowNumbers}});
    for (const PersonKey& key : removed)
        openings.actions.push_back(Action{PutOpening{m_year, key, std::nullopt}});
    if (openings.actions.empty()) return ChangeReport{};
    return run(Action{std::move(openings)});
}

} // namespace iit::ledger
