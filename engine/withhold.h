#pragma once
// The stateless cumulative computation of a payroll sheet (`iitcalc-cli withhold FILE`).
//
// Input: rows of UTF-8 cells, one row per employee and month. The first row with any text is a
// header when it names at least two of the fields (engine/payroll_row.h, by any of their names,
// in any order): the eight of withholdInputHeader(), and 证件类型 (居民身份证 when absent), 居民
// (否: the monthly method of the bracket table), 减除费用从1月起算 and 全年减除6万元 (是 or 否:
// the employee's options for the year, said by their first row) and 减免税额. Without a header
// the eight come in their documented order. An empty amount is 0, a row without any text is
// skipped. The rows of one employee (one document) come in increasing months, interleaved with
// others' as they may; the first is the month the employee joined, and a month without a row
// inside the span still counts for the basic deduction. Output: one row per input row, in input
// order, no header: the eight cells as given and the figures of withholdOutputHeader(), amounts
// as ToText(Exact) writes them (a non-resident's cumulative figures empty). Net mode reads
// 本月收入 as the pay after tax and adds 本月税前收入.
//
// Rows that break the rules (a month outside 1 to 12, an employee's months not increasing, a
// cell that is no amount, options that change within the year) are all named in the problem,
// one line each, and nothing is output. Withhold names a row by its index + 1; WithholdPass by
// the number its caller gives.

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

// `bracket` computes non-residents (none: a non-resident's row is refused).
Outcome<std::vector<CellRow>> withhold(const std::vector<CellRow>& rows, TaxMode mode,
                                       const WithholdingTable& table,
                                       const BracketTable* bracket = nullptr);

// Withhold one row at a time, for a caller that writes each row's output as it comes instead of
// keeping all of it (the command line, whose year of 120,000 rows would otherwise hold two
// million cells). Withhold() is this pass over a vector.
class WithholdPass {
public:
    WithholdPass(TaxMode mode, const WithholdingTable& table,
                 const BracketTable* bracket = nullptr);
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
    // The header's texts of the columns that name no field withhold reads (or one an earlier
    // column named): for the caller to tell.
    const std::vector<std::string>& unreadColumns() const;
    // Before the first row with text: takes `row` as the header when it is one (next() does this
    // itself; a caller that checks cells by their column first asks here).
    bool takeHeader(const CellRow& row);
    // The column of 身份证号 (证件号码), as the header or the documented order has it.
    std::size_t idColumn() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// `iitcalc-cli bonus AMOUNT`: the annual bonus taxed on its own by the monthly table of the
// bracket table. The problem says why the amount or the table cannot serve.
Outcome<BonusFigures> bonusForText(const BracketTable& table, std::string_view utf8Amount);

} // namespace iit::engine
