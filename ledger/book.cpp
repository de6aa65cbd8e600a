// The book's employees, opening balances and declared months, and the book itself over its
// store.
#include "ledger/book.h"

#include "base/convert.h"
#include "engine/amount.h"

#include <algorithm>

namespace iit::ledger {

using namespace detail;

namespace {

bool sameComputation(const Employee& a, const Employee& b) {
    return a.joinMonth == b.joinMonth && a.resident == b.resident &&
           a.options.fromJanuary == b.options.fromJanuary &&
           a.options.annualDeduction == b.options.annualDeduction &&
           a.healthThroughPayroll == b.healthThroughPayroll &&
           a.deferredPensionThroughPayroll == b.deferredPensionThroughPayroll;
}

// The employee with the mark of their number set as the ledger sets it.
Employee marked(Employee e) {
    e.idCheckFailed = engine::identityCheckFails(e.key.idType, e.key.idNumber);
    return e;
}

// The employee of `key`, who must have no declared month: `refusal` says why otherwise.
Outcome<StoredEmployee> undeclaredEmployee(Book& book, int year, const PersonKey& key,
                                           const char* refusal) {
    Outcome<std::optional<StoredEmployee>> found = book.store->findEmployee(year, key);
    if (!found) return found.problem();
    if (!*found) return fail(sysText("台账中没有此人：") + key.idNumber);
    Outcome<bool> declared = hasDeclaredEntry(book, year, (*found)->id);
    if (!declared) return declared.problem();
    if (*declared) return fail(whom((*found)->employee) + sysText(refusal));
    return std::move(**found);
}

Outcome<void> checkEmployee(const Employee& e) {
    for (const std::optional<int>& m : {e.joinMonth, e.leftMonth})
        if (m && (*m < 1 || *m > 12)) return fail(sysText("月份应为1到12"));
    if (e.key.idType.empty()) return fail(sysText("证件类型为空"));
    return engine::checkIdentityNumber(e.key.idType, e.key.idNumber);
}

} // namespace

namespace detail {

Outcome<void> checkOptions(const Employee& e, std::optional<int> firstMonth) {
    return engine::checkDeductionOptions(e.options, e.joinMonth ? e.joinMonth : firstMonth);
}

Outcome<void> earlierItems(LedgerStore& store, int year, int month,
                           const std::vector<StoredEmployee>& known,
                           std::unordered_map<EmployeeId, EarlierItems>& out) {
    if (known.empty()) return {};
    const auto [first, last] = idRange(known);
    Outcome<std::vector<LedgerStore::ItemsBefore>> before = store.itemsBefore(month, first, last);
    if (!before) return before.problem();
    out.reserve(before->size());
    for (const LedgerStore::ItemsBefore& b : *before)
        out.emplace(b.employee, EarlierItems{b.sums, b.asSums, b.firstMonth});
    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings = store.openings(year);
    if (!openings) return openings.problem();
    for (const auto& [id, o] : *openings) {
        EarlierItems& x = out[id];
        if (o.sums.specialAdditional != 0) x.unknown |= groupBit(ItemGroup::SpecialAdditional);
        if (o.sums.other != 0) x.unknown |= groupBit(ItemGroup::Other);
    }
    return {};
}

Outcome<std::optional<int>> countingMonthOf(Book& book, const StoredEmployee& e) {
    if (e.employee.joinMonth) return e.employee.joinMonth;
    Outcome<std::optional<StoredOpening>> opening = book.store->opening(e.id);
    if (!opening) return opening.problem();
    if (*opening) return std::optional<int>(1);
    Outcome<std::vector<StoredEntry>> entries = book.store->entries(e.id);
    if (!entries) return entries.problem();
    if (entries->empty()) return std::optional<int>();
    return std::optional<int>(entries->front().month);
}

Outcome<std::vector<Text>> annualDeductionNotes(Book& book, int year, const Employee& e) {
    std::vector<Text> notes;
    if (!e.options.annualDeduction) return notes;
    Outcome<std::vector<int>> years = book.store->years();
    if (!years) return years.problem();
    if (std::find(years->begin(), years->end(), year - 1) == years->end()) return notes;
    Outcome<std::optional<StoredEmployee>> before = book.store->findEmployee(year - 1, e.key);
    if (!before) return before.problem();
    const Text who = whom(e) + sysText("：");
    if (!*before) {
        notes.push_back(who + sysText("台账中上年没有此人，全年减除6万元的条件无从核对"));
        return notes;
    }
    Outcome<std::vector<StoredEntry>> entries = book.store->entries((*before)->id);
    if (!entries) return entries.problem();
    std::int64_t paid = 0;
    for (const StoredEntry& m : *entries)
        paid += m.income.value_or(0) + m.bonus;
    if (entries->size() < 12)
        notes.push_back(who + sysText("上年只有") +
                        Text::fromBytes(std::to_string(entries->size())) +
                        sysText("个月在本单位发放工资，不符合全年减除6万元的条件"));
    if (paid > 60000 * 100)
        notes.push_back(who + sysText("上年在本单位的工资收入为") + ToText(amount(paid)) +
                        sysText("，超过6万元，不符合全年减除6万元的条件"));
    return notes;
}

} // namespace detail

Ledger::Ledger(std::unique_ptr<LedgerStore> store, LedgerTables tables)
    : m_book(std::make_unique<Book>(Book{std::move(store), std::move(tables), {}, {}, 0})) {}
Ledger::Ledger(Ledger&&) noexcept = default;
Ledger& Ledger::operator=(Ledger&&) noexcept = default;
Ledger::~Ledger() = default;

LedgerStore& Ledger::store() {
    return *m_book->store;
}

const LedgerTables& Ledger::tables() const {
    return m_book->tables;
}

Outcome<void> Ledger::atomically(const std::function<Outcome<void>()>& work) {
    Outcome<std::unique_ptr<StoreTransaction>> t = m_book->store->begin();
    if (!t) return t.problem();
    if (Outcome<void> r = work(); !r) return r;
    return (*t)->commit();
}

BonusMethod Ledger::defaultBonusMethod(int year, bool resident) const {
    const engine::WithholdingTable* table = m_book->tables.annual.forYear(year);
    return resident && table && table->bonusSeparateAllowed(year) ? BonusMethod::Separate
                                                                  : BonusMethod::Combined;
}

// ---- Employees

Outcome<std::vector<int>> Ledger::years() {
    return m_book->store->years();
}

Outcome<std::vector<Employee>> Ledger::listEmployees(int year) {
    Outcome<std::vector<StoredEmployee>> stored = m_book->store->employees(year);
    if (!stored) return stored.problem();
    std::vector<Employee> out;
    out.reserve(stored->size());
    for (StoredEmployee& e : *stored)
        out.push_back(std::move(e.employee));
    return out;
}

Outcome<std::optional<Employee>> Ledger::putEmployee(int year, const Employee& given) {
    return detail::retried(*m_book, [&]() -> Outcome<std::optional<Employee>> {
        Book& book = *m_book;
        if (Outcome<void> r = checkEmployee(given); !r) return r.problem();
        const Employee employee = marked(given);
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        Outcome<std::optional<StoredEmployee>> found = book.store->findEmployee(year, employee.key);
        if (!found) return found.problem();
        std::optional<int> first;
        if (*found) {
            Outcome<std::optional<int>> counting =
                countingMonthOf(book, StoredEmployee{(*found)->id, Employee{}});
            if (!counting) return counting.problem();
            first = *counting;
        }
        if (Outcome<void> r = checkOptions(employee, first); !r)
            return fail(whom(employee) + sysText("：") + r.problem().message);
        std::optional<Employee> previous;
        if (*found) {
            const StoredEmployee& row = **found;
            previous = row.employee;
            const bool recompute = !sameComputation(row.employee, employee);
            Outcome<std::vector<StoredEntry>> entries = book.store->entries(row.id);
            if (!entries) return entries.problem();
            if (recompute) {
                Outcome<bool> declared = hasDeclaredEntry(book, year, row.id);
                if (!declared) return declared.problem();
                if (*declared)
                    return fail(
                        whom(employee) +
                        sysText("已有申报的月份，入职月份、居民身份和减除费用选项不能再改"));
                if (!employee.resident)
                    for (const StoredEntry& e : *entries)
                        if (e.bonusSeparate())
                            return fail(whom(employee) +
                                        sysText("有单独计税的奖金，不能改为非居民"));
            }
            if (employee.leftMonth)
                for (const StoredEntry& e : *entries)
                    if (e.month > *employee.leftMonth)
                        return fail(whom(employee) + sysText("在离职月份之后还有") +
                                    monthText(e.month) + sysText("的工资"));
            if (Outcome<void> r = book.store->updateEmployee(row.id, employee); !r)
                return r.problem();
            if (recompute && !entries->empty()) {
                const StoredEmployee updated{row.id, employee};
                Outcome<Recomputed> n =
                    recomputeEmployee(book, year, updated, 1, false, std::nullopt);
                if (!n) return n.problem();
            }
        } else {
            if (Outcome<EmployeeId> id = book.store->addEmployee(year, employee); !id)
                return id.problem();
        }
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return previous;
    });
}

Outcome<EmployeeRecord> Ledger::removeEmployee(int year, const PersonKey& key) {
    return detail::retried(*m_book, [&]() -> Outcome<EmployeeRecord> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        Outcome<StoredEmployee> found = undeclaredEmployee(
            book, year, key, "已有申报的月份，不能删除；离职的职工请填写离职月份");
        if (!found) return found.problem();
        EmployeeRecord record;
        record.employee = found->employee;
        Outcome<std::optional<StoredOpening>> opening = book.store->opening(found->id);
        if (!opening) return opening.problem();
        if (*opening) record.opening = toOpening(key, **opening);
        Outcome<std::vector<StoredEntry>> entries = book.store->entries(found->id);
        if (!entries) return entries.problem();
        for (const StoredEntry& e : *entries)
            record.entries.emplace_back(e.month, toEntry(key, e));
        if (Outcome<void> r = book.store->removeEmployee(found->id); !r) return r.problem();
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return record;
    });
}

