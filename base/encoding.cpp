// UTF-8 <-> GBK through glibc iconv: the one place where the two encodings meet.
#include "base/text.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string>

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

    // Converts in; each input sequence the converter refuses is skipped by skipLength() bytes
    // and replaced by `replacement`.
    template <typename SkipFn>
    std::string run(std::string_view in, std::string_view replacement, SkipFn skipLength) {
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
    thread_local Converter toGbk("GBK", "UTF-8");
    return fromBytes(toGbk.run(utf8, "?", utf8Length));
}

std::string Text::toUtf8() const {
    if (isAscii(m_bytes)) return m_bytes;
    thread_local Converter fromGbk("UTF-8", "GBK");
    // A refused lead byte is skipped alone so that the next byte gets its own chance.
    return fromGbk.run(m_bytes, "\xEF\xBF\xBD",
                       [](const unsigned char*, std::size_t) { return std::size_t{1}; });
}

} // namespace iit
