#include "runtime/files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

namespace iit {
namespace {

std::filesystem::path g_programDirectory;

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

} // namespace

std::filesystem::path toPath(const Text& path) {
    return std::filesystem::path(path.toUtf8());
}

Text fromPath(const std::filesystem::path& path) {
    return Text::fromUtf8(path.string());
}

Text JoinPath(const Text& directory, std::string_view nameUtf8) {
    while (!nameUtf8.empty() && (nameUtf8.front() == '\\' || nameUtf8.front() == '/'))
        nameUtf8.remove_prefix(1);
    Text dir = directory;
    if (!dir.empty() && dir.bytes().back() != '/') dir.bytes().push_back('/');
    return dir + Text::fromUtf8(nameUtf8);
}

std::optional<std::filesystem::path>
ResolveDataDirectory(const std::optional<std::string>& override, std::string* error) {
    std::filesystem::path dir;
    if (override) {
        dir = *override;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        dir = std::filesystem::path(xdg) / "iitcalc";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = std::filesystem::path(home) / ".local" / "share" / "iitcalc";
    } else {
        if (error) *error = "neither XDG_DATA_HOME nor HOME is set; use --data-dir DIR";
        return std::nullopt;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) {
        if (error) *error = "cannot create the data directory " + dir.string();
        return std::nullopt;
    }
    return std::filesystem::absolute(dir, ec).lexically_normal();
}

void SetProgramDirectory(const std::filesystem::path& dir) {
    std::string s = dir.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    g_programDirectory = s;
}

Text ProgramDirectory() {
    return fromPath(g_programDirectory);
}

bool FileExists(const Text& path) {
    if (path.empty()) return false;
    const std::string p = path.toUtf8();
    if (p.find_first_of("*?[") != std::string::npos) {
        glob_t g{};
        const int r = ::glob(p.c_str(), GLOB_NOSORT, nullptr, &g);
        const bool found = r == 0 && g.gl_pathc > 0;
        ::globfree(&g);
        return found;
    }
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

bool DeleteFile(const Text& path) {
    if (path.empty()) return false;
    return ::unlink(path.toUtf8().c_str()) == 0;
}

bool WriteFile(const Text& path, std::initializer_list<const ByteSet*> parts) {
    if (path.empty()) return false;
    const int fd = ::open(path.toUtf8().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (const ByteSet* part : parts) {
        if (!part || part->empty()) continue;
        if (!writeAll(fd, reinterpret_cast<const char*>(part->data()), part->size())) {
            ok = false;
            break;
        }
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool WriteFile(const Text& path, const ByteSet& bytes) {
    return WriteFile(path, {&bytes});
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > maxBytes) { // the file grew while we read it
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return data;
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    // Keep the permissions of the file we replace; a new file gets the usual 0644.
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmpl.c_str(), path.c_str()) == 0) return true;
    ::unlink(tmpl.c_str());
    return false;
}

} // namespace iit
