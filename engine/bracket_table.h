#pragma once
// The bracket table: how the tax computation finds the law in the rate-table database.
//
// The table lives in "设置税率表A.dat", a password-protected table file in the program
// directory, opened under the alias "设置税率表". Fields 1 to 24 form four groups of six, one
// per sub-table (wages; labour tax included; labour tax excluded; royalties): threshold
// (record 1 only), band lower bound, band upper bound, rate in percent, quick deduction, and a
// spare field the computation never reads. Every calculation reads the file again, so an edit
// in the rate-table window counts from the next calculation on.

#include "base/convert.h"
#include "base/outcome.h"
#include "base/text.h"
#include "base/value.h"
#include "engine/exact.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace iit::engine {

// Alias, password and file name of the rate table.
const Text& rateTableAlias();    // "设置税率表"
const Text& rateTablePassword(); // kRateTablePassword as a Text
constexpr std::string_view kRateTablePassword = "qvr4729158";
const char* const kRateTableFileName = "设置税率表A.dat";
constexpr int kRateTableFields = 24;
constexpr int kRateTableRecords = 9;

// The four sub-tables of the bracket table, as their first field k, and the fields of a
// sub-table as offsets from it: the threshold (record 1 only), the band's lower and upper
// bounds, the rate in percent, the quick deduction and a spare field the computation never
// reads. The royalty sub-table holds its deduction percentage in record 1's rate field and the
// reduction percentage in record 2's.
enum class SubTable : int { Wages = 1, LabourGross = 7, LabourNet = 13, Royalties = 19 };
enum class Field : int { Threshold = 0, Lower = 1, Upper = 2, Rate = 3, Deduction = 4, Spare = 5 };
constexpr int firstField(SubTable t) {
    return static_cast<int>(t);
}
constexpr int fieldOf(SubTable t, Field f) {
    return static_cast<int>(t) + static_cast<int>(f);
}
inline constexpr SubTable kSubTables[] = {SubTable::Wages, SubTable::LabourGross,
                                          SubTable::LabourNet, SubTable::Royalties};

// The path of the rate table in the program directory.
std::filesystem::path rateTablePath();
// The rate table a sheet reads: `chosen` when one was chosen for it (the command line's
// --table), else the one in the program directory.
inline std::filesystem::path rateTablePath(const std::filesystem::path& chosen) {
    return chosen.empty() ? rateTablePath() : chosen;
}

// Writes the built-in default table to `path` when no file is there; fails when it had to be
// written and could not be, saying why.
Outcome<void> ensureRateTableFile(const std::filesystem::path& path);
// Writes the built-in default table to `path`, replacing what is there atomically: a failure
// leaves the old file and says why.
Outcome<void> writeDefaultRateTable(const std::filesystem::path& path);

// Opens the table under its alias with its password. Once the table is open the next open
// fails (the file is already open), which callers ignore: the open table is used.
bool openRateTable(const std::filesystem::path& path);

// The start of a session with the rate table, shared by the window and the command line.
struct RateTableStart {
    std::int32_t threshold = 0; // record 1, field 1, read as a truncated integer
    // Set when a damaged file was set aside and the built-in table put in its place.
    std::optional<std::filesystem::path> setAsidePath;
    Text notice; // what to tell the user once (the file set aside); empty when all went well
};

// Writes the built-in table when the file is missing, opens it under its alias with its
// password and reads the message threshold. A file that cannot serve as a rate table (not a
// table file, a wrong password, a damaged header, fewer than 24 fields, a file that is not
// whole, values that break the rules of rate_table_check.h) is renamed beside itself, the
// built-in table is written in its place and opened, and the notice says why. A file that
// cannot be opened because of its permissions or another program's lock is left alone; the
// message says which file and why, and so does the failure to write the built-in table. `now`
// dates the new name of a set-aside file.
Outcome<RateTableStart> openRateTableAtStart(const std::filesystem::path& path, double now);

// Whether the table open under the alias can serve: its file holds exactly the records its
// header counts (an open takes a file cut inside its records as the records present), and its
// values keep the rules of rate_table_check.h. The problem says what is wrong.
Outcome<void> checkOpenRateTable();

