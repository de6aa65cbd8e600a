// The ledger's employees, opening balances, declared months and the bonus comparison.
#include "ledger/ledger_internal.h"

#include "engine/amount.h"

#include <algorithm>
#include <span>
#include <string>

namespace iit::ledger {

using namespace detail;

namespace {

// The first column of every row of a query as integers; the statement is reset for its next use.
Outcome<std::vector<int>> intColumn(sql::Statement& statement) {
    std::vector<int> out;
    if (Outcome<void> r = statement.eachRow(
            [&](const sql::Statement& row) { out.push_back(static_cast<int>(row.int64(0))); });
        !r)
        return r.problem();
    return out;
}

bool sameComputation(const Employee& a, const Employee& b) {
    return a.joinMonth == b.joinMonth && a.resident == b.resident &&
           a.options.fromJanuary == b.options.fromJanuary &&
           a.options.annualDeduction == b.options.annualDeduction;
}

bool badCheck(const PersonKey& key) {
    const std::string n = utf8(key.idNumber);
    return key.idType == identityCardType() && n.size() == 18 && !identityCardCheckHolds(n);
}

// An employee's months, increasing, each read by `read` from the columns `sql` selects.
template <class Row>
Outcome<std::vector<Row>> employeeMonths(Ledger::Impl& impl, std::int64_t employeeId,
                                         const std::string& sql,
                                         Row (*read)(const sql::Statement&, int)) {
    Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, employeeId);
    std::vector<Row> out;
    if (Outcome<void> r =
            (*s)->eachRow([&](const sql::Statement& row) { out.push_back(read(row, 0)); });
        !r)
        return r.problem();
    return out;
}

// The months of a year in which an employee has entries.
Outcome<std::vector<StoredEntry>> readEntries(Ledger::Impl& impl, std::int64_t employeeId) {
    static const std::string sql = std::string("SELECT ") + kEntryColumns +
                                   " FROM entry x WHERE x.employee = ?1 ORDER BY x.month";
    return employeeMonths(impl, employeeId, sql, &readEntry);
}

// An employee's months with only the amounts entered.
Outcome<std::vector<EnteredMonth>> enteredAmounts(Ledger::Impl& impl, std::int64_t employeeId) {
    static const std::string sql = std::string("SELECT ") + kEnteredColumns +
                                   " FROM entry x WHERE x.employee = ?1 ORDER BY x.month";
    return employeeMonths(impl, employeeId, sql, &readEntered);
}

Outcome<void> writeEmployee(Ledger::Impl& impl, int year, std::int64_t id, const Employee& e) {
    Outcome<sql::Statement*> s = impl.db->cached(
        id ? "UPDATE employee SET name = ?4, bank_card = ?5, join_month = ?6, left_month = ?7, "
             "resident = ?8, from_january = ?9, annual_deduction = ?10, id_check_failed = ?11 "
             "WHERE id = ?12 AND year = ?1 AND id_type = ?2 AND id_number = ?3"
           : "INSERT INTO employee (year, id_type, id_number, name, bank_card, join_month, "
             "left_month, resident, from_january, annual_deduction, id_check_failed) VALUES "
             "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    if (!s) return s.problem();
    sql::Statement& w = **s;
    w.bind(1, year);
    w.bind(2, utf8(e.key.idType));
    w.bind(3, utf8(e.key.idNumber));
    w.bind(4, utf8(e.name));
    w.bind(5, utf8(e.bankCard));
    if (e.joinMonth)
        w.bind(6, *e.joinMonth);
    else
        w.bindNull(6);
    if (e.leftMonth)
        w.bind(7, *e.leftMonth);
    else
        w.bindNull(7);
    w.bind(8, e.resident ? 1 : 0);
    w.bind(9, e.options.fromJanuary ? 1 : 0);
    w.bind(10, e.options.annualDeduction ? 1 : 0);
    w.bind(11, badCheck(e.key) ? 1 : 0);
    if (id) w.bind(12, id);
    return w.run();
}

Outcome<void> writeOpening(Ledger::Impl& impl, std::int64_t id, const OpeningRow& o) {
    Outcome<sql::Statement*> s = impl.db->cached(
        "INSERT OR REPLACE INTO opening (employee, through_month, income, tax_free, basic, "
        "special, special_additional, other, relief, withheld) VALUES (?1, ?2, ?3, ?4, ?5, ?6, "
        "?7, ?8, ?9, ?10)");
    if (!s) return s.problem();
    sql::Statement& w = **s;
    w.bind(1, id);
    w.bind(2, o.throughMonth);
    o.sums.bind(w, 3);
    return w.run();
}

Opening toOpening(const PersonKey& key, const OpeningRow& o) {
    return Opening{key,
                   o.throughMonth,
                   amount(o.sums.income),
                   amount(o.sums.taxFree),
                   amount(o.sums.basic),
                   amount(o.sums.special),
                   amount(o.sums.specialAdditional),
                   amount(o.sums.other),
                   amount(o.sums.relief),
                   amount(o.sums.withheld)};
}

Text whom(const Employee& e) {
    return e.name + sysText("（") + e.key.idNumber + sysText("）");
}

// The employee of `key`, who must have no declared month: `refusal` says why otherwise.
Outcome<EmployeeRow> undeclaredEmployee(Ledger::Impl& impl, int year, const PersonKey& key,
                                        const char* refusal) {
    Outcome<std::optional<EmployeeRow>> found = findEmployee(impl, year, key);
    if (!found) return found.problem();
    if (!*found) return fail(sysText("台账中没有此人：") + key.idNumber);
    Outcome<bool> declared = hasDeclaredEntry(impl, year, (*found)->id);
    if (!declared) return declared.problem();
    if (*declared) return fail(whom((*found)->employee) + sysText(refusal));
    return std::move(**found);
}

Outcome<void> checkMonths(const Employee& e) {
    for (const std::optional<int>& m : {e.joinMonth, e.leftMonth})
        if (m && (*m < 1 || *m > 12)) return fail(sysText("月份应为1到12"));
    if (e.key.idNumber.empty()) return fail(sysText("证件号码为空"));
    if (e.key.idType.empty()) return fail(sysText("证件类型为空"));
    return {};
}

// The bonus comparison of one employee from their months (increasing): the bonus taxed on its
// own, else the largest added to a month; none without a bonus. `plan` is the caller's, so
// that its months keep their room from one employee to the next.
Outcome<std::optional<BonusChoice>>
compareOne(Ledger::Impl& impl, const engine::WithholdingTable& table, const EmployeeRow& row,
           const std::optional<OpeningRow>& opening, std::span<const EnteredMonth> entries,
           engine::BonusPlan& plan) {
    const EnteredMonth* chosen = nullptr;
    for (const EnteredMonth& e : entries) {
        if (e.bonus <= 0) continue;
        if (e.bonusSeparate) {
            chosen = &e;
            break;
        }
        if (!chosen || e.bonus > chosen->bonus) chosen = &e;
    }
    if (!chosen) return std::optional<BonusChoice>();
    plan.opening = opening ? stateOf(*opening) : engine::YearToDate{};
    plan.options = row.employee.options;
    plan.joinMonth = row.employee.joinMonth.value_or(entries.front().month);
    plan.lastMonth = row.employee.leftMonth.value_or(12);
    plan.bonusMonth = chosen->month;
    plan.bonus = amount(chosen->bonus);
    plan.months.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EnteredMonth& e = entries[i];
        engine::PlannedMonth& m = plan.months[i];
        m.month = e.month;
        std::int64_t income = e.income.value_or(0);
        if (&e != chosen && !e.bonusSeparate) income += e.bonus;
        m.amounts.income = amount(income);
        m.amounts.taxFree = amount(e.taxFree);
        m.amounts.special = amount(e.special);
        m.amounts.specialAdditional = amount(e.specialAdditional);
        m.amounts.other = amount(e.other);
        m.amounts.relief = amount(e.relief);
    }
    Outcome<engine::BonusComparison> c = engine::compareBonus(table, impl.tables.monthly, plan);
    if (!c) return fail(whom(row.employee) + sysText("：") + c.problem().message);
    return std::optional<BonusChoice>(
        BonusChoice{row.employee, chosen->month, plan.bonus,
                    chosen->bonusSeparate ? BonusMethod::Separate : BonusMethod::Combined, *c});
}

} // namespace

