#pragma once
// The book's pieces shared by its files: the store and the laws, the records converted between
// the book's amounts and the store's fen, and the computation of one employee's months.

#include "ledger/ledger.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace iit::ledger {

struct Ledger::Book {
    std::unique_ptr<LedgerStore> store;
    LedgerTables tables;
    mutable std::unordered_map<int, std::int64_t> fingerprints; // by year, made when first asked
    // Where the ledger keeps its laws: the desk's own (as the ledger's texts), and the version of
    // the kept ones `tables` holds.
    std::optional<KeptLaws> deskLaws;
    std::int64_t lawsVersion = 0;
};

namespace detail {

using Book = Ledger::Book;

// An operation of the book that changes the ledger, run again (a few times, a little later each
// time) when another desk's change at the same moment made its transaction impossible, and
// then told.
template <class Work> auto retried(Book& book, Work&& work) -> decltype(work()) {
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        auto r = work();
        if (r || !book.store->conflicted(r.problem())) return r;
        if (attempt == kAttempts)
            return fail(r.problem().message + sysText("（其他人同时在修改同样的记录，已重试") +
                            ToText(kAttempts) + sysText("次；请稍后再试）"),
                        r.problem().code);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt + std::rand() % 20));
    }
}

inline Exact amount(std::int64_t fen) {
    return engine::fromFen(fen);
}

// A housing fund rate as kept, in ten-thousandths of a percent, and in percent.
constexpr std::int64_t kRateUnits = 10000;
inline Exact ratePercent(std::int64_t units) {
    return Exact(units) / Exact(kRateUnits);
}
// The items of 专项扣除 an insured entry's rules give: kItemInfo's first four.
constexpr int kInsuranceItems = 4;
constexpr int kInsuranceItemBits = (1 << kInsuranceItems) - 1;

// An insured entry's four items of 专项扣除 as the city's rules in force in its month give them
// from its bases (each item marked as given by hand stays, its mark dropped where it equals the
// rules' amount), the group then kept item by item. Nothing for an entry without a city.
// Refused where the rules have no such city in force, or the rates are outside its range.
Outcome<void> applyInsurance(const Book& book, int year, StoredEntry& e);

// The book's records and the store's, in fen. Amounts that come in are held to the bounds of a
// payroll amount (engine::checkAmount) before they are stored.
Entry toEntry(const PersonKey& key, const EnteredMonth& e);
Outcome<StoredEntry> fromEntry(int month, const Entry& e);
Opening toOpening(const PersonKey& key, const StoredOpening& o);
Outcome<StoredOpening> fromOpening(const Opening& o);
MonthLine toLine(const Employee& employee, const StoredEntry& e);
// The sum of an entry that a group of items makes.
std::int64_t& groupSum(EnteredMonth& e, ItemGroup group);
// What the payroll takes from the month's pay for the employee besides the tax: the special
// deductions given as a sum; of the itemised groups, the items paid from the wages (the two
// insurances where the employee pays them through the payroll).
std::int64_t paidFromWages(const Employee& employee, const EnteredMonth& e);
// The fingerprint of the tables the entries of `year` are computed with.
std::int64_t tablesFingerprint(const Book& book, int year);

// The year-to-date sums after a stored entry or opening balances.
inline engine::YearToDate stateOf(const StoredEntry& e) {
    return e.cum.state(e.month);
}
inline engine::YearToDate stateOf(const StoredOpening& o) {
    return o.sums.state(o.throughMonth);
}

// Computes the figures of `e` after the sums `before`: the cumulative method for a resident
// (with a bonus taxed on its own by the monthly table), the monthly method of the bracket table
// for a non-resident.
Outcome<void> computeEntry(const Book& book, int year, const Employee& employee,
                           const engine::YearToDate& before, StoredEntry& e);

// The annual table of a year, or why there is none.
Outcome<const engine::WithholdingTable*> tableOf(const Book& book, int year);