Outcome<void> Ledger::restoreEmployee(int year, const EmployeeRecord& record) {
    return detail::retried(*m_book, [&]() -> Outcome<void> {
        Book& book = *m_book;
        if (Outcome<void> r = checkEmployee(record.employee); !r) return r;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        Outcome<std::optional<StoredEmployee>> found =
            book.store->findEmployee(year, record.employee.key);
        if (!found) return found.problem();
        if (*found) return fail(whom(record.employee) + sysText("已在台账中"));
        for (const auto& [month, entry] : record.entries)
            if (Outcome<void> r = checkMonthOpen(book, year, month); !r) return r;
        const Employee employee = marked(record.employee);
        Outcome<EmployeeId> id = book.store->addEmployee(year, employee);
        if (!id) return id.problem();
        const StoredEmployee row{*id, employee};
        if (record.opening) {
            Outcome<StoredOpening> o = fromOpening(*record.opening);
            if (!o) return o.problem();
            if (Outcome<void> r = book.store->putOpening(row.id, *o); !r) return r;
        }
        for (const auto& [month, entry] : record.entries) {
            Outcome<StoredEntry> e = fromEntry(month, entry);
            if (!e) return e.problem();
            Outcome<Recomputed> n = recomputeEmployee(book, year, row, month, true, *e);
            if (!n) return n.problem();
        }
        return (*t)->commit();
    });
}

