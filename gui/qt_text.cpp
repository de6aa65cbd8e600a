// GBK texts to Qt strings and back, and the line breaks widgets show.
#include "gui/qt_text.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace iit {

namespace {

// Clipboard texts can be megabytes long and are nearly always ASCII, which is the same in GBK,
// Latin-1 and Unicode: such a text is checked and narrowed eight bytes at a time instead of
// going through UTF-8. The check ORs whole words together, so that its loop has no branch.
template <typename Unit> bool isAscii(const Unit* units, std::size_t count) {
    constexpr std::size_t perWord = 8 / sizeof(Unit);
    constexpr std::uint64_t highBits =
        sizeof(Unit) == 1 ? 0x8080808080808080u : 0xFF80FF80FF80FF80u;
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + perWord <= count; i += perWord) {
        std::uint64_t word;
        std::memcpy(&word, units + i, 8);
        any |= word;
    }
    std::uint64_t tail = 0;
    for (; i < count; ++i)
        tail |= static_cast<std::uint64_t>(units[i]);
    return (any & highBits) == 0 && tail < 0x80;
}

bool isAscii(std::string_view bytes) {
    return isAscii(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool isAscii(const QString& text) {
    return isAscii(reinterpret_cast<const char16_t*>(text.constData()),
                   static_cast<std::size_t>(text.size()));
}

} // namespace

QString toQString(const Text& text) {
    if (isAscii(text.view()))
        return QString::fromLatin1(text.view().data(), static_cast<qsizetype>(text.size()));
    return QString::fromStdString(text.toUtf8());
}

Text fromQString(const QString& text) {
    if (isAscii(text)) {
        // Four UTF-16 units at a time: the low byte of each is the character.
        static_assert(std::endian::native == std::endian::little);
        const auto* from = reinterpret_cast<const char16_t*>(text.constData());
        const auto size = static_cast<std::size_t>(text.size());
        std::string bytes(size, '\0');
        char* to = bytes.data();
        std::size_t i = 0;
        for (; i + 4 <= size; i += 4) {
            std::uint64_t w;
            std::memcpy(&w, from + i, 8);
            const auto packed =
                static_cast<std::uint32_t>((w & 0xFF) | ((w >> 8) & 0xFF00) |
                                           ((w >> 16) & 0xFF0000) | ((w >> 24) & 0xFF000000));
            std::memcpy(to + i, &packed, 4);
        }
        for (; i < size; ++i)
            to[i] = static_cast<char>(from[i]);
        return Text::fromBytes(std::move(bytes));
    }
    return Text::fromUtf8(text.toStdString());
}

QString displayLineBreaks(QString text) {
    if (!text.contains(u'\r')) return text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QString displayText(const Text& text) {
    return displayLineBreaks(toQString(text));
}

QString displayText(const Text& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return displayText(text);
    return displayText(cutToWidth(text, maxBytes)) + QChar(0x2026);
}

} // namespace iit
