#pragma once
// The ledger's store in memory: the book's records in ordered maps, for the book's tests and for
// a ledger that needs no file. It keeps the store's contract as the file's store does: a year's
// employees in the order they were added, unique by their key; transactions that nest and leave
// nothing of themselves when they end without commit.

#include "ledger/store.h"

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace iit::ledger {

class MemoryStore final : public LedgerStore {
public:
    MemoryStore();
    ~MemoryStore() override;

    Outcome<std::unique_ptr<StoreTransaction>> begin() override;

    Outcome<std::vector<int>> years() override;
    Outcome<std::vector<StoredEmployee>> employees(int year) override;
    Outcome<std::optional<StoredEmployee>> findEmployee(int year, const PersonKey& key) override;
    Outcome<EmployeeId> addEmployee(int year, const Employee& employee) override;
    Outcome<void> updateEmployee(EmployeeId id, const Employee& employee) override;
    Outcome<void> removeEmployee(EmployeeId id) override;

    Outcome<std::vector<StoredEntry>> entries(EmployeeId id) override;
    Outcome<std::optional<StoredEntry>> entry(EmployeeId id, int month) override;
    Outcome<std::optional<StoredEntry>> entryBefore(EmployeeId id, int month) override;
    Outcome<std::vector<StoredEntry>> entriesFrom(EmployeeId id, int month) override;
    Outcome<void> putEntry(EmployeeId id, const StoredEntry& entry) override;
    Outcome<void> removeEntry(EmployeeId id, int month) override;

    Outcome<std::vector<StoredLine>> month(int year, int month) override;
    Outcome<bool> monthHasEntries(int year, int month) override;
    Outcome<std::vector<EmployeeEntry>> monthEntries(int month, EmployeeId first,
                                                     EmployeeId last) override;
    Outcome<std::vector<EmployeeId>> employeesWithEntriesFrom(int month, EmployeeId first,
                                                              EmployeeId last) override;
    Outcome<std::vector<EmployeeMonth>> separateBonuses(EmployeeId first, EmployeeId last) override;
    Outcome<std::vector<ItemsBefore>> itemsBefore(int month, EmployeeId first,
                                                  EmployeeId last) override;
    Outcome<std::vector<EmployeeYear>> residentsWithBonus(int year) override;

    Outcome<std::optional<StoredOpening>> opening(EmployeeId id) override;
    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings(int year) override;
    Outcome<void> putOpening(EmployeeId id, const StoredOpening& opening) override;
    Outcome<void> removeOpening(EmployeeId id) override;

    Outcome<DeclaredDetails> detailsDeclaredBefore(int year, int month) override;
    Outcome<void> putDetailsDeclared(int year, int month, const DeclaredDetails& details) override;
    Outcome<std::vector<int>> declaredMonths(int year) override;
    Outcome<void> declare(int year, int month) override;
    Outcome<void> undeclare(int year, int month) override;
    Outcome<bool> changedElsewhere() override { return false; } // nobody else holds them

    struct State {
        EmployeeId nextId = 1;
        struct Person {
            int year = 0;
            Employee employee;
        };
        std::map<EmployeeId, Person> employees;
        std::map<std::pair<EmployeeId, int>, StoredEntry> entries; // by employee and month
        std::map<EmployeeId, StoredOpening> openings;
        std::set<std::pair<int, int>> declared;             // year, month
        std::map<std::pair<EmployeeId, int>, Text> details; // by employee and month
    };

private:
    friend class MemoryTransaction;
    Outcome<void> checkUnique(int year, const PersonKey& key, EmployeeId except) const;
    Outcome<void> checkEmployee(EmployeeId id) const;

    State m_state;
    std::vector<State> m_saved; // the state when each open transaction began
};

} // namespace iit::ledger
