// The entries of a month: the computation of one entry, an employee's months recomputed after a
// change, changes applied with their refusals, and the edit, copy forward and show of a month.
#include "ledger/book.h"

#include "engine/amount.h"
#include "engine/tax.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;

namespace detail {
namespace {

// Computed figures in fen: the first that does not fit is kept as the failure.
class FenOf {
public:
    std::int64_t operator()(const Exact& v) {
        Outcome<std::int64_t> f = engine::fenOf(v);
        if (f) return *f;
        if (!m_failure) m_failure = f.problem();
        return 0;
    }
    const std::optional<Problem>& failure() const { return m_failure; }

private:
    std::optional<Problem> m_failure;
};

} // namespace

Outcome<void> computeEntry(const Book& book, int year, const Employee& emp,
                           const engine::YearToDate& before, StoredEntry& e) {
    const Exact income = e.income ? amount(*e.income) : Exact{};
    const Exact bonus = amount(e.bonus);
    const bool separate = emp.resident && e.bonusSeparate();
    FenOf fen;
    engine::YearToDate after;
    // The month's amounts; the bonus goes with the wages unless it is taxed on its own.
    engine::MonthAmounts a;
    a.income = separate ? income : income + bonus;
    a.taxFree = amount(e.taxFree);
    a.special = amount(e.special);
    a.specialAdditional = amount(e.specialAdditional);
    a.other = amount(e.other);
    a.relief = amount(e.relief);
    a.donation = amount(e.donation);
    e.tables = tablesFingerprint(book, year);
    if (emp.resident) {
        Outcome<const engine::WithholdingTable*> table = tableOf(book, year);
        if (!table) return table.problem();
        Outcome<engine::CumulativeFigures> f =
            engine::computeCumulative(**table, before, e.month, emp.joinMonth.value_or(e.month),
                                      emp.options, a, engine::TaxMode::Gross);
        if (!f) return f.problem();
        Exact bonusTax;
        if (separate) {
            Outcome<engine::BonusFigures> b =
                engine::computeSeparateBonus(book.tables.monthly, bonus);
            if (!b) return b.problem();
            bonusTax = b->tax;
        }
        after = f->after;
        e.method = Method::Cumulative;
        e.tableYear = (*table)->fromYear;
        e.taxable = fen(f->taxable);
        e.rate = fen(f->ratePercent);
        e.quick = fen(f->quickDeduction);
        e.cumTax = fen(f->tax);
        e.withholding = fen(f->withholding);
        e.bonusTax = fen(bonusTax);
    } else {
        // Non-residents: the monthly method of the bracket table, the bonus with the month.
        Outcome<engine::MonthlyFigures> f =
            engine::computeMonthly(book.tables.bracket, before, e.month, a, engine::TaxMode::Gross);
        if (!f) return f.problem();
        after = f->after;
        const Exact tax = f->withholding;
        e.method = Method::Monthly;
        e.tableYear.reset();
        e.taxable.reset();
        e.rate.reset();
        e.quick.reset();
        e.cumTax.reset();
        e.withholding = fen(tax);
        e.bonusTax = 0;
    }
    Outcome<SumsFen> sums = SumsFen::of(after);
    if (!sums) return sums.problem();
    e.cum = *sums;
    e.afterTax = fen(engine::afterTaxPay(income + bonus, amount(paidFromWages(emp, e)),
                                         amount(e.withholding) + amount(e.bonusTax)));
    if (fen.failure()) return *fen.failure();
    return {};
}

Outcome<const engine::WithholdingTable*> tableOf(const Book& book, int year) {
    if (const engine::WithholdingTable* table = book.tables.annual.forYear(year)) return table;
    return fail(Text::fromBytes(std::to_string(year)) + sysText("年没有预扣率表"));
}

Outcome<void> checkMonthOpen(Book& book, int year, int month) {
    if (month < 1 || month > 12) return fail(sysText("月份应为1到12"));
    if (Outcome<const engine::WithholdingTable*> t = tableOf(book, year); !t) return t.problem();
    Outcome<std::vector<int>> declared = book.store->declaredMonths(year);
    if (!declared) return declared.problem();
    if (declared->empty() || declared->back() < month) return {};
    // The declared months are the first of the year: `month` is declared or lies before one.
    if (std::find(declared->begin(), declared->end(), month) != declared->end())
        return fail(monthText(month) + sysText("已申报，不能修改；如需更正，请先撤销申报"));
    return fail(monthText(declared->back()) + sysText("已申报，不能再修改此前的") +
                monthText(month));
}

Outcome<bool> hasDeclaredEntry(Book& book, int year, EmployeeId id) {
    Outcome<std::vector<int>> declared = book.store->declaredMonths(year);
    if (!declared) return declared.problem();
    if (declared->empty()) return false;
    Outcome<std::vector<StoredEntry>> entries = book.store->entries(id);
    if (!entries) return entries.problem();
    for (const StoredEntry& e : *entries)
        if (std::find(declared->begin(), declared->end(), e.month) != declared->end()) return true;
    return false;
}

Outcome<void> checkEntry(const Book& book, int year, int month, const Employee& emp,
                         const StoredEntry& entry, const std::optional<StoredOpening>& opening,
                         std::optional<int> separateBonusMonth) {
    if (emp.leftMonth && month > *emp.leftMonth)
        return fail(sysText("此人已于") + monthText(*emp.leftMonth) + sysText("离职"));
    if (opening && month <= opening->throughMonth)
        return fail(sysText("此人的期初数已截至") + monthText(opening->throughMonth));
    if (entry.donation != 0 && !emp.resident)
        return fail(sysText("准予扣除的捐赠额只在居民个人的累计预扣中扣除"));
    if (!entry.bonusSeparate()) return {};
    if (!emp.resident) return fail(sysText("非居民个人的奖金不能单独计税"));
    const engine::WithholdingTable* table = book.tables.annual.forYear(year);
    if (!table || !table->bonusSeparateAllowed(year))
        return fail(Text::fromBytes(std::to_string(year)) +
                    sysText("年的全年一次性奖金不能单独计税"));
    if (separateBonusMonth && *separateBonusMonth != month)
        return fail(sysText("全年一次性奖金一年只能单独计税一次，此人") +
                    monthText(*separateBonusMonth) + sysText("已有"));
    return {};
}

Outcome<Recomputed> recomputeEmployee(Book& book, int year, const StoredEmployee& employee,
                                      int month, bool change,
                                      const std::optional<StoredEntry>& entry,
                                      const std::optional<StoredOpening>* knownOpening,
                                      const Around& around) {
    LedgerStore& store = *book.store;
    engine::YearToDate sums;
    if (around.monthBefore) {
        sums = stateOf(*around.monthBefore);
    } else {
        Outcome<std::optional<StoredEntry>> before = store.entryBefore(employee.id, month);
        if (!before) return before.problem();
        if (*before) {
            sums = stateOf(**before);
        } else if (knownOpening) {
            if (*knownOpening) sums = stateOf(**knownOpening);
        } else {
            Outcome<std::optional<StoredOpening>> opening = store.opening(employee.id);
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
        Outcome<std::vector<StoredEntry>> later = store.entriesFrom(employee.id, month);
        if (!later) return later.problem();
        rows.reserve(later->size() + 1);
        for (StoredEntry& e : *later)
            rows.push_back(Work{e, std::move(e)});
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
            if (Outcome<void> r = store.removeEntry(employee.id, w.stored.month); !r)
                return r.problem();
            continue;
        }
        if (Outcome<void> r = computeEntry(book, year, employee.employee, sums, w.computed); !r)
            return fail(monthText(w.computed.month) + sysText("：") + r.problem().message);
        sums = stateOf(w.computed);
        const bool figures = w.isNew || !w.computed.sameFigures(w.stored);
        if (figures) ++result.recomputed;
        if (figures || !w.computed.sameInput(w.stored))
            if (Outcome<void> r = store.putEntry(employee.id, w.computed); !r) return r.problem();
    }
    return result;
}

namespace {

// The entries around a month of the employees of many changes: each one's entry of the month
// before, and which of them have entries from the month on.
struct AroundMonth {
    std::vector<EmployeeEntry> before; // by employee
    std::vector<EmployeeId> later;     // increasing
    // The months of bonuses taxed on their own, by employee (read where a change has one).
    std::vector<LedgerStore::EmployeeMonth> separate;