Outcome<void> Ledger::changeKey(int year, const PersonKey& from, const PersonKey& to) {
    return detail::retried(*m_book, [&]() -> Outcome<void> {
        Book& book = *m_book;
        if (to.idType.empty()) return fail(sysText("证件类型为空"));
        if (Outcome<void> r = engine::checkIdentityNumber(to.idType, to.idNumber); !r) return r;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        Outcome<std::optional<StoredEmployee>> found = book.store->findEmployee(year, from);
        if (!found) return found.problem();
        if (!*found) return fail(sysText("台账中没有此人：") + from.idNumber);
        if (from == to) return {};
        Outcome<std::optional<StoredEmployee>> taken = book.store->findEmployee(year, to);
        if (!taken) return taken.problem();
        if (*taken)
            return fail(sysText("证件号码") + to.idNumber + sysText("已是") +
                        (*taken)->employee.name + sysText("的"));
        Outcome<bool> declared = hasDeclaredEntry(book, year, (*found)->id);
        if (!declared) return declared.problem();
        if (*declared)
            return fail((*found)->employee.name + sysText("已有申报的月份，证件号码不能再改"));
        Employee employee = (*found)->employee;
        employee.key = to;
        if (Outcome<void> r = book.store->updateEmployee((*found)->id, marked(employee)); !r)
            return r;
        return (*t)->commit();
    });
}

