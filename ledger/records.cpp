// The book's records and the store's: amounts in fen, lines of a month, and the texts of the
// months and rows in messages.
#include "ledger/book.h"

#include "base/convert.h"
#include "engine/amount.h"

#include <utility>

namespace iit::ledger {

Outcome<SumsFen> SumsFen::of(const engine::YearToDate& y) {
    SumsFen out;
    const std::pair<const Exact*, std::int64_t*> sums[] = {
        {&y.income, &out.income},
        {&y.taxFree, &out.taxFree},
        {&y.basicDeduction, &out.basic},
        {&y.special, &out.special},
        {&y.specialAdditional, &out.specialAdditional},
        {&y.other, &out.other},
        {&y.relief, &out.relief},
        {&y.withheld, &out.withheld},
        {&y.donation, &out.donation}};
    for (const auto& [from, to] : sums) {
        Outcome<std::int64_t> v = engine::fenOf(*from);
        if (!v) return v.problem();
        *to = *v;
    }
    return out;
}

engine::YearToDate SumsFen::state(int month) const {
    engine::YearToDate s;
    s.month = month;
    s.income = engine::fromFen(income);
    s.taxFree = engine::fromFen(taxFree);
    s.basicDeduction = engine::fromFen(basic);
    s.special = engine::fromFen(special);
    s.specialAdditional = engine::fromFen(specialAdditional);
    s.other = engine::fromFen(other);
    s.relief = engine::fromFen(relief);
    s.withheld = engine::fromFen(withheld);
    s.donation = engine::fromFen(donation);
    return s;
}

bool StoredEntry::sameFigures(const StoredEntry& o) const {
    return method == o.method && tableYear == o.tableYear && cum == o.cum && taxable == o.taxable &&
           rate == o.rate && quick == o.quick && cumTax == o.cumTax &&
           withholding == o.withholding && bonusTax == o.bonusTax && afterTax == o.afterTax;
}

namespace detail {
namespace {

// The amounts entered besides the income, as stored and as entered.
constexpr std::pair<std::int64_t EnteredMonth::*, Exact Entry::*> kEnteredAmounts[] = {
    {&EnteredMonth::taxFree, &Entry::taxFree},
    {&EnteredMonth::special, &Entry::special},
    {&EnteredMonth::specialAdditional, &Entry::specialAdditional},
    {&EnteredMonth::other, &Entry::other},
    {&EnteredMonth::relief, &Entry::relief},
    {&EnteredMonth::bonus, &Entry::bonus},
    {&EnteredMonth::donation, &Entry::donation},
};

// A payroll amount in fen, held to its bounds.
Outcome<std::int64_t> enteredFen(const Exact& v) {
    if (Outcome<void> r = engine::checkAmount(v); !r) return r.problem();
    return engine::fenOf(v);
}

// A housing fund rate in ten-thousandths of a percent: 0 to below 100 %, four decimals at most.
Outcome<std::int64_t> rateUnits(const Exact& percent) {
    const Exact units = percent * Exact(kRateUnits);
    const std::optional<std::int64_t> whole = engine::toFen(units / Exact(100));
    if (percent.sign() < 0 || !(percent < Exact(100)) || !whole)
        return fail(sysText("公积金比例应为0到100之间、至多四位小数的百分数"));
    return *whole;
}

} // namespace

Entry toEntry(const PersonKey& key, const EnteredMonth& e) {
    Entry out;
    out.key = key;
    if (e.income) out.income = amount(*e.income);
    for (const auto& [stored, entered] : kEnteredAmounts)
        out.*entered = amount(e.*stored);
    out.bonusMethod = e.bonusMethod;
    out.remark = e.remark;
    out.itemised = e.itemised;
    for (std::size_t i = 0; i < kItems; ++i)
        out.items[i] = amount(e.items[i]);
    out.insuranceCity = e.insuranceCity;
    out.socialBase = amount(e.socialBase);
    out.fundBase = amount(e.fundBase);
    out.fundRate = ratePercent(e.fundRate);
    out.fundExtraRate = ratePercent(e.fundExtraRate);
    out.insuranceManual = e.insuranceManual;
    return out;
}

Outcome<StoredEntry> fromEntry(int month, const Entry& e) {
    StoredEntry out;
    out.month = month;
    if (e.income) {
        Outcome<std::int64_t> income = enteredFen(*e.income);
        if (!income) return income.problem();
        out.income = *income;
    }
    for (const auto& [stored, entered] : kEnteredAmounts) {
        Outcome<std::int64_t> v = enteredFen(e.*entered);
        if (!v) return v.problem();
        out.*stored = *v;
    }
    out.bonusMethod = e.bonusMethod;
    out.remark = e.remark;
    // An itemised group's sum is its items'; the items of the others are 0.
    out.itemised = e.itemised & kAllGroups;
    for (const ItemGroup g : {ItemGroup::Special, ItemGroup::SpecialAdditional, ItemGroup::Other})
        if (out.itemised & groupBit(g)) groupSum(out, g) = 0;
    for (std::size_t i = 0; i < kItems; ++i) {
        if (!(out.itemised & groupBit(kItemInfo[i].group))) continue;
        Outcome<std::int64_t> v = enteredFen(e.items[i]);
        if (!v) return v.problem();
        out.items[i] = *v;
        std::int64_t& sum = groupSum(out, kItemInfo[i].group);
        sum += *v;
        if (Outcome<void> r = engine::checkAmount(amount(sum)); !r) return r.problem();
    }
    out.insuranceCity = e.insuranceCity;
    for (const auto& [base, to] :
         {std::pair(&e.socialBase, &out.socialBase), std::pair(&e.fundBase, &out.fundBase)}) {
        Outcome<std::int64_t> v = enteredFen(*base);
        if (!v) return v.problem();
        *to = *v;
    }
    for (const auto& [rate, to] :
         {std::pair(&e.fundRate, &out.fundRate), std::pair(&e.fundExtraRate, &out.fundExtraRate)}) {
        Outcome<std::int64_t> v = rateUnits(*rate);
        if (!v) return v.problem();
        *to = *v;
    }
    out.insuranceManual = e.insuranceManual & kInsuranceItemBits;
    return out;
}

std::int64_t& groupSum(EnteredMonth& e, ItemGroup group) {
    switch (group) {
    case ItemGroup::Special:
        return e.special;
    case ItemGroup::SpecialAdditional:
        return e.specialAdditional;
    case ItemGroup::Other:
        break;
    }
    return e.other;
}

std::int64_t paidFromWages(const Employee& employee, const EnteredMonth& e) {
    // A group of sums alone: the special deductions are paid from the wages, the others not.
    std::int64_t paid = e.itemised & groupBit(ItemGroup::Special) ? 0 : e.special;
    for (std::size_t i = 0; i < kItems; ++i) {
        if (!(e.itemised & groupBit(kItemInfo[i].group))) continue;
        bool paidHere = kItemInfo[i].paidFromWages;
        if (i == kHealthInsuranceItem) paidHere = employee.healthThroughPayroll;
        if (i == kDeferredPensionItem) paidHere = employee.deferredPensionThroughPayroll;
        if (paidHere) paid += e.items[i];
    }
    return paid;
}

Opening toOpening(const PersonKey& key, const StoredOpening& o) {
    return Opening{key,
                   o.throughMonth,
                   amount(o.sums.income),
                   amount(o.sums.taxFree),
                   amount(o.sums.basic),
                   amount(o.sums.special),
                   amount(o.sums.specialAdditional),
                   amount(o.sums.other),
                   amount(o.sums.relief),
                   amount(o.sums.withheld),
                   amount(o.sums.donation)};
}

Outcome<StoredOpening> fromOpening(const Opening& o) {
    if (o.throughMonth < 1 || o.throughMonth > 11) return fail(sysText("截至月份应为1到11"));
    StoredOpening out;
    out.throughMonth = o.throughMonth;
    const std::pair<const Exact*, std::int64_t*> amounts[] = {
        {&o.income, &out.sums.income},
        {&o.taxFree, &out.sums.taxFree},
        {&o.basicDeduction, &out.sums.basic},
        {&o.special, &out.sums.special},
        {&o.specialAdditional, &out.sums.specialAdditional},
        {&o.other, &out.sums.other},
        {&o.relief, &out.sums.relief},
        {&o.withheld, &out.sums.withheld},
        {&o.donation, &out.sums.donation}};
    for (const auto& [from, to] : amounts) {
        Outcome<std::int64_t> v = enteredFen(*from);
        if (!v) return v.problem();
        *to = *v;
    }
    return out;
}

MonthLine toLine(const Employee& employee, const StoredEntry& e) {
    const auto opt = [](const std::optional<std::int64_t>& v) -> std::optional<Exact> {
        if (!v) return std::nullopt;
        return amount(*v);
    };
    MonthLine line;
    line.employee = employee;
    line.month = e.month;
    line.entry = toEntry(employee.key, e);
    line.method = e.method;
    line.tableYear = static_cast<int>(e.tableYear.value_or(0));
    line.cumulativeIncome = amount(e.cum.income);
    line.cumulativeBasicDeduction = amount(e.cum.basic);
    line.taxable = opt(e.taxable);
    line.ratePercent = opt(e.rate);
    line.quickDeduction = opt(e.quick);
    line.cumulativeTax = opt(e.cumTax);
    line.withheldBefore = amount(e.cum.withheld - e.withholding);
    line.withholding = amount(e.withholding);
    line.bonusTax = amount(e.bonusTax);
    line.afterTax = amount(e.afterTax);
    return line;
}

std::string personKeyString(const PersonKey& k) {
    // The system's bytes are as unique as UTF-8 and need no conversion; 0x1F is in no character.
    return k.idType.bytes() + '\x1f' + k.idNumber.bytes();
}

Text whom(const Employee& e) {
    return e.name + sysText("（") + e.key.idNumber + sysText("）");
}

Text rowMessage(std::size_t row, const Text& why) {
    return sysText("第") + Text::fromBytes(std::to_string(row)) + sysText("行：") + why;
}

Text monthText(int month) {
    return Text::fromBytes(std::to_string(month)) + sysText("月");
}

} // namespace detail

Text ChangeReport::summary() const {
    auto n = [](int v) { return Text::fromBytes(std::to_string(v)); };
    return sysText("新增") + n(added) + sysText("人，修改") + n(changed) + sysText("人，删除") +
           n(removed) + sysText("人，未变") + n(unchanged) + sysText("人；新建职工") +
           n(static_cast<int>(newEmployees.size())) + sysText("人，重算") + n(recomputed) +
           sysText("条");
}

} // namespace iit::ledger
