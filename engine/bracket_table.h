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
#include <filesystem>
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
std::filesystem::path RateTablePath();

// Writes the built-in default table to `path` when no file is there. False when it had to be
// written and could not be.
bool EnsureRateTableFile(const std::filesystem::path& path);
// Writes the built-in default table to `path`, replacing what is there atomically: a failure
// leaves the old file.
bool WriteDefaultRateTable(const std::filesystem::path& path);

// Opens the table under its alias with its password. Once the table is open the next open
// fails (the file is already open), which callers ignore: the open table is used.
bool OpenRateTable(const std::filesystem::path& path);

// The start of a session with the rate table, shared by the window and the command line.
struct RateTableStart {
    bool opened = false;
    std::int32_t threshold = 0; // record 1, field 1, read as a truncated integer
    // Set when a damaged file was set aside.
    std::optional<std::filesystem::path> setAsidePath;
    Text message; // what to tell the user, once; empty when all went well
};

// Writes the built-in table when the file is missing, opens it under its alias with its
// password and reads the message threshold. A file that cannot serve as a rate table (not a
// table file, a wrong password, a damaged header, fewer than 24 fields) is renamed beside
// itself, the built-in table is written in its place and opened. A file that cannot be opened
// because of its permissions or another program's lock is left alone; the message says which
// file and why. `now` dates the new name of a set-aside file.
RateTableStart OpenRateTableAtStart(const std::filesystem::path& path, double now);

// The name a damaged file is kept under: path + ".damaged-YYYYMMDD-hhmmss", with "-2", "-3"...
// after it when that name is taken.
std::filesystem::path SetAsideName(const std::filesystem::path& path, double now);

// Makes sure the table is open (opening it again when it is not) and current: nullopt when it
// is, else the message that tells the user which file cannot be opened and why. Every
// calculation starts with it, so that a table that was locked or unreadable at start-up is
// used as soon as it can be.
std::optional<Text> EnsureRateTableOpen(const std::filesystem::path& path);

// The table as one calculation sees it: the alias is selected once and each field is read from
// the file the first time the calculation asks for it, walking the records from the first.
// A record beyond the last and a field the table does not have read as 0.
class TableSnapshot {
public:
    // Selects the alias; false (and an empty snapshot) when the table is not open.
    bool load();
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