    Around of(EmployeeId id) const {
        Around a;
        const auto it = std::lower_bound(
            before.begin(), before.end(), id,
            [](const EmployeeEntry& e, EmployeeId wanted) { return e.employee < wanted; });
        if (it != before.end() && it->employee == id) a.monthBefore = &it->entry;
        a.noneFromMonth = !std::binary_search(later.begin(), later.end(), id);
        return a;
    }
};

// Reads them over the range of the changes' employees. None when an employee has two changes,
// each of which must see the one before.
Outcome<std::optional<AroundMonth>> readAround(Book& book, int month,
                                               const std::vector<Resolved>& changes) {
    std::vector<EmployeeId> ids;
    ids.reserve(changes.size());
    for (const Resolved& c : changes)
        ids.push_back(c.employee.id);
    std::sort(ids.begin(), ids.end());
    if (ids.empty() || std::adjacent_find(ids.begin(), ids.end()) != ids.end())
        return std::optional<AroundMonth>();
    AroundMonth around;
    if (month > 1) {
        Outcome<std::vector<EmployeeEntry>> before =
            book.store->monthEntries(month - 1, ids.front(), ids.back());
        if (!before) return before.problem();
        around.before = std::move(*before);
    }
    Outcome<std::vector<EmployeeId>> later =
        book.store->employeesWithEntriesFrom(month, ids.front(), ids.back());
    if (!later) return later.problem();
    around.later = std::move(*later);
    std::sort(around.later.begin(), around.later.end());
    around.later.erase(std::unique(around.later.begin(), around.later.end()), around.later.end());
    if (std::any_of(changes.begin(), changes.end(),
                    [](const Resolved& c) { return c.entry && c.entry->bonusSeparate(); })) {
        Outcome<std::vector<LedgerStore::EmployeeMonth>> separate =
            book.store->separateBonuses(ids.front(), ids.back());
        if (!separate) return separate.problem();
        around.separate = std::move(*separate);
    }
    return std::optional<AroundMonth>(std::move(around));
}

Text who(const Resolved& r) {
    if (r.row) return rowMessage(r.row, Text{});
    return whom(r.employee.employee) + sysText("：");
}

// The month of the employee's bonus taxed on its own, besides `month`.
Outcome<std::optional<int>> separateBonusMonth(Book& book, EmployeeId id, int month,
                                               const std::optional<AroundMonth>& around) {
    if (around) {
        auto it = std::lower_bound(around->separate.begin(), around->separate.end(),
                                   LedgerStore::EmployeeMonth{id, 0});
        for (; it != around->separate.end() && it->first == id; ++it)
            if (it->second != month) return std::optional<int>(it->second);
        return std::optional<int>();
    }
    Outcome<std::vector<StoredEntry>> entries = book.store->entries(id);
    if (!entries) return entries.problem();
    for (const StoredEntry& e : *entries)
        if (e.month != month && e.bonusSeparate()) return std::optional<int>(e.month);
    return std::optional<int>();
}

} // namespace

Outcome<ChangeReport> applyChanges(Book& book, int year, int month,
                                   const std::vector<Resolved>& changes, const Progress& progress) {
    ChangeReport report;
    report.inverse.reserve(changes.size());
    Text refused;
    // For an import of many, what each employee's computation starts from is read at once: the
    // opening balances of the year (most employees have none), and the entries around the month,
    // a range of the store each rather than two lookups a person.
    std::optional<std::unordered_map<EmployeeId, StoredOpening>> openings;
    std::optional<AroundMonth> around;
    if (changes.size() > 64) {
        Outcome<std::unordered_map<EmployeeId, StoredOpening>> all = book.store->openings(year);
        if (!all) return all.problem();
        openings = std::move(*all);
        Outcome<std::optional<AroundMonth>> read = readAround(book, month, changes);
        if (!read) return read.problem();
        around = std::move(*read);
    }
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Resolved& c = changes[i];
        Outcome<std::optional<StoredOpening>> opening = std::optional<StoredOpening>();
        if (openings) {
            if (const auto it = openings->find(c.employee.id); it != openings->end())
                opening = std::optional<StoredOpening>(it->second);
        } else {
            opening = book.store->opening(c.employee.id);
        }
        if (!opening) return opening.problem();
        // An insured entry's items are the rules' (ones given by hand aside).
        std::optional<StoredEntry> entry = c.entry;
        if (entry)
            if (Outcome<void> r = applyInsurance(book, year, *entry); !r) {
                if (!refused.empty()) refused += Text::fromBytes("\n");
                refused += who(c) + r.problem().message;
                continue;
            }
        if (entry) {
            std::optional<int> otherBonus;
            if (entry->bonusSeparate()) {
                Outcome<std::optional<int>> other =
                    separateBonusMonth(book, c.employee.id, month, around);
                if (!other) return other.problem();
                otherBonus = *other;
            }
            if (Outcome<void> ok = checkEntry(book, year, month, c.employee.employee, *entry,
                                              *opening, otherBonus);
                !ok) {
                if (!refused.empty()) refused += Text::fromBytes("\n");
                refused += who(c) + ok.problem().message;
            }
        }
        if (!refused.empty()) continue; // only the refusals count now
        Outcome<Recomputed> r =
            recomputeEmployee(book, year, c.employee, month, true, entry, &*opening,
                              around ? around->of(c.employee.id) : Around{});
        if (!r) return fail(who(c) + r.problem().message, r.problem().code);
        const PersonKey& key = c.employee.employee.key;
        if (r->unchanged) {
            ++report.unchanged;
        } else {
            if (!entry)
                ++report.removed;
            else if (!r->previous)
                ++report.added;
            else
                ++report.changed;
            // Undone only from the entry this change left.
            report.inverse.push_back(EntryChange{
                key, r->previous ? std::optional<Entry>(toEntry(key, *r->previous)) : std::nullopt,
                std::optional<std::optional<Entry>>(
                    entry ? std::optional<Entry>(toEntry(key, *entry)) : std::nullopt)});
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

Outcome<ChangeReport> Ledger::changeEntries(int year, int month,
                                            const std::vector<EntryChange>& changes) {
    return detail::retried(*m_book, [&]() -> Outcome<ChangeReport> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        if (Outcome<void> r = checkMonthOpen(book, year, month); !r) return r.problem();
        std::vector<Resolved> resolved;
        resolved.reserve(changes.size());
        for (const EntryChange& c : changes) {
            Outcome<std::optional<StoredEmployee>> e = book.store->findEmployee(year, c.key);
            if (!e) return e.problem();
            if (!*e) return fail(sysText("台账中没有此人：") + c.key.idNumber);
            if (c.expected) {
                // The entry the change was made from must be the one the ledger holds.
                Outcome<std::optional<StoredEntry>> now = book.store->entry((*e)->id, month);
                if (!now) return now.problem();
                const std::optional<Entry> held =
                    *now ? std::optional<Entry>(toEntry(c.key, **now)) : std::nullopt;
                if (held != *c.expected)
                    return fail((*e)->employee.name + sysText("的") + ToText(month) +
                                    sysText("月记录刚被另一处（另一个程序或另一位会计）修改，"
                                            "本次修改未做；已显示最新的数字，请核对后再改。"),
                                kChangedElsewhere);
            }
            Resolved r;
            r.employee = std::move(**e);
            if (c.entry) {
                Outcome<StoredEntry> stored = fromEntry(month, *c.entry);
                if (!stored) return stored.problem();
                r.entry = std::move(*stored);
            }
            resolved.push_back(std::move(r));
        }
        Outcome<ChangeReport> report = applyChanges(book, year, month, resolved, {});
        if (!report) return report;
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return report;
    });
}

namespace {

// What recurs month after month, as a month carried forward takes it: the deductions (item by
// item where they were), the tax-free income and the relief; the income on request (a fixed
// salary). A bonus, a donation and the remark are the month's own.
StoredEntry recurring(const StoredEntry& from, int month, bool withIncome) {
    StoredEntry e;
    e.month = month;
    e.insuranceCity = from.insuranceCity;
    e.socialBase = from.socialBase;
    e.fundBase = from.fundBase;
    e.fundRate = from.fundRate;
    e.fundExtraRate = from.fundExtraRate;
    e.insuranceManual = from.insuranceManual;
    e.special = from.special;
    e.specialAdditional = from.specialAdditional;
    e.other = from.other;
    e.itemised = from.itemised;
    e.items = from.items;
    e.taxFree = from.taxFree;
    e.relief = from.relief;
    if (withIncome) e.income = from.income;
    return e;
}

} // namespace

Outcome<ChangeReport> Ledger::copyToNextMonth(int year, int month, bool withIncome) {
    return detail::retried(*m_book, [&]() -> Outcome<ChangeReport> {
        Book& book = *m_book;
        if (month < 1 || month >= 12) return fail(sysText("只能复制1到11月"));
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        if (Outcome<void> r = checkMonthOpen(book, year, month + 1); !r) return r.problem();
        Outcome<std::vector<StoredLine>> from = book.store->month(year, month);
        if (!from) return from.problem();
        Outcome<std::vector<StoredLine>> next = book.store->month(year, month + 1);
        if (!next) return next.problem();
        std::vector<EmployeeId> already;
        already.reserve(next->size());
        for (const StoredLine& l : *next)
            already.push_back(l.employee.id);
        std::sort(already.begin(), already.end());
        std::vector<Resolved> changes;
        for (StoredLine& line : *from) {
            const Employee& emp = line.employee.employee;
            if (emp.leftMonth && *emp.leftMonth <= month) continue;
            if (std::binary_search(already.begin(), already.end(), line.employee.id)) continue;
            changes.push_back(Resolved{std::move(line.employee),
                                       recurring(line.entry, month + 1, withIncome), 0});
        }
        Outcome<ChangeReport> report = applyChanges(book, year, month + 1, changes, {});
        if (!report) return report;
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return report;
    });
}

Outcome<ChangeReport> Ledger::copyFromPreviousYear(int year, bool withIncome) {
    return detail::retried(*m_book, [&]() -> Outcome<ChangeReport> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        if (Outcome<void> r = checkMonthOpen(book, year, 1); !r) return r.problem();
        Outcome<std::vector<StoredLine>> december = book.store->month(year - 1, 12);
        if (!december) return december.problem();
        std::vector<Resolved> changes;
        std::vector<PersonKey> added, qualifying;
        for (StoredLine& line : *december) {
            const Employee& was = line.employee.employee;
            if (was.leftMonth && *was.leftMonth <= 12) continue;
            Outcome<std::optional<StoredEmployee>> there = book.store->findEmployee(year, was.key);
            if (!there) return there.problem();
            if (*there) continue; // already in the new year
            // The employee's details go on; the year's months, options and first job start afresh.
            Employee e = was;
            e.joinMonth.reset();
            e.leftMonth.reset();
            e.leftOn.reset();
            e.options = {};
            e.firstJob = FirstJob::None;
            Outcome<EmployeeId> id = book.store->addEmployee(year, e);
            if (!id) return id.problem();
            added.push_back(e.key);
            // The 60,000 deduction for the new year: paid in every month of the last at this
            // employer, wages with bonus at most 60,000. The clerk confirms it.
            Outcome<std::vector<StoredEntry>> months = book.store->entries(line.employee.id);
            if (!months) return months.problem();
            std::int64_t paid = 0;
            int paidMonths = 0;
            for (const StoredEntry& m : *months) {
                paid += m.income.value_or(0) + m.bonus;
                if (m.income.value_or(0) + m.bonus > 0) ++paidMonths;
            }
            if (was.resident && paidMonths == 12 && paid <= 60000 * 100)
                qualifying.push_back(e.key);
            changes.push_back(Resolved{StoredEmployee{*id, std::move(e)},
                                       recurring(line.entry, 1, withIncome), 0});
        }
        Outcome<ChangeReport> report = applyChanges(book, year, 1, changes, {});
        if (!report) return report;
        report->newEmployees = std::move(added);
        report->annualDeductionQualifies = std::move(qualifying);
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return report;
    });
}

Outcome<std::optional<Entry>> Ledger::entry(int year, int month, const PersonKey& key) {
    Book& book = *m_book;
    Outcome<std::optional<StoredEmployee>> e = book.store->findEmployee(year, key);
    if (!e) return e.problem();
    if (!*e) return std::optional<Entry>();
    Outcome<std::optional<StoredEntry>> stored = book.store->entry((*e)->id, month);
    if (!stored) return stored.problem();
    if (!*stored) return std::optional<Entry>();
    return std::optional<Entry>(toEntry(key, **stored));
}

Outcome<MonthView> Ledger::showMonth(int year, int month) {
    Book& book = *m_book;
    MonthView view;
    view.year = year;
    view.month = month;
    Outcome<std::vector<int>> declared = book.store->declaredMonths(year);
    if (!declared) return declared.problem();
    view.declared = std::find(declared->begin(), declared->end(), month) != declared->end();
    Outcome<std::vector<StoredLine>> lines = book.store->month(year, month);
    if (!lines) return lines.problem();
    view.lines.reserve(lines->size());
    for (const StoredLine& l : *lines)
        view.lines.push_back(toLine(l.employee.employee, l.entry));
    return view;
}

Outcome<std::optional<MonthLine>> Ledger::showLine(int year, int month, const PersonKey& key) {
    Book& book = *m_book;
    Outcome<std::optional<StoredEmployee>> e = book.store->findEmployee(year, key);
    if (!e) return e.problem();
    if (!*e) return std::optional<MonthLine>();
    Outcome<std::optional<StoredEntry>> stored = book.store->entry((*e)->id, month);
    if (!stored) return stored.problem();
    if (!*stored) return std::optional<MonthLine>();
    return std::optional<MonthLine>(toLine((*e)->employee, **stored));
}

Outcome<std::optional<Ledger::YearMonth>> Ledger::latestOpenMonth() {
    Book& book = *m_book;
    Outcome<std::vector<int>> years = book.store->years();
    if (!years) return years.problem();
    if (years->empty()) return std::optional<YearMonth>();
    const int year = years->back();
    Outcome<std::vector<int>> declared = book.store->declaredMonths(year);
    if (!declared) return declared.problem();
    const int lastDeclared = declared->empty() ? 0 : declared->back();
    // The latest month with entries, probed from December. The declared months are the first
    // of the year, so that month is open unless it is declared, and then every month with
    // entries is.
    for (int month = 12; month > lastDeclared; --month) {
        Outcome<bool> has = book.store->monthHasEntries(year, month);
        if (!has) return has.problem();
        if (*has) return std::optional<YearMonth>(YearMonth{year, month});
    }
    return std::optional<YearMonth>(YearMonth{year, std::min(lastDeclared + 1, 12)});
}

} // namespace iit::ledger
