// The entries of a month: their computation, import, edit, copy forward and show.
#include "ledger/ledger_internal.h"

#include "engine/amount.h"
#include "engine/tax.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;
using engine::Exact;

namespace detail {
namespace {

Exact maxZero(const Exact& v) {
    return v.sign() < 0 ? Exact{} : v;
}

// Computes the figures of `e` after the sums `before`.
Outcome<void> computeEntry(Ledger::Impl& impl, int year, const EmployeeRow& row,
                           const engine::YearToDate& before, StoredEntry& e) {
    const Employee& emp = row.employee;
    const Exact income = e.income ? amount(*e.income) : Exact{};
    const Exact bonus = amount(e.bonus);
    const bool separate = emp.resident && e.bonusSeparate && e.bonus > 0;
    engine::YearToDate after;
    if (emp.resident) {
        const engine::WithholdingTable* table = impl.tables.annual.forYear(year);
        if (!table) return fail(Text::fromBytes(std::to_string(year)) + sysText("年没有预扣率表"));
        engine::MonthAmounts a;
        a.income = separate ? income : income + bonus;
        a.taxFree = amount(e.taxFree);
        a.special = amount(e.special);
        a.specialAdditional = amount(e.specialAdditional);
        a.other = amount(e.other);
        a.relief = amount(e.relief);
        Outcome<engine::CumulativeFigures> f =
            engine::computeCumulative(*table, before, e.month, emp.joinMonth.value_or(e.month),
                                      emp.options, a, engine::TaxMode::Gross);
        if (!f) return f.problem();
        Exact bonusTax;
        if (separate) {
            Outcome<engine::BonusFigures> b =
                engine::computeSeparateBonus(impl.tables.monthly, bonus);
            if (!b) return b.problem();
            bonusTax = b->tax;
        }
        after = f->after;
        e.method = 1;
        e.tableYear = table->fromYear;
        e.taxable = fen(f->taxable);
        e.rate = fen(f->ratePercent);
        e.quick = fen(f->quickDeduction);
        e.cumTax = fen(f->tax);
        e.withholding = fen(f->withholding);
        e.bonusTax = fen(bonusTax);
    } else {
        // Non-residents: the monthly method of the bracket table, as the batch computes wages.
        const Exact x = income + bonus - amount(e.taxFree);
        const engine::TaxFigures f =
            engine::computeTaxFigures(impl.tables.bracket, x, engine::TaxKind::Wages,
                                      engine::TaxMode::Gross, engine::TaxPolicy::sheetAll());
        if (f.type == engine::TaxFigures::Type::NoResult)
            return fail(sysText("税率表无法计算此收入"));
        const Exact tax = f.type == engine::TaxFigures::Type::Taxed ? maxZero(f.tax) : Exact{};
        after = before;
        after.month = e.month;
        after.income += income + bonus;
        after.taxFree += amount(e.taxFree);
        after.special += amount(e.special);
        after.specialAdditional += amount(e.specialAdditional);
        after.other += amount(e.other);
        after.relief += amount(e.relief);
        after.withheld += tax;
        e.method = 2;
        e.tableYear.reset();
        e.taxable.reset();
        e.rate.reset();
        e.quick.reset();
        e.cumTax.reset();
        e.withholding = fen(tax);
        e.bonusTax = 0;
    }
    e.cum = SumsFen::of(after);
    e.afterTax = (e.income ? *e.income : 0) + e.bonus - e.special - e.withholding - e.bonusTax;
    return {};
}

Outcome<void> writeEntry(Ledger::Impl& impl, std::int64_t employeeId, const StoredEntry& e) {
    Outcome<sql::Statement*> s = impl.db->cached(
        "INSERT OR REPLACE INTO entry (employee, month, income, tax_free, special, "
        "special_additional, other, relief, bonus, bonus_separate, method, table_year, "
        "cum_income, cum_tax_free, cum_basic, cum_special, cum_special_additional, cum_other, "
        "cum_relief, cum_withheld, taxable, rate, quick, cum_tax, withholding, bonus_tax, "
        "after_tax, remark) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
        "?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28)");
    if (!s) return s.problem();
    sql::Statement& w = **s;
    auto opt = [&](int i, const std::optional<std::int64_t>& v) {
        if (v)
            w.bind(i, *v);
        else
            w.bindNull(i);
    };
    w.bind(1, employeeId);
    w.bind(2, e.month);
    opt(3, e.income);
    w.bind(4, e.taxFree);
    w.bind(5, e.special);
    w.bind(6, e.specialAdditional);
    w.bind(7, e.other);
    w.bind(8, e.relief);
    w.bind(9, e.bonus);
    w.bind(10, e.bonusSeparate ? 1 : 0);
    w.bind(11, e.method);
    opt(12, e.tableYear);
    e.cum.bind(w, 13);
    opt(21, e.taxable);
    opt(22, e.rate);
    opt(23, e.quick);
    opt(24, e.cumTax);
    w.bind(25, e.withholding);
    w.bind(26, e.bonusTax);
    w.bind(27, e.afterTax);
    w.bind(28, e.remark);
    return w.run();
}

} // namespace

std::string utf8(const Text& t) {
    for (unsigned char c : t.view())
        if (c >= 0x80) return t.toUtf8();
    return t.bytes();
}

std::string withoutSpaces(const Text& t) {
    std::string s = utf8(t), out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n') continue;
        if (s.compare(i, 3, "\xE3\x80\x80") == 0) {
            i += 2;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

Outcome<void> checkMonthOpen(Ledger::Impl& impl, int year, int month) {
    if (month < 1 || month > 12) return fail(sysText("月份应为1到12"));
    if (!impl.tables.annual.forYear(year))
        return fail(Text::fromBytes(std::to_string(year)) + sysText("年没有预扣率表"));
    Outcome<sql::Statement*> s =
        impl.db->cached("SELECT MAX(month) FROM declared_month WHERE year = ?1");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    const int last = *row && !(*s)->isNull(0) ? static_cast<int>((*s)->int64(0)) : 0;
    (*s)->reset();
    if (last == 0 || last < month) return {};
    // The declared months are the first of the year: `month` is declared or lies before one.
    Outcome<sql::Statement*> d =
        impl.db->cached("SELECT 1 FROM declared_month WHERE year = ?1 AND month = ?2");
    if (!d) return d.problem();
    (*d)->bind(1, year);
    (*d)->bind(2, month);
    Outcome<bool> declared = (*d)->step();
    (*d)->reset();
    if (!declared) return declared.problem();
    if (*declared)
        return fail(monthText(month) + sysText("已申报，不能修改；如需更正，请先撤销申报"));
    return fail(monthText(last) + sysText("已申报，不能再修改此前的") + monthText(month));
}

Outcome<bool> hasDeclaredEntry(Ledger::Impl& impl, int year, std::int64_t employeeId) {
    Outcome<sql::Statement*> s = impl.db->cached(
        "SELECT 1 FROM entry x JOIN declared_month d ON d.year = ?1 AND d.month = x.month "
        "WHERE x.employee = ?2 LIMIT 1");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, employeeId);
    Outcome<bool> row = (*s)->step();
    (*s)->reset();
    return row;
}

Outcome<std::optional<Text>> entryRefusal(Ledger::Impl& impl, int year, int month,
                                          const EmployeeRow& row, const StoredEntry& entry,
                                          const std::optional<OpeningRow>& opening) {
    const Employee& emp = row.employee;
    if (emp.leftMonth && month > *emp.leftMonth)
        return std::optional<Text>(sysText("此人已于") + monthText(*emp.leftMonth) +
                                   sysText("离职"));
    if (opening && month <= opening->throughMonth)
        return std::optional<Text>(sysText("此人的期初数已截至") +
                                   monthText(opening->throughMonth));
    if (entry.bonus > 0 && entry.bonusSeparate) {
        if (!emp.resident) return std::optional<Text>(sysText("非居民个人的奖金不能单独计税"));
        const engine::WithholdingTable* table = impl.tables.annual.forYear(year);
        if (!table || !table->bonusSeparateAllowed(year))
            return std::optional<Text>(Text::fromBytes(std::to_string(year)) +
                                       sysText("年的全年一次性奖金不能单独计税"));
        Outcome<sql::Statement*> s = impl.db->cached(
            "SELECT month FROM entry WHERE employee = ?1 AND month <> ?2 AND bonus > 0 AND "
            "bonus_separate = 1 LIMIT 1");
        if (!s) return s.problem();
        (*s)->bind(1, row.id);
        (*s)->bind(2, month);
        Outcome<bool> other = (*s)->step();
        if (!other) return other.problem();
        const int otherMonth = *other ? static_cast<int>((*s)->int64(0)) : 0;
        (*s)->reset();
        if (otherMonth)
            return std::optional<Text>(sysText("全年一次性奖金一年只能单独计税一次，此人") +
                                       monthText(otherMonth) + sysText("已有"));
    }
    return std::optional<Text>();
}

Outcome<Recomputed> recomputeEmployee(Ledger::Impl& impl, int year, const EmployeeRow& employee,
                                      int month, bool change,
                                      const std::optional<StoredEntry>& entry,
                                      const std::optional<OpeningRow>* knownOpening,
                                      const Around& around) {
    static const std::string before = std::string("SELECT ") + kEntryColumns +
                                      " FROM entry x WHERE x.employee = ?1 AND x.month < ?2 "
                                      "ORDER BY x.month DESC LIMIT 1";
    static const std::string later = std::string("SELECT ") + kEntryColumns +
                                     " FROM entry x WHERE x.employee = ?1 AND x.month >= ?2 "
                                     "ORDER BY x.month";
    engine::YearToDate sums;
    if (around.monthBefore) {
        sums = stateOf(*around.monthBefore);
    } else {
        // January has no month before it.
        Outcome<bool> row = false;
        if (month > 1) {
            Outcome<sql::Statement*> s = impl.db->cached(before.c_str());
            if (!s) return s.problem();
            (*s)->bind(1, employee.id);
            (*s)->bind(2, month);
            row = (*s)->step();
            if (!row) return row.problem();
            if (*row) sums = stateOf(readEntry(**s));
            (*s)->reset();
        }
        if (!*row && knownOpening) {
            if (*knownOpening) sums = stateOf(**knownOpening);
        } else if (!*row) {
            Outcome<std::optional<OpeningRow>> opening = readOpening(impl, employee.id);
            if (!opening) return opening.problem();
            if (*opening) sums = stateOf(**opening);
        }
    }
    struct Work {
        StoredEntry stored, computed;
        bool isNew = false, removed = false;
    };
    std::vector<Work> rows;
    if (!around.noneFromMonth) {
        Outcome<sql::Statement*> s = impl.db->cached(later.c_str());
        if (!s) return s.problem();
        (*s)->bind(1, employee.id);
        (*s)->bind(2, month);
        if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
                const StoredEntry e = readEntry(row);
                rows.push_back(Work{e, e});
            });
            !r)
            return r.problem();
    }
    Recomputed result;
    if (change) {
        const bool had = !rows.empty() && rows.front().stored.month == month;
        if (had) result.previous = rows.front().stored;
        if ((had && entry && entry->sameInput(rows.front().stored)) || (!had && !entry)) {
            result.unchanged = true;
            return result;
        }
        if (entry) {
            if (had)
                rows.front().computed = *entry;
            else
                rows.insert(rows.begin(), Work{*entry, *entry, true});
            rows.front().computed.month = month;
        } else if (had) {
            rows.front().removed = true;
        }
    }
    for (Work& w : rows) {
        if (w.removed) {
            Outcome<sql::Statement*> d =
                impl.db->cached("DELETE FROM entry WHERE employee = ?1 AND month = ?2");
            if (!d) return d.problem();
            (*d)->bind(1, employee.id);
            (*d)->bind(2, w.stored.month);
            if (Outcome<void> r = (*d)->run(); !r) return r.problem();
            continue;
        }
        if (Outcome<void> r = computeEntry(impl, year, employee, sums, w.computed); !r)
            return fail(monthText(w.computed.month) + sysText("：") + r.problem().message);
        sums = stateOf(w.computed);
        const bool figures = w.isNew || !w.computed.sameFigures(w.stored);
        if (figures) ++result.recomputed;
        if (figures || !w.computed.sameInput(w.stored))
            if (Outcome<void> r = writeEntry(impl, employee.id, w.computed); !r) return r.problem();
    }
    return result;
}

} // namespace detail

