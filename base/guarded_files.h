#pragma once
// Files that a part of the program holds POSIX record locks on: the payroll ledger's database
// and its companion files (-wal, -shm, -journal). Those locks belong to the process, not to a
// descriptor: closing any descriptor of such a file, opened by any code of the process for any
// reason (a read to guess its type, an import the user pointed at it), silently drops every
// lock the process holds on it, and from then on this program and another one each believe
// they are alone with the file. So nothing in the program opens these files but their owner:
// the reads and writes of base/ and the table database refuse them, and the file dialogs hide
// them.
//
// A guarded path is compared by its canonical name, which covers companion files that do not
// exist yet, and by device and inode, which covers a hard link; neither comparison opens a file.

#include <filesystem>
#include <vector>

namespace iit {

// Guards the files while it lives. Guards of the same file nest: the file stays guarded until
// the last of them ends.
class FileGuard {
public:
    explicit FileGuard(std::vector<std::filesystem::path> files);
    ~FileGuard();
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;

private:
    std::vector<std::filesystem::path> m_files; // canonical
};

// True when `path` names a guarded file (through a symbolic link or a hard link too).
bool isGuardedFile(const std::filesystem::path& path);

} // namespace iit
