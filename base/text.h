#pragma once
// The system's text: a GB18030 byte string.
//
// GB18030 is GBK's superset: every GBK character has the same bytes, so every file of earlier
// versions reads unchanged, and it holds every Unicode character (those beyond GBK in four
// bytes). Inside the system every text is a Text; lengths and positions count bytes. Text is a
// distinct type so that its bytes and UTF-8 strings cannot be mixed by accident: the only ways
// across are fromUtf8()/toUtf8() (glibc iconv), used at the edges (Qt widgets, paths,
// clipboard, command line). An empty text and an absent text are the same value.

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>

namespace iit {

class Text {
public:
    Text() = default;
    // Wraps GB18030 bytes as they are.
    static Text fromBytes(std::string bytes) {
        Text t;
        t.m_bytes = std::move(bytes);
        return t;
    }
    static Text fromBytes(std::string_view bytes) { return fromBytes(std::string(bytes)); }
    static Text fromBytes(const char* bytes) { return fromBytes(std::string(bytes)); }
    // Converts UTF-8 to GB18030, which holds every character; invalid UTF-8 bytes become "?".
    static Text fromUtf8(std::string_view utf8);

    // GB18030 to UTF-8; the lone byte 0x80 reads as "€", as GBK reads it; any other byte
    // sequence that is not valid GB18030 becomes U+FFFD.
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

// True when byte b is not ASCII: a text without such a byte is the same in every encoding.
inline bool isLeadByte(unsigned char b) {
    return b >= 0x80;
}

// The character walker of the system's texts (GB18030). Every function that steps through
// characters steps with it. A byte below 0x80, and the lone bytes 0x80 and 0xFF, stand alone;
// a lead byte 0x81 to 0xFE begins a four-byte character when a digit 0x30 to 0x39 follows it,
// else a two-byte one. A character cut short by the end of the text is incomplete and spans
// the bytes that are left.
struct CharSpan {
    std::size_t length = 1;
    bool complete = true;
};
inline CharSpan nextChar(std::string_view bytes, std::size_t pos) {
    const std::size_t left = bytes.size() - pos;
    const auto b = static_cast<unsigned char>(bytes[pos]);
    if (b < 0x81 || b == 0xFF) return {1, true};
    std::size_t need = 2;
    if (left >= 2) {
        const auto next = static_cast<unsigned char>(bytes[pos + 1]);
        if (next >= 0x30 && next <= 0x39) need = 4;
    }
    if (left < need) return {left, false};
    return {need, true};
}
inline std::size_t charLength(std::string_view bytes, std::size_t pos) {
    return nextChar(bytes, pos).length;
}

// The longest head of `text` of at most `width` bytes that ends between two characters.
Text cutToWidth(const Text& text, std::size_t width);

} // namespace iit
