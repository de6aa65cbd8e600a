#pragma once
// Files, byte-range locks and share modes of the table engine on Linux.
//
// StoredFile reads and writes at absolute offsets through the enciphering layer when the table
// has a password. Locks are open-file-description locks (F_OFD_SETLK): they belong to the open
// file, not the process, so closing another descriptor of the same file never drops them, and
// two opens of one file conflict even inside one process.
//
// Share modes are emulated with read locks on four bytes far beyond any data (kShareBase):
//   +0 read access   (every opener)          +2 deny read  (share modes 2 and 4)
//   +1 write access  (openers for writing)   +3 deny write (share modes 3 and 4)
// An opener first publishes its own bytes and then asks (F_OFD_GETLK for a write lock) whether
// another open holds a byte it is incompatible with: a read opener against "deny read", a
// writer against "deny write", a deny-read opener against "read access", a deny-write opener
// against "write access". Publishing before checking means two incompatible openers that race
// may both be refused, never both admitted. Only read locks are used, because a descriptor
// opened read-only cannot take write locks. The locks live as long as the open file.

#include "database/cipher.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace iit::db {

// The data range that "the whole file" locks cover; the share-mode bytes lie beyond it.
constexpr std::int64_t kShareBase = 0x6000000000000000;
constexpr std::int64_t kWholeFile = kShareBase;
// Wait of RecordCount for the header lock, of an open for the whole-file lock and of a field
// read for its record's lock; every other lock is tried once.
constexpr int kCountLockWaitMs = 2000;
constexpr int kOpenLockWaitMs = 2000;
constexpr int kReadLockWaitMs = 2000;

// Maps an errno of the file system to the engine's error code.
int fileErrorCode(int err);

class StoredFile {
public:
    StoredFile() = default;
    ~StoredFile();
    StoredFile(const StoredFile&) = delete;
    StoredFile& operator=(const StoredFile&) = delete;

    // kOk or an error code. `create` makes the file when missing (never truncates).
    int open(const std::filesystem::path& path, bool writable, bool create = false);
    // Closes the descriptor; the open file's locks go with it. Locks are never released
    // explicitly here: a forked child may share the open file with its parent.
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool writable() const { return m_writable; }

    void setCipher(std::shared_ptr<Cipher> cipher) { m_cipher = std::move(cipher); }

    // Reads up to n bytes at offset: the count read (short at the end of the file) or a
    // negative error code.
    std::int64_t read(std::int64_t offset, char* out, std::size_t n);
    // kOk or an error code.
    int write(std::int64_t offset, const char* data, std::size_t n);
    // The file length, or a negative error code.
    std::int64_t size() const;
    int truncate(std::int64_t length);

private:
    int m_fd = -1;
    bool m_writable = false;
    std::shared_ptr<Cipher> m_cipher;
    std::string m_scratch;
};

enum class LockKind { Read, Write };

// Locks [start, start + length), retrying a conflict every 20 to 39 ms until waitMs have
// passed: kOk, kErrLockViolation on a conflict, kErrLock on any other failure.
int lockBytes(int fd, LockKind kind, std::int64_t start, std::int64_t length, int waitMs);
void unlockBytes(int fd, std::int64_t start, std::int64_t length);

// One-byte locks of one open file, counted per offset so that nested lock/unlock pairs take
// and release the system lock once.
class LockTable {
public:
    int lock(int fd, std::int64_t offset, LockKind kind, int waitMs);
    void unlock(int fd, std::int64_t offset);
    // Takes again every lock still counted (after a whole-file unlock dropped them).
    void restore(int fd);

private:
    struct Entry {
        std::int64_t offset;
        int count;
        LockKind kind;
    };
    std::vector<Entry> m_entries;
};

// Claims the share mode of an open (see the header comment): kOk, kErrSharing, or
// kErrLockViolation / kErrLock when another program's lock keeps the claim out.
int claimShareMode(int fd, bool writable, std::int32_t shareMode);

} // namespace iit::db
