#pragma once
// The stateless cumulative computation of a payroll sheet (`iitcalc-cli withhold FILE`).
//
// Input: rows of UTF-8 cells, one row per employee and month, in the eight columns of
// withholdInputHeader(); the first row with any text is a header when it holds those names
// (spaces ignored). An empty amount is 0, a row without any text is skipped. The rows of one
// employee (one 身份证号) come in increasing months, interleaved with others' as they may; the
// first is the month the employee joined, and a month without a row inside the span still
// counts for the basic deduction. Output: one row per input row, in input order, no header: the
// eight cells as given and the figures of withholdOutputHeader(), amounts as ToText(Exact)
// writes them. Net mode reads 本月收入 as the pay after tax and adds 本月税前收入.
//
// Rows that break the rules (a month outside 1 to 12, an employee's months not increasing, a
// cell that is no amount) are all named in the problem, one line each, and nothing is output.
// Withhold names a row by its index + 1; WithholdPass by the number its caller gives.

#include "base/outcome.h"
#include "engine/cumulative.h"
#include "engine/tax.h"
#include "engine/withholding_table.h"

#include <memory>
#include <string>
#include <vector>

namespace iit::engine {

using CellRow = std::vector<std::string>;

constexpr std::size_t kWithholdInputColumns = 8;
const CellRow& withholdInputHeader();
// The 17 columns of gross mode, or the 18 of net mode.
CellRow withholdOutputHeader(TaxMode mode);

Outcome<std::vector<CellRow>> withhold(const std::vector<CellRow>& rows, TaxMode mode,
                                       const WithholdingTable& table);

// Withhold one row at a time, for a caller that writes each row's output as it comes instead of
// keeping all of it (the command line, whose year of 120,000 rows would otherwise hold two
// million cells). Withhold() is this pass over a vector.
class WithholdPass {
public:
    WithholdPass(TaxMode mode, const WithholdingTable& table);
    ~WithholdPass();
    WithholdPass(const WithholdPass&) = delete;
    WithholdPass& operator=(const WithholdPass&) = delete;

    // The next row, whose line `number` (from 1) names it in the problems. True when it gives an
    // output row, which is then in `out` (whose cells' storage is reused); false for a blank
    // row, the header, a refused row, and every row after a refusal (those are only checked).
    bool next(std::size_t number, const CellRow& row, CellRow& out);
    // A row was refused: the output is incomplete and must not be used.
    bool failed() const;
    // The refused rows, one line each.
    const Text& problems() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// `iitcalc-cli bonus AMOUNT`: the annual bonus taxed on its own by the monthly table of the
// bracket table. The problem says why the amount or the table cannot serve.
Outcome<BonusFigures> bonusForText(const BracketTable& table, std::string_view utf8Amount);

} // namespace iit::engine
