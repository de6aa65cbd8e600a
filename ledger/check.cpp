// The check of a year's stored figures: each entry recomputed from the stored figures of the
// month before (so that one damaged entry is named alone), comparing what the tax tables do not
// decide, and the tax itself where the entry was computed with the tables of today (its
// fingerprint of them is today's).
#include "ledger/book.h"

#include <algorithm>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;

namespace {

Text fenText(std::int64_t fen) {
    return ToText(engine::fromFen(fen));
}

// What must have been withheld in the month: the year's tax less the relief and what was
// withheld before (`earlier`), never below 0, for the cumulative method; the monthly method's
// tax depends on the tables alone. The tax is the recomputed one where the entry was computed
// with today's tables, else the stored one.
std::int64_t mustWithhold(const StoredEntry& stored, const StoredEntry& redone,
                          std::int64_t earlier) {
    const bool sameTables = stored.tables && stored.tables == redone.tables;
    if (stored.method != Method::Cumulative)
        return sameTables ? redone.withholding : stored.withholding;
    const std::optional<std::int64_t>& tax = sameTables ? redone.cumTax : stored.cumTax;
    if (!tax) return stored.withholding;
    return std::max<std::int64_t>(0, *tax - redone.cum.relief - earlier);
}

// Names what differs between the stored entry and the one recomputed from the same base.
void compare(const Employee& employee, const StoredEntry& stored, const StoredEntry& redone,
             std::int64_t earlier, std::int64_t withholding, std::vector<Text>& out) {
    const bool sameTables = stored.tables && stored.tables == redone.tables;
    const auto differ = [&](const char* name, std::int64_t is, std::int64_t mustBe) {
        if (is != mustBe)
            out.push_back(sysText(name) + sysText("为") + fenText(is) + sysText("，应为") +
                          fenText(mustBe));
    };
    differ("累计收入", stored.cum.income, redone.cum.income);
    differ("累计免税收入", stored.cum.taxFree, redone.cum.taxFree);
    differ("累计减除费用", stored.cum.basic, redone.cum.basic);
    differ("累计专项扣除", stored.cum.special, redone.cum.special);
    differ("累计专项附加扣除", stored.cum.specialAdditional, redone.cum.specialAdditional);
    differ("累计其他扣除", stored.cum.other, redone.cum.other);
    differ("累计减免税额", stored.cum.relief, redone.cum.relief);
    differ("累计准予扣除的捐赠额", stored.cum.donation, redone.cum.donation);
    if (stored.method == Method::Cumulative && stored.taxable && redone.taxable)
        differ("累计应纳税所得额", *stored.taxable, *redone.taxable);
    // Computed with the tables of today: the tax itself must be what they give.
    if (sameTables) {
        if (stored.rate && redone.rate) differ("预扣率", *stored.rate, *redone.rate);
        if (stored.quick && redone.quick) differ("速算扣除数", *stored.quick, *redone.quick);
        if (stored.cumTax && redone.cumTax) differ("累计应纳税额", *stored.cumTax, *redone.cumTax);
        differ("奖金税额", stored.bonusTax, redone.bonusTax);
    }
    differ("本月应预扣", stored.withholding, withholding);
    differ("累计预扣（含本月）", stored.cum.withheld, earlier + withholding);
    const std::int64_t pay = stored.income.value_or(0) + stored.bonus;
    differ("实发", stored.afterTax,
           pay - paidFromWages(employee, stored) - withholding -
               (sameTables ? redone.bonusTax : stored.bonusTax));
}

} // namespace

Outcome<CheckReport> Ledger::checkYear(int year) {
    Book& book = *m_book;
    LedgerStore& store = *book.store;
    CheckReport report;
    Outcome<std::vector<StoredEmployee>> employees = store.employees(year);
    if (!employees) return employees.problem();
    report.employees = employees->size();
    if (employees->empty()) return report;
    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings = store.openings(year);
    if (!openings) return openings.problem();
    EmployeeId first = employees->front().id, last = first;
    std::unordered_map<EmployeeId, std::size_t> at;
    at.reserve(employees->size());
    for (std::size_t i = 0; i < employees->size(); ++i) {
        const EmployeeId id = (*employees)[i].id;
        first = std::min(first, id);
        last = std::max(last, id);
        at.emplace(id, i);
    }
    // Each employee's entries by month, a month of the store at a time.
    std::vector<std::vector<StoredEntry>> entries(employees->size());
    for (int month = 1; month <= 12; ++month) {
        Outcome<std::vector<EmployeeEntry>> m = store.monthEntries(month, first, last);
        if (!m) return m.problem();
        for (EmployeeEntry& e : *m)
            if (const auto it = at.find(e.employee); it != at.end()) {
                std::vector<StoredEntry>& months = entries[it->second];
                if (months.empty()) months.reserve(static_cast<std::size_t>(13 - month));
                months.push_back(std::move(e.entry));
            }
    }
    std::vector<Text> found;
    for (std::size_t i = 0; i < employees->size(); ++i) {
        const StoredEmployee& employee = (*employees)[i];
        // The employee's own record: a document type of the declaration, and the mark of a
        // number whose check character fails as the number gives it (a changed digit of a
        // number kept right shows here).
        const int firstMonth = entries[i].empty() ? 0 : entries[i].front().month;
        const Employee& e = employee.employee;
        if (!engine::identityTypeOf(e.key.idType.toUtf8()))
            report.differences.push_back(
                {e, firstMonth,
                 sysText("证件类型“") + e.key.idType + sysText("”不是扣缴申报的证件类型")});
        else if (engine::identityCheckFails(e.key.idType, e.key.idNumber) != e.idCheckFailed)
            report.differences.push_back(
                {e, firstMonth,
                 sysText(e.idCheckFailed ? "证件号码标为校验不符，却与校验位相符"
                                         : "证件号码与其校验位不符（记录时相符）")});
        engine::YearToDate before;
        std::int64_t earlier = 0;
        if (const auto o = openings->find(employee.id); o != openings->end()) {
            before = stateOf(o->second);
            earlier = o->second.sums.withheld;
        }
        for (const StoredEntry& stored : entries[i]) {
            ++report.entries;
            StoredEntry redone = stored;
            found.clear();
            const Outcome<void> computed =
                computeEntry(book, year, employee.employee, before, redone);
            const std::int64_t withholding =
                computed ? mustWithhold(stored, redone, earlier) : stored.withholding;
            if (!computed)
                found.push_back(computed.problem().message);
            else
                compare(employee.employee, stored, redone, earlier, withholding, found);
            for (Text& what : found)
                report.differences.push_back({employee.employee, stored.month, std::move(what)});
            // The next month starts from what this one must be, so that one damaged figure is
            // named once: the sums recomputed, and what was withheld as the stored months say.
            earlier += withholding;
            SumsFen next = computed ? redone.cum : stored.cum;
            next.withheld = earlier;
            before = next.state(stored.month);
        }
    }
    return report;
}

} // namespace iit::ledger
