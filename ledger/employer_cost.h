#pragma once
// What an employee's month costs the employer: the wages (the income and the annual bonus) and
// the employer's share of the social insurance and the housing fund, computed from the entry's
// bases by the city's rules in force in the month (insurance/contributions.h). The employee's
// own share is within the wages.

#include "insurance/rules.h"
#include "ledger/ledger.h"

#include <optional>

namespace iit::ledger {

struct EmployerCost {
    Exact wages;
    bool insured = false; // insured through this employer in the month
    // The employer's shares; none where the employee is not insured here or the rules do not
    // give every rate of the employer's (a notice the clerk has yet to copy into them).
    std::optional<Exact> social, fund;

    // Wages and both shares; none while a share is not known.
    std::optional<Exact> total() const;
};

Outcome<EmployerCost> employerCost(const insurance::Rules& rules, int year, const MonthLine& line);

} // namespace iit::ledger
