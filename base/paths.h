#pragma once
// File names and the data directory.
//
// Paths are std::filesystem::path from end to end (UTF-8 on Linux): a file name need not be
// valid in any text encoding. A path becomes a Text only where the system stores it in one of its
// configuration files (storedPathText and pathFromStoredText) or shows it in a message
// (displayPath). The "program directory" of the system is the data directory, where its own
// files live; their paths are built with joinPath().

#include "base/text.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace iit {

// directory / name; a leading backslash or slash of name is dropped.
std::filesystem::path joinPath(const std::filesystem::path& directory, std::string_view nameUtf8);

// A path as the configuration files store it: its text (GB18030, which every character fits)
// when its name is valid UTF-8, else the path's own bytes. pathFromStoredText reads either form
// back without mangling it, and the own bytes that earlier versions stored for paths GBK could
// not hold.
Text storedPathText(const std::filesystem::path& path);
std::filesystem::path pathFromStoredText(const Text& stored);
// A path for a message to the user.
Text displayPath(const std::filesystem::path& path);

// Chooses the data directory: `override` when given, else $XDG_DATA_HOME/iitcalc, else
// ~/.local/share/iitcalc. Creates it when missing, 0700 whatever the umask: it holds a company's
// payroll. On failure returns nullopt and sets error. An existing directory that other users
// may enter is left as it is and told in `notice` (empty otherwise), for the program to tell
// once a run.
std::optional<std::filesystem::path>
resolveDataDirectory(const std::optional<std::filesystem::path>& override, std::string* error,
                     std::string* notice = nullptr);
// Sets and reads the program directory (no trailing separator).
void setProgramDirectory(const std::filesystem::path& dir);
const std::filesystem::path& programDirectory();
// True when `file` lies directly in the program directory: what the program writes there is
// private (0600).
bool inDataDirectory(const std::filesystem::path& file);

// True when a file or directory of that name exists. Names are names, never patterns.
bool fileExists(const std::filesystem::path& path);
bool deleteFile(const std::filesystem::path& path);
} // namespace iit
