#pragma once
// An employee's social insurance and housing fund of one month, from the city's rules in force
// (rules.h): each item is the base, raised to the floor or lowered to the ceiling, times the
// item's rate, plus its fixed amount, rounded as the city says; the housing fund (and the
// supplementary fund) from its own base and the rate the employer chose within the city's
// range, each share rounded on its own. The employee's items sum into the four columns of
// 专项扣除; the employer's share is computed beside them where the rules give its rates.

#include "base/outcome.h"
#include "insurance/rules.h"

#include <array>
#include <optional>
#include <vector>

namespace iit::insurance {

// What an employee pays on.
struct Bases {
    Exact social;    // the social-insurance base
    Exact fund;      // the housing fund base
    Exact fundRate;  // percent; 0: no housing fund
    Exact fundExtra; // the supplementary fund's rate, percent; 0: none
};

enum class Clamp { None, Floor, Ceiling };

// One item as it was reached.
struct ContributionLine {
    Text name; // 养老保险, 住房公积金, 补充公积金
    Column column = Column::Pension;
    Exact given; // the base as given
    Exact base;  // as paid on
    Clamp clamp = Clamp::None;
    Exact rate;  // the employee's, percent
    Exact fixed; // added to the employee's
    Rounding rounding = Rounding::Fen;
    Exact exact;                   // the employee's before rounding
    Exact employee;                // rounded
    std::optional<Exact> employer; // none where the rules do not give the employer's rate
};

struct Contributions {
    std::vector<ContributionLine> lines;
    std::array<Exact, kColumns> columns; // the employee's, by column of 专项扣除
    Exact employee;                      // their sum
    Exact employer;                      // the employer's, injury insurance included
    bool employerComplete = true;        // false: a rate of the employer's is not in the rules

    const Exact& column(Column c) const { return columns[static_cast<std::size_t>(c)]; }
};

// The month's contributions under `rules`. Refuses a negative base, and a housing fund rate
// (or supplementary rate) that is neither 0 nor within the city's range, saying the range.
Outcome<Contributions> contribute(const CityRules& rules, const Bases& bases);

// How a line was reached, for the panel and the command line: "养老保险：基数5000低于下限，按
// 7546 × 8% = 603.68".
Text explain(const ContributionLine& line);

} // namespace iit::insurance
