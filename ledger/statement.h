#pragma once
// An employee's year with this employer: what the law has the withholding agent give the
// employee after the year, and what the employee asks before the annual reconciliation
// (年度汇算). Month by month what was paid, deducted and withheld, the year's totals, and the
// reconciliation as it stands from this employer's figures alone: the year's comprehensive
// income taxed by the annual table with a whole year's basic deduction (60,000 whatever the
// months employed), the annual bonuses both ways (the employee may choose again), against what
// was withheld. Other income and 大病医疗 are not in it: the employee adds them at the
// reconciliation.

#include "ledger/ledger.h"

#include <array>
#include <optional>
#include <vector>

namespace iit::ledger {

struct StatementLine {
    int month = 0; // 0: the opening balances, before the ledger's first month
    Exact income, taxFree, basic, special, specialAdditional, other, donation, relief;
    // The deductions item by item where the month gave them so (kItemInfo's order; 0 for a
    // group given as a sum alone, whose sum stands above).
    std::array<Exact, kItems> items{};
    Exact bonus; // the annual bonus paid in the month
    BonusMethod bonusMethod = BonusMethod::Combined;
    Exact withholding, bonusTax;
};

struct Reconciliation {
    Exact wages;         // 综合所得: the wages with the bonuses added to their months
    Exact separateBonus; // the bonuses taxed on their own, as they were
    Exact basic;         // a whole year's basic deduction
    Exact deductions;    // tax-free income, the basic and the special, additional, other ones
    Exact taxSeparate;   // the wages by the annual table, each bonus on its own
    Exact taxCombined;   // every bonus added to the wages
    bool combinedLower = false; // the lower way; on its own where both are the same
    Exact tax;                  // of the lower way
    Exact relief;
    Exact withheld; // on the wages and the bonuses
    Exact due;      // tax − relief − withheld: to pay above 0, refunded below
    // Exempt from the reconciliation (for the years the rule covers): income up to 120,000
    // with tax to pay, or tax to pay up to 400.
    bool exempt = false;
};

struct Statement {
    Employee employee;
    int year = 0;
    std::vector<StatementLine> lines; // the opening balances first, then the months entered
    StatementLine total;
    std::optional<Reconciliation> reconciliation; // none for a non-resident
};

// The last year the exemption from the reconciliation covers.
constexpr int kReconciliationExemptUntil = 2027;

// The statement as a table, for every form it is given in (text, PDF): the captions, then a row
// per line (the opening balances as "期初", the months, "合计"), amounts as data. The deduction
// items stand after the sums, those that any month gave.
struct StatementTable {
    std::vector<Text> captions;
    std::vector<std::vector<Text>> rows;
};
StatementTable statementTable(const Statement& s);

// "张三（110101199001011234）2026年在本单位的收入和个人所得税"
Text statementTitle(const Statement& s);

// The reconciliation in sentences, the last saying what is not in it.
std::vector<Text> reconciliationText(const Statement& s);

} // namespace iit::ledger