Outcome<std::vector<Employee>> Ledger::listEmployees(int year) {
    static const std::string sql = std::string("SELECT ") + kEmployeeColumns +
                                   " FROM employee e WHERE e.year = ?1 ORDER BY e.id";
    Outcome<sql::Statement*> s = m_impl->db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    std::vector<Employee> out;
    if (Outcome<void> r =
            (*s)->eachRow([&](const sql::Statement& row) { out.push_back(readEmployee(row, 0)); });
        !r)
        return r.problem();
    return out;
}

Outcome<std::vector<int>> Ledger::years() {
    Outcome<sql::Statement*> s =
        m_impl->db->cached("SELECT DISTINCT year FROM employee ORDER BY year");
    if (!s) return s.problem();
    return intColumn(**s);
}

std::vector<Text> employeeColumns() {
    std::vector<Text> names;
    for (const char* n : {"证件类型", "证件号码", "姓名", "银行卡号", "入职月份", "离职月份",
                          "居民", "减除费用从1月起算", "全年减除6万元", "证件号码校验"})
        names.push_back(sysText(n));
    return names;
}

std::vector<Text> employeeCells(const Employee& e) {
    auto month = [](const std::optional<int>& m) {
        return m ? Text::fromBytes(std::to_string(*m)) : Text{};
    };
    auto yes = [](bool b) { return b ? sysText("是") : sysText("否"); };
    return {e.key.idType,
            e.key.idNumber,
            e.name,
            e.bankCard,
            month(e.joinMonth),
            month(e.leftMonth),
            yes(e.resident),
            yes(e.options.fromJanuary),
            yes(e.options.annualDeduction),
            e.idCheckFailed ? sysText("校验位不符") : Text{}};
}

