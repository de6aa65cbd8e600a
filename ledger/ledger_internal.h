#pragma once
// The ledger's pieces shared by its files: the open file, the stored rows in fen and the
// computation of one employee's months.

#include "base/guarded_files.h"
#include "ledger/ledger.h"
#include "ledger/sqlite.h"

#include <optional>
#include <string>
#include <unordered_map>

namespace iit::ledger {

struct Ledger::Impl {
    std::filesystem::path path;
    // A shared flock while the ledger is open (damaged files are set aside under an exclusive
    // one). One descriptor per file and process, shared by every ledger of the process open on
    // it: closing a descriptor of the file drops the POSIX locks SQLite holds on it for all of
    // them.
    int lockFd = -1;
    std::unique_ptr<FileGuard> guard; // nothing else of the program opens the ledger's files
    std::unique_ptr<sql::Connection> db;
    LedgerTables tables;
    ~Impl();
};

namespace detail {

// An amount entered or computed, in fen. Amounts entered are checked to be whole fen before;
// computed ones are rounded to the fen by the computation.
std::int64_t fen(const Exact& v);
inline Exact amount(std::int64_t fen) {
    return engine::fromFen(fen);
}

struct EmployeeRow {
    std::int64_t id = 0;
    Employee employee;
};

// The year-to-date sums after a month or at the opening, in fen, in the order of their columns
// in the entry and opening tables.
struct SumsFen {
    std::int64_t income = 0, taxFree = 0, basic = 0, special = 0, specialAdditional = 0, other = 0,
                 relief = 0, withheld = 0;
    bool operator==(const SumsFen&) const = default;

    static SumsFen of(const engine::YearToDate& sums); // each rounded to the fen
    engine::YearToDate state(int month) const;
    static SumsFen read(const sql::Statement& s, int first); // eight columns from `first`
    void bind(sql::Statement& w, int first) const;           // parameters `first` to `first` + 7
};

// A month of an employee with only the amounts entered, in fen: what a comparison of the bonus
// recomputes from.
struct EnteredMonth {
    int month = 0;
    std::optional<std::int64_t> income;
    std::int64_t taxFree = 0, special = 0, specialAdditional = 0, other = 0, relief = 0, bonus = 0;
    bool bonusSeparate = false;
};

// An entry as stored: the amounts entered and the figures computed, in fen (rates in
// hundredths of a percent).
struct StoredEntry : EnteredMonth {
    int method = 0; // 1 cumulative, 2 monthly
    std::optional<std::int64_t> tableYear;
    SumsFen cum; // after this month
    std::optional<std::int64_t> taxable, rate, quick, cumTax;
    std::int64_t withholding = 0, bonusTax = 0, afterTax = 0;
    std::string remark; // UTF-8

    bool sameFigures(const StoredEntry& o) const;
    bool sameInput(const StoredEntry& o) const;
};

// The columns of StoredEntry in SELECTs ("month, income, ..."), and reading them from column
// `first` on.
extern const char* const kEntryColumns;
StoredEntry readEntry(const sql::Statement& s, int first = 0);
// The same for the amounts entered alone, the first columns of kEntryColumns.
extern const char* const kEnteredColumns;
EnteredMonth readEntered(const sql::Statement& s, int first = 0);
Entry toEntry(const PersonKey& key, const StoredEntry& e);
StoredEntry fromEntry(int month, const Entry& e);

struct OpeningRow {
    int throughMonth = 0;
    SumsFen sums;
};

// The year-to-date sums after a stored entry or opening balances.
inline engine::YearToDate stateOf(const StoredEntry& e) {
    return e.cum.state(e.month);
}
inline engine::YearToDate stateOf(const OpeningRow& o) {
    return o.sums.state(o.throughMonth);
}

Outcome<std::optional<EmployeeRow>> findEmployee(Ledger::Impl& impl, int year,
                                                 const PersonKey& key);
Outcome<std::optional<OpeningRow>> readOpening(Ledger::Impl& impl, std::int64_t employeeId);
// The opening balances of every employee of the year, by employee id.
Outcome<std::unordered_map<std::int64_t, OpeningRow>> readOpenings(Ledger::Impl& impl, int year);
Employee readEmployee(const sql::Statement& s, int first); // kEmployeeColumns from `first`
extern const char* const kEmployeeColumns;

// Checks that `month` of `year` may change: it and every later month are open.
Outcome<void> checkMonthOpen(Ledger::Impl& impl, int year, int month);
// True when one of the employee's entries lies in a declared month.
Outcome<bool> hasDeclaredEntry(Ledger::Impl& impl, int year, std::int64_t employeeId);

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
Outcome<Recomputed> recomputeEmployee(Ledger::Impl& impl, int year, const EmployeeRow& employee,
                                      int month, bool change,
                                      const std::optional<StoredEntry>& entry,
                                      const std::optional<OpeningRow>* opening = nullptr,
                                      const Around& around = {});

// Why an entry cannot be kept for the employee in that month (left, before the opening
// balances, a bonus on its own that the law does not allow); none when it can.
Outcome<std::optional<Text>> entryRefusal(Ledger::Impl& impl, int year, int month,
                                          const EmployeeRow& employee, const StoredEntry& entry,
                                          const std::optional<OpeningRow>& opening);

// One change of an entry of a month, its employee found.
struct Resolved {
    EmployeeRow employee;
    std::optional<StoredEntry> entry;
    std::size_t row = 0; // the import's row, 0 for an edit
};
// Applies changes of one month inside an open transaction, each with its employee's later
// months; every refusal is named and then nothing is kept (the caller does not commit).
Outcome<ChangeReport> Apply(Ledger::Impl& impl, int year, int month,
                            const std::vector<Resolved>& changes, const Progress& progress);

// A text as UTF-8 (ASCII as it is), and without the spaces a column name may carry.
std::string utf8(const Text& t);
std::string withoutSpaces(const Text& t);
// The key of an employee of a year in a map.
std::string personKeyString(const PersonKey& key);

// A line of a month from kEmployeeColumns followed by kEntryColumns.
MonthLine readLine(const sql::Statement& s);

// "第N行：" and a reason.
Text rowMessage(std::size_t row, const Text& why);
Text monthText(int month); // "3月"

} // namespace detail
} // namespace iit::ledger
