// An employee's year and its reconciliation from this employer's figures.
#include "ledger/statement.h"

#include "ledger/book.h"

namespace iit::ledger {
namespace {

using namespace detail;

void add(StatementLine& to, const StatementLine& l) {
    for (auto m : {&StatementLine::income, &StatementLine::taxFree, &StatementLine::basic,
                   &StatementLine::special, &StatementLine::specialAdditional,
                   &StatementLine::other, &StatementLine::donation, &StatementLine::relief,
                   &StatementLine::bonus, &StatementLine::withholding, &StatementLine::bonusTax})
        to.*m += l.*m;
    for (std::size_t i = 0; i < kItems; ++i)
        to.items[i] += l.items[i];
}

// The year's tax on a taxable income by the annual table (never below 0).
Exact annualTax(const engine::WithholdingTable& table, const Exact& taxable) {
    if (taxable.sign() <= 0) return Exact(0);
    const engine::TaxBand* band = engine::findBand(table.bands, taxable);
    if (!band) return Exact(0);
    const Exact tax = Round(taxable * band->rate() - band->quickDeduction, 2);
    return tax.sign() < 0 ? Exact(0) : tax;
}

} // namespace

Outcome<Statement> Ledger::statement(int year, const PersonKey& key) {
    Book& book = *m_book;
    Outcome<std::optional<StoredEmployee>> found = book.store->findEmployee(year, key);
    if (!found) return found.problem();
    if (!*found) return fail(sysText("本年台账中没有此人"));
    Statement out;
    out.employee = (*found)->employee;
    out.year = year;
    Outcome<std::optional<StoredOpening>> opening = book.store->opening((*found)->id);
    if (!opening) return opening.problem();
    if (*opening) {
        const SumsFen& o = (*opening)->sums;
        StatementLine l;
        l.income = amount(o.income);
        l.taxFree = amount(o.taxFree);
        l.basic = amount(o.basic);
        l.special = amount(o.special);
        l.specialAdditional = amount(o.specialAdditional);
        l.other = amount(o.other);
        l.donation = amount(o.donation);
        l.relief = amount(o.relief);
        l.withholding = amount(o.withheld);
        out.lines.push_back(l);
    }
    Outcome<std::vector<StoredEntry>> entries = book.store->entries((*found)->id);
    if (!entries) return entries.problem();
    Exact previousBasic = *opening ? amount((*opening)->sums.basic) : Exact(0);
    for (const StoredEntry& e : *entries) {
        StatementLine l;
        l.month = e.month;
        l.income = amount(e.income.value_or(0));
        l.taxFree = amount(e.taxFree);
        // The month's share of the basic deduction: the year's to date less the month before's.
        l.basic = amount(e.cum.basic) - previousBasic;
        previousBasic = amount(e.cum.basic);
        l.special = amount(e.special);
        l.specialAdditional = amount(e.specialAdditional);
        l.other = amount(e.other);
        l.donation = amount(e.donation);
        l.relief = amount(e.relief);
        for (std::size_t i = 0; i < kItems; ++i)
            if (e.itemised & groupBit(kItemInfo[i].group)) l.items[i] = amount(e.items[i]);
        l.bonus = amount(e.bonus);
        l.bonusMethod = e.bonusMethod;
        l.withholding = amount(e.withholding);
        l.bonusTax = amount(e.bonusTax);
        out.lines.push_back(l);
    }
    for (const StatementLine& l : out.lines)
        add(out.total, l);
    if (!out.employee.resident) return out;

    Outcome<const engine::WithholdingTable*> table = tableOf(book, year);
    if (!table) return table.problem();
    Reconciliation r;
    // Bonuses added to their months are wages already; those taxed on their own may be either.
    for (const StatementLine& l : out.lines) {
        r.wages += l.income;
        if (l.bonus.sign() > 0) {
            if (l.bonusMethod == BonusMethod::Separate && l.month > 0)
                r.separateBonus += l.bonus;
            else
                r.wages += l.bonus;
        }
    }
    const StatementLine& t = out.total;
    // A whole year's basic deduction, whatever the months employed.
    r.basic = (*table)->basicDeduction * Exact(12);
    r.deductions = t.taxFree + r.basic + t.special + t.specialAdditional + t.other;
    // The donation comes off last, as the months deducted it.
    const auto taxOf = [&](const Exact& income) {
        return annualTax(**table, income - r.deductions - t.donation);
    };
    r.taxSeparate = taxOf(r.wages);
    for (const StatementLine& l : out.lines)
        if (l.bonus.sign() > 0 && l.bonusMethod == BonusMethod::Separate && l.month > 0) {
            Outcome<engine::BonusFigures> b =
                engine::computeSeparateBonus(book.tables.monthly, l.bonus);
            if (!b) return b.problem();
            r.taxSeparate += b->tax;
        }
    r.taxCombined = taxOf(r.wages + r.separateBonus);
    r.combinedLower = r.taxCombined < r.taxSeparate;
    r.tax = r.combinedLower ? r.taxCombined : r.taxSeparate;
    r.relief = t.relief;
    r.withheld = t.withholding + t.bonusTax;
    Exact owed = r.tax - r.relief;
    if (owed.sign() < 0) owed = Exact(0);
    r.due = owed - r.withheld;
    const Exact income = r.combinedLower ? r.wages + r.separateBonus : r.wages;
    r.exempt = year <= kReconciliationExemptUntil && r.due.sign() > 0 &&
               (!(Exact(120000) < income) || !(Exact(400) < r.due));
    out.reconciliation = r;
    return out;
}

} // namespace iit::ledger