Outcome<std::optional<Employee>> Ledger::putEmployee(int year, const Employee& employee) {
    Impl& impl = *m_impl;
    if (Outcome<void> r = checkMonths(employee); !r) return r.problem();
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<std::optional<EmployeeRow>> found = findEmployee(impl, year, employee.key);
    if (!found) return found.problem();
    std::optional<Employee> previous;
    if (*found) {
        const EmployeeRow& row = **found;
        previous = row.employee;
        const bool recompute = !sameComputation(row.employee, employee);
        Outcome<std::vector<StoredEntry>> entries = readEntries(impl, row.id);
        if (!entries) return entries.problem();
        if (recompute) {
            Outcome<bool> declared = hasDeclaredEntry(impl, year, row.id);
            if (!declared) return declared.problem();
            if (*declared)
                return fail(whom(employee) +
                            sysText("已有申报的月份，入职月份、居民身份和减除费用选项不能再改"));
            if (!employee.resident)
                for (const StoredEntry& e : *entries)
                    if (e.bonusSeparate && e.bonus > 0)
                        return fail(whom(employee) + sysText("有单独计税的奖金，不能改为非居民"));
        }
        if (employee.leftMonth)
            for (const StoredEntry& e : *entries)
                if (e.month > *employee.leftMonth)
                    return fail(whom(employee) + sysText("在离职月份之后还有") +
                                monthText(e.month) + sysText("的工资"));
        if (Outcome<void> r = writeEmployee(impl, year, row.id, employee); !r) return r.problem();
        if (recompute && !entries->empty()) {
            EmployeeRow updated{row.id, employee};
            Outcome<Recomputed> n = recomputeEmployee(impl, year, updated, 1, false, std::nullopt);
            if (!n) return n.problem();
        }
    } else {
        if (Outcome<void> r = writeEmployee(impl, year, 0, employee); !r) return r.problem();
    }
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return previous;
}

Outcome<EmployeeRecord> Ledger::removeEmployee(int year, const PersonKey& key) {
    Impl& impl = *m_impl;
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<EmployeeRow> found =
        undeclaredEmployee(impl, year, key, "已有申报的月份，不能删除；离职的职工请填写离职月份");
    if (!found) return found.problem();
    const EmployeeRow& row = *found;
    EmployeeRecord record;
    record.employee = row.employee;
    Outcome<std::optional<OpeningRow>> opening = readOpening(impl, row.id);
    if (!opening) return opening.problem();
    if (*opening) record.opening = toOpening(key, **opening);
    Outcome<std::vector<StoredEntry>> entries = readEntries(impl, row.id);
    if (!entries) return entries.problem();
    for (const StoredEntry& e : *entries)
        record.entries.emplace_back(e.month, toEntry(key, e));
    Outcome<sql::Statement*> d = impl.db->cached("DELETE FROM employee WHERE id = ?1");
    if (!d) return d.problem();
    (*d)->bind(1, row.id);
    if (Outcome<void> r = (*d)->run(); !r) return r.problem();
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return record;
}