Outcome<std::vector<Text>> Ledger::optionNotes(int year, const PersonKey& key) {
    Outcome<std::optional<StoredEmployee>> found = m_book->store->findEmployee(year, key);
    if (!found) return found.problem();
    if (!*found) return std::vector<Text>();
    return annualDeductionNotes(*m_book, year, (*found)->employee);
}

Outcome<std::vector<LedgerStore::ChangeRecord>> Ledger::history(int year, const PersonKey& key,
                                                                int limit) {
    Outcome<std::optional<StoredEmployee>> e = m_book->store->findEmployee(year, key);
    if (!e) return e.problem();
    if (!*e) return std::vector<LedgerStore::ChangeRecord>{};
    return m_book->store->history((*e)->id, limit);
}

Outcome<std::optional<int>> Ledger::countingMonth(int year, const PersonKey& key) {
    Outcome<std::optional<StoredEmployee>> found = m_book->store->findEmployee(year, key);
    if (!found) return found.problem();
    if (!*found) return std::optional<int>();
    return countingMonthOf(*m_book, **found);
}

// ---- Opening balances

Outcome<std::optional<Opening>> Ledger::opening(int year, const PersonKey& key) {
    Outcome<std::optional<StoredEmployee>> found = m_book->store->findEmployee(year, key);
    if (!found) return found.problem();
    if (!*found) return std::optional<Opening>();
    Outcome<std::optional<StoredOpening>> o = m_book->store->opening((*found)->id);
    if (!o) return o.problem();
    if (!*o) return std::optional<Opening>();
    return std::optional<Opening>(toOpening(key, **o));
}

Outcome<std::optional<Opening>> Ledger::putOpening(int year, const PersonKey& key,
                                                   const std::optional<Opening>& opening) {
    return detail::retried(*m_book, [&]() -> Outcome<std::optional<Opening>> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        Outcome<StoredEmployee> found =
            undeclaredEmployee(book, year, key, "已有申报的月份，期初数不能再改");
        if (!found) return found.problem();
        Outcome<std::vector<StoredEntry>> entries = book.store->entries(found->id);
        if (!entries) return entries.problem();
        Outcome<std::optional<StoredOpening>> old = book.store->opening(found->id);
        if (!old) return old.problem();
        if (opening) {
            Outcome<StoredOpening> o = fromOpening(*opening);
            if (!o) return o.problem();
            if (!entries->empty() && entries->front().month <= o->throughMonth)
                return fail(whom(found->employee) + monthText(entries->front().month) +
                            sysText("已有工资，期初数只能截至此前的月份"));
            if (Outcome<void> w = book.store->putOpening(found->id, *o); !w) return w.problem();
        } else if (*old) {
            if (Outcome<void> r = book.store->removeOpening(found->id); !r) return r.problem();
        }
        if (!entries->empty()) {
            Outcome<Recomputed> n = recomputeEmployee(book, year, *found, 1, false, std::nullopt);
            if (!n) return n.problem();
        }
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        if (!*old) return std::optional<Opening>();
        return std::optional<Opening>(toOpening(key, **old));
    });
}