namespace detail {

std::string personKeyString(const PersonKey& k) {
    // The system's bytes are as unique as UTF-8 and need no conversion; 0x1F is in no character.
    return k.idType.bytes() + '\x1f' + k.idNumber.bytes();
}

namespace {

// The entries around a month of the employees of many changes: each one's entry of the month
// before, and which of them have entries from the month on.
struct AroundMonth {
    std::vector<std::pair<std::int64_t, StoredEntry>> before; // by employee
    std::vector<std::int64_t> later;                          // increasing

    Around of(std::int64_t employeeId) const {
        Around a;
        const auto it =
            std::lower_bound(before.begin(), before.end(), employeeId,
                             [](const auto& e, std::int64_t id) { return e.first < id; });
        if (it != before.end() && it->first == employeeId) a.monthBefore = &it->second;
        a.noneFromMonth = !std::binary_search(later.begin(), later.end(), employeeId);
        return a;
    }
};

// Reads them over the range of the changes' employees: rows of the month before and after come
// in the order of the employees. None when an employee has two changes, each of which must see
// the one before.
Outcome<std::optional<AroundMonth>> readAround(Ledger::Impl& impl, int month,
                                               const std::vector<Resolved>& changes) {
    std::vector<std::int64_t> ids;
    ids.reserve(changes.size());
    for (const Resolved& c : changes)
        ids.push_back(c.employee.id);
    std::sort(ids.begin(), ids.end());
    if (ids.empty() || std::adjacent_find(ids.begin(), ids.end()) != ids.end())
        return std::optional<AroundMonth>();
    AroundMonth around;
    if (month > 1) {
        static const std::string sql = std::string("SELECT x.employee, ") + kEntryColumns +
                                       " FROM entry x WHERE x.month = ?1 AND x.employee BETWEEN "
                                       "?2 AND ?3 ORDER BY x.employee";
        Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
        if (!s) return s.problem();
        (*s)->bind(1, month - 1);
        (*s)->bind(2, ids.front());
        (*s)->bind(3, ids.back());
        around.before.reserve(ids.size());
        for (std::size_t k = 0;;) {
            Outcome<bool> row = (*s)->step();
            if (!row) return row.problem();
            if (!*row) break;
            const std::int64_t id = (*s)->int64(0);
            while (k < ids.size() && ids[k] < id)
                ++k;
            if (k == ids.size()) break;
            if (ids[k] == id) around.before.emplace_back(id, readEntry(**s, 1));
        }
        (*s)->reset();
    }
    // The range of months from the file's order ("+" keeps the employees' index out): empty
    // for the month after the last one.
    static const std::string laterSql = "SELECT x.employee FROM entry x WHERE x.month >= ?1 AND "
                                        "+x.employee BETWEEN ?2 AND ?3";
    Outcome<sql::Statement*> s = impl.db->cached(laterSql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, month);
    (*s)->bind(2, ids.front());
    (*s)->bind(3, ids.back());
    if (Outcome<void> r =
            (*s)->eachRow([&](const sql::Statement& row) { around.later.push_back(row.int64(0)); });
        !r)
        return r.problem();
    std::sort(around.later.begin(), around.later.end());
    around.later.erase(std::unique(around.later.begin(), around.later.end()), around.later.end());
    return std::optional<AroundMonth>(std::move(around));
}

Text who(const Resolved& r) {
    if (r.row) return rowMessage(r.row, Text{});
    return r.employee.employee.name + sysText("（") + r.employee.employee.key.idNumber +
           sysText("）：");
}

} // namespace

Outcome<ChangeReport> Apply(Ledger::Impl& impl, int year, int month,
                            const std::vector<Resolved>& changes, const Progress& progress) {
    ChangeReport report;
    report.inverse.reserve(changes.size());
    Text refused;
    // For an import of many, what each employee's computation starts from is read at once: the
    // opening balances of the year (most employees have none), and the entries around the month,
    // a range of the file each rather than two lookups a person.
    std::optional<std::unordered_map<std::int64_t, OpeningRow>> openings;
    std::optional<AroundMonth> around;
    if (changes.size() > 64) {
        Outcome<std::unordered_map<std::int64_t, OpeningRow>> all = readOpenings(impl, year);
        if (!all) return all.problem();
        openings = std::move(*all);
        Outcome<std::optional<AroundMonth>> read = readAround(impl, month, changes);
        if (!read) return read.problem();
        around = std::move(*read);
    }
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Resolved& c = changes[i];
        Outcome<std::optional<OpeningRow>> opening = std::optional<OpeningRow>();
        if (openings) {
            if (const auto it = openings->find(c.employee.id); it != openings->end())
                opening = std::optional<OpeningRow>(it->second);
        } else {
            opening = readOpening(impl, c.employee.id);
        }
        if (!opening) return opening.problem();
        if (c.entry) {
            Outcome<std::optional<Text>> why =
                entryRefusal(impl, year, month, c.employee, *c.entry, *opening);
            if (!why) return why.problem();
            if (*why) {
                if (!refused.empty()) refused += Text::fromBytes("\n");
                refused += who(c) + **why;
            }
        }
        if (!refused.empty()) continue; // only the refusals count now
        Outcome<Recomputed> r =
            recomputeEmployee(impl, year, c.employee, month, true, c.entry, &*opening,
                              around ? around->of(c.employee.id) : Around{});
        if (!r) return fail(who(c) + r.problem().message, r.problem().code);
        const PersonKey& key = c.employee.employee.key;
        if (r->unchanged) {
            ++report.unchanged;
        } else {
            if (!c.entry)
                ++report.removed;
            else if (!r->previous)
                ++report.added;
            else
                ++report.changed;
            report.inverse.push_back(
                EntryChange{key, r->previous ? std::optional<Entry>(toEntry(key, *r->previous))
                                             : std::nullopt});
            report.recomputed += r->recomputed;
        }
        if (progress && (i % 256 == 255 || i + 1 == changes.size()) &&
            !progress(i + 1, changes.size()))
            return fail(sysText("已取消，台账未作改动"));
    }
    if (!refused.empty()) return fail(std::move(refused));
    return report;
}

} // namespace detail

