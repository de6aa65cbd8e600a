#include "ledger/employer_cost.h"

#include "insurance/contributions.h"

namespace iit::ledger {

std::optional<Exact> EmployerCost::total() const {
    if (!insured) return wages;
    if (!social || !fund) return std::nullopt;
    return wages + *social + *fund;
}

Outcome<EmployerCost> employerCost(const insurance::Rules& rules, int year, const MonthLine& line) {
    const Entry& e = line.entry;
    EmployerCost cost;
    cost.wages = e.income.value_or(Exact(0)) + e.bonus;
    if (e.insuranceCity.empty()) return cost;
    cost.insured = true;
    const insurance::CityRules* inForce = rules.inForce(e.insuranceCity, year, line.month);
    if (!inForce) return cost;
    Outcome<insurance::Contributions> c =
        insurance::contribute(*inForce, {e.socialBase, e.fundBase, e.fundRate, e.fundExtraRate});
    if (!c) return c.problem();
    if (!c->employerComplete) return cost;
    Exact fund;
    for (const insurance::ContributionLine& l : c->lines)
        if (l.column == insurance::Column::HousingFund && l.employer) fund += *l.employer;
    cost.fund = fund;
    cost.social = c->employer - fund;
    return cost;
}

} // namespace iit::ledger
