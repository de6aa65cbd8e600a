// The ledger's stored rows: entries, employees and opening balances in fen, and the texts of
// the months and rows in messages.
#include "ledger/ledger_internal.h"

#include <string>
#include <utility>

namespace iit::ledger::detail {

std::int64_t fen(const Exact& v) {
    const std::optional<std::int64_t> fen = engine::toFen(v);
    return fen ? *fen : engine::toFen(Round(v, 2)).value_or(0);
}

#define IIT_ENTERED_COLUMNS                                                                        \
    "x.month, x.income, x.tax_free, x.special, x.special_additional, x.other, x.relief, "          \
    "x.bonus, x.bonus_separate"
const char* const kEnteredColumns = IIT_ENTERED_COLUMNS;
const char* const kEntryColumns = IIT_ENTERED_COLUMNS
    ", x.method, x.table_year, x.cum_income, x.cum_tax_free, "
    "x.cum_basic, x.cum_special, x.cum_special_additional, x.cum_other, x.cum_relief, "
    "x.cum_withheld, x.taxable, x.rate, x.quick, x.cum_tax, x.withholding, x.bonus_tax, "
    "x.after_tax, x.remark";
#undef IIT_ENTERED_COLUMNS

EnteredMonth readEntered(const sql::Statement& s, int c) {
    EnteredMonth e;
    e.month = static_cast<int>(s.int64(c));
    if (!s.isNull(c + 1)) e.income = s.int64(c + 1);
    e.taxFree = s.int64(c + 2);
    e.special = s.int64(c + 3);
    e.specialAdditional = s.int64(c + 4);
    e.other = s.int64(c + 5);
    e.relief = s.int64(c + 6);
    e.bonus = s.int64(c + 7);
    e.bonusSeparate = s.int64(c + 8) != 0;
    return e;
}

StoredEntry readEntry(const sql::Statement& s, int c) {
    auto opt = [&](int i) -> std::optional<std::int64_t> {
        if (s.isNull(i)) return std::nullopt;
        return s.int64(i);
    };
    StoredEntry e;
    static_cast<EnteredMonth&>(e) = readEntered(s, c);
    e.method = static_cast<int>(s.int64(c + 9));
    e.tableYear = opt(c + 10);
    e.cum = SumsFen::read(s, c + 11);
    e.taxable = opt(c + 19);
    e.rate = opt(c + 20);
    e.quick = opt(c + 21);
    e.cumTax = opt(c + 22);
    e.withholding = s.int64(c + 23);
    e.bonusTax = s.int64(c + 24);
    e.afterTax = s.int64(c + 25);
    e.remark = std::string(s.text(c + 26));
    return e;
}

bool StoredEntry::sameInput(const StoredEntry& o) const {
    return income == o.income && taxFree == o.taxFree && special == o.special &&
           specialAdditional == o.specialAdditional && other == o.other && relief == o.relief &&
           bonus == o.bonus && bonusSeparate == o.bonusSeparate && remark == o.remark;
}

bool StoredEntry::sameFigures(const StoredEntry& o) const {
    return method == o.method && tableYear == o.tableYear && cum == o.cum && taxable == o.taxable &&
           rate == o.rate && quick == o.quick && cumTax == o.cumTax &&
           withholding == o.withholding && bonusTax == o.bonusTax && afterTax == o.afterTax;
}

// The amounts entered besides the income, as stored and as entered.
constexpr std::pair<std::int64_t EnteredMonth::*, Exact Entry::*> kEnteredAmounts[] = {
    {&EnteredMonth::taxFree, &Entry::taxFree},
    {&EnteredMonth::special, &Entry::special},
    {&EnteredMonth::specialAdditional, &Entry::specialAdditional},
    {&EnteredMonth::other, &Entry::other},
    {&EnteredMonth::relief, &Entry::relief},
    {&EnteredMonth::bonus, &Entry::bonus},
};

Entry toEntry(const PersonKey& key, const StoredEntry& e) {
    Entry out;
    out.key = key;
    if (e.income) out.income = amount(*e.income);
    for (const auto& [stored, entered] : kEnteredAmounts)
        out.*entered = amount(e.*stored);
    out.bonusMethod = e.bonusSeparate ? BonusMethod::Separate : BonusMethod::Combined;
    out.remark = Text::fromUtf8(e.remark);
    return out;
}

StoredEntry fromEntry(int month, const Entry& e) {
    StoredEntry out;
    out.month = month;
    if (e.income) out.income = fen(*e.income);
    for (const auto& [stored, entered] : kEnteredAmounts)
        out.*stored = fen(e.*entered);
    out.bonusSeparate = e.bonusMethod == BonusMethod::Separate;
    out.remark = utf8(e.remark);
    return out;
}

SumsFen SumsFen::of(const engine::YearToDate& y) {
    return SumsFen{fen(y.income),  fen(y.taxFree),           fen(y.basicDeduction),
                   fen(y.special), fen(y.specialAdditional), fen(y.other),
                   fen(y.relief),  fen(y.withheld)};
}

engine::YearToDate SumsFen::state(int month) const {
    engine::YearToDate s;
    s.month = month;
    s.income = amount(income);
    s.taxFree = amount(taxFree);
    s.basicDeduction = amount(basic);
    s.special = amount(special);
    s.specialAdditional = amount(specialAdditional);
    s.other = amount(other);
    s.relief = amount(relief);
    s.withheld = amount(withheld);
    return s;
}

SumsFen SumsFen::read(const sql::Statement& s, int c) {
    return SumsFen{s.int64(c),     s.int64(c + 1), s.int64(c + 2), s.int64(c + 3),
                   s.int64(c + 4), s.int64(c + 5), s.int64(c + 6), s.int64(c + 7)};
}

void SumsFen::bind(sql::Statement& w, int first) const {
    const std::int64_t v[] = {income, taxFree, basic,   special, specialAdditional,
                              other,  relief,  withheld};
    for (int i = 0; i < 8; ++i)
        w.bind(first + i, v[i]);
}

const char* const kEmployeeColumns =
    "e.id_type, e.id_number, e.name, e.bank_card, e.join_month, e.left_month, e.resident, "
    "e.from_january, e.annual_deduction, e.id_check_failed";

Employee readEmployee(const sql::Statement& s, int c) {
    static const std::string identityCard = identityCardType().toUtf8();
    Employee e;
    // Nearly everyone has the default type: its text is not converted again for each.
    const std::string_view type = s.text(c);
    e.key.idType = type == identityCard ? identityCardType() : Text::fromUtf8(type);
    e.key.idNumber = Text::fromUtf8(s.text(c + 1));
    e.name = Text::fromUtf8(s.text(c + 2));
    e.bankCard = Text::fromUtf8(s.text(c + 3));
    if (!s.isNull(c + 4)) e.joinMonth = static_cast<int>(s.int64(c + 4));
    if (!s.isNull(c + 5)) e.leftMonth = static_cast<int>(s.int64(c + 5));
    e.resident = s.int64(c + 6) != 0;
    e.options.fromJanuary = s.int64(c + 7) != 0;
    e.options.annualDeduction = s.int64(c + 8) != 0;
    e.idCheckFailed = s.int64(c + 9) != 0;
    return e;
}

Outcome<std::optional<EmployeeRow>> findEmployee(Ledger::Impl& impl, int year,
                                                 const PersonKey& key) {
    static const std::string sql = std::string("SELECT e.id, ") + kEmployeeColumns +
                                   " FROM employee e WHERE e.year = ?1 AND e.id_type = ?2 AND "
                                   "e.id_number = ?3";
    Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, key.idType.toUtf8());
    (*s)->bind(3, key.idNumber.toUtf8());
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    std::optional<EmployeeRow> out;
    if (*row) out = EmployeeRow{(*s)->int64(0), readEmployee(**s, 1)};
    (*s)->reset();
    return out;
}

