#pragma once
// File commands and the data directory.
//
// Paths are Texts (GBK) inside the system and UTF-8 on the file system: toPath() is the one
// crossing. The "program directory" of the system is the data directory, where its own files
// live; paths of those files are built with JoinPath(), which uses the platform separator.

#include "runtime/text.h"
#include "runtime/value.h"

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>

namespace iit {

std::filesystem::path toPath(const Text& path);
Text fromPath(const std::filesystem::path& path);

// directory + separator + name; a leading backslash or slash of name is dropped.
Text JoinPath(const Text& directory, std::string_view nameUtf8);

// Chooses the data directory: `override` when given, else $XDG_DATA_HOME/iitcalc, else
// ~/.local/share/iitcalc. Creates it when missing. On failure returns nullopt and sets error.
std::optional<std::filesystem::path>
ResolveDataDirectory(const std::optional<std::string>& override, std::string* error);
// Sets and reads the program directory (no trailing separator).
void SetProgramDirectory(const std::filesystem::path& dir);
Text ProgramDirectory();

// True when at least one directory entry matches (wildcards * and ? as in a file search).
bool FileExists(const Text& path);
bool DeleteFile(const Text& path);
// Creates or truncates the file and writes the byte-sets in order, empty ones skipped.
bool WriteFile(const Text& path, std::initializer_list<const ByteSet*> parts);
bool WriteFile(const Text& path, const ByteSet& bytes);

// Reads a whole file of at most maxBytes; nullopt when it cannot be read or is larger.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes);
// Writes a temporary file beside `path` and renames it over `path`, so that a failure at any
// point leaves the old file whole.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);

} // namespace iit