namespace {

Text columnName(const char* utf8) {
    return sysText(utf8);
}

} // namespace

const std::vector<Text>& importColumns() {
    static const std::vector<Text> columns = {
        columnName("证件类型"),     columnName("证件号码"),     columnName("姓名"),
        columnName("银行卡号"),     columnName("居民"),         columnName("本月收入"),
        columnName("本月免税收入"), columnName("本月专项扣除"), columnName("本月专项附加扣除"),
        columnName("本月其他扣除"), columnName("减免税额"),     columnName("全年一次性奖金"),
        columnName("奖金计税方式"), columnName("备注")};
    return columns;
}

const Text& identityCardType() {
    static const Text t = sysText("居民身份证");
    return t;
}

const Text& bonusMethodText(BonusMethod method) {
    static const Text separate = sysText("单独计税"), combined = sysText("并入综合所得");
    return method == BonusMethod::Separate ? separate : combined;
}

std::optional<BonusMethod> bonusMethodFromText(const Text& text) {
    const std::string s = withoutSpaces(text);
    if (s == "单独计税") return BonusMethod::Separate;
    if (s == "并入综合所得" || s == "并入") return BonusMethod::Combined;
    return std::nullopt;
}

Text ChangeReport::summary() const {
    auto n = [](int v) { return Text::fromBytes(std::to_string(v)); };
    return sysText("新增") + n(added) + sysText("人，修改") + n(changed) + sysText("人，删除") +
           n(removed) + sysText("人，未变") + n(unchanged) + sysText("人；新建职工") +
           n(static_cast<int>(newEmployees.size())) + sysText("人，重算") + n(recomputed) +
           sysText("条");
}