Outcome<void> Ledger::restoreEmployee(int year, const EmployeeRecord& record) {
    Impl& impl = *m_impl;
    if (Outcome<void> r = checkMonths(record.employee); !r) return r;
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<std::optional<EmployeeRow>> found = findEmployee(impl, year, record.employee.key);
    if (!found) return found.problem();
    if (*found) return fail(whom(record.employee) + sysText("已在台账中"));
    for (const auto& [month, entry] : record.entries)
        if (Outcome<void> r = checkMonthOpen(impl, year, month); !r) return r;
    if (Outcome<void> r = writeEmployee(impl, year, 0, record.employee); !r) return r;
    const EmployeeRow row{impl.db->lastInsertRowid(), record.employee};
    if (record.opening) {
        const Opening& o = *record.opening;
        if (Outcome<void> r =
                writeOpening(impl, row.id,
                             OpeningRow{o.throughMonth,
                                        {fen(o.income), fen(o.taxFree), fen(o.basicDeduction),
                                         fen(o.special), fen(o.specialAdditional), fen(o.other),
                                         fen(o.relief), fen(o.withheld)}});
            !r)
            return r;
    }
    for (const auto& [month, entry] : record.entries) {
        Outcome<Recomputed> n =
            recomputeEmployee(impl, year, row, month, true, fromEntry(month, entry));
        if (!n) return n.problem();
    }
    return (*t)->commit();
}

const std::vector<Text>& openingColumns() {
    static const std::vector<Text> columns = [] {
        std::vector<Text> c;
        for (const char* n : {"证件类型", "证件号码", "姓名", "截至月份", "累计收入",
                              "累计免税收入", "累计减除费用", "累计专项扣除", "累计专项附加扣除",
                              "累计其他扣除", "累计减免税额", "累计已预扣"})
            c.push_back(sysText(n));
        return c;
    }();
    return columns;
}