// The name a damaged file is kept under: path + ".damaged-YYYYMMDD-hhmmss", with "-2", "-3"...
// after it when that name is taken.
std::filesystem::path setAsideName(const std::filesystem::path& path, double now);

// Makes sure the table is open (opening it again when it is not) and current; fails with the
// message that tells the user which file cannot be opened and why. Every calculation starts
// with it, so that a table that was locked or unreadable at start-up is used as soon as it can;
// a table it opens is checked as start-up checks it, and a damaged one is closed again and
// refused (start-up sets it aside).
Outcome<void> ensureRateTableOpen(const std::filesystem::path& path);

// The bracket table as one calculation reads it: the 24 fields of every record the file holds,
// read in one pass. A record beyond the last and a field the file does not have read as 0,
// so a table of one record gives the royalty reduction (record 2, field 22) 0.
class BracketTable {
public:
    using Record = std::array<Value, kRateTableFields>;

    BracketTable() = default;
    explicit BracketTable(std::vector<Record> records);

    std::int32_t recordCount() const { return static_cast<std::int32_t>(m_records.size()); }
    // Field `field` (1 to 24) of record `record` (1-based).
    const Value& field(std::int32_t record, int field) const;
    // The field read as a double, and as an integer truncated toward zero.
    double number(std::int32_t record, int field) const {
        return inRange(record, field) ? m_numbers[index(record, field)] : 0.0;
    }
    std::int32_t integer(std::int32_t record, int field) const {
        return inRange(record, field) ? m_integers[index(record, field)] : 0;
    }
    // The field as an exact decimal (the shortest that reads back as its double); nullopt
    // when the field holds an infinity or NaN.
    const std::optional<Exact>& exact(std::int32_t record, int field) const {
        static const std::optional<Exact> zero = Exact{};
        return inRange(record, field) ? m_exacts[index(record, field)] : zero;
    }
    // Sets a field, adding records of zeros up to `record` (1-based); a field outside 1 to 24
    // is ignored.
    void setField(std::int32_t record, int field, Value value);

    const std::vector<Record>& records() const { return m_records; }

private:
    bool inRange(std::int32_t record, int field) const {
        return record >= 1 && record <= recordCount() && field >= 1 && field <= kRateTableFields;
    }
    static std::size_t index(std::int32_t record, int field) {
        return static_cast<std::size_t>(record - 1) * kRateTableFields +
               static_cast<std::size_t>(field - 1);
    }
    void convert(std::int32_t record, int field);

    std::vector<Record> m_records;
    // The conversions the computations use, made once per field.
    std::vector<double> m_numbers;
    std::vector<std::int32_t> m_integers;
    std::vector<std::optional<Exact>> m_exacts;
};

// Reads the rate table through its alias, which must be open: every record from the first,
// fields 1 to 24 (those beyond the file's fields as 0). Fails when the alias is not open.
Outcome<BracketTable> readBracketTable();
// Makes sure the table at `path` is open (ensureRateTableOpen) and reads it; fails with the
// message that says which file cannot be opened and why. Every calculation starts here, so a
// saved change is seen by the next one.
Outcome<BracketTable> loadBracketTable(const std::filesystem::path& path);

// A write the table database refused: record and field (1-based) and its error code.
struct FieldWriteError {
    std::int32_t record = 0;
    int field = 0;
    int code = 0;
};
// Writes fields `firstField` to `lastField` of records 1 to `records` of `table` into the rate
// table through its alias, from the first record on, one record after the other. A refused
// write leaves that field as it was and the writing goes on; the refusals are returned.
// A text value goes to a numeric field as the number it shows.
std::vector<FieldWriteError> writeBracketFields(const BracketTable& table, int firstField,
                                                int lastField, std::int32_t records);

// Replaces the rate table file at `path` by the built-in table and opens it again under the
// alias: the new file is written beside the old one and renamed over it, then the alias
// (only it) is closed and opened on the new file. A failure says which file and why, and the
// old file stays as it was, still open.
Outcome<void> restoreDefaultRateTable(const std::filesystem::path& path);

} // namespace iit::engine
