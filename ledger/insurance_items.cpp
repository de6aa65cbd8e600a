// An insured entry's social insurance and housing fund: the four items of 专项扣除 from the
// city's rules in force in the entry's month (insurance/contributions.h).
#include "insurance/contributions.h"
#include "ledger/book.h"

#include <string>

namespace iit::ledger::detail {

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

} // namespace iit::ledger::detail
