#pragma once
// The annual withholding table of residents' wages (预扣率表一) and the band rule it shares
// with the monthly table.
//
// The table is data: "预扣率表.txt" in the data directory, beside the bracket table, written
// from the built-in description (resources/withholding_table_default.txt) when it is missing.
// It holds one section per year from which a law applies: the bands of cumulative taxable
// income, the basic deduction of a month, the whole-year deduction of the option for low
// earners and the last year in which the annual bonus may be taxed on its own. The cumulative
// computation (cumulative.h) asks it, never a constant of its own.
//
// Bands are "over the lower bound, up to the upper bound": a value equal to an upper bound
// belongs to the lower band. The bands of the annual table are continuous, so this matters only
// for the bonus taxed on its own, whose bands are those of the monthly table, read from the
// wages sub-table of the bracket table with the same rule.

#include "base/outcome.h"
#include "engine/exact.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace iit::engine {

class BracketTable;

struct TaxBand {
    TaxBand() = default;
    TaxBand(Exact lowerBound, std::optional<Exact> upperBound, Exact percent, Exact quick)
        : lower(std::move(lowerBound)), upper(std::move(upperBound)), ratePercent(percent),
          quickDeduction(std::move(quick)), m_rate(percent / Exact(100)) {}

    Exact lower;
    std::optional<Exact> upper; // none: no upper bound
    Exact ratePercent;          // 3 for 3 %
    Exact quickDeduction;

    const Exact& rate() const { return m_rate; } // 0.03 for 3 %, divided once

private:
    Exact m_rate;
};

// The band that holds v: lower < v <= upper, the first band also holding v <= its lower bound.
// Null when v is above the last upper bound.
const TaxBand* findBand(const std::vector<TaxBand>& bands, const Exact& v);

struct WithholdingTable {
    int fromYear = 0;
    Exact basicDeduction;  // of one month
    Exact annualDeduction; // the whole year's under the low-earner option; 0: no such option
    int bonusSeparateUntil = 0;
    std::vector<TaxBand> bands;

    bool bonusSeparateAllowed(int year) const { return year <= bonusSeparateUntil; }
};

class WithholdingTables {
public:
    WithholdingTables() = default;
    explicit WithholdingTables(std::vector<WithholdingTable> tables);

    // The table in force in `year`: the one of the latest year not after it; null before the
    // first.
    const WithholdingTable* forYear(int year) const;
    const std::vector<WithholdingTable>& tables() const { return m_tables; }

private:
    std::vector<WithholdingTable> m_tables; // by increasing year
};

// Reads a description in the format of the built-in one. The problem names the line and why.
Outcome<WithholdingTables> parseWithholdingTables(std::string_view text);
// The tables in that format, without its explanation: parseWithholdingTables reads them back.
std::string formatWithholdingTables(const WithholdingTables& tables);

// The built-in tables, parsed once.
const WithholdingTables& defaultWithholdingTables();

constexpr const char* kWithholdingTableFileName = "预扣率表.txt";
std::filesystem::path withholdingTablePath(); // in the program directory

// Reads the tables at `path`, writing the built-in description there first when no file is
// there. The problem says which file and why (unreadable, or the line that is wrong).
Outcome<WithholdingTables> loadWithholdingTables(const std::filesystem::path& path);

// The bands of the monthly wage table: records of the bracket table's wages sub-table (fields
// 2 to 5) whose bounds are not both 0, checked to follow each other from 0. The last band's
// upper bound is kept as the table says.
Outcome<std::vector<TaxBand>> monthlyWageBands(const BracketTable& table);

} // namespace iit::engine
