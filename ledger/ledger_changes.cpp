// What the ledger window asks besides the month's operations: one employee's line, the month to
// open on, a corrected identity number, and several operations as one transaction.
#include "ledger/ledger_internal.h"

#include <algorithm>
#include <string>

namespace iit::ledger {

using namespace detail;

Outcome<void> Ledger::atomically(const std::function<Outcome<void>()>& work) {
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*m_impl->db);
    if (!t) return t.problem();
    if (Outcome<void> r = work(); !r) return r;
    return (*t)->commit();
}

Outcome<std::optional<MonthLine>> Ledger::showLine(int year, int month, const PersonKey& key) {
    static const std::string sql =
        std::string("SELECT ") + kEmployeeColumns + ", " + kEntryColumns +
        " FROM employee e JOIN entry x ON x.employee = e.id AND x.month = ?2 WHERE e.year = ?1 "
        "AND e.id_type = ?3 AND e.id_number = ?4";
    Outcome<sql::Statement*> s = m_impl->db->cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    (*s)->bind(3, utf8(key.idType));
    (*s)->bind(4, utf8(key.idNumber));
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    std::optional<MonthLine> line;
    if (*row) line = readLine(**s);
    (*s)->reset();
    return line;
}

Outcome<std::optional<Ledger::YearMonth>> Ledger::latestOpenMonth() {
    Impl& impl = *m_impl;
    Outcome<sql::Statement*> y = impl.db->cached("SELECT MAX(year) FROM employee");
    if (!y) return y.problem();
    Outcome<bool> row = (*y)->step();
    if (!row) return row.problem();
    const std::optional<int> year = *row && !(*y)->isNull(0)
                                        ? std::optional<int>(static_cast<int>((*y)->int64(0)))
                                        : std::nullopt;
    (*y)->reset();
    if (!year) return std::optional<YearMonth>();
    Outcome<std::vector<int>> declared = declaredMonths(*year);
    if (!declared) return declared.problem();
    const int lastDeclared = declared->empty() ? 0 : declared->back();
    // The latest month with entries, probed from December: a month that has them is found at
    // its first employee. The declared months are the first of the year, so that month is
    // open unless it is declared, and then every month with entries is.
    Outcome<sql::Statement*> m = impl.db->cached(
        "SELECT EXISTS (SELECT 1 FROM employee e JOIN entry x ON x.employee = e.id AND "
        "x.month = ?2 WHERE e.year = ?1)");
    if (!m) return m.problem();
    for (int month = 12; month > lastDeclared; --month) {
        (*m)->bind(1, *year);
        (*m)->bind(2, month);
        Outcome<bool> r = (*m)->step();
        if (!r) return r.problem();
        const bool has = *r && (*m)->int64(0) != 0;
        (*m)->reset();
        if (has) return std::optional<YearMonth>(YearMonth{*year, month});
    }
    return std::optional<YearMonth>(YearMonth{*year, std::min(lastDeclared + 1, 12)});
}

Outcome<void> Ledger::changeKey(int year, const PersonKey& from, const PersonKey& to) {
    Impl& impl = *m_impl;
    if (to.idNumber.empty()) return fail(sysText("证件号码为空"));
    if (to.idType.empty()) return fail(sysText("证件类型为空"));
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    Outcome<std::optional<EmployeeRow>> found = findEmployee(impl, year, from);
    if (!found) return found.problem();
    if (!*found) return fail(sysText("台账中没有此人：") + from.idNumber);
    if (from == to) return {};
    Outcome<std::optional<EmployeeRow>> taken = findEmployee(impl, year, to);
    if (!taken) return taken.problem();
    if (*taken)
        return fail(sysText("证件号码") + to.idNumber + sysText("已是") + (*taken)->employee.name +
                    sysText("的"));
    Outcome<bool> declared = hasDeclaredEntry(impl, year, (*found)->id);
    if (!declared) return declared.problem();
    if (*declared)
        return fail((*found)->employee.name + sysText("已有申报的月份，证件号码不能再改"));
    const std::string number = utf8(to.idNumber);
    const bool badCheck =
        to.idType == identityCardType() && number.size() == 18 && !identityCardCheckHolds(number);
    Outcome<sql::Statement*> s = impl.db->cached(
        "UPDATE employee SET id_type = ?2, id_number = ?3, id_check_failed = ?4 WHERE id = ?1");
    if (!s) return s.problem();
    (*s)->bind(1, (*found)->id);
    (*s)->bind(2, utf8(to.idType));
    (*s)->bind(3, number);
    (*s)->bind(4, badCheck ? 1 : 0);
    if (Outcome<void> r = (*s)->run(); !r) return r;
    return (*t)->commit();
}

} // namespace iit::ledger
