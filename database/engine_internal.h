#pragma once
// What the engine's files share: the state of an open table and its locks.

#include "database/auxfile.h"
#include "database/database.h"
#include "database/format.h"
#include "database/storage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace iit::db::detail {

struct OpenTable {
    StoredFile file;
    std::unique_ptr<AuxFile> aux;   // only when some field is memo or byte-set
    std::shared_ptr<Cipher> cipher; // of the accepted password; shared by both files
    std::filesystem::path fullPath;
    Text name; // file name without directory and extension
    Text alias;
    bool readOnly = false;
    bool lockFree = false;        // the share mode keeps other openers out: no locks
    bool exclusive = false;       // nobody else may even open the file
    bool wholeFileLocked = false; // during RemoveAllRecords
    Header header;
    std::vector<Field> fields;
    std::vector<FieldSpec> specs; // the fields as the holder sees them
    std::int64_t dataStart = 0;
    std::int32_t recordSize = 0;
    std::int32_t current = 0;
    LockTable locks;
    std::string scratch;

    // The record last read or written whole, so that the other fields of the current record
    // are decoded without touching the file. A shared table drops it at every move of the
    // cursor, so each pass over the records sees the file as it is then. An
    // exclusive table also keeps its writes here (nobody else can look at the file) and
    // writes the record once, when the cursor moves on or the table closes.
    std::string record;
    std::int32_t recordIndex = -1; // the record `record` holds; -1 for none
    bool recordDirty = false;

    ~OpenTable() { flushRecord(); }
    // Writes a dirty record: kOk or an error code. A record that could not be written stays
    // dirty, so that the failure is reported again at the next flush.
    int flushRecord();
    // Writes a dirty record and forgets the record; a record that could not be written is kept.
    int dropRecord() {
        const int rc = flushRecord();
        if (rc == kOk) recordIndex = -1;
        return rc;
    }
    // Exclusive tables keep their header counters in memory: nobody else changes them.
    bool keepsHeader() const { return exclusive; }

    // Record and header locks are skipped when the table is lock-free or wholly locked.
    bool takesLocks() const { return !lockFree && !wholeFileLocked; }
    // Both factors are below 2^31, so the product and the sum stay far inside 64 bits.
    std::int64_t recordOffset(std::int32_t record) const {
        return dataStart + static_cast<std::int64_t>(record) * recordSize;
    }
};

// A counted one-byte lock held for one scope.
class ByteLock {
public:
    ByteLock(OpenTable& table, std::int64_t offset, LockKind kind, int waitMs = 0);
    ~ByteLock();
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;
    int status() const { return m_status; }

private:
    OpenTable& m_table;
    std::int64_t m_offset;
    bool m_held = false;
    int m_status = kOk;
};

} // namespace iit::db::detail