// ---- Declared months

Outcome<std::vector<int>> Ledger::declaredMonths(int year) {
    return m_book->store->declaredMonths(year);
}

Outcome<void> Ledger::checkDeclare(int year, int month) {
    Book& book = *m_book;
    if (month < 1 || month > 12) return fail(sysText("月份应为1到12"));
    Outcome<std::vector<int>> declared = book.store->declaredMonths(year);
    if (!declared) return declared.problem();
    // Every earlier month with entries is declared first.
    for (int m = 1; m < month; ++m) {
        if (std::find(declared->begin(), declared->end(), m) != declared->end()) continue;
        Outcome<bool> has = book.store->monthHasEntries(year, m);
        if (!has) return has.problem();
        if (*has) return fail(sysText("请先申报") + monthText(m));
    }
    // An income never entered is no declaration: a month without pay is an explicit 0.
    Outcome<std::vector<StoredEmployee>> employees = book.store->employees(year);
    if (!employees) return employees.problem();
    if (employees->empty()) return {};
    const auto [first, last] = idRange(*employees);
    Outcome<std::vector<EmployeeEntry>> entries = book.store->monthEntries(month, first, last);
    if (!entries) return entries.problem();
    std::unordered_map<EmployeeId, const Employee*> byId;
    for (const StoredEmployee& e : *employees)
        byId.emplace(e.id, &e.employee);
    Text missing;
    int count = 0;
    for (const EmployeeEntry& e : *entries) {
        if (e.entry.income) continue;
        const auto it = byId.find(e.employee);
        if (it == byId.end()) continue;
        if (++count <= 10) missing += (count > 1 ? sysText("、") : Text{}) + it->second->name;
    }
    if (count > 0)
        return fail(monthText(month) + sysText("还有") + ToText(count) +
                    sysText("人没有填写本月收入：") + missing +
                    (count > 10 ? sysText("等") : Text{}) +
                    sysText("。没有工资的请填0，已离职的请删除本月的记录后再申报。"));
    return {};
}

Outcome<void> Ledger::declareMonth(int year, int month) {
    return detail::retried(*m_book, [&]() -> Outcome<void> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        if (Outcome<void> r = checkDeclare(year, month); !r) return r;
        if (Outcome<void> r = book.store->declare(year, month); !r) return r;
        return (*t)->commit();
    });
}

Outcome<void> Ledger::checkReopen(int year, int month) {
    Outcome<std::vector<int>> declared = m_book->store->declaredMonths(year);
    if (!declared) return declared.problem();
    if (!declared->empty() && declared->back() > month)
        return fail(sysText("请先撤销") + monthText(declared->back()) + sysText("的申报"));
    return {};
}

Outcome<void> Ledger::reopenMonth(int year, int month) {
    return detail::retried(*m_book, [&]() -> Outcome<void> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        if (Outcome<void> r = checkReopen(year, month); !r) return r;
        if (Outcome<void> r = book.store->undeclare(year, month); !r) return r;
        return (*t)->commit();
    });
}

Outcome<bool> Ledger::changedElsewhere() {
    Outcome<bool> changed = m_book->store->changedElsewhere();
    if (!changed || !*changed || !m_book->deskLaws) return changed;
    if (Outcome<void> r = followKeptLaws(); !r) return r.problem();
    return true;
}

} // namespace iit::ledger
