// An insured entry's social insurance and housing fund: the four items of 专项扣除 from the
// city's rules in force in the entry's month (insurance/contributions.h).
#include "insurance/contributions.h"
#include "ledger/book.h"
#include "ledger/laws.h"

#include <algorithm>
#include <string>

namespace iit::ledger {
namespace detail {

Outcome<void> applyInsurance(const Book& book, int year, StoredEntry& e) {
    if (e.insuranceCity.empty()) {
        e.insuranceManual = 0;
        return {};
    }
    const insurance::CityRules* rules =
        book.tables.insurance.inForce(e.insuranceCity, year, e.month);
    if (!rules)
        return fail(Text::fromBytes(std::to_string(year)) + sysText("年") + monthText(e.month) +
                    sysText("没有") + e.insuranceCity + sysText("的社保公积金规则（") +
                    sysText(insurance::kRulesFileName) + sysText("），请先添加该城市的规则"));
    const insurance::Bases bases{amount(e.socialBase), amount(e.fundBase), ratePercent(e.fundRate),
                                 ratePercent(e.fundExtraRate)};
    Outcome<insurance::Contributions> c = insurance::contribute(*rules, bases);
    if (!c) return c.problem();
    if (!(e.itemised & groupBit(ItemGroup::Special))) {
        for (int i = 0; i < kInsuranceItems; ++i)
            e.items[static_cast<std::size_t>(i)] = 0;
        e.itemised |= groupBit(ItemGroup::Special);
    }
    e.special = 0;
    for (int i = 0; i < kInsuranceItems; ++i) {
        // kItemInfo's first four items are the declaration's columns in the rules' order.
        const std::optional<std::int64_t> fen =
            engine::toFen(c->column(static_cast<insurance::Column>(i)));
        if (!fen) return fail(sysText("社保公积金的金额不是整分数"));
        std::int64_t& item = e.items[static_cast<std::size_t>(i)];
        const int bit = 1 << i;
        if (!(e.insuranceManual & bit))
            item = *fen;
        else if (item == *fen)
            e.insuranceManual &= ~bit; // the rules' own amount
        e.special += item;
    }
    return engine::checkAmount(amount(e.special));
}

} // namespace detail

Outcome<void> Ledger::setInsuranceRules(insurance::Rules rules) {
    Book& book = *m_book;
    if (book.deskLaws) {
        KeptLaws laws = keptLaws(book.tables);
        laws.insurance = insurance::formatRules(rules);
        Outcome<std::int64_t> version = book.store->putLaws(laws);
        if (!version) return version.problem();
        book.deskLaws->insurance = laws.insurance;
        book.lawsVersion = *version;
    }
    book.tables.insurance = std::move(rules);
    return {};
}

Outcome<InsuranceUpdate> Ledger::applyInsuranceRules(int year) {
    return detail::retried(*m_book, [&]() -> Outcome<InsuranceUpdate> {
        Book& book = *m_book;
        Outcome<std::unique_ptr<StoreTransaction>> t = book.store->begin();
        if (!t) return t.problem();
        Outcome<std::vector<int>> declared = book.store->declaredMonths(year);
        if (!declared) return declared.problem();
        InsuranceUpdate update;
        for (int month = 1; month <= 12; ++month) {
            Outcome<std::vector<StoredLine>> lines = book.store->month(year, month);
            if (!lines) return lines.problem();
            const bool closed =
                std::find(declared->begin(), declared->end(), month) != declared->end();
            std::vector<detail::Resolved> changes;
            for (StoredLine& line : *lines) {
                if (line.entry.insuranceCity.empty()) continue;
                StoredEntry now = line.entry;
                if (Outcome<void> r = detail::applyInsurance(book, year, now); !r)
                    return fail(detail::whom(line.employee.employee) + sysText("：") +
                                r.problem().message);
                if (now.items == line.entry.items && now.special == line.entry.special) continue;
                if (closed)
                    update.declared.push_back({line.employee.employee, month,
                                               detail::amount(line.entry.special),
                                               detail::amount(now.special)});
                else
                    changes.push_back({std::move(line.employee), std::move(now), 0});
            }
            if (changes.empty()) continue;
            Outcome<ChangeReport> r = detail::applyChanges(book, year, month, changes, {});
            if (!r) return r.problem();
            update.months.push_back(month);
            update.entries += r->changed;
        }
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return update;
    });
}

} // namespace iit::ledger
