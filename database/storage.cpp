#include "database/storage.h"

#include "database/database.h"

#include "base/guarded_files.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace iit::db {
namespace {

using Clock = std::chrono::steady_clock;

// Offsets of the share-mode bytes.
constexpr std::int64_t kReadAccess = kShareBase + 0;
constexpr std::int64_t kWriteAccess = kShareBase + 1;
constexpr std::int64_t kDenyReadByte = kShareBase + 2;
constexpr std::int64_t kDenyWriteByte = kShareBase + 3;

struct flock rangeOf(short type, std::int64_t start, std::int64_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    return fl;
}

bool isConflict(int err) {
    return err == EAGAIN || err == EACCES;
}

// The pause between two tries: 20 ms plus the millisecond tick modulo 20.
void pauseBeforeRetry() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count();
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + ms % 20));
}

// True when another open file holds a lock on the byte at offset.
bool heldByOthers(int fd, std::int64_t offset, bool& failed) {
    struct flock fl = rangeOf(F_WRLCK, offset, 1);
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) {
        failed = true;
        return false;
    }
    return fl.l_type != F_UNLCK;
}

} // namespace

int fileErrorCode(int err) {
    switch (err) {
    case ENOENT:
        return kErrNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
        return kErrBadPath;
    case EMFILE:
    case ENFILE:
        return kErrTooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return kErrAccess;
    case EBADF:
        return kErrBadHandle;
    case ESPIPE:
    case EOVERFLOW:
        return kErrSeek;
    case EIO:
        return kErrHardware;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kErrDiskFull;
    default:
        return kErrUnknown;
    }
}

StoredFile::~StoredFile() {
    close();
}

int StoredFile::open(const std::filesystem::path& path, bool writable, bool create) {
    close();
    // A file the ledger holds open is never opened here: closing it would drop the ledger's locks.
    if (isGuardedFile(path)) return kErrSharing;
    // Non-blocking: opening a FIFO must not wait for a writer. A regular file ignores the flag.
    int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (create) flags |= O_CREAT;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fileErrorCode(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kErrAccess; // a directory, a FIFO or a device is no table file
    }
    m_fd = fd;
    m_writable = writable;
    return kOk;
}

void StoredFile::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_cipher.reset();
}

std::int64_t StoredFile::read(std::int64_t offset, char* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(m_fd, out + done, n - done,
                                  static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return fileErrorCode(errno);
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    if (m_cipher) m_cipher->apply(static_cast<std::uint64_t>(offset), out, done);
    return static_cast<std::int64_t>(done);
}

int StoredFile::write(std::int64_t offset, const char* data, std::size_t n) {
    if (m_cipher) {
        m_scratch.assign(data, n);
        m_cipher->apply(static_cast<std::uint64_t>(offset), m_scratch.data(), n);
        data = m_scratch.data();
    }
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(m_fd, data + done, n - done,
                                   static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (w < 0) {
            if (errno == EINTR) continue;
            return fileErrorCode(errno);
        }
        done += static_cast<std::size_t>(w);
    }
    return kOk;
}

std::int64_t StoredFile::size() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return fileErrorCode(errno);
    return static_cast<std::int64_t>(st.st_size);
}

int StoredFile::truncate(std::int64_t length) {
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0) return fileErrorCode(errno);
    return kOk;
}

int lockBytes(int fd, LockKind kind, std::int64_t start, std::int64_t length, int waitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        struct flock fl = rangeOf(kind == LockKind::Write ? F_WRLCK : F_RDLCK, start, length);
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return kOk;
        const int err = errno;
        if (err == EINTR) continue;
        if (!isConflict(err)) return kErrLock;
        if (Clock::now() >= deadline) return kErrLockViolation;
        pauseBeforeRetry();
    }
}

void unlockBytes(int fd, std::int64_t start, std::int64_t length) {
    struct flock fl = rangeOf(F_UNLCK, start, length);
    ::fcntl(fd, F_OFD_SETLK, &fl);
}

int LockTable::lock(int fd, std::int64_t offset, LockKind kind, int waitMs) {
    for (Entry& e : m_entries) {
        if (e.offset != offset) continue;
        if (kind == LockKind::Write && e.kind == LockKind::Read) {
            if (int rc = lockBytes(fd, kind, offset, 1, waitMs); rc != kOk) return rc;
            e.kind = kind;
        }
        ++e.count;
        return kOk;
    }
    if (int rc = lockBytes(fd, kind, offset, 1, waitMs); rc != kOk) return rc;
    m_entries.push_back({offset, 1, kind});
    return kOk;
}

void LockTable::unlock(int fd, std::int64_t offset) {
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].offset != offset) continue;
        if (--m_entries[i].count == 0) {
            unlockBytes(fd, offset, 1);
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return;
    }
}

void LockTable::restore(int fd) {
    for (const Entry& e : m_entries)
        lockBytes(fd, e.kind, e.offset, 1, 0);
}

int claimShareMode(int fd, bool writable, std::int32_t shareMode) {
    const bool denyRead = shareMode != kDenyNone && shareMode != kDenyWrite;
    const bool denyWrite = shareMode != kDenyNone && shareMode != kDenyRead;
    struct Claim {
        bool mine;
        std::int64_t offset;
    };
    const Claim published[] = {{true, kReadAccess},
                               {writable, kWriteAccess},
                               {denyRead, kDenyReadByte},
                               {denyWrite, kDenyWriteByte}};
    // Another program's lock over these bytes (a lock of everything) is waited for as an
    // open waits for any lock.
    for (const Claim& c : published)
        if (c.mine) {
            if (int rc = lockBytes(fd, LockKind::Read, c.offset, 1, kOpenLockWaitMs); rc != kOk)
                return rc;
        }
    const Claim incompatible[] = {{true, kDenyReadByte},
                                  {writable, kDenyWriteByte},
                                  {denyRead, kReadAccess},
                                  {denyWrite, kWriteAccess}};
    bool failed = false;
    for (const Claim& c : incompatible) {
        if (c.mine && heldByOthers(fd, c.offset, failed)) return kErrSharing;
        if (failed) return kErrLock;
    }
    return kOk;
}

} // namespace iit::db
