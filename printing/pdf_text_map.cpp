#include "printing/pdf_text_map.h"

#include <QFont>
#include <QHash>
#include <QRawFont>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace iit::printing {
namespace {

bool preferredCharacter(std::uint32_t c) {
    return (c >= 0x21 && c <= 0x7e) || c == 0x20 || (c >= 0x4e00 && c <= 0x9fff);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads "<XXXX>" at text[i]; the value, or -1.
int readCode(const std::string& text, std::size_t i) {
    if (i + 6 > text.size() || text[i] != '<' || text[i + 5] != '>') return -1;
    int v = 0;
    for (std::size_t k = 1; k <= 4; ++k) {
        const int h = hexValue(text[i + k]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

void writeCode(std::string& text, std::size_t i, std::uint16_t v) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int k = 4; k >= 1; --k) {
        text[i + static_cast<std::size_t>(k)] = kDigits[v & 0xf];
        v = static_cast<std::uint16_t>(v >> 4);
    }
}

// Patches the destinations of one "beginbfrange ... endbfrange" section, lines of the forms
// "<lo> <hi> <dst>" and "<lo> <hi> [<dst> ...]". A range of several code points given by its
// first destination counts up from it and is left alone.
int patchRanges(std::string& pdf, std::size_t begin, std::size_t end,
                const std::unordered_map<std::uint16_t, std::uint16_t>& preferred) {
    int changed = 0;
    std::size_t i = begin;
    auto replace = [&](std::size_t at) {
        const int v = readCode(pdf, at);
        if (v < 0) return;
        const auto it = preferred.find(static_cast<std::uint16_t>(v));
        if (it == preferred.end()) return;
        writeCode(pdf, at, it->second);
        ++changed;
    };
    while (i < end) {
        std::size_t eol = pdf.find('\n', i);
        if (eol == std::string::npos || eol > end) eol = end;
        const int lo = readCode(pdf, i);
        const int hi = lo >= 0 ? readCode(pdf, i + 7) : -1;
        if (hi >= 0 && i + 14 < eol) {
            std::size_t at = i + 14;
            if (pdf[at] == '[') {
                for (++at; at + 6 <= eol; at += 7) {
                    if (pdf[at] != '<') break;
                    replace(at);
                }
            } else if (lo == hi) {
                replace(at);
            }
        }
        i = eol + 1;
    }
    return changed;
}

} // namespace

std::unordered_map<std::uint16_t, std::uint16_t> preferredCodePoints(const QStringList& families) {
    std::unordered_map<std::uint16_t, std::uint16_t> out;
    std::vector<QChar> all(0x10000);
    for (std::uint32_t c = 0; c < 0x10000; ++c)
        all[c] = (c >= 0xd800 && c <= 0xdfff) ? QChar(0) : QChar(static_cast<char16_t>(c));
    std::vector<quint32> glyphs(all.size());
    for (const QString& family : families) {
        QFont font(family);
        font.setPixelSize(64);
        const QRawFont raw = QRawFont::fromFont(font);
        if (!raw.isValid()) continue;
        int n = static_cast<int>(glyphs.size());
        if (!raw.glyphIndexesForChars(all.data(), static_cast<int>(all.size()), glyphs.data(),
                                      &n) ||
            n != static_cast<int>(all.size()))
            continue;
        QHash<quint32, std::uint16_t> byGlyph;
        for (std::uint32_t c = 0x20; c < 0x10000; ++c)
            if (preferredCharacter(c) && glyphs[c] != 0 && !byGlyph.contains(glyphs[c]))
                byGlyph.insert(glyphs[c], static_cast<std::uint16_t>(c));
        // Only code points below the ideographs can have been chosen over them.
        for (std::uint32_t c = 0; c < 0x4e00; ++c) {
            if (preferredCharacter(c) || glyphs[c] == 0) continue;
            const auto it = byGlyph.constFind(glyphs[c]);
            if (it != byGlyph.cend() && !out.count(static_cast<std::uint16_t>(c)))
                out.emplace(static_cast<std::uint16_t>(c), *it);
        }
    }
    return out;
}

int repairTextMaps(std::string& pdf,
                   const std::unordered_map<std::uint16_t, std::uint16_t>& preferred) {
    int changed = 0;
    static const std::string kBegin = "beginbfrange\n";
    static const std::string kEnd = "endbfrange";
    std::size_t at = 0;
    while ((at = pdf.find("/CMapName /Adobe-Identity-UCS", at)) != std::string::npos) {
        const std::size_t streamEnd = pdf.find("endstream", at);
        if (streamEnd == std::string::npos) break;
        std::size_t b = at;
        while ((b = pdf.find(kBegin, b)) != std::string::npos && b < streamEnd) {
            const std::size_t from = b + kBegin.size();
            const std::size_t to = pdf.find(kEnd, from);
            if (to == std::string::npos || to > streamEnd) break;
            changed += patchRanges(pdf, from, to, preferred);
            b = to;
        }
        at = streamEnd;
    }
    return changed;
}

bool pdfIsWhole(std::string_view pdf) {
    if (pdf.substr(0, 5) != "%PDF-") return false;
    std::size_t end = pdf.size();
    while (end > 0 && (pdf[end - 1] == '\n' || pdf[end - 1] == '\r' || pdf[end - 1] == ' '))
        --end;
    constexpr std::string_view kEnd = "%%EOF";
    if (end < kEnd.size() || pdf.substr(end - kEnd.size(), kEnd.size()) != kEnd) return false;
    constexpr std::string_view kStart = "startxref";
    const std::size_t start = pdf.rfind(kStart, end);
    if (start == std::string_view::npos) return false;
    std::size_t i = start + kStart.size();
    while (i < end && (pdf[i] == '\n' || pdf[i] == '\r' || pdf[i] == ' '))
        ++i;
    std::size_t offset = 0;
    const std::size_t digits = i;
    for (; i < end && pdf[i] >= '0' && pdf[i] <= '9' && offset < pdf.size(); ++i)
        offset = offset * 10 + static_cast<std::size_t>(pdf[i] - '0');
    if (i == digits || offset >= start) return false;
    return pdf.substr(offset, 4) == "xref";
}

bool repairPdfTextMaps(const std::filesystem::path& pdf, const QStringList& families) {
    std::string bytes;
    {
        std::ifstream in(pdf, std::ios::binary);
        if (!in) return false;
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return false;
    }
    if (!pdfIsWhole(bytes)) return false;
    if (repairTextMaps(bytes, preferredCodePoints(families)) == 0) return true;
    std::ofstream out(pdf, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

} // namespace iit::printing
