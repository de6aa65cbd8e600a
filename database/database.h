#pragma once
// The table database: the system's own record store.
//
// A table is one data file of fixed-size records with named, typed fields (format.h), plus an
// auxiliary file when it has memo or byte-set fields; a password-protected table is enciphered
// page by page (cipher.h). OpenDatabase gives a Table: a handle that owns the open files and its
// current record, and closes them when it is destroyed. Whoever opened a table holds it; the
// engine keeps no list of open tables and no error state of its own. Between handles, in one
// process or in several, share modes and open-file-description byte-range locks keep concurrent
// readers and writers consistent.
//
// Every operation that can fail returns an Outcome whose problem carries the engine's error code
// and its fixed text (errorMessage). A handle is used by one thread at a time.

#include "base/outcome.h"
#include "base/text.h"
#include "base/value.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace iit::db {

enum FieldType : std::int32_t {
    kByte = 1,
    kShort = 2,
    kInt = 3,
    kInt64 = 4,
    kFloat = 5,
    kDouble = 6,
    kBool = 7,
    kDateTime = 8,
    kSubroutine = 9,
    kText = 10,
    kByteSet = 11,
    kMemo = 12,
};

// One field of a table: name, type code and, for text fields, the declared width.
struct FieldSpec {
    Text name;
    std::int32_t type = 0;
    std::int32_t width = 0;
};

// Share modes of OpenDatabase.
enum ShareMode : std::int32_t {
    kDenyNone = 1,  // others may read and write (the default)
    kDenyRead = 2,  // others may not read
    kDenyWrite = 3, // others may not write
    kExclusive = 4, // any other value: others may neither read nor write
};

// Asked when a table is opened with the password "?": tries left (3, 2, 1) and whether an
// earlier answer was wrong; returns the password, or nullopt when the user cancels.
using PasswordPrompt = std::function<std::optional<Text>(int triesLeft, bool retry)>;

struct OpenOptions {
    Text alias; // the table's name for its holder; must be a valid name when given (-24)
    bool readOnly = false;
    std::int32_t shareMode = kDenyNone;
    Text password;                // "?" asks `prompt`
    PasswordPrompt prompt;        // without one, the password "?" fails with -78
    std::vector<Text> indexFiles; // index files are not supported: any name fails with -30
};

// Error codes the system itself tests for; errorMessage knows every code from -1 to -80.
enum ErrorCode : int {
    kOk = 0,
    kErrUnknown = -1,
    kErrCreate = -2,
    kErrNotFound = -3,
    kErrBadPath = -4,
    kErrTooManyFiles = -5,
    kErrAccess = -6,
    kErrBadHandle = -7,
    kErrSeek = -10,
    kErrHardware = -11,
    kErrSharing = -12,
    kErrLockViolation = -13,
    kErrDiskFull = -14,
    kErrNoFields = -16,
    kErrFieldType = -17,
    kErrFieldName = -18,
    kErrFieldSize = -19,
    kErrDuplicateField = -20,
    kErrNotDatabase = -22,
    kErrTooNew = -23,
    kErrBadAlias = -24,
    kErrBeforeFirst = -25,
    kErrAfterLast = -26,
    kErrLock = -28,
    kErrIndexOpen = -30,
    kErrTooManyIndexes = -34,
    kErrAuxRead = -35,
    kErrAuxVersion = -36,
    kErrAuxDamaged = -37,
    kErrReadField = -46,
    kErrWriteField = -47,
    kErrFileSize = -48,
    kErrAuxCreate = -50,
    kErrAuxAccess = -59,
    kErrNoRecord = -60,
    kErrNoField = -61,
    kErrWriteRecord = -63,
    kErrRecordCount = -65,
    kErrNotOpen = -66,
    kErrNoCurrent = -67,
    kErrTypeMismatch = -72,
    kErrPassword = -78,
};

// The fixed text of an error code ("未知错误" for a code without one).
const Text& errorMessage(int code);
// The problem of a failed operation: the code's fixed text and the code.
Problem engineProblem(int code);

namespace detail {
struct OpenTable;
}

// An open table: its files, its field layout and its current record. Move-only; destroying it
// closes the files, and a record an exclusive table still holds in memory is written first
// (close() says whether that worked). Every operation on a closed or moved-from handle fails
// with -67 (no current table), except ReadField, for which that is fatal.
class Table {
public:
    Table(Table&& other) noexcept;
    Table& operator=(Table&& other) noexcept;
    ~Table();

    bool isOpen() const { return m_open != nullptr; }
    // The absolute path of the data file, the alias it was opened under, and its file name
    // without directory and extension (empty for a closed handle).
    const std::filesystem::path& path() const;
    const Text& alias() const;
    const Text& name() const;
    // The fields, in order.
    const std::vector<FieldSpec>& fields() const;

    // The records the file counts (a negative count reads as 0, and a count beyond the records
    // the file holds counts those present). Waits up to two seconds for the count's lock.
    Outcome<std::int32_t> RecordCount();
    // Whether the file holds exactly the records its header counts, as the file is now: false
    // for a file cut inside or between its records (which an open takes as the records
    // present) and for one with bytes after its last record.
    Outcome<bool> fileIsWhole();
    // The current record becomes 0 (also for an empty table).
    Outcome<void> GoFirst();
    // Moves the current record by `count`: not past the record after the last, not before -1.
    Outcome<void> Skip(std::int32_t count = 1);

    // A field is given by name (a text, matched case-insensitively) or by its 1-based position
    // (a number); a value of any other kind is a fatal runtime error of every operation, and so
    // is an unknown field for ReadField. WriteField and FieldName fail with -61 for an unknown
    // field.
    Outcome<Value> ReadField(const Value& field);
    // nullopt writes the empty value of the field's type.
    Outcome<void> WriteField(const Value& field, const std::optional<Value>& value);
    // Appends a record of zeros after the last and makes it current.
    Outcome<void> AppendBlankRecord();
    Outcome<void> RemoveAllRecords();
    Outcome<Text> FieldName(const Value& field) const;

    // Closes the table: writes a record an exclusive table still holds and says whether that
    // worked. The handle is closed afterwards in either case.
    Outcome<void> close();

private:
    explicit Table(std::unique_ptr<detail::OpenTable> open);
    friend Outcome<Table> OpenDatabase(const std::filesystem::path& file,
                                       const OpenOptions& options);

    std::unique_ptr<detail::OpenTable> m_open;
};

// Opening never changes the file. A file that holds fewer whole records than its header counts
// is taken as the records present (read-only: kErrFileSize); the first write that follows
// corrects the count and cuts a partial record. A header whose record size does not fit its
// field layout is refused with kErrNotDatabase. The open waits up to two seconds for a lock
// another program holds on the file.
Outcome<Table> OpenDatabase(const std::filesystem::path& file, const OpenOptions& options = {});
// Creates a new table, replacing any file of that name; the new table is not opened.
Outcome<void> CreateDatabase(const std::filesystem::path& file,
                             const std::vector<FieldSpec>& fields);

// The data file OpenDatabase and CreateDatabase use for a file name: a name without an
// extension gets ".KDB" (a name ending in a dot gets "KDB").
std::filesystem::path databaseFilePath(const std::filesystem::path& file);
// The auxiliary file of a data file: its path with the extension replaced by "KDT".
std::filesystem::path auxiliaryPath(const std::filesystem::path& dataFile);

} // namespace iit::db