Outcome<ChangeReport> Ledger::changeEntries(int year, int month,
                                            const std::vector<EntryChange>& changes) {
    Impl& impl = *m_impl;
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    if (Outcome<void> r = checkMonthOpen(impl, year, month); !r) return r.problem();
    std::vector<Resolved> resolved;
    for (const EntryChange& c : changes) {
        Outcome<std::optional<EmployeeRow>> e = findEmployee(impl, year, c.key);
        if (!e) return e.problem();
        if (!*e) return fail(sysText("台账中没有此人：") + c.key.idNumber);
        Resolved r;
        r.employee = **e;
        if (c.entry) {
            for (const Exact* v :
                 {&c.entry->taxFree, &c.entry->special, &c.entry->specialAdditional,
                  &c.entry->other, &c.entry->relief, &c.entry->bonus}) {
                if (!engine::toFen(*v) || v->sign() < 0 || *v > Exact(engine::kLargestAmount))
                    return fail(sysText("金额应为0到10^12之间的两位小数"));
            }
            if (c.entry->income &&
                (!engine::toFen(*c.entry->income) || c.entry->income->sign() < 0 ||
                 *c.entry->income > Exact(engine::kLargestAmount)))
                return fail(sysText("金额应为0到10^12之间的两位小数"));
            r.entry = fromEntry(month, *c.entry);
        }
        resolved.push_back(std::move(r));
    }
    Outcome<ChangeReport> report = Apply(impl, year, month, resolved, {});
    if (!report) return report;
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return report;
}

