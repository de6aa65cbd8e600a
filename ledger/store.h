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

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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

// 任职受雇从业类型 and 入职年度就业情形, as the declaration names them (employeeTypeNames(),
// firstJobNames()).
enum class EmploymentType { Employee, Intern, InsuranceAgent, SecuritiesBroker, Other };
enum class FirstJob { None, Student, Other };

struct Employee {
    PersonKey key;
    Text name;
    Text bankCard;
    std::optional<int> joinMonth; // none: the first month with an entry, or the opening balances'
    std::optional<int> leftMonth; // the last month employed
    bool resident = true;
    engine::DeductionOptions options;
    bool idCheckFailed = false; // set by the ledger
    // What the declaration knows of the employee. Dates are numbers yyyymmdd.
    Text staffNumber; // 工号
    EmploymentType type = EmploymentType::Employee;
    Text phone;                       // 手机号码
    std::optional<int> employedSince; // 任职受雇从业日期: the day the employment began
    std::optional<int> leftOn;        // 离职日期
    FirstJob firstJob = FirstJob::None;
    // For documents other than 居民身份证 (whose number holds them): 国籍(地区), 性别, 出生日期.
    Text nationality, sex;
    std::optional<int> birthDate;
    // The employee pays 商业健康保险 and 税延养老保险 through the payroll: they come off the pay.
    bool healthThroughPayroll = false, deferredPensionThroughPayroll = false;
};

// The month's deductions item by item, in the order of the declaration's columns: four of
// 专项扣除, six of 专项附加扣除, five of 其他扣除 (itemInfo()).
enum class ItemGroup { Special, SpecialAdditional, Other };
constexpr std::size_t kItems = 15;
struct ItemInfo {
    const char* column;         // the store's
    engine::PayrollField field; // the sheets' and the window's name
    ItemGroup group;
    bool paidFromWages; // comes off the pay (for the two insurances: by the employee's choice)
    // The declaration's year-to-date column of the item, where it has one.
    std::optional<engine::PayrollField> yearToDate = std::nullopt;
};
using engine::PayrollField;
inline constexpr ItemInfo kItemInfo[kItems] = {
    {"pension", PayrollField::Pension, ItemGroup::Special, true},
    {"medical", PayrollField::Medical, ItemGroup::Special, true},
    {"unemployment", PayrollField::Unemployment, ItemGroup::Special, true},
    {"housing_fund", PayrollField::HousingFund, ItemGroup::Special, true},
    {"children", PayrollField::Children, ItemGroup::SpecialAdditional, false,
     PayrollField::CumulativeChildren},
    {"education", PayrollField::Education, ItemGroup::SpecialAdditional, false,
     PayrollField::CumulativeEducation},
    {"loan_interest", PayrollField::LoanInterest, ItemGroup::SpecialAdditional, false,
     PayrollField::CumulativeLoanInterest},
    {"rent", PayrollField::Rent, ItemGroup::SpecialAdditional, false, PayrollField::CumulativeRent},
    {"elderly", PayrollField::Elderly, ItemGroup::SpecialAdditional, false,
     PayrollField::CumulativeElderly},
    {"infants", PayrollField::Infants, ItemGroup::SpecialAdditional, false,
     PayrollField::CumulativeInfants},
    {"personal_pension", PayrollField::PersonalPension, ItemGroup::Other, false,
     PayrollField::CumulativePersonalPension},
    {"annuity", PayrollField::Annuity, ItemGroup::Other, true},
    {"health_insurance", PayrollField::HealthInsurance, ItemGroup::Other, true},
    {"deferred_pension", PayrollField::DeferredPension, ItemGroup::Other, true},
    {"other_item", PayrollField::OtherItem, ItemGroup::Other, false},
};
// The texts of 任职受雇从业类型 and 入职年度就业情形, in the order of their enums.
inline constexpr const char* kEmploymentTypeNames[] = {"雇员", "实习学生（全日制学历教育）",
                                                       "保险营销员", "证券经纪人", "其他"};
inline constexpr const char* kFirstJobNames[] = {"", "当年首次入职学生", "当年首次入职其他人员"};
constexpr int groupBit(ItemGroup g) {
    return 1 << static_cast<int>(g);
}
constexpr int kAllGroups = 7;
enum : std::size_t { kHealthInsuranceItem = 12, kDeferredPensionItem = 13 };
// The items whose sums over a year's earlier months are read: those with a year-to-date column,
// and 商业健康保险, whose yearly cap is checked.
constexpr bool summedBefore(std::size_t item) {
    return kItemInfo[item].yearToDate.has_value() || item == kHealthInsuranceItem;
}
using ItemsFen = std::array<std::int64_t, kItems>;

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
                 relief = 0, withheld = 0, donation = 0;
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
    // The groups entered item by item (groupBit; their sums are their items'); the items of
    // the other groups are 0 and their sums stand alone.
    int itemised = 0;
    ItemsFen items{};
    std::int64_t donation = 0; // 准予扣除的捐赠额
    // Social insurance and the housing fund through this employer: the city whose rules give
    // the four items of 专项扣除 (empty: none; the items are as entered), the bases in fen, the
    // housing fund's rates in ten-thousandths of a percent, and the items (bit i for item i of
    // kItemInfo, 0 to 3) whose amounts stand as given rather than as the rules give them.
    Text insuranceCity;
    std::int64_t socialBase = 0, fundBase = 0, fundRate = 0, fundExtraRate = 0;
    int insuranceManual = 0;

    bool bonusSeparate() const { return bonus > 0 && bonusMethod == BonusMethod::Separate; }
    bool operator==(const EnteredMonth&) const = default;
};

