#pragma once
// The system's text: a GBK (code page 936) byte string.
//
// Inside the system every text is a Text; lengths and positions count bytes. Text is a
// distinct type so that GBK bytes and UTF-8 strings cannot be mixed by accident: the only
// ways across are fromUtf8()/toUtf8() (glibc iconv), used at the edges (Qt widgets, paths,
// clipboard, command line). An empty text and an absent text are the same value.

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>

namespace iit {

class Text {
public:
    Text() = default;
    // Wraps GBK bytes as they are.
    static Text fromBytes(std::string bytes) {
        Text t;
        t.m_bytes = std::move(bytes);
        return t;
    }
    static Text fromBytes(std::string_view bytes) { return fromBytes(std::string(bytes)); }
    static Text fromBytes(const char* bytes) { return fromBytes(std::string(bytes)); }
    // Converts UTF-8 to GBK; a character GBK cannot hold becomes "?", invalid UTF-8 bytes too.
    static Text fromUtf8(std::string_view utf8);

    // GBK to UTF-8; a byte sequence that is not valid GBK becomes U+FFFD.
    std::string toUtf8() const;

    const std::string& bytes() const { return m_bytes; }
    std::string& bytes() { return m_bytes; }
    std::string_view view() const { return m_bytes; }
    const char* c_str() const { return m_bytes.c_str(); }
    std::size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    unsigned char at(std::size_t i) const { return static_cast<unsigned char>(m_bytes[i]); }

    Text& operator+=(const Text& other) {
        m_bytes += other.m_bytes;
        return *this;
    }
    friend Text operator+(Text a, const Text& b) {
        a += b;
        return a;
    }
    friend bool operator==(const Text& a, const Text& b) = default;
    friend std::strong_ordering operator<=>(const Text& a, const Text& b) {
        return a.m_bytes <=> b.m_bytes;
    }

private:
    std::string m_bytes;
};

// A fixed text of the system, written in UTF-8 source and converted once per call site:
//     static const Text kCaption = sysText("信息：");
inline Text sysText(std::string_view utf8) {
    return Text::fromUtf8(utf8);
}

// True when byte b starts a two-byte GBK character.
inline bool isLeadByte(unsigned char b) {
    return b >= 0x80;
}

// The character walker of the system's texts (GB18030): the length in bytes of the character
// that starts at `pos`. A byte below 0x80, and the lone bytes 0x80 and 0xFF, stand alone; a
// lead byte 0x81 to 0xFE begins a four-byte character when a digit 0x30 to 0x39 follows it,
// else a two-byte one. A character cut short by the end of the text counts the bytes left.
// Every function that steps through characters steps with it.
inline std::size_t CharLength(std::string_view bytes, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t left = bytes.size() - pos;
    const unsigned char b = at(pos);
    if (b < 0x81 || b == 0xFF || left < 2) return 1;
    const unsigned char next = at(pos + 1);
    if (next >= 0x30 && next <= 0x39) return left < 4 ? left : 4;
    return 2;
}

// The longest head of `text` of at most `width` bytes that ends between two characters.
Text CutToWidth(const Text& text, std::size_t width);

} // namespace iit
