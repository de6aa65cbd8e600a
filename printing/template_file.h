#pragma once
// The print template file in the program directory.

#include "base/text.h"

#include <filesystem>

namespace iit::printing {

std::filesystem::path PrintTemplatePath(); // "print.dbf" in the program directory

// Writes the built-in template to `path` when no file is there. False when it had to be
// written and could not be.
bool EnsurePrintTemplateFile(const std::filesystem::path& path);

} // namespace iit::printing
