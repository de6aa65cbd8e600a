#include "base/files.h"

#include "base/convert.h"
#include "base/guarded_files.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace iit {
namespace {

namespace fs = std::filesystem;

RenameFunction g_rename = &::rename;

// The byte a temporary file's writer keeps locked, far beyond any data (and beyond the table
// engine's share-mode bytes, so that a table written into a temporary file is not disturbed).
constexpr off_t kTemporaryGuard = 0x7000000000000000;
// A temporary file younger than this is never taken for a leftover: its writer may not have
// taken its lock yet.
constexpr auto kLeftoverAge = std::chrono::seconds(10);

// The write lock on the guard byte of a temporary file.
struct flock guardLock() {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kTemporaryGuard;
    fl.l_len = 1;
    return fl;
}

} // namespace

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

int closeKeepingErrno(int fd) {
    const int saved = errno;
    const int r = ::close(fd);
    errno = saved;
    return r;
}

ReadFailure failureOf(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return ReadFailure::Missing;
    case EACCES:
    case EPERM:
        return ReadFailure::Denied;
    case EISDIR:
        return ReadFailure::Directory;
    case ELOOP:
        return ReadFailure::Loop;
    default:
        return ReadFailure::Failed;
    }
}

Problem readProblem(ReadFailure failure) {
    return fail(readFailureReason(failure), static_cast<int>(failure));
}

bool replaceable(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & 0222) == 0) return false;
    return ::geteuid() == 0 || (st.st_uid == ::geteuid()   ? (st.st_mode & 0200) != 0
                                : st.st_gid == ::getegid() ? (st.st_mode & 0020) != 0
                                                           : (st.st_mode & 0002) != 0);
}

bool syncDirectory(const fs::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The permissions of a file written over `target`: private in the data directory, whatever the
// umask; elsewhere those of the file it replaces, or those the umask gives a new file (the clerk
// chose where it goes).
mode_t finalMode(const fs::path& target) {
    if (inDataDirectory(target)) return 0600;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::string temporaryPrefix(const fs::path& target) {
    return "." + target.stem().string() + "-";
}

} // namespace

Outcome<void> writeWholeFile(const fs::path& path, std::initializer_list<const ByteSet*> parts) {
    std::string bytes;
    for (const ByteSet* part : parts)
        if (part) bytes.append(reinterpret_cast<const char*>(part->data()), part->size());
    return replaceFileAtomically(path, bytes);
}

Outcome<void> writeWholeFile(const fs::path& path, const ByteSet& bytes) {
    return writeWholeFile(path, {&bytes});
}

ReadFailure readFailureOf(const Problem& problem) {
    if (problem.code < static_cast<int>(ReadFailure::Missing) ||
        problem.code > static_cast<int>(ReadFailure::Failed))
        return ReadFailure::Failed;
    return static_cast<ReadFailure>(problem.code);
}

const char* readFailureText(ReadFailure failure) {
    switch (failure) {
    case ReadFailure::Missing:
        return "no such file";
    case ReadFailure::Denied:
        return "permission denied";
    case ReadFailure::Directory:
        return "is a directory";
    case ReadFailure::NotRegular:
        return "not a regular file";
    case ReadFailure::TooLarge:
        return "too large";
    case ReadFailure::NoWriter:
        return "no program wrote to it within a minute";
    case ReadFailure::InUse:
        return "is a file of the payroll ledger, which is open";
    case ReadFailure::Loop:
        return "is a loop of symbolic links";
    case ReadFailure::Failed:
        break;
    }
    return "cannot be read";
}

Text readFailureReason(ReadFailure failure) {
    switch (failure) {
    case ReadFailure::Missing:
        return sysText("文件不存在");
    case ReadFailure::Denied:
        return sysText("没有读取该文件的权限");
    case ReadFailure::Directory:
        return sysText("这是一个目录");
    case ReadFailure::NotRegular:
        return sysText("不是普通文件");
    case ReadFailure::TooLarge:
        return sysText("文件太大");
    case ReadFailure::NoWriter:
        return sysText("一分钟内没有程序写入这个管道");
    case ReadFailure::InUse:
        return sysText("这是正在使用的工资台账的文件");
    case ReadFailure::Loop:
        return sysText("符号链接互相指向，形成循环");
    case ReadFailure::Failed:
        break;
    }
    return sysText("文件无法读取");
}

Outcome<std::string> readDescriptorBounded(int fd, std::size_t maxBytes) {
    std::string bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            return readProblem(errno == EISDIR ? ReadFailure::Directory : ReadFailure::Failed);
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes)
            return readProblem(ReadFailure::TooLarge);
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}

