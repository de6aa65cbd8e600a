#pragma once
// What the main window does at start-up and exit without any widget: the employer name in
// "configJS.inf", the rate table opened for the session (a damaged file is set aside and the
// built-in table takes its place) and the description text.

#include "runtime/text.h"

#include <cstdint>
#include <optional>

namespace iit::mainwindow {

const Text& EmployerPlaceholder(); // "在这里输入使用单位名称"

Text ConfigJsPath(); // "configJS.inf" in the program directory

// The employer name stored in "configJS.inf" (empty when the entry is missing); nullopt when
// the file does not exist.
std::optional<Text> ReadEmployerName();
bool SaveEmployerName(const Text& name);

struct RateTableStart {
    bool opened = false;
    std::int32_t threshold = 0; // record 1, field 1, read as a truncated integer
    // Set when a damaged file was set aside; the user is told once.
    std::optional<Text> setAsidePath;
    Text message; // what to tell the user; empty when all went well
};

// Opens the rate table at `path` under its alias with its password and reads the message
// threshold. A file that is not a readable rate table (not a table file, a wrong password, a
// damaged header, fewer than 24 fields) is renamed beside itself, the built-in table is written
// in its place and opened. A file that cannot be opened because of its permissions or another
// program's lock is left alone. `now` dates the new name of a set-aside file.
RateTableStart OpenRateTableAtStart(const Text& path, double now);

// The name a damaged file is kept under: path + ".damaged-YYYYMMDD-hhmmss", with "-2", "-3"...
// after it when that name is taken.
Text SetAsideName(const Text& path, double now);

// The description balloon: the year, a title line, the eleven lines and the credit line,
// separated by empty lines.
Text DescriptionText(double now);

} // namespace iit::mainwindow