Outcome<ChangeReport> Ledger::copyToNextMonth(int year, int month) {
    Impl& impl = *m_impl;
    if (month < 1 || month >= 12) return fail(sysText("只能复制1到11月"));
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    if (Outcome<void> r = checkMonthOpen(impl, year, month + 1); !r) return r.problem();
    static const std::string sql =
        std::string("SELECT e.id, ") + kEmployeeColumns + ", " + kEntryColumns +
        " FROM employee e JOIN entry x ON x.employee = e.id AND x.month = ?2 "
        "WHERE e.year = ?1 AND (e.left_month IS NULL OR e.left_month > ?2) AND NOT EXISTS "
        "(SELECT 1 FROM entry n WHERE n.employee = e.id AND n.month = ?2 + 1) ORDER BY x.employee";
    std::vector<Resolved> changes;
    {
        Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
        if (!s) return s.problem();
        (*s)->bind(1, year);
        (*s)->bind(2, month);
        if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
                Resolved c;
                c.employee = EmployeeRow{row.int64(0), readEmployee(row, 1)};
                const StoredEntry from = readEntry(row, 11);
                StoredEntry e;
                e.month = month + 1;
                e.special = from.special;
                e.specialAdditional = from.specialAdditional;
                e.other = from.other;
                c.entry = e;
                changes.push_back(std::move(c));
            });
            !r)
            return r.problem();
    }
    Outcome<ChangeReport> report = Apply(impl, year, month + 1, changes, {});
    if (!report) return report;
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return report;
}

