#pragma once
// What the main window does at start-up and exit without any widget: the employer name in
// "configJS.inf" and the description text. The rate table's start-up is the rate-table file's
// (engine::RateTableFile::start), shared with the command line.

#include "base/outcome.h"
#include "base/text.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace iit::mainwindow {

const Text& employerPlaceholder(); // "在这里输入使用单位名称"
// The employer's name the employer box holds: empty while it shows the placeholder.
Text employerOf(const Text& box);

std::filesystem::path configJsPath(); // "configJS.inf" in the program directory

// The employer name stored in "configJS.inf" (empty when the entry is missing); nullopt when
// the file does not exist. Fails, saying why, when the file is there but cannot be read.
Outcome<std::optional<Text>> readEmployerName();
Outcome<void> saveEmployerName(const Text& name);

// The description balloon: the year, a title line, the eleven lines and the credit line,
// separated by empty lines.
Text descriptionText(double now);

} // namespace iit::mainwindow
