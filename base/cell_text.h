#pragma once
// How the text of a cell is taken, wherever a cell comes from (a grid, a pasted row, a sheet's
// cell, a configuration value): one line, and a column's name as names are compared.

#include <string>
#include <string_view>

namespace iit {

// The text on one line: a TAB and a line break (CR LF, LF or a lone CR) become one space each.
// The bytes are the system's or UTF-8: neither has these bytes inside a character.
std::string oneLine(std::string_view text);

// A column's name as it is compared with another (UTF-8): without ASCII spaces, ideographic
// spaces (U+3000), CR, LF and TAB, ASCII letters in lower case, so that an exported "姓  名" or
// "用于报税\r\n的 收 入" reads back.
std::string compactName(std::string_view utf8);
// A header cell's name as compactName gives it, without the tax client template's mark of a
// required column (a leading "*" or "＊").
std::string headerName(std::string_view utf8);

} // namespace iit