Outcome<ChangeReport> Ledger::importOpening(int year, const std::vector<std::vector<Text>>& rows,
                                            const std::vector<std::size_t>& rowNumbers) {
    Impl& impl = *m_impl;
    if (rows.empty()) return fail(sysText("没有标题行"));
    const engine::WithholdingTable* table = impl.tables.annual.forYear(year);
    if (!table) return fail(Text::fromBytes(std::to_string(year)) + sysText("年没有预扣率表"));
    constexpr int kCols = 12;
    int at[kCols];
    std::fill(std::begin(at), std::end(at), -1);
    for (std::size_t c = 0; c < rows[0].size(); ++c) {
        std::string name;
        for (char ch : utf8(rows[0][c]))
            if (ch != ' ' && ch != '\t') name.push_back(ch);
        for (int k = 0; k < kCols; ++k)
            if (name == utf8(openingColumns()[static_cast<std::size_t>(k)]) ||
                (k == 1 && name == "身份证号"))
                at[k] = static_cast<int>(c);
    }
    if (at[1] < 0 || at[2] < 0 || at[3] < 0)
        return fail(sysText("标题行应有“证件号码”（或“身份证号”）、“姓名”和“截至月份”"));
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    ChangeReport report;
    Text errors;
    const Text empty;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        auto cell = [&](int k) -> std::string {
            const std::vector<Text>& row = rows[r];
            return std::string(
                engine::trimCell(utf8(at[k] >= 0 && static_cast<std::size_t>(at[k]) < row.size()
                                          ? row[static_cast<std::size_t>(at[k])]
                                          : empty)));
        };
        bool blank = true;
        for (const Text& c : rows[r])
            blank = blank && engine::trimCell(utf8(c)).empty();
        if (blank) continue;
        Text why;
        auto problem = [&](const Text& reason) {
            if (!why.empty()) why += sysText("；");
            why += reason;
        };
        Employee employee;
        employee.key.idType = cell(0).empty() ? identityCardType() : Text::fromUtf8(cell(0));
        std::string number = cell(1);
        for (char& ch : number)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        employee.key.idNumber = Text::fromUtf8(number);
        employee.name = Text::fromUtf8(cell(2));
        if (number.empty()) problem(sysText("证件号码为空"));
        OpeningRow o;
        const std::string through = cell(3);
        if (through.size() >= 1 && through.size() <= 2 &&
            std::all_of(through.begin(), through.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            o.throughMonth = std::stoi(through);
        if (o.throughMonth < 1 || o.throughMonth > 11) problem(sysText("截至月份应为1到11"));
        std::int64_t* fields[] = {&o.sums.income,  &o.sums.taxFree,           &o.sums.basic,
                                  &o.sums.special, &o.sums.specialAdditional, &o.sums.other,
                                  &o.sums.relief,  &o.sums.withheld};
        for (int i = 0; i < 8; ++i) {
            Outcome<Exact> v = engine::parseAmount(cell(4 + i));
            if (!v)
                problem(openingColumns()[static_cast<std::size_t>(4 + i)] + sysText("：") +
                        v.problem().message);
            else
                *fields[i] = fen(*v);
        }
        if (!why.empty()) {
            if (!errors.empty()) errors += Text::fromBytes("\n");
            errors += rowMessage(r < rowNumbers.size() ? rowNumbers[r] : r + 1, why);
            continue;
        }
        Outcome<std::optional<EmployeeRow>> found = findEmployee(impl, year, employee.key);
        if (!found) return found.problem();
        EmployeeRow row;
        if (*found) {
            row = **found;
        } else {
            if (Outcome<void> w = writeEmployee(impl, year, 0, employee); !w) return w.problem();
            row = EmployeeRow{impl.db->lastInsertRowid(), employee};
            report.newEmployees.push_back(employee.key);
        }
        // Without the figure, the basic deduction counts from the joining month (January).
        if (cell(6).empty())
            o.sums.basic = fen(table->basicDeduction *
                               Exact(o.throughMonth - row.employee.joinMonth.value_or(1) + 1));
        Outcome<bool> declared = hasDeclaredEntry(impl, year, row.id);
        if (!declared) return declared.problem();
        Outcome<std::vector<StoredEntry>> entries = readEntries(impl, row.id);
        if (!entries) return entries.problem();
        if (*declared) {
            why = sysText("此人已有申报的月份，期初数不能再改");
        } else if (!entries->empty() && entries->front().month <= o.throughMonth) {
            why = sysText("此人") + monthText(entries->front().month) +
                  sysText("已有工资，期初数只能截至此前的月份");
        }
        if (!why.empty()) {
            if (!errors.empty()) errors += Text::fromBytes("\n");
            errors += rowMessage(r < rowNumbers.size() ? rowNumbers[r] : r + 1, why);
            continue;
        }
        Outcome<std::optional<OpeningRow>> old = readOpening(impl, row.id);
        if (!old) return old.problem();
        if (*old)
            ++report.changed;
        else
            ++report.added;
        if (Outcome<void> w = writeOpening(impl, row.id, o); !w) return w.problem();
        if (!entries->empty()) {
            Outcome<Recomputed> n = recomputeEmployee(impl, year, row, 1, false, std::nullopt);
            if (!n) return n.problem();
            report.recomputed += n->recomputed;
        }
    }
    if (!errors.empty()) return fail(std::move(errors));
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return report;
}

Outcome<std::optional<Opening>> Ledger::opening(int year, const PersonKey& key) {
    Outcome<std::optional<EmployeeRow>> found = findEmployee(*m_impl, year, key);
    if (!found) return found.problem();
    if (!*found) return std::optional<Opening>();
    Outcome<std::optional<OpeningRow>> o = readOpening(*m_impl, (*found)->id);
    if (!o) return o.problem();
    if (!*o) return std::optional<Opening>();
    return std::optional<Opening>(toOpening(key, **o));
}

Outcome<std::vector<int>> Ledger::declaredMonths(int year) {
    Outcome<sql::Statement*> s =
        m_impl->db->cached("SELECT month FROM declared_month WHERE year = ?1 ORDER BY month");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    return intColumn(**s);
}

Outcome<void> Ledger::declareMonth(int year, int month) {
    Impl& impl = *m_impl;
    if (month < 1 || month > 12) return fail(sysText("月份应为1到12"));
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<sql::Statement*> s = impl.db->cached(
        "SELECT MIN(x.month) FROM entry x JOIN employee e ON e.id = x.employee WHERE e.year = ?1 "
        "AND x.month < ?2 AND x.month NOT IN (SELECT month FROM declared_month WHERE year = ?1)");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    const int open = *row && !(*s)->isNull(0) ? static_cast<int>((*s)->int64(0)) : 0;
    (*s)->reset();
    if (open) return fail(sysText("请先申报") + monthText(open));
    Outcome<sql::Statement*> w =
        impl.db->cached("INSERT OR IGNORE INTO declared_month (year, month) VALUES (?1, ?2)");
    if (!w) return w.problem();
    (*w)->bind(1, year);
    (*w)->bind(2, month);
    if (Outcome<void> r = (*w)->run(); !r) return r;
    return (*t)->commit();
}

Outcome<void> Ledger::reopenMonth(int year, int month) {
    Impl& impl = *m_impl;
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<std::vector<int>> declared = declaredMonths(year);
    if (!declared) return declared.problem();
    if (!declared->empty() && declared->back() > month)
        return fail(sysText("请先撤销") + monthText(declared->back()) + sysText("的申报"));
    Outcome<sql::Statement*> w =
        impl.db->cached("DELETE FROM declared_month WHERE year = ?1 AND month = ?2");
    if (!w) return w.problem();
    (*w)->bind(1, year);
    (*w)->bind(2, month);
    if (Outcome<void> r = (*w)->run(); !r) return r;
    return (*t)->commit();
}

Outcome<std::vector<BonusChoice>> Ledger::compareBonuses(int year) {
    Impl& impl = *m_impl;
    std::vector<BonusChoice> out;
    const engine::WithholdingTable* table = impl.tables.annual.forYear(year);
    if (!table) return fail(Text::fromBytes(std::to_string(year)) + sysText("年没有预扣率表"));
    if (!table->bonusSeparateAllowed(year)) return out;
    // The employees with a bonus found from the index of the entries with one (a few of the
    // year's), not the year's employees each looked up in it; "+" keeps the year's index out.
    static const std::string sql = std::string("SELECT e.id, ") + kEmployeeColumns +
                                   " FROM employee e WHERE e.id IN (SELECT employee FROM entry "
                                   "WHERE bonus > 0) AND +e.year = ?1 AND e.resident = 1 "
                                   "ORDER BY e.id";
    std::vector<EmployeeRow> employees;
    {
        Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
        if (!s) return s.problem();
        (*s)->bind(1, year);
        if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
                employees.push_back(EmployeeRow{row.int64(0), readEmployee(row, 1)});
            });
            !r)
            return r.problem();
    }
    if (employees.empty()) return out;
    // Their months in one query rather than one an employee: the employees with a bonus from
    // its index, each one's months from the index by employee, in the order of the employees
    // and of their months. Those of other years and non-residents are passed over.
    static const std::string enteredSql =
        std::string("SELECT x.employee, ") + kEnteredColumns +
        " FROM entry x WHERE x.employee IN (SELECT employee FROM entry WHERE bonus > 0) AND "
        "x.employee BETWEEN ?1 AND ?2 ORDER BY x.employee, x.month";
    std::vector<EnteredMonth> months(employees.size() * 12);
    std::vector<std::size_t> counts(employees.size());
    {
        Outcome<sql::Statement*> s = impl.db->cached(enteredSql.c_str());
        if (!s) return s.problem();
        (*s)->bind(1, employees.front().id);
        (*s)->bind(2, employees.back().id);
        std::size_t k = 0;
        if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
                const std::int64_t id = row.int64(0);
                while (k < employees.size() && employees[k].id < id)
                    ++k;
                if (k == employees.size()) return false;
                // At most twelve: the entries are keyed by month and employee.
                if (employees[k].id == id && counts[k] < 12)
                    months[k * 12 + counts[k]++] = readEntered(row, 1);
                return true;
            });
            !r)
            return r.problem();
    }
    Outcome<std::unordered_map<std::int64_t, OpeningRow>> openings = readOpenings(impl, year);
    if (!openings) return openings.problem();
    out.reserve(employees.size());
    engine::BonusPlan plan;
    for (std::size_t k = 0; k < employees.size(); ++k) {
        const EmployeeRow& row = employees[k];
        const auto at = openings->find(row.id);
        Outcome<std::optional<BonusChoice>> c =
            compareOne(impl, *table, row,
                       at == openings->end() ? std::nullopt : std::optional<OpeningRow>(at->second),
                       std::span<const EnteredMonth>(months).subspan(k * 12, counts[k]), plan);
        if (!c) return c.problem();
        if (*c) out.push_back(std::move(**c));
    }
    return out;
}

