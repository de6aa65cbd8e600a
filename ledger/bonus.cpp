// The comparison of the two ways of taxing an employee's annual bonus over the year.
#include "ledger/book.h"

#include <span>

namespace iit::ledger {

using namespace detail;

namespace {

// The bonus comparison of one employee from their months (increasing): the bonus taxed on its
// own, else the largest added to a month; none without a bonus. `plan` is the caller's, so
// that its months keep their room from one employee to the next.
Outcome<std::optional<BonusChoice>>
compareOne(const Book& book, const engine::WithholdingTable& table, const Employee& employee,
           const std::optional<StoredOpening>& opening, std::span<const EnteredMonth> entries,
           engine::BonusPlan& plan) {
    const EnteredMonth* chosen = nullptr;
    for (const EnteredMonth& e : entries) {
        if (e.bonus <= 0) continue;
        if (e.bonusSeparate()) {
            chosen = &e;
            break;
        }
        if (!chosen || e.bonus > chosen->bonus) chosen = &e;
    }
    if (!chosen) return std::optional<BonusChoice>();
    plan.opening = opening ? stateOf(*opening) : engine::YearToDate{};
    plan.options = employee.options;
    plan.joinMonth = employee.joinMonth.value_or(entries.front().month);
    plan.lastMonth = employee.leftMonth.value_or(12);
    plan.bonusMonth = chosen->month;
    plan.bonus = amount(chosen->bonus);
    plan.months.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EnteredMonth& e = entries[i];
        engine::PlannedMonth& m = plan.months[i];
        m.month = e.month;
        std::int64_t income = e.income.value_or(0);
        if (&e != chosen && !e.bonusSeparate()) income += e.bonus;
        m.amounts.income = amount(income);
        m.amounts.taxFree = amount(e.taxFree);
        m.amounts.special = amount(e.special);
        m.amounts.specialAdditional = amount(e.specialAdditional);
        m.amounts.other = amount(e.other);
        m.amounts.relief = amount(e.relief);
    }
    Outcome<engine::BonusComparison> c = engine::compareBonus(table, book.tables.monthly, plan);
    if (!c) return fail(whom(employee) + sysText("：") + c.problem().message);
    return std::optional<BonusChoice>(
        BonusChoice{employee, chosen->month, plan.bonus,
                    chosen->bonusSeparate() ? BonusMethod::Separate : BonusMethod::Combined, *c});
}

} // namespace

Outcome<std::vector<BonusChoice>> Ledger::compareBonuses(int year) {
    Book& book = *m_book;
    std::vector<BonusChoice> out;
    Outcome<const engine::WithholdingTable*> table = tableOf(book, year);
    if (!table) return table.problem();
    if (!(*table)->bonusSeparateAllowed(year)) return out;
    Outcome<std::vector<LedgerStore::EmployeeYear>> employees =
        book.store->residentsWithBonus(year);
    if (!employees) return employees.problem();
    if (employees->empty()) return out;
    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings = book.store->openings(year);
    if (!openings) return openings.problem();
    out.reserve(employees->size());
    engine::BonusPlan plan;
    for (const LedgerStore::EmployeeYear& e : *employees) {
        const auto at = openings->find(e.employee.id);
        Outcome<std::optional<BonusChoice>> c = compareOne(
            book, **table, e.employee.employee,
            at == openings->end() ? std::nullopt : std::optional<StoredOpening>(at->second),
            e.months, plan);
        if (!c) return c.problem();
        if (*c) out.push_back(std::move(**c));
    }
    return out;
}

Outcome<std::optional<BonusChoice>> Ledger::compareBonus(int year, const PersonKey& key) {
    Book& book = *m_book;
    Outcome<const engine::WithholdingTable*> table = tableOf(book, year);
    if (!table) return table.problem();
    Outcome<std::optional<StoredEmployee>> found = book.store->findEmployee(year, key);
    if (!found) return found.problem();
    if (!*found || !(*found)->employee.resident || !(*table)->bonusSeparateAllowed(year))
        return std::optional<BonusChoice>();
    Outcome<std::optional<StoredOpening>> opening = book.store->opening((*found)->id);
    if (!opening) return opening.problem();
    Outcome<std::vector<StoredEntry>> entries = book.store->entries((*found)->id);
    if (!entries) return entries.problem();
    const std::vector<EnteredMonth> months(entries->begin(), entries->end());
    engine::BonusPlan plan;
    return compareOne(book, **table, (*found)->employee, *opening, months, plan);
}

} // namespace iit::ledger