namespace {

const char* const kOpeningColumns =
    "o.through_month, o.income, o.tax_free, o.basic, o.special, o.special_additional, o.other, "
    "o.relief, o.withheld";

// An opening row from kOpeningColumns, read from column `c` on.
OpeningRow readOpeningRow(const sql::Statement& r, int c) {
    return OpeningRow{static_cast<int>(r.int64(c)), SumsFen::read(r, c + 1)};
}

} // namespace

Outcome<std::optional<OpeningRow>> readOpening(Ledger::Impl& impl, std::int64_t employeeId) {
    static const std::string sql =
        std::string("SELECT ") + kOpeningColumns + " FROM opening o WHERE o.employee = ?1";
    Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, employeeId);
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    std::optional<OpeningRow> out;
    if (*row) out = readOpeningRow(**s, 0);
    (*s)->reset();
    return out;
}

Outcome<std::unordered_map<std::int64_t, OpeningRow>> readOpenings(Ledger::Impl& impl, int year) {
    static const std::string sql = std::string("SELECT o.employee, ") + kOpeningColumns +
                                   " FROM opening o JOIN employee e ON e.id = o.employee "
                                   "WHERE e.year = ?1";
    Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    std::unordered_map<std::int64_t, OpeningRow> out;
    if (Outcome<void> r = (*s)->eachRow(
            [&](const sql::Statement& row) { out.emplace(row.int64(0), readOpeningRow(row, 1)); });
        !r)
        return r.problem();
    return out;
}

Text rowMessage(std::size_t row, const Text& why) {
    return sysText("第") + Text::fromBytes(std::to_string(row)) + sysText("行：") + why;
}

Text monthText(int month) {
    return Text::fromBytes(std::to_string(month)) + sysText("月");
}

} // namespace iit::ledger::detail
