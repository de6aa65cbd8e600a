#include "base/paths.h"

#include "base/unicode.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace iit {
namespace {

namespace fs = std::filesystem;

fs::path g_programDirectory;

bool exists(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// The user may replace the file: a regular file (or none) with a write permission bit that
// applies to them. Root may write anything, so a file that grants nobody writing (0444) counts
// as protected for root as well.
} // namespace

fs::path joinPath(const fs::path& directory, std::string_view nameUtf8) {
    while (!nameUtf8.empty() && (nameUtf8.front() == '\\' || nameUtf8.front() == '/'))
        nameUtf8.remove_prefix(1);
    return directory / fs::path(std::string(nameUtf8));
}

Text storedPathText(const fs::path& path) {
    const std::string& s = path.native();
    if (isValidUtf8(s)) return Text::fromUtf8(s);
    return Text::fromBytes(s);
}

fs::path pathFromStoredText(const Text& stored) {
    const std::string& bytes = stored.bytes();
    const std::string asText = stored.toUtf8();
    const bool textValid = asText.find("\uFFFD") == std::string::npos;
    // Earlier versions stored a path GBK cannot hold as its own bytes: bytes that are valid
    // UTF-8 of such a path were written that way. Should they also read as a text (rare, but
    // possible), the reading that names an existing file wins.
    const bool storedRaw = isValidUtf8(bytes) && !fitsGbk(bytes);
    if (storedRaw) {
        if (textValid && !exists(bytes) && exists(asText)) return asText;
        return bytes;
    }
    return textValid ? fs::path(asText) : fs::path(bytes);
}

Text displayPath(const fs::path& path) {
    return Text::fromUtf8(path.native());
}

std::optional<fs::path> resolveDataDirectory(const std::optional<fs::path>& override,
                                             std::string* error, std::string* notice) {
    fs::path dir;
    if (override) {
        dir = *override;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        dir = fs::path(xdg) / "iitcalc";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = fs::path(home) / ".local" / "share" / "iitcalc";
    } else {
        if (error) *error = "neither XDG_DATA_HOME nor HOME is set; use --data-dir DIR";
        return std::nullopt;
    }
    std::error_code ec;
    if (notice) notice->clear();
    if (!fs::exists(dir, ec)) {
        if (dir.has_parent_path()) fs::create_directories(dir.parent_path(), ec);
        // The payroll's own directory is private whatever the umask; its parents are not ours.
        if (::mkdir(dir.c_str(), 0700) == 0) ::chmod(dir.c_str(), 0700);
    } else if (struct stat st{}; notice && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                                 (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        *notice = "the data directory " + dir.string() + " may be read by other users (mode " +
                  mode + "); chmod 700 keeps the payroll in it private";
    }
    if (!fs::is_directory(dir, ec)) {
        if (error) {
            *error = "cannot create the data directory " + dir.string();
            if (ec) *error += ": " + ec.message();
            else if (fs::exists(fs::symlink_status(dir, ec))) *error += ": it is not a directory";
        }
        return std::nullopt;
    }
    return fs::absolute(dir, ec).lexically_normal();
}

bool inDataDirectory(const fs::path& file) {
    if (g_programDirectory.empty() || file.empty()) return false;
    std::error_code ec;
    const fs::path dir = fs::absolute(file, ec).lexically_normal().parent_path();
    return !ec && dir == g_programDirectory;
}

void setProgramDirectory(const fs::path& dir) {
    std::string s = dir.native();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    g_programDirectory = s;
}

const fs::path& programDirectory() {
    return g_programDirectory;
}

bool fileExists(const fs::path& path) {
    if (path.empty()) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool deleteFile(const fs::path& path) {
    if (path.empty()) return false;
    return ::unlink(path.c_str()) == 0;
}

} // namespace iit