Outcome<std::optional<Entry>> Ledger::entry(int year, int month, const PersonKey& key) {
    Impl& impl = *m_impl;
    Outcome<std::optional<EmployeeRow>> e = findEmployee(impl, year, key);
    if (!e) return e.problem();
    if (!*e) return std::optional<Entry>();
    static const std::string sql = std::string("SELECT ") + kEntryColumns +
                                   " FROM entry x WHERE x.employee = ?1 AND x.month = ?2";
    Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, (*e)->id);
    (*s)->bind(2, month);
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    std::optional<Entry> out;
    if (*row) out = toEntry(key, readEntry(**s));
    (*s)->reset();
    return out;
}

namespace detail {

MonthLine readLine(const sql::Statement& s) {
    auto opt = [](const std::optional<std::int64_t>& v) -> std::optional<Exact> {
        if (!v) return std::nullopt;
        return amount(*v);
    };
    MonthLine line;
    line.employee = readEmployee(s, 0);
    const StoredEntry e = readEntry(s, 10);
    line.month = e.month;
    line.entry = toEntry(line.employee.key, e);
    line.method = e.method == 2 ? Method::Monthly : Method::Cumulative;
    line.tableYear = static_cast<int>(e.tableYear.value_or(0));
    line.cumulativeIncome = amount(e.cum.income);
    line.cumulativeBasicDeduction = amount(e.cum.basic);
    line.taxable = opt(e.taxable);
    line.ratePercent = opt(e.rate);
    line.quickDeduction = opt(e.quick);
    line.cumulativeTax = opt(e.cumTax);
    line.withheldBefore = amount(e.cum.withheld - e.withholding);
    line.withholding = amount(e.withholding);
    line.bonusTax = amount(e.bonusTax);
    line.afterTax = amount(e.afterTax);
    return line;
}

} // namespace detail

