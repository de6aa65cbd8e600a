#pragma once
// The bracket table: how the tax computation finds the law in the rate-table database.
//
// The table lives in "设置税率表A.dat", a password-protected table file in the program
// directory, opened under the alias "设置税率表". Fields 1 to 24 form four groups of six, one
// per sub-table (wages; labour tax included; labour tax excluded; royalties): threshold
// (record 1 only), band lower bound, band upper bound, rate in percent, quick deduction, and a
// spare field the computation never reads. Every calculation reads the file again, so an edit
// in the rate-table window counts from the next calculation on.

#include "runtime/convert.h"
#include "runtime/text.h"
#include "runtime/value.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace iit::engine {

// Alias, password and file name of the rate table.
const Text& RateTableAlias();    // "设置税率表"
const Text& RateTablePassword(); // kRateTablePassword as a Text
constexpr std::string_view kRateTablePassword = "qvr4729158";
const char* const kRateTableFileName = "设置税率表A.dat";
constexpr int kRateTableFields = 24;
constexpr int kRateTableRecords = 9;

// The path of the rate table in the program directory.
Text RateTablePath();

// Writes the built-in default table to `path` when no file is there. False when it had to be
// written and could not be.
bool EnsureRateTableFile(const Text& path);
// Writes the built-in default table to `path`, replacing what is there.
bool WriteDefaultRateTable(const Text& path);

// Opens the table under its alias with its password. Once the table is open the next open
// fails (the file is already open), which callers ignore: the open table is used.
bool OpenRateTable(const Text& path);

// The table as one calculation sees it: the alias is selected once and each field is read from
// the file the first time the calculation asks for it, walking the records from the first.
// A record beyond the last and a field the table does not have read as 0.
class TableSnapshot {
public:
    // Selects the alias; false (and an empty snapshot) when the table is not open.
    bool load();
    // As load(); a table that is not open is the runtime's fatal error, as reading a field
    // with no current table is.
    void loadOrFail();
    std::int32_t recordCount() const { return m_recordCount; }
    // Field `field` (1 to 24) of record `record` (1-based).
    const Value& field(std::int32_t record, int field);
    double number(std::int32_t record, int field);        // read as a double
    std::int32_t integer(std::int32_t record, int field); // read as a truncated integer

private:
    void moveTo(std::int32_t record);

    std::int32_t m_recordCount = 0;
    std::int32_t m_fieldCount = 0;
    std::int32_t m_position = 0; // the record the table's cursor is on (1-based)
    std::vector<std::array<Value, kRateTableFields>> m_records;
    std::vector<std::uint32_t> m_read; // per record, one bit per field already read
};

} // namespace iit::engine
