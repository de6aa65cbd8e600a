#pragma once
// The ledger's store: where the book (ledger.h) keeps its employees, entries, opening balances
// and declared months. The book knows the rules and no database; a store knows its database and
// no rule. One implementation per database (ledger/sqlite/ for a file on one desk; an in-memory
// one for the book's tests, memory_store.h), each made from the table descriptions of
// schema.h and held to the same contract (tests/ledger/store_contract.h).
//
// The records are the book's own, amounts in whole fen: what the clerk entered, and what the
// book computed from it. A store keeps them as they are given and gives them back unchanged.
// Texts cross as Text; a store keeps them in its database's encoding.
//
// Every change happens inside a transaction (begin): when it is destroyed without commit,
// nothing of it is kept. A transaction begun inside another is part of it.

#include "base/outcome.h"
#include "base/text.h"
#include "engine/cumulative.h"
#include "engine/payroll_row.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace iit::ledger {

using engine::BonusMethod;

struct PersonKey {
    Text idType;   // 证件类型
    Text idNumber; // 证件号码
    friend bool operator==(const PersonKey&, const PersonKey&) = default;
};

struct Employee {
    PersonKey key;
    Text name;
    Text bankCard;
    std::optional<int> joinMonth; // none: the first month with an entry, or the opening balances'
    std::optional<int> leftMonth; // the last month employed
    bool resident = true;
    engine::DeductionOptions options;
    bool idCheckFailed = false; // set by the ledger
};

// How a month was computed: residents' cumulative method, non-residents' monthly method.
enum class Method { Cumulative, Monthly };

using EmployeeId = std::int64_t;

struct StoredEmployee {
    EmployeeId id = 0;
    Employee employee;
};

// The year-to-date sums after a month or at the opening, in fen.
struct SumsFen {
    std::int64_t income = 0, taxFree = 0, basic = 0, special = 0, specialAdditional = 0, other = 0,
                 relief = 0, withheld = 0;
    bool operator==(const SumsFen&) const = default;

    static Outcome<SumsFen> of(const engine::YearToDate& sums);
    engine::YearToDate state(int month) const;
};

// A month of an employee with only the amounts entered, in fen.
struct EnteredMonth {
    int month = 0;
    std::optional<std::int64_t> income; // none: not entered yet
    std::int64_t taxFree = 0, special = 0, specialAdditional = 0, other = 0, relief = 0, bonus = 0;
    BonusMethod bonusMethod = BonusMethod::Separate;
    Text remark;

    bool bonusSeparate() const { return bonus > 0 && bonusMethod == BonusMethod::Separate; }
    bool operator==(const EnteredMonth&) const = default;
};

// An entry as kept: the amounts entered and the figures computed, in fen (rates in hundredths
// of a percent).
struct StoredEntry : EnteredMonth {
    Method method = Method::Cumulative;
    std::optional<std::int64_t> tableYear;
    SumsFen cum; // after this month
    std::optional<std::int64_t> taxable, rate, quick, cumTax;
    std::int64_t withholding = 0, bonusTax = 0, afterTax = 0;

    bool sameFigures(const StoredEntry& o) const;
    bool sameInput(const StoredEntry& o) const {
        return static_cast<const EnteredMonth&>(*this) == o;
    }
};

struct StoredOpening {
    int throughMonth = 0; // 1 to 11
    SumsFen sums;
    bool operator==(const StoredOpening&) const = default;
};

// An employee's entry of a month, found by the employee.
struct EmployeeEntry {
    EmployeeId employee = 0;
    StoredEntry entry;
};

// A line of a month: the employee and their entry.
struct StoredLine {
    StoredEmployee employee;
    StoredEntry entry;
};

class StoreTransaction {
public:
    virtual ~StoreTransaction() = default;
    virtual Outcome<void> commit() = 0;
};

class LedgerStore {
public:
    virtual ~LedgerStore() = default;

    virtual Outcome<std::unique_ptr<StoreTransaction>> begin() = 0;

    // Employees. A year's are given in the order they were added, which their ids follow.
    virtual Outcome<std::vector<int>> years() = 0; // with employees, increasing
    virtual Outcome<std::vector<StoredEmployee>> employees(int year) = 0;
    virtual Outcome<std::optional<StoredEmployee>> findEmployee(int year, const PersonKey& key) = 0;
    virtual Outcome<EmployeeId> addEmployee(int year, const Employee& employee) = 0;
    // Every field, the key included.
    virtual Outcome<void> updateEmployee(EmployeeId id, const Employee& employee) = 0;
    // With the employee's entries and opening balances.
    virtual Outcome<void> removeEmployee(EmployeeId id) = 0;

    // Entries of one employee, by month.
    virtual Outcome<std::vector<StoredEntry>> entries(EmployeeId id) = 0;
    virtual Outcome<std::optional<StoredEntry>> entry(EmployeeId id, int month) = 0;
    // The last entry before `month`, and the entries from `month` on.
    virtual Outcome<std::optional<StoredEntry>> entryBefore(EmployeeId id, int month) = 0;
    virtual Outcome<std::vector<StoredEntry>> entriesFrom(EmployeeId id, int month) = 0;
    virtual Outcome<void> putEntry(EmployeeId id, const StoredEntry& entry) = 0;
    virtual Outcome<void> removeEntry(EmployeeId id, int month) = 0;

    // A month at once: its lines, in the order of the employees.
    virtual Outcome<std::vector<StoredLine>> month(int year, int month) = 0;
    virtual Outcome<bool> monthHasEntries(int year, int month) = 0;
    // The entries of `month` of the employees with ids from `first` to `last`, by employee, and
    // which of those employees have an entry of `month` or later: what an import of many reads
    // around the month at once.
    virtual Outcome<std::vector<EmployeeEntry>> monthEntries(int month, EmployeeId first,
                                                             EmployeeId last) = 0;
    virtual Outcome<std::vector<EmployeeId>> employeesWithEntriesFrom(int month, EmployeeId first,
                                                                      EmployeeId last) = 0;
    // The residents of the year with an annual bonus in any month, and the amounts entered in
    // all their months (what the comparison of the bonus computes from).
    struct EmployeeYear {
        StoredEmployee employee;
        std::vector<EnteredMonth> months;
    };
    virtual Outcome<std::vector<EmployeeYear>> residentsWithBonus(int year) = 0;

    // Opening balances.
    virtual Outcome<std::optional<StoredOpening>> opening(EmployeeId id) = 0;
    virtual Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings(int year) = 0;
    virtual Outcome<void> putOpening(EmployeeId id, const StoredOpening& opening) = 0;
    virtual Outcome<void> removeOpening(EmployeeId id) = 0;

    // Declared months, increasing.
    virtual Outcome<std::vector<int>> declaredMonths(int year) = 0;
    virtual Outcome<void> declare(int year, int month) = 0;
    virtual Outcome<void> undeclare(int year, int month) = 0;

    // True when another program (or another store on the same records) has changed them since
    // the last call: what a window shows is then to be read again.
    virtual Outcome<bool> changedElsewhere() = 0;
};

} // namespace iit::ledger