BonusMethod Ledger::defaultBonusMethod(int year, bool resident) const {
    const engine::WithholdingTable* table = m_impl->tables.annual.forYear(year);
    return resident && table && table->bonusSeparateAllowed(year) ? BonusMethod::Separate
                                                                  : BonusMethod::Combined;
}

Outcome<std::optional<BonusChoice>> Ledger::compareBonus(int year, const PersonKey& key) {
    Impl& impl = *m_impl;
    const engine::WithholdingTable* table = impl.tables.annual.forYear(year);
    if (!table) return fail(Text::fromBytes(std::to_string(year)) + sysText("年没有预扣率表"));
    Outcome<std::optional<EmployeeRow>> found = findEmployee(impl, year, key);
    if (!found) return found.problem();
    if (!*found || !(*found)->employee.resident || !table->bonusSeparateAllowed(year))
        return std::optional<BonusChoice>();
    Outcome<std::optional<OpeningRow>> opening = readOpening(impl, (*found)->id);
    if (!opening) return opening.problem();
    Outcome<std::vector<EnteredMonth>> entries = enteredAmounts(impl, (*found)->id);
    if (!entries) return entries.problem();
    engine::BonusPlan plan;
    return compareOne(impl, *table, **found, *opening, *entries, plan);
}

Outcome<std::optional<Opening>> Ledger::putOpening(int year, const PersonKey& key,
                                                   const std::optional<Opening>& opening) {
    Impl& impl = *m_impl;
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<EmployeeRow> found =
        undeclaredEmployee(impl, year, key, "已有申报的月份，期初数不能再改");
    if (!found) return found.problem();
    const EmployeeRow& row = *found;
    Outcome<std::vector<StoredEntry>> entries = readEntries(impl, row.id);
    if (!entries) return entries.problem();
    Outcome<std::optional<OpeningRow>> old = readOpening(impl, row.id);
    if (!old) return old.problem();
    if (opening) {
        const Opening& o = *opening;
        if (o.throughMonth < 1 || o.throughMonth > 11) return fail(sysText("截至月份应为1到11"));
        for (const Exact* v : {&o.income, &o.taxFree, &o.basicDeduction, &o.special,
                               &o.specialAdditional, &o.other, &o.relief, &o.withheld})
            if (!engine::toFen(*v) || v->sign() < 0 || *v > Exact(engine::kLargestAmount))
                return fail(sysText("金额应为0到10^12之间的两位小数"));
        if (!entries->empty() && entries->front().month <= o.throughMonth)
            return fail(whom(row.employee) + monthText(entries->front().month) +
                        sysText("已有工资，期初数只能截至此前的月份"));
        if (Outcome<void> w =
                writeOpening(impl, row.id,
                             OpeningRow{o.throughMonth,
                                        {fen(o.income), fen(o.taxFree), fen(o.basicDeduction),
                                         fen(o.special), fen(o.specialAdditional), fen(o.other),
                                         fen(o.relief), fen(o.withheld)}});
            !w)
            return w.problem();
    } else if (*old) {
        Outcome<sql::Statement*> d = impl.db->cached("DELETE FROM opening WHERE employee = ?1");
        if (!d) return d.problem();
        (*d)->bind(1, row.id);
        if (Outcome<void> r = (*d)->run(); !r) return r.problem();
    }
    if (!entries->empty()) {
        Outcome<Recomputed> n = recomputeEmployee(impl, year, row, 1, false, std::nullopt);
        if (!n) return n.problem();
    }
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    if (!*old) return std::optional<Opening>();
    return std::optional<Opening>(toOpening(key, **old));
}

} // namespace iit::ledger