namespace iit::ledger {

StatementTable statementTable(const Statement& s) {
    StatementTable t;
    std::vector<std::size_t> items;
    for (std::size_t i = 0; i < kItems; ++i)
        if (!s.total.items[i].isZero()) items.push_back(i);
    for (const char* c : {"月份", "本月收入", "免税收入", "减除费用", "专项扣除", "专项附加扣除",
                          "其他扣除", "准予扣除的捐赠额", "减免税额", "全年一次性奖金",
                          "奖金计税方式", "已预扣个税", "奖金税额"})
        t.captions.push_back(sysText(c));
    for (std::size_t i : items)
        t.captions.push_back(Text::fromUtf8(engine::fieldName(kItemInfo[i].field)));
    const auto row = [&](Text when, const StatementLine& l, bool total) {
        std::vector<Text> r = {std::move(when), ToText(l.income),   ToText(l.taxFree),
                               ToText(l.basic), ToText(l.special),  ToText(l.specialAdditional),
                               ToText(l.other), ToText(l.donation), ToText(l.relief),
                               ToText(l.bonus)};
        r.push_back(l.bonus.sign() > 0 && l.month > 0 && !total
                        ? engine::bonusMethodText(l.bonusMethod)
                        : Text{});
        r.push_back(ToText(l.withholding));
        r.push_back(ToText(l.bonusTax));
        for (std::size_t i : items)
            r.push_back(ToText(l.items[i]));
        t.rows.push_back(std::move(r));
    };
    for (const StatementLine& l : s.lines)
        row(l.month == 0 ? sysText("期初") : Text::fromBytes(std::to_string(l.month)), l, false);
    row(sysText("合计"), s.total, true);
    return t;
}

Text statementTitle(const Statement& s) {
    return s.employee.name + sysText("（") + s.employee.key.idNumber + sysText("）") +
           Text::fromBytes(std::to_string(s.year)) + sysText("年在本单位的收入和个人所得税");
}

std::vector<Text> reconciliationText(const Statement& s) {
    const auto t = [](const Exact& v) { return ToText(v); };
    if (!s.reconciliation) return {sysText("非居民个人按月计税，没有年度汇算。")};
    const Reconciliation& r = *s.reconciliation;
    Text line = sysText("年度汇算（只按本单位的数字）：综合所得收入") + t(r.wages) +
                sysText("，减除费用") + t(r.basic) + sysText("，免税收入和各项扣除") +
                t(r.deductions - r.basic + s.total.donation);
    if (r.separateBonus.sign() > 0)
        line += sysText("；全年一次性奖金") + t(r.separateBonus) +
                sysText("单独计税时全年应纳税额") + t(r.taxSeparate) + sysText("，并入综合所得时") +
                t(r.taxCombined) + sysText("，较低的是") +
                sysText(r.combinedLower ? "并入综合所得" : "单独计税");
    line += sysText("；应纳税额") + t(r.tax) + sysText("，减免税额") + t(r.relief) +
            sysText("，已预扣") + t(r.withheld) + sysText("，");
    line += r.due.sign() > 0   ? sysText("应补税") + t(r.due)
            : r.due.sign() < 0 ? sysText("应退税") + t(-r.due)
                               : sysText("无需补税或退税");
    line +=
        sysText(r.exempt ? "（综合所得收入不超过12万元或补税不超过400元，可免于汇算）。" : "。");
    return {line, sysText("其他单位的收入、劳务报酬等其他综合所得和大病医疗等扣除不在其中，"
                          "汇算时由本人合并计算。")};
}

} // namespace iit::ledger
