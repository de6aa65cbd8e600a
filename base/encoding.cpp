// UTF-8 <-> GB18030 through glibc iconv: the one place where the two encodings meet; and the
// strict conversion of the text files of other programs to UTF-8.
#include "base/text.h"
#include "base/unicode.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <string>
#include <string_view>

namespace iit {
namespace {

// One converter per direction and thread; iconv_open is far too slow to call per text.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts in; each input sequence the converter refuses is replaced by what
    // replacementFor() gives for it and skipped by skipLength() bytes.
    template <typename ReplaceFn, typename SkipFn>
    std::string run(std::string_view in, ReplaceFn replacementFor, SkipFn skipLength) {
        std::string out;
        if (m_cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 2 + 16);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::size_t used = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            std::size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (r != static_cast<std::size_t>(-1)) break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ (not convertible) or EINVAL (cut short at the end).
            const std::string_view replacement =
                replacementFor(reinterpret_cast<const unsigned char*>(src), srcLeft);
            std::size_t skip = skipLength(reinterpret_cast<const unsigned char*>(src), srcLeft);
            src += skip;
            srcLeft -= skip;
            if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + 16);
            std::memcpy(out.data() + used, replacement.data(), replacement.size());
            used += replacement.size();
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t m_cd;
};

// Length of the UTF-8 character that starts at p (1 for a stray byte).
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    std::size_t n = 1;
    if (p[0] >= 0xF0 && p[0] < 0xF8)
        n = 4;
    else if (p[0] >= 0xE0)
        n = 3;
    else if (p[0] >= 0xC0)
        n = 2;
    if (n > left) return 1;
    for (std::size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 1;
    return n;
}

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

} // namespace

Text Text::fromUtf8(std::string_view utf8) {
    if (isAscii(utf8)) return fromBytes(utf8);
    thread_local Converter toSystem("GB18030", "UTF-8");
    return fromBytes(toSystem.run(
        utf8, [](const unsigned char*, std::size_t) { return "?"; }, utf8Length));
}

std::string Text::toUtf8() const {
    if (isAscii(m_bytes)) return m_bytes;
    thread_local Converter fromSystem("UTF-8", "GB18030");
    // A refused byte is skipped alone so that the next byte gets its own chance; the lone byte
    // 0x80 is GBK's "€", which GB18030 has no single byte for.
    return fromSystem.run(
        m_bytes, [](const unsigned char* p, std::size_t) { return *p == 0x80 ? "€" : "\uFFFD"; },
        [](const unsigned char*, std::size_t) { return std::size_t{1}; });
}

namespace {

// Lines that `utf8` ends or begins: 1 + its line breaks (LF, CR LF or a lone CR).
std::size_t lineOf(std::string_view utf8) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\n' || (utf8[i] == '\r' && (i + 1 == utf8.size() || utf8[i + 1] != '\n')))
            ++line;
    }
    return line;
}

} // namespace

Outcome<std::string> toUtf8From(std::string_view bytes, const char* encoding) {
    const iconv_t opened = iconv_open("UTF-8", encoding);
    if (opened == reinterpret_cast<iconv_t>(-1))
        return fail(sysText("无法转换文字编码 ") + Text::fromUtf8(encoding));
    const std::unique_ptr<void, int (*)(iconv_t)> converter(opened, iconv_close);
    const iconv_t cd = converter.get();
    std::string out(bytes.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(bytes.data());
    std::size_t srcLeft = bytes.size();
    std::size_t used = 0;
    bool refused = false;
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        refused = true; // EILSEQ, or EINVAL: cut short at the end
        break;
    }
    out.resize(used);
    if (refused) {
        const std::string line = std::to_string(lineOf(out));
        return fail(sysText("第 ") + Text::fromUtf8(line) + sysText(" 行的文字不是有效的 ") +
                    Text::fromUtf8(encoding) + sysText(" 编码"));
    }
    return out;
}

bool fitsGbk(std::string_view utf8) {
    if (!isValidUtf8(utf8)) return false;
    if (isAscii(utf8)) return true;
    thread_local Converter toGbk("GBK", "UTF-8");
    bool fits = true;
    toGbk.run(
        utf8,
        [&](const unsigned char*, std::size_t) {
            fits = false;
            return "?";
        },
        utf8Length);
    return fits;
}

bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF; // the allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n || p[i + 1] < lo || p[i + 1] > hi) return false;
        for (std::size_t k = 2; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

} // namespace iit