Outcome<std::string> readFileBounded(const fs::path& path, std::size_t maxBytes, bool streams,
                                     std::chrono::milliseconds writerWait) {
    if (isGuardedFile(path)) return readProblem(ReadFailure::InUse);
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return readProblem(failureOf(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return readProblem(ReadFailure::Failed);
    }
    const bool regular = S_ISREG(st.st_mode);
    const bool stream = S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
    if (S_ISDIR(st.st_mode) || (!regular && !(streams && stream))) {
        ::close(fd);
        return readProblem(S_ISDIR(st.st_mode) ? ReadFailure::Directory : ReadFailure::NotRegular);
    }
    if (regular && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return readProblem(ReadFailure::TooLarge);
    }
    // A FIFO opened before its writer reads as empty at once: wait for the writer (or for its
    // end, when it wrote nothing). Until a writer has come, Linux reports no hang-up.
    if (S_ISFIFO(st.st_mode)) {
        pollfd wait{fd, POLLIN, 0};
        int ready;
        do
            ready = ::poll(&wait, 1, static_cast<int>(writerWait.count()));
        while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            ::close(fd);
            return readProblem(ready == 0 ? ReadFailure::NoWriter : ReadFailure::Failed);
        }
    }
    // A stream is read blocking from here on: its writer is there or it reads as empty.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    Outcome<std::string> read = readDescriptorBounded(fd, maxBytes);
    ::close(fd);
    return read;
}

fs::path replacementTarget(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec) return resolved;
    }
    return path;
}

bool mayReplace(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    return replaceable(st);
}

Text writeFailureReason(const fs::path& path, int error) {
    if (!mayReplace(path)) return sysText("文件不允许改写");
    switch (error) {
    case EACCES:
    case EPERM:
        return sysText("没有写入该目录的权限");
    case EROFS:
        return sysText("文件系统为只读");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return sysText("磁盘空间不够");
    case ENOENT:
    case ENOTDIR:
        return sysText("目录不存在");
    case ENAMETOOLONG:
        return sysText("文件名太长");
    case EBUSY:
        return sysText("这是正在使用的工资台账的文件，不能覆盖");
    case 0:
        return sysText("写入失败");
    default:
        return Text::fromUtf8(std::strerror(error));
    }
}

int writeTrialError(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno;
    struct stat st {};
    int error = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (error == 0) {
        // Larger than a writer's buffer: a disk that took the writer's last block may still lack
        // room for this one, never the other way round.
        static const std::string kBlock(256 * 1024, '\0');
        const ssize_t written = ::pwrite(fd, kBlock.data(), kBlock.size(), st.st_size);
        if (written < 0)
            error = errno;
        else if (static_cast<std::size_t>(written) < kBlock.size())
            error = ENOSPC;
        if (::ftruncate(fd, st.st_size) != 0 && error == 0) error = errno;
    }
    ::close(fd);
    return error;
}

Outcome<void> replaceFileAtomically(const fs::path& path, std::string_view bytes) {
    // The reason is taken where the failure happens, before anything else can change errno.
    const auto failed = [&](int error) { return fail(writeFailureReason(path, error)); };
    if (path.empty()) return failed(ENOENT);
    const fs::path target = replacementTarget(path);
    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed && !replaceable(st)) return failed(EACCES);
    if (!existed && errno != ENOENT) return failed(errno);
    removeStaleTemporaries(target);
    errno = 0;
    TemporaryFile temporary(target);
    if (!temporary.valid()) return failed(errno);
    if (!writeAll(temporary.fd(), bytes.data(), bytes.size())) return failed(errno);
    if (!temporary.commit()) return failed(errno);
    return {};
}