// Checks that `month` of `year` may change: it and every later month are open.
Outcome<void> checkMonthOpen(Book& book, int year, int month);
// True when one of the employee's entries lies in a declared month.
Outcome<bool> hasDeclaredEntry(Book& book, int year, EmployeeId id);

// Whether an entry may be kept for the employee in that month: not after they left, not before
// their opening balances end, a bonus on its own only for a resident, in a year the law allows
// it, once a year (`separateBonusMonth`: another month of theirs with a bonus on its own). The
// problem is the refusal.
Outcome<void> checkEntry(const Book& book, int year, int month, const Employee& employee,
                         const StoredEntry& entry, const std::optional<StoredOpening>& opening,
                         std::optional<int> separateBonusMonth);

// Sets (or with none removes) the employee's entry of `month` and recomputes their entries
// from that month on (from `month` without a change when `change` is false). `opening` is the
// employee's opening balances when the caller has read them already; `around`, what it has
// read of their entries.
struct Recomputed {
    int recomputed = 0;                  // entries whose figures changed
    std::optional<StoredEntry> previous; // the entry of `month` before
    bool unchanged = false;              // the change set what was there
};
struct Around {
    const StoredEntry* monthBefore = nullptr; // their entry of the month before, when there is one
    bool noneFromMonth = false;               // known to have no entry of the month or after
};
Outcome<Recomputed> recomputeEmployee(Book& book, int year, const StoredEmployee& employee,
                                      int month, bool change,
                                      const std::optional<StoredEntry>& entry,
                                      const std::optional<StoredOpening>* opening = nullptr,
                                      const Around& around = {});

// Whether the employee's options go together: the 60,000 deduction neither with the count from
// January nor for one who joined after January. `firstMonth` is the month from which their
// deduction counts (countingMonth), none for one not in the ledger yet.
Outcome<void> checkOptions(const Employee& employee, std::optional<int> firstMonth);
// The month from which the employee's basic deduction counts (Ledger::countingMonth).
Outcome<std::optional<int>> countingMonthOf(Book& book, const StoredEmployee& employee);
// The notes of the 60,000 deduction (Ledger::optionNotes).
Outcome<std::vector<Text>> annualDeductionNotes(Book& book, int year, const Employee& employee);

// The range of ids that holds the employees (what a store reads a month's entries in); the
// employees are not empty.
inline std::pair<EmployeeId, EmployeeId> idRange(const std::vector<StoredEmployee>& employees) {
    EmployeeId first = employees.front().id, last = first;
    for (const StoredEmployee& e : employees) {
        first = std::min(first, e.id);
        last = std::max(last, e.id);
    }
    return {first, last};
}

// An employee's items through the months before one (with their opening balances): the
// sums, the groups not known item by item (a month or the opening gave a nonzero sum alone),
// and the first month with an entry (13 without one).
struct EarlierItems {
    ItemsFen sums{};
    int unknown = 0;
    int firstMonth = 13;
};
// Of the employees `known` (of `year`), those with entries before `month` or opening balances.
Outcome<void> earlierItems(LedgerStore& store, int year, int month,
                           const std::vector<StoredEmployee>& known,
                           std::unordered_map<EmployeeId, EarlierItems>& out);

// One change of an entry of a month, its employee found.
struct Resolved {
    StoredEmployee employee;
    std::optional<StoredEntry> entry;
    std::size_t row = 0; // the import's row, 0 for an edit
};
// Applies changes of one month inside an open transaction, each with its employee's later
// months; every refusal is named and then nothing is kept (the caller does not commit).
Outcome<ChangeReport> applyChanges(Book& book, int year, int month,
                                   const std::vector<Resolved>& changes, const Progress& progress);

// The key of an employee of a year in a map.
std::string personKeyString(const PersonKey& key);
// "某某（证件号码）".
Text whom(const Employee& e);
// "第N行：" and a reason.
Text rowMessage(std::size_t row, const Text& why);
Text monthText(int month); // "3月"

} // namespace detail
} // namespace iit::ledger
