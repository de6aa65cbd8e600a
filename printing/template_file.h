#pragma once
// The print template file in the program directory.

#include "base/text.h"

#include <filesystem>

namespace iit::printing {

std::filesystem::path printTemplatePath(); // "print.dbf" in the program directory

// Writes the built-in template to `path` when no file is there. False when it had to be
// written and could not be.
bool ensurePrintTemplateFile(const std::filesystem::path& path);

} // namespace iit::printing
