#pragma once
// Keeps the text of a written PDF searchable.
//
// The PDF writer maps each embedded glyph back to the lowest code point that the font maps to
// it. CJK fonts map the Kangxi radicals (U+2F00 on) to the glyphs of the ideographs they look
// like, and a tab to the space's glyph, so "人" would be copied out of the PDF as the radical
// "⼈" and a search for "个人所得税" would find nothing. After the file is written, its
// ToUnicode maps are corrected in place: a code point that shares its glyph with a printable
// ASCII character or a unified ideograph (U+4E00 to U+9FFF) is replaced by that character.
// The replacement has the same number of hexadecimal digits, so no offset of the file moves.
// The file is checked to be whole first: the writer does not report a write that failed (a
// full disk), and a PDF cut short must not pass for a printed one.

#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace iit::printing {

// For the fonts of the families: code point -> the code point a reader should see.
std::unordered_map<std::uint16_t, std::uint16_t> preferredCodePoints(const QStringList& families);

// Rewrites the destinations of the ToUnicode maps in the PDF bytes; returns how many changed.
int repairTextMaps(std::string& pdf,
                   const std::unordered_map<std::uint16_t, std::uint16_t>& preferred);

// True when the bytes are a PDF that ends as a writer ends it: "startxref", the offset of a
// cross-reference table that is there, and "%%EOF".
bool pdfIsWhole(std::string_view pdf);

// The same on a file; false when it cannot be read or written, or is not a whole PDF.
bool repairPdfTextMaps(const std::filesystem::path& pdf, const QStringList& families);

} // namespace iit::printing
