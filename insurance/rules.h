#pragma once
// Social insurance and the housing fund: the rules of each city, dated, as data.
//
// The rules are the text file "社保公积金规则.txt" in the data directory (UTF-8), written from
// the built-in description (resources/insurance_rules_default.txt) when it is missing; a file
// that cannot be read as rules is set aside under a new name and the built-in rules written in
// its place, as a damaged rate table is. Each section is one city's rules in force from a month
// until that city's next section: the bases' floors and ceilings, the rates of each insurance
// for the employee and the employer, the housing fund's allowed rates and how each item is
// rounded, with the notice they come from. contributions.h computes an employee's items from
// them; the file is never a constant of the code.

#include "base/outcome.h"
#include "engine/exact.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iit::insurance {

using engine::Exact;

// The columns of 专项扣除 in the declaration: each item counts in one.
enum class Column { Pension, Medical, Unemployment, HousingFund };
constexpr int kColumns = 4;
// "基本养老保险费", "基本医疗保险费", "失业保险费", "住房公积金" (UTF-8).
const char* columnName(Column column);
std::optional<Column> columnNamed(std::string_view utf8);

enum class Rounding { Fen, Yuan };
int placesOf(Rounding rounding); // 2 or 0

// One insurance of a city.
struct InsuranceItem {
    Text name; // 养老保险
    Column column = Column::Pension;
    std::optional<Exact> employeeRate; // percent; none: the notice at hand does not give it
    std::optional<Exact> employerRate;
    Exact fixed; // a fixed amount a month the employee pays besides
    Rounding rounding = Rounding::Fen;

    friend bool operator==(const InsuranceItem&, const InsuranceItem&) = default;
};

// A city's rules in force from a month.
struct CityRules {
    Text city;
    int fromYear = 0;
    int fromMonth = 0;
    Text source; // the notices
    Exact baseFloor, baseCeiling;
    std::vector<InsuranceItem> items;
    std::optional<Exact> injuryRate; // the employer's alone
    Exact fundFloor, fundCeiling;
    Exact fundRateLowest, fundRateHighest;
    Rounding fundRounding = Rounding::Fen;
    Exact fundExtraLowest, fundExtraHighest; // both 0: no supplementary fund

    int from() const { return fromYear * 100 + fromMonth; }
    bool hasExtraFund() const { return !fundExtraHighest.isZero(); }
    friend bool operator==(const CityRules&, const CityRules&) = default;
};

class Rules {
public:
    Rules() = default;
    // Sections in the order given (each city's months rising; checkRules says so).
    explicit Rules(std::vector<CityRules> sections) : m_sections(std::move(sections)) {}

    // The city's rules in force in the month: its latest section not after it; null before
    // its first one, or for a city the rules do not have.
    const CityRules* inForce(const Text& city, int year, int month) const;
    // The cities, each once, in the order of their first section.
    std::vector<Text> cities() const;
    const std::vector<CityRules>& sections() const { return m_sections; }
    std::vector<CityRules>& sections() { return m_sections; }

private:
    std::vector<CityRules> m_sections;
};

// Whether rules can be used: a city named (without blanks), a month from 1990 on, each city's
// months rising, amounts of whole fen with floors below ceilings, rates from 0 to below 100
// with at most four decimals, the lowest housing fund rate not above the highest, items of the
// city's named once each. The problem names the section.
Outcome<void> checkRules(const Rules& rules);

// Reads a description in the format of the built-in one (UTF-8), checked; the problem names
// the line and why.
Outcome<Rules> parseRules(std::string_view utf8);
// The rules in that format, after the built-in file's explanation: parseRules reads them back.
std::string formatRules(const Rules& rules);

// The built-in rules, parsed once.
const Rules& defaultRules();

constexpr const char* kRulesFileName = "社保公积金规则.txt";
std::filesystem::path rulesPath(); // in the program directory

struct LoadedRules {
    Rules rules;
    Text notice; // a damaged file set aside: what the clerk is told; empty otherwise
};
// Reads the rules at `path`, writing the built-in ones there first when no file is there. A
// file that is not rules is set aside (its name and why in the notice) and the built-in rules
// written in its place. Fails only when a file cannot be read, written or set aside.
Outcome<LoadedRules> loadRules(const std::filesystem::path& path);
// Checks the rules and writes them atomically; a failure leaves the old file.
Outcome<void> saveRules(const std::filesystem::path& path, const Rules& rules);

} // namespace iit::insurance
