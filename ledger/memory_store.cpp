#include "ledger/memory_store.h"

#include <algorithm>

namespace iit::ledger {

// Keeps the state as it was when it began; without commit, puts it back.
class MemoryTransaction final : public StoreTransaction {
public:
    explicit MemoryTransaction(MemoryStore& store) : m_store(store), m_depth(store.m_saved.size()) {
        store.m_saved.push_back(store.m_state);
    }
    ~MemoryTransaction() override {
        if (m_open) {
            m_store.m_state = std::move(m_store.m_saved[m_depth]);
            m_store.m_saved.resize(m_depth);
        }
    }
    Outcome<void> commit() override {
        if (!m_open || m_store.m_saved.size() != m_depth + 1)
            return fail(sysText("事务的提交次序不对"));
        m_store.m_saved.pop_back();
        m_open = false;
        return {};
    }

private:
    MemoryStore& m_store;
    std::size_t m_depth;
    bool m_open = true;
};

MemoryStore::MemoryStore() = default;
MemoryStore::~MemoryStore() = default;

Outcome<std::unique_ptr<StoreTransaction>> MemoryStore::begin() {
    return std::unique_ptr<StoreTransaction>(new MemoryTransaction(*this));
}

Outcome<void> MemoryStore::checkUnique(int year, const PersonKey& key, EmployeeId except) const {
    for (const auto& [id, p] : m_state.employees)
        if (id != except && p.year == year && p.employee.key == key)
            return fail(sysText("职工的证件类型和证件号码重复"));
    return {};
}

Outcome<void> MemoryStore::checkEmployee(EmployeeId id) const {
    if (!m_state.employees.count(id)) return fail(sysText("没有这个职工"));
    return {};
}

Outcome<std::vector<int>> MemoryStore::years() {
    std::set<int> years;
    for (const auto& [id, p] : m_state.employees)
        years.insert(p.year);
    return std::vector<int>(years.begin(), years.end());
}

Outcome<std::vector<StoredEmployee>> MemoryStore::employees(int year) {
    std::vector<StoredEmployee> out;
    for (const auto& [id, p] : m_state.employees)
        if (p.year == year) out.push_back(StoredEmployee{id, p.employee});
    return out;
}

Outcome<std::optional<StoredEmployee>> MemoryStore::findEmployee(int year, const PersonKey& key) {
    for (const auto& [id, p] : m_state.employees)
        if (p.year == year && p.employee.key == key)
            return std::optional<StoredEmployee>(StoredEmployee{id, p.employee});
    return std::optional<StoredEmployee>();
}

Outcome<EmployeeId> MemoryStore::addEmployee(int year, const Employee& employee) {
    if (Outcome<void> r = checkUnique(year, employee.key, 0); !r) return r.problem();
    const EmployeeId id = m_state.nextId++;
    m_state.employees.emplace(id, State::Person{year, employee});
    return id;
}

Outcome<void> MemoryStore::updateEmployee(EmployeeId id, const Employee& employee) {
    if (Outcome<void> r = checkEmployee(id); !r) return r;
    State::Person& p = m_state.employees.at(id);
    if (Outcome<void> r = checkUnique(p.year, employee.key, id); !r) return r;
    p.employee = employee;
    return {};
}

Outcome<void> MemoryStore::removeEmployee(EmployeeId id) {
    m_state.employees.erase(id);
    m_state.openings.erase(id);
    m_state.entries.erase(m_state.entries.lower_bound({id, 0}),
                          m_state.entries.upper_bound({id, 13}));
    m_state.details.erase(m_state.details.lower_bound({id, 0}),
                          m_state.details.upper_bound({id, 13}));
    return {};
}

Outcome<std::vector<StoredEntry>> MemoryStore::entries(EmployeeId id) {
    return entriesFrom(id, 1);
}

Outcome<std::optional<StoredEntry>> MemoryStore::entry(EmployeeId id, int month) {
    const auto it = m_state.entries.find({id, month});
    if (it == m_state.entries.end()) return std::optional<StoredEntry>();
    return std::optional<StoredEntry>(it->second);
}

Outcome<std::optional<StoredEntry>> MemoryStore::entryBefore(EmployeeId id, int month) {
    auto it = m_state.entries.lower_bound({id, month});
    if (it == m_state.entries.begin()) return std::optional<StoredEntry>();
    --it;
    if (it->first.first != id) return std::optional<StoredEntry>();
    return std::optional<StoredEntry>(it->second);
}

Outcome<std::vector<StoredEntry>> MemoryStore::entriesFrom(EmployeeId id, int month) {
    std::vector<StoredEntry> out;
    for (auto it = m_state.entries.lower_bound({id, month});
         it != m_state.entries.end() && it->first.first == id; ++it)
        out.push_back(it->second);
    return out;
}

Outcome<void> MemoryStore::putEntry(EmployeeId id, const StoredEntry& entry) {
    if (Outcome<void> r = checkEmployee(id); !r) return r;
    if (entry.month < 1 || entry.month > 12) return fail(sysText("月份应为1到12"));
    m_state.entries[{id, entry.month}] = entry;
    return {};
}

Outcome<void> MemoryStore::removeEntry(EmployeeId id, int month) {
    m_state.entries.erase({id, month});
    return {};
}

Outcome<std::vector<StoredLine>> MemoryStore::month(int year, int month) {
    std::vector<StoredLine> out;
    for (const auto& [id, p] : m_state.employees) {
        if (p.year != year) continue;
        const auto it = m_state.entries.find({id, month});
        if (it != m_state.entries.end())
            out.push_back(StoredLine{StoredEmployee{id, p.employee}, it->second});
    }
    return out;
}

Outcome<bool> MemoryStore::monthHasEntries(int year, int month) {
    for (const auto& [key, e] : m_state.entries)
        if (key.second == month && m_state.employees.at(key.first).year == year) return true;
    return false;
}

Outcome<std::vector<EmployeeEntry>> MemoryStore::monthEntries(int month, EmployeeId first,
                                                              EmployeeId last) {
    std::vector<EmployeeEntry> out;
    for (const auto& [key, e] : m_state.entries)
        if (key.second == month && key.first >= first && key.first <= last)
            out.push_back(EmployeeEntry{key.first, e});
    return out;
}

Outcome<std::vector<EmployeeId>> MemoryStore::employeesWithEntriesFrom(int month, EmployeeId first,
                                                                       EmployeeId last) {
    std::vector<EmployeeId> out;
    for (const auto& [key, e] : m_state.entries)
        if (key.second >= month && key.first >= first && key.first <= last &&
            (out.empty() || out.back() != key.first))
            out.push_back(key.first);
    return out;
}

Outcome<std::vector<LedgerStore::EmployeeMonth>> MemoryStore::separateBonuses(EmployeeId first,
                                                                              EmployeeId last) {
    std::vector<EmployeeMonth> out;
    for (const auto& [key, e] : m_state.entries)
        if (key.first >= first && key.first <= last && e.bonusSeparate()) out.push_back(key);
    return out;
}

Outcome<std::vector<LedgerStore::ItemsBefore>> MemoryStore::itemsBefore(int month, EmployeeId first,
                                                                        EmployeeId last) {
    std::vector<ItemsBefore> out;
    for (const auto& [key, e] : m_state.entries) {
        if (key.second >= month || key.first < first || key.first > last) continue;
        if (out.empty() || out.back().employee != key.first) out.push_back({key.first, {}, 0});
        ItemsBefore& x = out.back();
        x.firstMonth = std::min(x.firstMonth, key.second);
        for (std::size_t i = 0; i < kItems; ++i)
            if (summedBefore(i)) x.sums[i] += e.items[i];
        const std::int64_t sums[] = {e.special, e.specialAdditional, e.other};
        for (int g = 0; g < 3; ++g)
            if (!(e.itemised & (1 << g)) && sums[g] != 0) x.asSums |= 1 << g;
    }
    return out;
}

Outcome<std::vector<LedgerStore::EmployeeYear>> MemoryStore::residentsWithBonus(int year) {
    std::vector<EmployeeYear> out;
    for (const auto& [id, p] : m_state.employees) {
        if (p.year != year || !p.employee.resident) continue;
        Outcome<std::vector<StoredEntry>> all = entries(id);
        if (std::none_of(all->begin(), all->end(),
                         [](const StoredEntry& e) { return e.bonus > 0; }))
            continue;
        EmployeeYear employeeYear{StoredEmployee{id, p.employee}, {}};
        for (const StoredEntry& e : *all)
            employeeYear.months.push_back(e);
        out.push_back(std::move(employeeYear));
    }
    return out;
}

Outcome<std::optional<StoredOpening>> MemoryStore::opening(EmployeeId id) {
    const auto it = m_state.openings.find(id);
    if (it == m_state.openings.end()) return std::optional<StoredOpening>();
    return std::optional<StoredOpening>(it->second);
}

Outcome<std::unordered_map<EmployeeId, StoredOpening>> MemoryStore::openings(int year) {
    std::unordered_map<EmployeeId, StoredOpening> out;
    for (const auto& [id, o] : m_state.openings)
        if (m_state.employees.at(id).year == year) out.emplace(id, o);
    return out;
}

Outcome<void> MemoryStore::putOpening(EmployeeId id, const StoredOpening& opening) {
    if (Outcome<void> r = checkEmployee(id); !r) return r;
    if (opening.throughMonth < 1 || opening.throughMonth > 11)
        return fail(sysText("截至月份应为1到11"));
    m_state.openings[id] = opening;
    return {};
}

Outcome<void> MemoryStore::removeOpening(EmployeeId id) {
    m_state.openings.erase(id);
    return {};
}

Outcome<LedgerStore::DeclaredDetails> MemoryStore::detailsDeclaredBefore(int year, int month) {
    DeclaredDetails out;
    for (const auto& [key, text] : m_state.details) {
        const auto e = m_state.employees.find(key.first);
        if (e == m_state.employees.end() || e->second.year != year || key.second >= month) continue;
        if (!out.empty() && out.back().first == key.first)
            out.back().second = text; // a later month's
        else
            out.emplace_back(key.first, text);
    }
    return out;
}

Outcome<void> MemoryStore::putDetailsDeclared(int year, int month, const DeclaredDetails& details) {
    for (auto it = m_state.details.begin(); it != m_state.details.end();) {
        const auto e = m_state.employees.find(it->first.first);
        if (it->first.second == month && e != m_state.employees.end() && e->second.year == year)
            it = m_state.details.erase(it);
        else
            ++it;
    }
    for (const auto& [id, text] : details) {
        if (Outcome<void> r = checkEmployee(id); !r) return r;
        m_state.details[{id, month}] = text;
    }
    return {};
}

Outcome<std::vector<int>> MemoryStore::declaredMonths(int year) {
    std::vector<int> out;
    for (const auto& [y, m] : m_state.declared)
        if (y == year) out.push_back(m);
    return out;
}

Outcome<void> MemoryStore::declare(int year, int month) {
    if (month < 1 || month > 12) return fail(sysText("月份应为1到12"));
    m_state.declared.insert({year, month});
    return {};
}

Outcome<void> MemoryStore::undeclare(int year, int month) {
    m_state.declared.erase({year, month});
    return {};
}

} // namespace iit::ledger
