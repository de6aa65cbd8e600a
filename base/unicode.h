#pragma once
// Strict conversion of text in a named encoding to UTF-8, for files that are not the system's
// own (spreadsheet text files): a byte sequence that does not convert is an error naming its
// line, never silently replaced. The system's own texts cross with Text::fromUtf8/toUtf8.

#include "base/outcome.h"

#include <string>
#include <string_view>

namespace iit {

// `bytes` in `encoding` (an iconv name: "UTF-16LE", "UTF-16BE", "GB18030", "UTF-8") to UTF-8.
// Fails with a message naming the 1-based line (counted at LF, CR LF or a lone CR) that holds
// the first byte sequence that does not convert, or a sequence cut short at the end.
Outcome<std::string> toUtf8From(std::string_view bytes, const char* encoding);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// True when every character of the well-formed UTF-8 `utf8` has a GBK form: what earlier
// versions could store as a text (they kept other paths as their own bytes).
bool fitsGbk(std::string_view utf8);

} // namespace iit
