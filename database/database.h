#pragma once
// The table database: the system's own record store.
//
// A table is one data file of fixed-size records with named, typed fields (format.h), plus an
// auxiliary file when it has memo or byte-set fields; a password-protected table is enciphered
// page by page (cipher.h). The engine keeps any number of tables open in one registry per
// process, each under an alias; one of them is current, and every record and field operation
// works on the current table and its current record. Between processes, share modes and
// open-file-description byte-range locks keep concurrent readers and writers consistent.
//
// Every operation sets the last error of the calling thread: 0 on success, a negative code on
// failure (errorMessage gives its fixed text). Operations that return a success flag return
// true exactly when the last error is 0.

#include "base/text.h"
#include "base/value.h"

#include <cstdint>
#include <filesystem>
#include <functional>
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

struct OpenOptions {
    Text alias;
    bool readOnly = false;
    std::int32_t shareMode = kDenyNone;
    Text password;                // "?" asks through the password prompt
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
    kErrAlreadyOpen = -38,
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

int lastError();
Text errorMessage(int code);

// Asked when a table is opened with the password "?": tries left (3, 2, 1) and whether an
// earlier answer was wrong; returns the password, or nullopt when the user cancels.
using PasswordPrompt = std::function<std::optional<Text>(int triesLeft, bool retry)>;
void setPasswordPrompt(PasswordPrompt prompt);

// Opening never changes the file. A file that holds fewer whole records than its header counts
// is taken as the records present (read-only: kErrFileSize); the first write that follows
// corrects the count and cuts a partial record. A header whose record size does not fit its
// field layout is refused with kErrNotDatabase. The open waits up to two seconds for a lock
// another program holds on the file.
bool OpenDatabase(const std::filesystem::path& file, const OpenOptions& options = {});
bool CreateDatabase(const std::filesystem::path& file, const std::vector<FieldSpec>& fields);
bool SelectDatabase(const Text& name);
void CloseDatabase();                 // the current table
void CloseDatabase(const Text& name); // found as SelectDatabase finds it
void CloseAllDatabases();

std::int32_t RecordCount();
// Whether the current table's file holds exactly the records its header counts, as the file is
// now: false for a file cut inside or between its records (which an open takes as the records
// present) and for one with bytes after its last record. False with the error code when the
// header cannot be read (-67 when there is no current table).
bool fileIsWhole();
void GoFirst();
bool Skip(std::int32_t count = 1);

// A field is given by name (a text, matched case-insensitively) or by its 1-based position
// (a number); a value of any other kind is a fatal runtime error of every operation. ReadField
// with no current table or an unknown field is fatal too; WriteField and FieldName report
// those through the last error.
Value ReadField(const Value& field);
// nullopt writes the empty value of the field's type.
bool WriteField(const Value& field, const std::optional<Value>& value);
bool AppendBlankRecord();
bool RemoveAllRecords();
Text FieldName(const Value& field);

// The fields of the current table (empty with -67 when there is none).
std::vector<FieldSpec> Fields();
// The absolute path of the current table's data file (empty when there is none).
std::filesystem::path currentPath();

// The data file OpenDatabase and CreateDatabase use for a file name: a name without an
// extension gets ".KDB" (a name ending in a dot gets "KDB").
std::filesystem::path databaseFilePath(const std::filesystem::path& file);
// The auxiliary file of a data file: its path with the extension replaced by "KDT".
std::filesystem::path auxiliaryPath(const std::filesystem::path& dataFile);

} // namespace iit::db