TemporaryFile::TemporaryFile(const fs::path& target) : m_target(target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    if (isGuardedFile(target)) {
        errno = EBUSY;
        return;
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%08llx.tmp",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
        const fs::path candidate = dir / (temporaryPrefix(target) + suffix);
        const int fd =
            ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        struct flock fl = guardLock();
        ::fcntl(fd, F_OFD_SETLK, &fl);
        // Private while it is written (a sheet of names and identity numbers may sit in it);
        // it gets its final permissions when it takes the target's place.
        ::fchmod(fd, 0600);
        m_fd = fd;
        m_path = candidate;
        return;
    }
}

TemporaryFile::~TemporaryFile() {
    if (m_fd < 0) return;
    ::unlink(m_path.c_str());
    ::close(m_fd);
}

bool TemporaryFile::sync() {
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

bool TemporaryFile::commit(std::optional<unsigned> mode, bool replace) {
    if (m_fd < 0) return false;
    if (::fchmod(m_fd, mode ? static_cast<mode_t>(*mode) : finalMode(m_target)) != 0 || !sync())
        return false;
    if (replace ? renameFile(m_path, m_target) != 0
                : ::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_target.c_str(),
                              RENAME_NOREPLACE) != 0)
        return false;
    // The new name is in place; the lock goes with the descriptor.
    closeKeepingErrno(m_fd);
    m_fd = -1;
    syncDirectory(m_target.parent_path());
    return true;
}

DirectoryLock::DirectoryLock(const fs::path& directory) {
    m_fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) return;
    int r;
    do
        r = ::flock(m_fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0) return;
    m_heldElsewhere = errno == EWOULDBLOCK;
    ::close(m_fd);
    m_fd = -1;
}

DirectoryLock::~DirectoryLock() {
    if (m_fd >= 0) ::close(m_fd);
}

int renameFile(const fs::path& from, const fs::path& to) {
    return g_rename(from.c_str(), to.c_str());
}

RenameFunction setRenameFunction(RenameFunction rename) {
    return std::exchange(g_rename, rename ? rename : &::rename);
}

namespace {

// Removes the temporaries of `dir` whose names `ours` takes ("." stem "-" 8 hex digits ".tmp")
// that no living writer holds, with whatever else each writer made under the same name.
template <class Ours> void removeLeftovers(const fs::path& dir, Ours ours) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().native());
    const auto now = fs::file_time_type::clock::now();
    for (const std::string& name : names) {
        if (!ours(name)) continue;
        const fs::path leftover = dir / name;
        std::error_code timeError;
        const auto written = fs::last_write_time(leftover, timeError);
        if (timeError || now - written < kLeftoverAge) continue;
        const int fd = ::open(leftover.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct flock fl = guardLock();
        const bool held = ::fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type != F_UNLCK;
        ::close(fd);
        if (held) continue;
        // The leftover and whatever else its writer made under the same name (the auxiliary
        // file of a table).
        const std::string stem = name.substr(0, name.size() - 4);
        for (const std::string& other : names)
            if (other.size() > stem.size() && other.compare(0, stem.size(), stem) == 0 &&
                other[stem.size()] == '.')
                ::unlink((dir / other).c_str());
    }
}

// "-" then 8 hex digits and ".tmp" at the end of `name`.
bool endsAsTemporary(std::string_view name) {
    if (name.size() < 14 || name.substr(name.size() - 4) != ".tmp" || name[name.size() - 13] != '-')
        return false;
    for (char c : name.substr(name.size() - 12, 8))
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

void removeStaleTemporaries(const fs::path& target) {
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string prefix = temporaryPrefix(target);
    removeLeftovers(dir, [&](const std::string& name) {
        return name.size() == prefix.size() + 12 && name.compare(0, prefix.size(), prefix) == 0 &&
               endsAsTemporary(name);
    });
}

void removeStaleTemporariesIn(const fs::path& dir) {
    removeLeftovers(dir, [](const std::string& name) {
        return name.size() > 14 && name[0] == '.' && endsAsTemporary(name);
    });
}

fs::path setAsideName(const fs::path& path, double now) {
    const CivilDateTime t = splitDateTime(now);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, ".damaged-%04d%02u%02u-%02d%02d%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    const std::string base = path.native() + stamp;
    std::string name = base;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(name, ec)); ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

} // namespace iit
