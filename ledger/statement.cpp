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
