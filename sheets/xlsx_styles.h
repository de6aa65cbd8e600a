#pragma once
// Which cell styles of an .xlsx workbook show numbers as dates or times, and the text of such a
// number: a number cell whose style's number format is a date format is a date.

#include "base/outcome.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iit::sheets {

class ZipArchive;

enum class DateShape : std::uint8_t { None, Date, Time, DateTime };

// The shape of a built-in number format: 14 to 22 (and the East Asian built-ins 27 to 36, 45 to
// 47 and 50 to 58, which files of Chinese spreadsheets use without defining them).
DateShape builtInFormatShape(int id);
// The shape of a format code: date letters (y, d, or m without h or s) and time letters (h, s,
// elapsed [h] [m] [s]) outside quoted text, escapes and other bracketed parts of its first
// section.
DateShape formatCodeShape(std::string_view code);

// The shape of each cell style (cellXfs, by index) of the styles part.
Outcome<std::vector<DateShape>> readStyles(ZipArchive& zip, std::string_view part);

// The text of a date serial in that shape ("2024-03-01", "12:30:00", "2024-03-01 12:30:00");
// nullopt when the serial lies outside the years 1900 (1904) to 9999.
std::optional<std::string> serialDateText(double serial, DateShape shape, bool date1904);

} // namespace iit::sheets
