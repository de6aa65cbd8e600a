#pragma once
// The safe ways of reading and writing files (paths and the data directory: base/paths.h).
//
// Every read of a file the user may have put there opens it without blocking and checks what
// it is first: a FIFO or a device named like a configuration file never hangs the program, and
// every read is bounded. Every write of a whole file goes to a temporary file beside the target
// that is renamed over it, so that a failure or a crash leaves either the old file or the new
// one. Temporary files hold a lock for as long as their writer lives, so that the leftovers of a
// killed writer are recognised and removed by the next writer in the same directory.

#include "base/outcome.h"
#include "base/paths.h"
#include "base/value.h"

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace iit {

// Writes the byte-sets in order, empty ones skipped, replacing the file atomically.
Outcome<void> writeWholeFile(const std::filesystem::path& path,
                             std::initializer_list<const ByteSet*> parts);
Outcome<void> writeWholeFile(const std::filesystem::path& path, const ByteSet& bytes);
// Writes all of `size` bytes to the descriptor, resuming after a signal; false on an error.
bool writeAll(int fd, const char* data, std::size_t size);

// Why a bounded read failed. The problem of a failed read carries it as its code, a positive
// number (the table database's codes are all negative), with readFailureReason's text as its
// message.
enum class ReadFailure : int {
    Missing = 1, // no such file
    Denied,      // no permission
    Directory,   // a directory
    NotRegular,  // a FIFO, socket or device where a regular file is needed
    TooLarge,    // more than the bound
    NoWriter,    // a FIFO no writer opened in time
    InUse,       // a file the payroll ledger holds open (base/guarded_files.h), never opened here
    Loop,        // symbolic links that point at each other
    Failed,      // any other failure of the file system
};
// The reason of a failed read; Failed for a problem that no read gave.
ReadFailure readFailureOf(const Problem& problem);
// How long a read waits for the writer of a FIFO.
inline constexpr std::chrono::milliseconds kStreamWait{60'000};
// Reads a regular file of at most maxBytes. With `streams`, a pipe, FIFO or character device is
// read once up to the bound as well; a FIFO is read once its writer has come, which is waited
// for up to writerWait (NoWriter after that).
Outcome<std::string> readFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                                     bool streams = false,
                                     std::chrono::milliseconds writerWait = kStreamWait);
// Reads an open descriptor up to the bound (standard input).
Outcome<std::string> readDescriptorBounded(int fd, std::size_t maxBytes);
// A short English description of a failed read ("is a directory"), for the command line.
const char* readFailureText(ReadFailure failure);
// The same for a message of the windows ("没有读取该文件的权限").
Text readFailureReason(ReadFailure failure);

// Writes `bytes` to a temporary file beside `path`, flushes it to the disk and renames it over
// `path`, which keeps its permissions. A symbolic link keeps pointing where it did: its target
// is replaced. Fails, with the old file whole, when anything fails, when `path` is a directory
// or a special file, a file the ledger holds open, or when the existing file is not writable
// (mode 0444); the problem says why (writeFailureReason).
Outcome<void> replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);
// The name a damaged file is kept under: path + ".damaged-YYYYMMDD-hhmmss" (`now` in the
// system's days), with "-2", "-3"... after it when that name is taken.
std::filesystem::path setAsideName(const std::filesystem::path& path, double now);
// Why a file could not be written, from the errno of the failure: a short text for a message
// ("没有写入该目录的权限", "磁盘空间不够", ...).
Text writeFailureReason(const std::filesystem::path& path, int error);
// After a writer that does not say why it failed (a PDF engine): whether the disk still takes
// writes at the end of `file`, which is grown by a trial block and cut back. The errno of the
// trial (ENOSPC, EFBIG, ...), or 0 when the disk is not the cause.
int writeTrialError(const std::filesystem::path& file);
// False when an existing `path` may not be replaced by its owner: no write permission, a
// directory or a special file. A missing file may be created.
bool mayReplace(const std::filesystem::path& path);
// The file a write to `path` replaces: the target of a symbolic link, else path itself.
std::filesystem::path replacementTarget(const std::filesystem::path& path);

// A new, empty temporary file beside `target`, named "." + target's stem + "-XXXXXXXX.tmp", that
// has the permissions of the target it replaces (or of a new file), holds a lock while this
// object lives and is removed when it is destroyed, unless it was renamed over its target with
// commit(). Leftovers of writers that were killed carry no lock and
// are removed by removeStaleTemporaries(). None is made for a file the ledger holds open
// (errno EBUSY): renaming over it would take its pages from under the ledger.
class TemporaryFile {
public:
    // Creates the file; valid() is false when that failed.
    explicit TemporaryFile(const std::filesystem::path& target);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return m_fd >= 0; }
    const std::filesystem::path& path() const { return m_path; }
    int fd() const { return m_fd; }
    // Flushes the file to the disk.
    bool sync();
    // Renames the file over its target (and flushes the directory); the object then owns nothing.
    // The file gets `mode` when given (a backup is private wherever it goes), else the target's
    // permissions as described above. With `replace` false an existing target is left alone
    // (errno EEXIST).
    bool commit(std::optional<unsigned> mode = std::nullopt, bool replace = true);

private:
    std::filesystem::path m_target;
    std::filesystem::path m_path;
    int m_fd = -1;
};

// An exclusive advisory lock (flock) on a directory, taken at once if it is free and held while
// the object lives; a program that was killed leaves none behind. It opens the directory, never
// a file in it.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::filesystem::path& directory);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Another program holds it (or another lock of this one). False as well when the directory
    // cannot be locked at all (it cannot be opened, or the file system has no such locks).
    bool heldElsewhere() const { return m_heldElsewhere; }

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};

// Renames a file (rename(2)). Tests replace the function to make a chosen rename fail; nothing
// else does.
int renameFile(const std::filesystem::path& from, const std::filesystem::path& to);
using RenameFunction = int (*)(const char* from, const char* to);
RenameFunction setRenameFunction(RenameFunction rename);

// Removes the temporary files beside `target` that no living writer holds (the leftovers of a
// killed save) and the files their writer made under the same name with another extension.
void removeStaleTemporaries(const std::filesystem::path& target);
// The same for every target in `dir`: the data directory's, when a program starts (a file
// written once, whose next write would sweep them, may never be written again).
void removeStaleTemporariesIn(const std::filesystem::path& dir);

} // namespace iit
