#include "base/guarded_files.h"

#include <algorithm>
#include <mutex>
#include <sys/stat.h>

namespace iit {
namespace {

namespace fs = std::filesystem;

// The guarded files, a canonical path once per guard that holds it. The file dialogs ask from
// the thread that lists a folder, so the list has a lock of its own.
std::mutex& guardedMutex() {
    static std::mutex m;
    return m;
}
std::vector<fs::path>& guarded() {
    static std::vector<fs::path> files;
    return files;
}

fs::path canonicalName(const fs::path& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path.lexically_normal() : canonical;
}

} // namespace

FileGuard::FileGuard(std::vector<fs::path> files) {
    for (fs::path& f : files)
        f = canonicalName(f);
    m_files = std::move(files);
    const std::lock_guard lock(guardedMutex());
    guarded().insert(guarded().end(), m_files.begin(), m_files.end());
}

FileGuard::~FileGuard() {
    const std::lock_guard lock(guardedMutex());
    std::vector<fs::path>& all = guarded();
    for (const fs::path& f : m_files)
        if (auto it = std::find(all.begin(), all.end(), f); it != all.end()) all.erase(it);
}

bool isGuardedFile(const fs::path& path) {
    std::vector<fs::path> files;
    {
        const std::lock_guard lock(guardedMutex());
        if (guarded().empty()) return false;
        files = guarded();
    }
    const fs::path name = canonicalName(path);
    if (std::find(files.begin(), files.end(), name) != files.end()) return true;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return std::any_of(files.begin(), files.end(), [&](const fs::path& f) {
        struct stat g {};
        return ::stat(f.c_str(), &g) == 0 && g.st_dev == st.st_dev && g.st_ino == st.st_ino;
    });
}

} // namespace iit
