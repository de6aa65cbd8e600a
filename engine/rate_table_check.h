#pragma once
// The rules a bracket table keeps, in one place: the rate-table window refuses to save a
// sub-table that breaks them and warns of a quick deduction that makes the tax jump at a band
// bound; start-up takes a table file whose values break them for damaged.
//
// Each sub-table is checked by its own layout. The wage and the two labour sub-tables are band
// tables: record 1 starts at 0, each band in use ends above where it starts and the next one
// starts where it ends, and rows not in use (both bounds 0) come only after the last band; the
// rates lie from 0 up to below 100, and a quick deduction is neither negative nor so large that
// the tax where its band starts would be. The royalty sub-table holds no bands: record 1 gives
// the threshold, the first-band limit and the rate, record 2's rate field the reduction
// percentage. In both labour sub-tables and the royalties the threshold lies below the first
// band's upper limit, up to which the first rule taxes. Values read as integers (thresholds,
// first-band limits) lie inside the 32-bit range. Only the fields a calculation reads are
// checked. The tax on either side of a bound is asked of the computation itself (tax.h), so the
// rules cannot disagree with the tax they guard.

#include "base/outcome.h"
#include "base/text.h"
#include "engine/bracket_table.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace iit::engine {

struct TableFinding {
    enum class Severity {
        Error,   // the sub-table cannot serve: a save is refused, a file is damaged
        Warning, // almost always a mistake: the window asks before it saves
    };
    Severity severity = Severity::Error;
    SubTable subTable = SubTable::Wages;
    std::int32_t record = 1; // 1-based
    Field field = Field::Threshold;
    Text problem; // what is wrong, for the user, without saying where; a warning's has lines
    // A warning's offer: the whole quick deduction with which the tax is continuous at the
    // band's lower bound; none when only a negative one would be.
    std::optional<std::int32_t> continuousDeduction;
};

// The sub-table's name as the rate-table window's radios say it ("个人所得税税率表"...).
const Text& subTableName(SubTable t);
// What the field of a record is called in a message: "起征点", "下限", "上限", "税率",
// "速算数", and "减征比例" for the rate field of the royalties' record 2.
Text fieldCaption(SubTable t, std::int32_t record, Field field);

// The findings of one sub-table, in record order: its errors, or, when it has none, its
// warnings.
std::vector<TableFinding> checkSubTable(const BracketTable& table, SubTable subTable);

// Whether every sub-table keeps the rules; fails with the first error, saying which
// sub-table, record and field.
Outcome<void> checkBracketTable(const BracketTable& table);

} // namespace iit::engine
