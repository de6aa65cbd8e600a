#pragma once
// The ledger's tables, described once for every store: each record's columns in order, with
// their names and their constraints in portable SQL. A store makes its statements from these
// descriptions (the table, the list of columns, the placeholders, the reading and binding of a
// row), so that a column is named in one place.
//
// describeX(record, column) calls column(name, constraint, field) for each column in order,
// `field` being a reference to the record's member. A field's type says the column's type: an
// integer (int, std::int64_t, bool, an enum of the ledger), an integer that may be NULL
// (std::optional), or a text (Text). The identifying columns (an employee's id and year, the
// employee of an entry or an opening) are the tables' own keys, not fields of the records.

#include "ledger/store.h"

#include <string>
#include <type_traits>
#include <vector>

namespace iit::ledger::schema {

// Version of the tables' layout, kept in the database: 1 kept entries by employee without a
// remark; 2 added the remark, or kept them by month; 3 is both; 4 added the deductions item by
// item, the donation, the tables' fingerprint and what the declaration knows of an employee;
// 5 the details each month's declaration files gave of the employees (a table of its own);
// 6 the city, bases and rates of an entry's social insurance and housing fund.
// A column added since has a default (or may be NULL): an earlier file gains it as it is.
constexpr int kVersion = 6;

// An enum as stored: the bonus's taxation as bonus_separate (1 on its own), the method as 1
// cumulative or 2 monthly.
inline std::int64_t storedValue(BonusMethod m) {
    return m == BonusMethod::Separate ? 1 : 0;
}
inline void fromStored(BonusMethod& m, std::int64_t v) {
    m = v != 0 ? BonusMethod::Separate : BonusMethod::Combined;
}
inline std::int64_t storedValue(Method m) {
    return m == Method::Monthly ? 2 : 1;
}
inline void fromStored(Method& m, std::int64_t v) {
    m = v == 2 ? Method::Monthly : Method::Cumulative;
}

inline std::int64_t storedValue(EmploymentType t) {
    return static_cast<std::int64_t>(t);
}
inline void fromStored(EmploymentType& t, std::int64_t v) {
    t = v >= 0 && v <= 4 ? static_cast<EmploymentType>(v) : EmploymentType::Other;
}
inline std::int64_t storedValue(FirstJob f) {
    return static_cast<std::int64_t>(f);
}
inline void fromStored(FirstJob& f, std::int64_t v) {
    f = v == 1 ? FirstJob::Student : v == 2 ? FirstJob::Other : FirstJob::None;
}

// employee: id INTEGER PRIMARY KEY, year, then these; unique by year, id_type and id_number.
template <class E, class F> void describeEmployee(E& e, F&& column) {
    column("id_type", "NOT NULL", e.key.idType);
    column("id_number", "NOT NULL", e.key.idNumber);
    column("name", "NOT NULL", e.name);
    column("bank_card", "NOT NULL DEFAULT ''", e.bankCard);
    column("join_month", "CHECK (join_month BETWEEN 1 AND 12)", e.joinMonth);
    column("left_month", "CHECK (left_month BETWEEN 1 AND 12)", e.leftMonth);
    column("resident", "NOT NULL DEFAULT 1", e.resident);
    column("from_january", "NOT NULL DEFAULT 0", e.options.fromJanuary);
    column("annual_deduction", "NOT NULL DEFAULT 0", e.options.annualDeduction);
    column("id_check_failed", "NOT NULL DEFAULT 0", e.idCheckFailed);
    column("staff_number", "NOT NULL DEFAULT ''", e.staffNumber);
    column("employment_type", "NOT NULL DEFAULT 0", e.type);
    column("phone", "NOT NULL DEFAULT ''", e.phone);
    column("employed_since", "", e.employedSince);
    column("left_on", "", e.leftOn);
    column("first_job", "NOT NULL DEFAULT 0", e.firstJob);
    column("nationality", "NOT NULL DEFAULT ''", e.nationality);
    column("sex", "NOT NULL DEFAULT ''", e.sex);
    column("birth_date", "", e.birthDate);
    column("health_through_payroll", "NOT NULL DEFAULT 0", e.healthThroughPayroll);
    column("deferred_pension_through_payroll", "NOT NULL DEFAULT 0",
           e.deferredPensionThroughPayroll);
}

// The sums after a month or at the opening; `prefix` is "cum_" in an entry, "" in an opening.
template <class S, class F> void describeSums(S& s, const char* const (&names)[9], F&& column) {
    column(names[0], "NOT NULL", s.income);
    column(names[1], "NOT NULL", s.taxFree);
    column(names[2], "NOT NULL", s.basic);
    column(names[3], "NOT NULL", s.special);
    column(names[4], "NOT NULL", s.specialAdditional);
    column(names[5], "NOT NULL", s.other);
    column(names[6], "NOT NULL", s.relief);
    column(names[7], "NOT NULL", s.withheld);
    column(names[8], "NOT NULL DEFAULT 0", s.donation);
}

// The amounts entered: the first columns of an entry.
template <class E, class F> void describeEntered(E& e, F&& column) {
    column("month", "NOT NULL CHECK (month BETWEEN 1 AND 12)", e.month);
    column("income", "", e.income);
    column("tax_free", "NOT NULL", e.taxFree);
    column("special", "NOT NULL", e.special);
    column("special_additional", "NOT NULL", e.specialAdditional);
    column("other", "NOT NULL", e.other);
    column("relief", "NOT NULL", e.relief);
    column("bonus", "NOT NULL", e.bonus);
    column("bonus_separate", "NOT NULL", e.bonusMethod);
    column("itemised", "NOT NULL DEFAULT 0", e.itemised);
    for (std::size_t i = 0; i < kItems; ++i)
        column(kItemInfo[i].column, "NOT NULL DEFAULT 0", e.items[i]);
    column("donation", "NOT NULL DEFAULT 0", e.donation);
    column("insurance_city", "NOT NULL DEFAULT ''", e.insuranceCity);
    column("social_base", "NOT NULL DEFAULT 0", e.socialBase);
    column("fund_base", "NOT NULL DEFAULT 0", e.fundBase);
    column("fund_rate", "NOT NULL DEFAULT 0", e.fundRate);
    column("fund_extra_rate", "NOT NULL DEFAULT 0", e.fundExtraRate);
    column("insurance_manual", "NOT NULL DEFAULT 0", e.insuranceManual);
}

// entry: employee (REFERENCES employee), then these; keyed by month and employee.
template <class E, class F> void describeEntry(E& e, F&& column) {
    static const char* const kSums[9] = {"cum_income",  "cum_tax_free",           "cum_basic",
                                         "cum_special", "cum_special_additional", "cum_other",
                                         "cum_relief",  "cum_withheld",           "cum_donation"};
    describeEntered(e, column);
    column("method", "NOT NULL", e.method);
    column("table_year", "", e.tableYear);
    column("tables", "", e.tables);
    describeSums(e.cum, kSums, column);
    column("taxable", "", e.taxable);
    column("rate", "", e.rate);
    column("quick", "", e.quick);
    column("cum_tax", "", e.cumTax);
    column("withholding", "NOT NULL", e.withholding);
    column("bonus_tax", "NOT NULL", e.bonusTax);
    column("after_tax", "NOT NULL", e.afterTax);
    column("remark", "NOT NULL DEFAULT ''", e.remark);
}

// opening: employee (the key, REFERENCES employee), then these.
template <class O, class F> void describeOpening(O& o, F&& column) {
    static const char* const kSums[9] = {"income",  "tax_free",           "basic",
                                         "special", "special_additional", "other",
                                         "relief",  "withheld",           "donation"};
    column("through_month", "NOT NULL CHECK (through_month BETWEEN 1 AND 11)", o.throughMonth);
    describeSums(o.sums, kSums, column);
}

// The columns of a description in a store's SQL: their names, their definitions in a CREATE
// TABLE and the lists a statement takes. `Dialect` names the integer type (kInteger) and
// writes the placeholder of parameter n (placeholder(n)).
template <class Dialect> struct Columns {
    std::vector<std::string> names, definitions;

    template <class T> void operator()(const char* name, const char* constraint, T&) {
        names.emplace_back(name);
        std::string d =
            std::string(name) +
            (std::is_same_v<std::remove_const_t<T>, Text> ? " TEXT" : Dialect::kInteger);
        if (*constraint) d += std::string(" ") + constraint;
        definitions.push_back(std::move(d));
    }
    // "x.a, x.b, ..." with `alias`, or "a, b, ..." without.
    std::string list(const char* alias = "") const {
        std::string out;
        for (const std::string& n : names)
            out += (out.empty() ? "" : ", ") + std::string(alias) + (*alias ? "." : "") + n;
        return out;
    }
    // The placeholders of every column, from parameter `first` on.
    std::string placeholders(int first) const {
        std::string out;
        for (std::size_t i = 0; i < names.size(); ++i)
            out += (i ? ", " : "") + Dialect::placeholder(first + static_cast<int>(i));
        return out;
    }
    std::string definitionList() const {
        std::string out;
        for (const std::string& d : definitions)
            out += ",\n    " + d;
        return out;
    }
    // "a = EXCLUDED.a, ..." for an upsert.
    std::string excluded() const {
        std::string out;
        for (const std::string& n : names)
            out += (out.empty() ? "" : ", ") + n + " = EXCLUDED." + n;
        return out;
    }
};

// Each record's columns, described once for the life of the program.
template <class Dialect, class Record, class Describe> const Columns<Dialect>& columnsOf() {
    static const Columns<Dialect> c = [] {
        Record r;
        Columns<Dialect> out;
        Describe{}(r, out);
        return out;
    }();
    return c;
}
struct DescribeEmployee {
    template <class C> void operator()(Employee& e, C& c) const { describeEmployee(e, c); }
};
struct DescribeEntry {
    template <class C> void operator()(StoredEntry& e, C& c) const { describeEntry(e, c); }
};
struct DescribeEntered {
    template <class C> void operator()(EnteredMonth& e, C& c) const { describeEntered(e, c); }
};
struct DescribeOpening {
    template <class C> void operator()(StoredOpening& o, C& c) const { describeOpening(o, c); }
};
template <class D> const Columns<D>& employeeColumns() {
    return columnsOf<D, Employee, DescribeEmployee>();
}
template <class D> const Columns<D>& entryColumns() {
    return columnsOf<D, StoredEntry, DescribeEntry>();
}
template <class D> const Columns<D>& enteredColumns() {
    return columnsOf<D, EnteredMonth, DescribeEntered>();
}
template <class D> const Columns<D>& openingColumns() {
    return columnsOf<D, StoredOpening, DescribeOpening>();
}

} // namespace iit::ledger::schema
