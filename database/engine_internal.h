#pragma once
// What the engine's files share: the open tables, the registry and the last error.

#include "database/auxfile.h"
#include "database/database.h"
#include "database/format.h"
#include "database/storage.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace iit::db::detail {

struct Table {
    StoredFile file;
    std::unique_ptr<AuxFile> aux;   // only when some field is memo or byte-set
    std::shared_ptr<Cipher> cipher; // of the accepted password; shared by both files
    Text fullPath;
    Text name; // file name without directory and extension
    Text alias;
    bool readOnly = false;
    bool lockFree = false;        // the share mode keeps other openers out: no locks
    bool wholeFileLocked = false; // during RemoveAllRecords
    Header header;
    std::vector<Field> fields;
    std::int64_t dataStart = 0;
    std::int32_t recordSize = 0;
    std::int32_t current = 0;
    LockTable locks;
    std::string scratch;

    // Record and header locks are skipped when the table is lock-free or wholly locked.
    bool takesLocks() const { return !lockFree && !wholeFileLocked; }
    // Both factors are below 2^31, so the product and the sum stay far inside 64 bits.
    std::int64_t recordOffset(std::int32_t record) const {
        return dataStart + static_cast<std::int64_t>(record) * recordSize;
    }
};

struct Registry {
    std::recursive_mutex mutex;
    std::vector<std::unique_ptr<Table>> tables;
    int current = -1;
    PasswordPrompt prompt;
};

Registry& registry();
// The current table, or nullptr.
Table* currentTable();
void setError(int code);

// A counted one-byte lock held for one scope.
class ByteLock {
public:
    ByteLock(Table& table, std::int64_t offset, LockKind kind, int waitMs = 0);
    ~ByteLock();
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;
    int status() const { return m_status; }

private:
    Table& m_table;
    std::int64_t m_offset;
    bool m_held = false;
    int m_status = kOk;
};

} // namespace iit::db::detail
