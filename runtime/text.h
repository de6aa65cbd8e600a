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

} // namespace iit
