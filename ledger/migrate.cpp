#include "ledger/migrate.h"

#include "ledger/month_cells.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>

namespace iit::ledger {
namespace {

// The details each month's declaration files gave, as the store tells them: the latest of each
// employee before a month. A month's own are those that change from one month to the next.
Outcome<void> copyDetails(LedgerStore& from, LedgerStore& to, int year,
                          const std::unordered_map<EmployeeId, EmployeeId>& ids) {
    Outcome<LedgerStore::DeclaredDetails> before = from.detailsDeclaredBefore(year, 1);
    if (!before) return before.problem();
    for (int month = 1; month <= 12; ++month) {
        Outcome<LedgerStore::DeclaredDetails> after = from.detailsDeclaredBefore(year, month + 1);
        if (!after) return after.problem();
        LedgerStore::DeclaredDetails put;
        for (const auto& [id, text] : *after) {
            const auto was = std::find_if(before->begin(), before->end(),
                                          [&](const auto& d) { return d.first == id; });
            if (was == before->end() || was->second != text) put.emplace_back(ids.at(id), text);
        }
        if (!put.empty())
            if (Outcome<void> r = to.putDetailsDeclared(year, month, put); !r) return r;
        before = std::move(after);
    }
    return {};
}

} // namespace

Outcome<CopyCount> copyLedger(LedgerStore& from, LedgerStore& to) {
    Outcome<std::vector<int>> had = to.years();
    if (!had) return had.problem();
    if (!had->empty())
        return fail(sysText("目标位置已有台账（") + ToText(had->front()) +
                    sysText("年起的职工），不能覆盖；请换一个空的数据库、模式或文件"));
    Outcome<std::vector<int>> years = from.years();
    if (!years) return years.problem();
    Outcome<std::unique_ptr<StoreTransaction>> t = to.begin();
    if (!t) return t.problem();
    CopyCount count;
    for (int year : *years) {
        ++count.years;
        Outcome<std::vector<StoredEmployee>> employees = from.employees(year);
        if (!employees) return employees.problem();
        Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings = from.openings(year);
        if (!openings) return openings.problem();
        std::unordered_map<EmployeeId, EmployeeId> ids;
        for (const StoredEmployee& e : *employees) {
            Outcome<EmployeeId> id = to.addEmployee(year, e.employee);
            if (!id) return id.problem();
            ids.emplace(e.id, *id);
            ++count.employees;
            Outcome<std::vector<StoredEntry>> entries = from.entries(e.id);
            if (!entries) return entries.problem();
            for (const StoredEntry& entry : *entries) {
                if (Outcome<void> r = to.putEntry(*id, entry); !r) return r.problem();
                ++count.entries;
            }
            if (const auto o = openings->find(e.id); o != openings->end())
                if (Outcome<void> r = to.putOpening(*id, o->second); !r) return r.problem();
        }
        if (Outcome<void> r = copyDetails(from, to, year, ids); !r) return r.problem();
        Outcome<std::vector<int>> declared = from.declaredMonths(year);
        if (!declared) return declared.problem();
        for (int month : *declared)
            if (Outcome<void> r = to.declare(year, month); !r) return r.problem();
    }
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return count;
}

Outcome<std::optional<Text>> firstDifference(Ledger& a, Ledger& b) {
    Outcome<std::vector<int>> years = a.years();
    if (!years) return years.problem();
    Outcome<std::vector<int>> other = b.years();
    if (!other) return other.problem();
    if (*years != *other) return std::optional<Text>(sysText("两边的年度不同"));
    for (int year : *years)
        for (int month = 1; month <= 12; ++month) {
            Outcome<MonthView> x = a.showMonth(year, month);
            if (!x) return x.problem();
            Outcome<MonthView> y = b.showMonth(year, month);
            if (!y) return y.problem();
            // Line by line in the order of the employees' keys: the order they were added in
            // is not a figure (desks adding employees at once add them in either order).
            const auto byKey = [](const MonthLine& l, const MonthLine& r) {
                return std::tie(l.employee.key.idType.bytes(), l.employee.key.idNumber.bytes()) <
                       std::tie(r.employee.key.idType.bytes(), r.employee.key.idNumber.bytes());
            };
            std::sort(x->lines.begin(), x->lines.end(), byKey);
            std::sort(y->lines.begin(), y->lines.end(), byKey);
            bool same = x->declared == y->declared && x->lines.size() == y->lines.size();
            for (std::size_t i = 0; same && i < x->lines.size(); ++i)
                same = monthCells(x->lines[i]) == monthCells(y->lines[i]);
            if (!same)
                return std::optional<Text>(ToText(year) + sysText("年") + ToText(month) +
                                           sysText("月不同"));
        }
    return std::optional<Text>();
}

} // namespace iit::ledger
