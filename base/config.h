#pragma once
// Configuration files: GBK text files of "[section]" headers and "key=value" entries,
// lines separated by CR LF. Section and key names match without regard to letter case;
// blanks around keys and values are not part of them; a value in double quotes is read
// without them; other lines are ignored when reading and kept when writing.

#include "base/outcome.h"
#include "base/text.h"

#include <filesystem>
#include <optional>

namespace iit {

constexpr std::size_t kMaxConfigValue = 10239;

// Files larger than this are no configuration files: reads and writes refuse them rather than
// take or rewrite something that was never read whole. FIFOs and devices are never read.
constexpr std::size_t kMaxConfigFile = 4u << 20;

// The value of key in section, cut to 10,239 bytes; `fallback` when the file, the section or
// the key is missing; empty when the path is empty or section or key is empty after skipping
// leading blanks. Fails, saying why, when the file is there but cannot be read (a directory, a
// FIFO, no permission, too large): the caller decides whether the fallback serves.
Outcome<Text> readConfigItem(const std::filesystem::path& path, const Text& section,
                             const Text& key, const Text& fallback = {});

// key absent: removes the whole section. value absent: removes the entry. Both: replaces the
// entry's value in place, or adds the entry at the end of the section (and the section at the
// end of the file). Fails when the file cannot be read whole (a directory, a FIFO, too large)
// or written, saying why. The file is replaced atomically, so a failure leaves the old file
// whole.
Outcome<void> writeConfigItem(const std::filesystem::path& path, const Text& section,
                              const std::optional<Text>& key, const std::optional<Text>& value);

} // namespace iit