// An entry as kept: the amounts entered and the figures computed, in fen (rates in hundredths
// of a percent).
struct StoredEntry : EnteredMonth {
    Method method = Method::Cumulative;
    std::optional<std::int64_t> tableYear;
    // The fingerprint of the tables the figures were computed with; none when not known (an
    // entry of a ledger made before it was kept).
    std::optional<std::int64_t> tables;
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

// What a caller does with the ledger: a command that only reads opens it without the right to
// write, so that a ledger the user may only read (mode 0444, a read-only directory, a role of
// the server that may only read) shows.
enum class Access { ReadWrite, Read };

// The laws a ledger computes by, as texts every desk reads alike (ledger/laws.h makes and reads
// them); `version` counts their changes where they are kept.
struct KeptLaws {
    std::string annual;    // the annual withholding table
    std::string bracket;   // the bracket table's records
    std::string insurance; // the cities' rules of social insurance and the housing fund
    std::int64_t version = 0;
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
    // Several at once, their ids in the same order (a server's store sends them together).
    virtual Outcome<std::vector<EmployeeId>> addEmployees(int year,
                                                          const std::vector<Employee>& employees) {
        std::vector<EmployeeId> ids;
        ids.reserve(employees.size());
        for (const Employee& e : employees) {
            Outcome<EmployeeId> id = addEmployee(year, e);
            if (!id) return id.problem();
            ids.push_back(*id);
        }
        return ids;
    }
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
    // The months in which the employees with ids from `first` to `last` have a bonus taxed on
    // its own, by employee and month.
    using EmployeeMonth = std::pair<EmployeeId, int>;
    virtual Outcome<std::vector<EmployeeMonth>> separateBonuses(EmployeeId first,
                                                                EmployeeId last) = 0;
    // For the employees with ids from `first` to `last` who have entries before `month`: the
    // sums of those entries' items (those summedBefore; the others are 0), and the groups
    // (groupBit) one of them gave as a nonzero sum alone, and the first of those months. What the
    // declaration's year-to-date items are told apart from.
    struct ItemsBefore {
        EmployeeId employee = 0;
        ItemsFen sums{};
        int asSums = 0;
        int firstMonth = 13;
    };
    virtual Outcome<std::vector<ItemsBefore>> itemsBefore(int month, EmployeeId first,
                                                          EmployeeId last) = 0;
    // The next itemsBefore(month, …) will be of all the employees of `year`: a store that can
    // read them on a connection of its own begins to, so that the reads before it go on
    // meanwhile (the longest read of a month's declaration).
    virtual void readItemsAhead(int year, int month) {
        (void)year;
        (void)month;
    }
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

    // The employees' details as the declaration files of a month gave them (one text each):
    // the latest before `month` of each employee of the year, and those of `month` put anew
    // (the month's earlier ones replaced).
    using DeclaredDetails = std::vector<std::pair<EmployeeId, Text>>;
    virtual Outcome<DeclaredDetails> detailsDeclaredBefore(int year, int month) = 0;
    virtual Outcome<void> putDetailsDeclared(int year, int month,
                                             const DeclaredDetails& details) = 0;

    // Declared months, increasing.
    virtual Outcome<std::vector<int>> declaredMonths(int year) = 0;
    virtual Outcome<void> declare(int year, int month) = 0;
    virtual Outcome<void> undeclare(int year, int month) = 0;

    // True when another program (or another store on the same records) has changed them since
    // the last call: what a window shows is then to be read again.
    virtual Outcome<bool> changedElsewhere() = 0;

    // While another program's change holds the records, `stillWaiting` is called about every
    // 50 ms with the time waited so far; the wait goes on while it gives true, else the
    // operation fails as busy. Without it the store waits as long as it was opened to wait.
    // A store that nobody else can hold never waits.
    using WaitFn = std::function<bool(std::chrono::milliseconds waited)>;
    // What the database finds wrong with its own structures (pages, and indexes that do not
    // match their tables), up to `limit` lines; empty when it is sound.
    virtual Outcome<std::vector<Text>> checkStorage(int limit) {
        (void)limit;
        return std::vector<Text>{};
    }
    virtual void whileOthersChange(WaitFn stillWaiting) { (void)stillWaiting; }
    // Who changed an employee's records, and when: the latest first, up to `limit`. A store
    // that keeps no such record (one desk's file) gives none.
    struct ChangeRecord {
        Text when;     // "2026-12-09 20:47"
        Text who;      // the server's user
        int month = 0; // 0: the employee's details
        Text what;
    };
    virtual Outcome<std::vector<ChangeRecord>> history(EmployeeId id, int limit) {
        (void)id;
        (void)limit;
        return std::vector<ChangeRecord>{};
    }
    // The laws kept with the ledger for every desk to compute by (ledger/laws.h); none where
    // each desk's own apply (a file: its desk's data directory holds them).
    // A store that keeps them and has none yet gives version 0.
    virtual Outcome<std::optional<KeptLaws>> laws() { return std::optional<KeptLaws>{}; }
    // Keeps `laws` with the ledger, for every desk from now on; gives their version.
    virtual Outcome<std::int64_t> putLaws(const KeptLaws& laws) {
        (void)laws;
        return fail(sysText("本台账不保存税率表：各台电脑按自己数据目录中的计算"));
    }
    // True when the ledger may only be read here (a role of the server without the right to
    // change its tables): what changes it is refused before it is tried.
    virtual bool readOnly() const { return false; }
    // True when `p` is the failure of a transaction that another desk's change made impossible
    // (a serialization failure, a deadlock), now rolled back whole: the operation may run again.
    virtual bool conflicted(const Problem& p) const {
        (void)p;
        return false;
    }
};

} // namespace iit::ledger
