#pragma once
// The crossing between the system's texts (GBK) and Qt's strings.
//
// toQString() and fromQString() convert exactly, through UTF-8 as every other edge of the
// system does: for what is edited and stored back (edit boxes, the grid's editor, the
// clipboard). displayText() is what a widget shows: the system's texts break lines with
// CR LF, Qt's with LF.

#include "base/text.h"

#include <QString>

#include <cstddef>

namespace iit {

QString toQString(const Text& text);
Text fromQString(const QString& text);

// CR LF, and a lone CR, become LF.
QString displayLineBreaks(QString text);
// The text as a widget shows it: GBK to Unicode, line breaks as displayLineBreaks().
QString displayText(const Text& text);
// The same for the first maxBytes bytes at most (never half a character), followed by "…"
// when the text was longer: a grid cell can hold a whole pasted file, of which a cell shows a
// few words.
QString displayText(const Text& text, std::size_t maxBytes);

} // namespace iit
