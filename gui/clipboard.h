#pragma once
// The system clipboard's edge: the grids' clipboard texts (fields joined by TAB, lines by CR LF)
// go out as Unicode text and come back in from the clipboard's plain text.
//
// The 8-bit clipboard format of older systems ends its block with a NUL; Unicode text has no
// such byte, so a text put on the clipboard ends at its first NUL and nothing is added.

#include "base/text.h"

#include <cstddef>
#include <optional>

namespace iit::gui {

// Replaces the clipboard's content with the text.
void setClipboardText(const Text& text);

// The clipboard's plain text, whole (a paste counts the rows that fall below its grid); nullopt
// when it holds no text.
std::optional<Text> clipboardText();

} // namespace iit::gui
