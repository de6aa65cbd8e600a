#pragma once
// What screen readers see of the windows. The window templates give the units their accessible
// names and descriptions; this part gives the line edits an accessible interface of our own.
//
// Qt's own interface of a line edit finds the word or sentence at an offset with a loop that
// never ends on text without word items, such as Chinese (a client reading the box by word hangs
// the program). Ours walks the text's boundaries once and always ends; it also reports where
// EditBox draws its own rows (its hint, a multi-line content), which QLineEdit's layout does not
// know.

#include <QAccessible>
#include <QString>

#include <utility>

namespace iit::gui {

// Installs the factory of our interfaces; once, before any window exists (initWindowRuntime
// calls it). Later calls do nothing.
void installAccessibleInterfaces();

// The item of `type` (character, word, sentence, line or paragraph, the whole text) that holds
// `offset` in `text`, as [first, end). A word or a sentence is a piece between two boundaries of
// QTextBoundaryFinder, so each ideograph is a word of its own; a line ends after its line break.
// {-1, -1} for an offset outside the text; at the end of the text the last item, or
// {length, length} for a character.
std::pair<int, int> textItemAt(const QString& text, int offset, QAccessible::TextBoundaryType type);

} // namespace iit::gui
