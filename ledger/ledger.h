#pragma once
// The payroll ledger: a year's wages of an employer's employees, month by month, withheld by
// the cumulative method (engine/cumulative.h). This is the book: the employees, their entries,
// opening balances and declared months, and every rule of them; it keeps them in a store
// (store.h) and knows no database.
//
// The pieces: employees (per year, keyed by 证件类型 and 证件号码), one entry per employee and
// month (the amounts entered and what was computed from them, with the table used), opening
// balances for an employer who starts in the middle of a year, and which months are declared.
// Every operation is one transaction of the store: it succeeds whole or changes nothing. Each
// change of entries returns its inverse, which the window applies as its undo (itself one
// transaction).
//
// The computation follows the entries: a change of an open month recomputes that employee's
// later months of the year through the cumulative sums. A declared month never changes: its
// entries are refused until it is reopened, and a month is declared only after every earlier
// month with entries, so that the declared months are the first of the year and every open
// month lies after them. Amounts are exact and whole fen.

#include "base/outcome.h"
#include "base/text.h"
#include "engine/bracket_table.h"
#include "engine/cumulative.h"
#include "engine/exact.h"
#include "engine/payroll_row.h"
#include "engine/withholding_table.h"
#include "insurance/rules.h"
#include "ledger/store.h"

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace iit::ledger {

using engine::Exact;
using engine::identityCardType;
using engine::PayrollField;

// The laws a ledger computes by (the annual withholding table and the bracket table's monthly
// wage table), handed to it by whoever opens it (ledger/sqlite/sqlite_store.h reads a desk's
// from its data directory).
struct LedgerTables {
    engine::WithholdingTables annual;
    engine::BracketTable bracket;         // non-residents' wages, by the monthly method
    std::vector<engine::TaxBand> monthly; // its wage bands, for the bonus taxed on its own
    insurance::Rules insurance;           // the cities' social insurance and housing fund
    Text notice; // a damaged rules file set aside in the opening: what to tell the clerk
};

// One employee-month as entered.
struct Entry {
    PersonKey key;
    std::optional<Exact> income; // none: not entered yet (a month copied forward); computed as 0
    Exact taxFree, special, specialAdditional, other, relief, bonus;
    BonusMethod bonusMethod = BonusMethod::Separate;
    Text remark; // 备注: the clerk's note of the month, never computed
    // The deductions item by item (kItemInfo) of the groups in `itemised` (groupBit): each such
    // group's sum (special, specialAdditional, other) is its items'.
    int itemised = 0;
    std::array<Exact, kItems> items{};
    Exact donation; // 准予扣除的捐赠额 (residents)
    // Insured through this employer in the city whose rules give the four items of 专项扣除
    // (empty: not insured here, the items as entered); the bases, the housing fund's rates in
    // percent, and the items (bit i for kItemInfo's item i, 0 to 3) given by hand, which stand.
    Text insuranceCity;
    Exact socialBase, fundBase, fundRate, fundExtraRate;
    int insuranceManual = 0;
    friend bool operator==(const Entry&, const Entry&) = default;
};

// Year-to-date figures of an employee through a month, before the ledger's first month.
struct Opening {
    PersonKey key;
    int throughMonth = 0; // 1 to 11
    Exact income, taxFree, basicDeduction, special, specialAdditional, other, relief, withheld;
    Exact donation;
};

// An entry with what was computed from it.
struct MonthLine {
    Employee employee;
    int month = 0;
    Entry entry;
    Method method = Method::Cumulative;
    int tableYear = 0;                // the annual table's year (cumulative method)
    Exact cumulativeIncome;           // 累计收入 (bonus added to a month included)
    Exact cumulativeBasicDeduction;   // 累计减除费用
    std::optional<Exact> taxable;     // 累计应纳税所得额 (cumulative method)
    std::optional<Exact> ratePercent; // 预扣率
    std::optional<Exact> quickDeduction;
    std::optional<Exact> cumulativeTax; // 累计应纳税额
    Exact withheldBefore;               // 累计已预扣
    Exact withholding;                  // 本月应预扣
    Exact bonusTax;                     // 奖金税额 (the bonus taxed on its own)
    Exact afterTax; // 实发: income + bonus − special − withholding − bonus tax
};

struct MonthView {
    int year = 0, month = 0;
    bool declared = false;
    std::vector<MonthLine> lines; // in the order the employees were added
};

// A change of one employee's entry of a month: set it, or remove it (none). `expected`, where
// given, is the entry the change was made from (none: there was none): a ledger that holds
// another one now (another program or desk changed it meanwhile) refuses the change with
// kChangedElsewhere, so that nothing the other one did is lost.
struct EntryChange {
    PersonKey key;
    std::optional<Entry> entry;
    std::optional<std::optional<Entry>> expected = std::nullopt;
};
// The code of that refusal.
constexpr int kChangedElsewhere = 0x4c45; // "LE"

// What a check of a year found: every stored figure that does not follow from the amounts
// entered, the opening balances and the figures of the month before.
struct CheckReport {
    struct Difference {
        Employee employee;
        int month = 0;
        Text what; // "累计收入为7262.11，应为7589.79"
    };
    std::size_t employees = 0, entries = 0;
    std::vector<Difference> differences; // by employee, then month
};

struct ChangeReport {
    int added = 0, changed = 0, removed = 0, unchanged = 0;
    std::vector<PersonKey> newEmployees; // added by an import
    int recomputed = 0;                  // entries whose computed figures changed
    // Applied with changeEntries to the same month, undoes the entries' change (new employees
    // are removed with removeEmployee, and the employees an import renamed are put back as
    // they were with putEmployee).
    std::vector<EntryChange> inverse;
    std::vector<Employee> previousEmployees;
    // The employees of the month whom an import's rows do not hold: kept, or removed with
    // Missing::Remove.
    std::vector<Employee> notInRows;
    // What the clerk should know, one line each: a number that already stands under another
    // 证件类型, the 60,000 deduction where the previous year in the ledger does not bear it out.
    std::vector<Text> notes;
    // Carried into a new year: the employees whom the year before shows qualifying for the
    // 60,000 deduction, for the clerk to confirm.
    std::vector<PersonKey> annualDeductionQualifies;
    Text summary() const; // "新增N人，修改N人，…"
};

// What new rules of social insurance did to a year (Ledger::applyInsuranceRules).
struct InsuranceUpdate {
    std::vector<int> months; // open months whose items changed
    int entries = 0;         // entries changed
    // The declared months never change: what the rules give now against what was declared, for
    // the clerk to settle.
    struct Difference {
        Employee employee;
        int month = 0;
        Exact declared, now; // 专项扣除
    };
    std::vector<Difference> declared;
};

struct Statement; // statement.h

// What an import does with the entries of the month's employees whom its rows do not hold.
enum class Missing { Keep, Remove };

// The employee removed with all of their year, to be put back by restoreEmployee.
struct EmployeeRecord {
    Employee employee;
    std::optional<Opening> opening;
    std::vector<std::pair<int, Entry>> entries;
};

// The two ways of taxing one employee's annual bonus over the year.
struct BonusChoice {
    Employee employee;
    int month = 0;
    Exact bonus;
    BonusMethod entered = BonusMethod::Separate;
    engine::BonusComparison comparison;
};

// Progress of a long operation: rows done and rows in all; false cancels (nothing changes).
using Progress = std::function<bool(std::size_t done, std::size_t total)>;

// The fields a month's import reads (证件号码, 姓名 and 本月收入 required), and those of opening
// balances (证件号码, 姓名 and 截至月份 required).
std::span<const PayrollField> importFields();
std::span<const PayrollField> openingFields();

class Ledger {
public:
    Ledger(std::unique_ptr<LedgerStore> store, LedgerTables tables);
    Ledger(Ledger&&) noexcept;
    Ledger& operator=(Ledger&&) noexcept;
    ~Ledger();

    LedgerStore& store();
    const LedgerTables& tables() const;

    // The years with employees, in increasing order.
    Outcome<std::vector<int>> years();
    // Employees of a year in the order they were added.
    Outcome<std::vector<Employee>> listEmployees(int year);
    // Adds an employee or changes one; the previous state (none for a new one) is the inverse.
    // Changes that would alter a declared month's computation are refused, and so are options
    // the law does not give together: the 60,000 deduction with the count from January, or for
    // an employee who joined after January.
    Outcome<std::optional<Employee>> putEmployee(int year, const Employee& employee);
    // What the clerk should know of an employee's options: the 60,000 deduction where the
    // ledger holds the previous year and it does not bear it out (not every month paid, or
    // more than 60,000). Empty when there is nothing to say.
    Outcome<std::vector<Text>> optionNotes(int year, const PersonKey& key);
    // The month from which an employee's basic deduction counts: the joining month, else the
    // first month of their opening balances or entries.
    Outcome<std::optional<int>> countingMonth(int year, const PersonKey& key);
    // Who changed the employee's records of the year, and when (a server ledger keeps it).
    Outcome<std::vector<LedgerStore::ChangeRecord>> history(int year, const PersonKey& key,
                                                            int limit);
    // Removes an employee with their entries and opening balances; refused once one of their
    // months is declared (an employee who leaves keeps their months: set leftMonth instead).
    Outcome<EmployeeRecord> removeEmployee(int year, const PersonKey& key);
    Outcome<void> restoreEmployee(int year, const EmployeeRecord& record);
    // Corrects an employee's 证件类型 and 证件号码; refused when another employee of the year
    // has them or one of the employee's months is declared. changeKey(to, from) undoes it.
    Outcome<void> changeKey(int year, const PersonKey& from, const PersonKey& to);

    // Imports a month from rows of cells whose first row names the columns (importFields(), by
    // any of their names): all or nothing, every faulty row named. Employees not yet in the
    // year are added. An entry the month has already changes only in the columns the rows
    // have (a column with an empty cell empties it); entries of the month's employees whom the
    // rows do not hold are kept, or removed with Missing::Remove, and named in the report. A
    // row without 证件类型 is the employee's who holds its number (an identity card's when none
    // or several of the year do). The employee's options for the year (居民, 减除费用从1月起算,
    // 全年减除6万元) change as putEmployee changes them. A faulty row is named by its number in
    // `rowNumbers` (a sheet's row number, a grid's row), by default by its position with the
    // header as row 1.
    Outcome<ChangeReport> importMonth(int year, int month,
                                      const std::vector<std::vector<Text>>& rows,
                                      const Progress& progress = {},
                                      const std::vector<std::size_t>& rowNumbers = {},
                                      Missing missing = Missing::Keep);
    // Sets or removes entries of one month (the window's edit of a cell, and every undo).
    Outcome<ChangeReport> changeEntries(int year, int month,
                                        const std::vector<EntryChange>& changes);
    // Copies the employees of `month` who are still employed into the next month with what
    // recurs: their deductions (item by item where they were), tax-free income and relief, and
    // with `withIncome` their income (else it is left to enter); employees who already have an
    // entry there are left alone.
    Outcome<ChangeReport> copyToNextMonth(int year, int month, bool withIncome = false);
    // The same from December of the year before into January: the employees still employed
    // are added to the year with their details (their months, options and first job start
    // afresh), their January carrying what recurs.
    Outcome<ChangeReport> copyFromPreviousYear(int year, bool withIncome = false);

    // Opening balances from rows whose first row names the columns (openingFields()).
    // Rows are named as importMonth names them.
    Outcome<ChangeReport> importOpening(int year, const std::vector<std::vector<Text>>& rows,
                                        const std::vector<std::size_t>& rowNumbers = {});
    Outcome<std::optional<Opening>> opening(int year, const PersonKey& key);
    // Sets (or with none removes) an employee's opening balances and recomputes their months;
    // the previous balances are the inverse. Refused as importOpening refuses a row.
    Outcome<std::optional<Opening>> putOpening(int year, const PersonKey& key,
                                               const std::optional<Opening>& opening);

    // Checks the stored figures of a year against what they must be, without the tax tables:
    // the year-to-date sums are the sums of the months' entries (and the opening balances),
    // 累计减除费用 follows from the months employed and the options, 累计应纳税所得额 from the
    // sums, 本月应预扣 is the year's tax less the relief and what was withheld before (never
    // below 0), 累计已预扣 adds it up, and 实发 is the pay less the special deductions and the
    // tax. Damage the file's own checks cannot see (a flipped bit in a figure) shows here.
    Outcome<CheckReport> checkYear(int year);

    Outcome<MonthView> showMonth(int year, int month);
    // One employee's line of a month; none without an entry.
    Outcome<std::optional<MonthLine>> showLine(int year, int month, const PersonKey& key);
    // The year and month to work on: of the latest year with employees, the latest open month
    // with entries, else the month after the last declared one (December when all are); none
    // while the ledger has no employee.
    struct YearMonth {
        int year = 0, month = 0;
        friend bool operator==(const YearMonth&, const YearMonth&) = default;
    };
    Outcome<std::optional<YearMonth>> latestOpenMonth();
    Outcome<std::optional<Entry>> entry(int year, int month, const PersonKey& key);

    // A month is declared once every earlier month with entries is, and when each of its
    // entries has its income (0 for a month without pay); reopened when no later month is
    // declared. The checks alone say beforehand why not.
    Outcome<void> checkDeclare(int year, int month);
    Outcome<void> declareMonth(int year, int month);
    Outcome<void> checkReopen(int year, int month);
    Outcome<void> reopenMonth(int year, int month);
    Outcome<std::vector<int>> declaredMonths(int year);
    // Another program has changed the ledger since the last call (what is shown is stale).
    // Laws another desk kept with the ledger since are computed by from now on.
    Outcome<bool> changedElsewhere();

    // Computes by the laws kept with the ledger (a server's: every desk by the same ones) in
    // place of the desk's own; where none are kept yet, the desk's become the ledger's. The
    // tables' notice then names those of the desk's own that differ. Nothing for a ledger that
    // keeps none (a file's laws are its desk's).
    Outcome<void> followKeptLaws();
    // Keeps the desk's own laws with the ledger for every desk, and computes by them.
    Outcome<void> keepDeskLaws();
    // True when the ledger keeps the laws it computes by (tables()), for every desk; the
    // version of them computed by, which another desk's change of them moves.
    bool keepsLaws() const;
    std::int64_t keptLawsVersion() const;

    // For each resident with an annual bonus: the bonus taxed on its own against added to its
    // month, over the whole year (months not yet entered projected from the last one entered).
    Outcome<std::vector<BonusChoice>> compareBonuses(int year);
    // How a bonus entered without its method is taxed: on its own for a resident in a year the
    // law allows it, else added to its month.
    BonusMethod defaultBonusMethod(int year, bool resident) const;
    // The same for one employee; none for a non-resident or an employee without a bonus.
    Outcome<std::optional<BonusChoice>> compareBonus(int year, const PersonKey& key);

    // The cities' rules of social insurance the book computes by from now on (the clerk edited
    // them), and the items of the year's insured entries made theirs again: open months
    // change (items given by hand aside), each with the employee's later months; declared
    // months are only compared. One transaction.
    // A ledger that keeps its laws (a server's) keeps the new rules for every desk.
    Outcome<void> setInsuranceRules(insurance::Rules rules);
    Outcome<InsuranceUpdate> applyInsuranceRules(int year);

    // An employee's year and its reconciliation as this employer's figures give it (statement.h).
    Outcome<Statement> statement(int year, const PersonKey& key);

    // Runs `work`, a sequence of the operations above, as one transaction: when it fails,
    // nothing of it is kept.
    Outcome<void> atomically(const std::function<Outcome<void>()>& work);

    struct Book;

private:
    std::unique_ptr<Book> m_book;
};

} // namespace iit::ledger
