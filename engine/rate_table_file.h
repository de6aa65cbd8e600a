#pragma once
// The rate-table file: "设置税率表A.dat" in the data directory, a password-protected table file
// (database/) whose records and fields hold the bracket table (bracket_table.h). This is the
// one place that opens, reads and writes it; the engine computes from the BracketTable it is
// handed.
//
// A RateTableFile holds the file open for the calculations of a session, under the alias
// "设置税率表" with its password: the program's windows share one, and a command of the command
// line has its own. Every load reads the records afresh, so a save through the same handle, or
// by another program, is seen by the next calculation at once. A file that could not be opened
// at start-up (locked, unreadable) is opened by the next load, and checked as start-up checks
// it. Those who read the law once (the ledger, withhold) use loadBracketTable, which opens,
// reads and closes.

#include "base/outcome.h"
#include "base/text.h"
#include "database/database.h"
#include "engine/bracket_table.h"

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

// The path of the rate table in the program directory.
std::filesystem::path rateTablePath();

// Writes the built-in default table to `path` when no file is there; fails when it had to be
// written and could not be, saying why.
Outcome<void> ensureRateTableFile(const std::filesystem::path& path);
// Writes the built-in default table to `path`, replacing what is there atomically: a failure
// leaves the old file and says why.
Outcome<void> writeDefaultRateTable(const std::filesystem::path& path);


// Opens the table file at `path` under its alias with its password; the problem carries the
// table engine's error code.
Outcome<db::Table> openRateTable(const std::filesystem::path& path);
// Reads an open rate table: every record from the first, fields 1 to 24 (those beyond the
// file's fields as 0). A record or field that cannot be read fails the reading, with the engine's
// error code: a table read in part is never computed with.
Outcome<BracketTable> readBracketTable(db::Table& table);
// Whether an open table can serve as the rate table: its file holds exactly the records its
// header counts (an open takes a file cut inside its records as the records present), it has
// 24 numeric fields, and its values keep the rules of rate_table_check.h. Gives the table it
// read; the problem says what is wrong.
Outcome<BracketTable> checkRateTable(db::Table& table);

// The start of a session with the rate table, shared by the window and the command line.
struct RateTableStart {
    std::int32_t threshold = 0; // record 1, field 1, read as a truncated integer
    // Set when a damaged file was set aside and the built-in table put in its place.
    std::optional<std::filesystem::path> setAsidePath;
    Text notice; // what to tell the user once (the file set aside); empty when all went well
};

// A write the table database refused: record and field (1-based) and its error code.
struct FieldWriteError {
    std::int32_t record = 0;
    int field = 0;
    int code = 0;
};

class RateTableFile {
public:
    // The file at `path`, not opened yet.
    explicit RateTableFile(std::filesystem::path path);
    // The file at `path`, open as `table` (opened by openRateTable and checked by its opener).
    RateTableFile(std::filesystem::path path, db::Table table);

    const std::filesystem::path& path() const { return m_path; }
    bool isOpen() const { return m_table.has_value(); }

    // Start-up: writes the built-in table when the file is missing, opens it and reads the
    // message threshold. A file that cannot serve as a rate table (not a table file, a wrong
    // password, a damaged header, fewer than 24 fields, a file that is not whole, values that
    // break the rules of rate_table_check.h) is renamed beside itself, the built-in table is
    // written in its place and opened, and the notice says why. A file that cannot be opened
    // because of its permissions or another program's lock is left alone; the problem says
    // which file and why, and so does the failure to write the built-in table. `now` dates the
    // new name of a set-aside file. A file this handle holds open already is not checked again.
    Outcome<RateTableStart> start(double now);

    // The bracket table as the file holds it now. A file that is not open is opened first and
    // checked as start-up checks it; a damaged one is closed again and refused (start-up sets
    // it aside). The problem tells the user which file cannot be read and why.
    Outcome<BracketTable> load();

    // Writes fields `firstField` to `lastField` of records 1 to `records` of `table` into the
    // open file, from the first record on, one record after the other. A refused write leaves
    // that field as it was and the writing goes on; the refusals are returned (one with record
    // 0 when the file is not open). A text value goes to a numeric field as the number it shows.
    std::vector<FieldWriteError> writeFields(const BracketTable& table, int firstField,
                                             int lastField, std::int32_t records);

    // Replaces the file by the built-in table and opens the new one: the new file is written
    // beside the old one and renamed over it, then this handle closes the old file and opens
    // the new one. A failure says which file and why; when the new file could not be written,
    // the old one stays as it was, still open.
    Outcome<void> restoreDefault();

private:
    std::filesystem::path m_path;
    std::optional<db::Table> m_table;
};

// One reading of the table at `path`: opened (the built-in table is not written), checked as a
// load checks it, read and closed. The problem says which file cannot be read and why.
Outcome<BracketTable> loadBracketTable(const std::filesystem::path& path);

} // namespace iit::engine