Outcome<MonthView> Ledger::showMonth(int year, int month) {
    Impl& impl = *m_impl;
    MonthView view;
    view.year = year;
    view.month = month;
    Outcome<std::vector<int>> declared = declaredMonths(year);
    if (!declared) return declared.problem();
    view.declared = std::find(declared->begin(), declared->end(), month) != declared->end();
    // The month's entries in the order they are kept (by employee, which is the order the
    // employees were added): read as they lie, without a sort.
    static const std::string sql = std::string("SELECT ") + kEmployeeColumns + ", " +
                                   kEntryColumns +
                                   " FROM employee e JOIN entry x ON x.employee = e.id AND "
                                   "x.month = ?2 WHERE e.year = ?1 ORDER BY x.employee";
    // Room for every employee of the year, counted from the index of their keys: the lines are
    // large, and growing would move them again and again.
    {
        Outcome<sql::Statement*> c =
            impl.db->cached("SELECT count(*) FROM employee WHERE year = ?1");
        if (!c) return c.problem();
        (*c)->bind(1, year);
        Outcome<bool> row = (*c)->step();
        if (!row) return row.problem();
        if (*row) view.lines.reserve(static_cast<std::size_t>((*c)->int64(0)));
        (*c)->reset();
    }
    Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    if (Outcome<void> r =
            (*s)->eachRow([&](const sql::Statement& row) { view.lines.push_back(readLine(row)); });
        !r)
        return r.problem();
    return view;
}

std::vector<Text> monthColumns() {
    std::vector<Text> names;
    for (const char* n : {"姓名",
                          "证件号码",
                          "月份",
                          "本月收入",
                          "本月免税收入",
                          "本月专项扣除",
                          "本月专项附加扣除",
                          "本月其他扣除",
                          "累计收入",
                          "累计减除费用",
                          "累计应纳税所得额",
                          "预扣率",
                          "速算扣除数",
                          "累计应纳税额",
                          "累计已预扣",
                          "本月应预扣",
                          "实发",
                          "证件类型",
                          "减免税额",
                          "全年一次性奖金",
                          "奖金计税方式",
                          "奖金税额",
                          "计税方法",
                          "证件号码校验",
                          "备注"})
        names.push_back(sysText(n));
    return names;
}

std::vector<Text> monthCells(const MonthLine& l) {
    static const Text cumulative = sysText("累计预扣法"), monthly = sysText("按月计税（非居民）"),
                      badCheck = sysText("校验位不符");
    auto t = [](const std::optional<Exact>& v) { return v ? ToText(*v) : Text{}; };
    const Entry& e = l.entry;
    return {l.employee.name,
            l.employee.key.idNumber,
            Text::fromBytes(std::to_string(l.month)),
            t(e.income),
            ToText(e.taxFree),
            ToText(e.special),
            ToText(e.specialAdditional),
            ToText(e.other),
            ToText(l.cumulativeIncome),
            ToText(l.cumulativeBasicDeduction),
            t(l.taxable),
            t(l.ratePercent),
            t(l.quickDeduction),
            t(l.cumulativeTax),
            ToText(l.withheldBefore),
            ToText(l.withholding),
            ToText(l.afterTax),
            l.employee.key.idType,
            ToText(e.relief),
            ToText(e.bonus),
            e.bonus.isZero() ? Text{} : bonusMethodText(e.bonusMethod),
            ToText(l.bonusTax),
            l.method == Method::Cumulative ? cumulative : monthly,
            l.employee.idCheckFailed ? badCheck : Text{},
            e.remark};
}

std::vector<Text> bonusChoiceColumns() {
    std::vector<Text> names;
    for (const char* n :
         {"单独计税全年税额", "并入综合所得全年税额", "较低的计税方式", "少缴税额", "预测月数"})
        names.push_back(sysText(n));
    return names;
}

std::vector<Text> bonusChoiceCells(const BonusChoice* choice) {
    if (!choice) return std::vector<Text>(5);
    using Lower = engine::BonusComparison::Lower;
    static const Text same = sysText("相同");
    const engine::BonusComparison& c = choice->comparison;
    return {ToText(c.separate.total), ToText(c.combined.total),
            c.lower == Lower::Same
                ? same
                : bonusMethodText(c.lower == Lower::Separate ? BonusMethod::Separate
                                                             : BonusMethod::Combined),
            ToText(c.saving), Text::fromBytes(std::to_string(c.projectedMonths))};
}

} // namespace iit::ledger
