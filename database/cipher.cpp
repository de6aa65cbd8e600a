#include "database/cipher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace iit::db {
namespace {

// Pages kept per table: 4 MB of keystream, enough for tables of 4 MB of records.
constexpr std::size_t kMaxCachedPages = 1024;
// Bytes of a page stream discarded before the first byte of the page.
constexpr std::size_t kPageDiscard = 36;

} // namespace

std::string passwordCheckText(std::string_view password) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(password.data(), password.size(), digest, &length, EVP_md5(), nullptr) != 1 ||
        length != 16)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(32);
    for (unsigned i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 15]);
    }
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        std::swap(hex[i], hex[i + 1]);
    std::reverse(hex.begin(), hex.end());
    return hex;
}

Rc4::Rc4(std::string_view key) {
    for (int i = 0; i < 256; ++i)
        m_s[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    if (key.empty()) return;
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + m_s[i] + static_cast<std::uint8_t>(key[i % key.size()]));
        std::swap(m_s[i], m_s[j]);
    }
}

std::uint8_t Rc4::next() {
    m_i = static_cast<std::uint8_t>(m_i + 1);
    m_j = static_cast<std::uint8_t>(m_j + m_s[m_i]);
    std::swap(m_s[m_i], m_s[m_j]);
    return m_s[static_cast<std::uint8_t>(m_s[m_i] + m_s[m_j])];
}

void Rc4::discard(std::size_t n) {
    while (n-- > 0)
        next();
}

Cipher::Cipher(std::string_view password)
    : m_checkText(passwordCheckText(password)), m_base(password) {}

std::uint32_t Cipher::pageWord(std::uint64_t page) {
    const std::uint64_t end = 4 * page + 4;
    while (m_words.size() < end)
        m_words.push_back(m_base.next());
    const std::uint8_t* w = m_words.data() + 4 * page;
    return static_cast<std::uint32_t>(w[0]) | static_cast<std::uint32_t>(w[1]) << 8 |
           static_cast<std::uint32_t>(w[2]) << 16 | static_cast<std::uint32_t>(w[3]) << 24;
}

const std::uint8_t* Cipher::pageStream(std::uint64_t page) {
    if (page == m_lastPage) return m_lastStream;
    auto found = m_pages.find(page);
    if (found == m_pages.end()) {
        if (m_pages.size() >= kMaxCachedPages) m_pages.clear();
        const std::uint32_t word = pageWord(page);
        const std::uint32_t mixed = static_cast<std::uint32_t>(page) ^ word;
        char key[40];
        for (int i = 0; i < 4; ++i) {
            key[i] = static_cast<char>(word >> (8 * i));
            key[36 + i] = static_cast<char>(mixed >> (8 * i));
        }
        std::memcpy(key + 4, m_checkText.data(), std::min<std::size_t>(m_checkText.size(), 32));
        Rc4 rc4(std::string_view(key, sizeof key));
        rc4.discard(kPageDiscard);
        auto stream = std::make_unique_for_overwrite<std::uint8_t[]>(kPageSize);
        for (std::size_t i = 0; i < kPageSize; ++i)
            stream[i] = rc4.next();
        found = m_pages.emplace(page, std::move(stream)).first;
    }
    m_lastPage = page;
    m_lastStream = found->second.get();
    return m_lastStream;
}

void Cipher::apply(std::uint64_t offset, char* data, std::size_t n) {
    if (offset < 4) {
        const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(4 - offset, n));
        offset += skip;
        data += skip;
        n -= skip;
    }
    while (n > 0) {
        const std::uint64_t page = offset / kPageSize;
        const std::size_t in = static_cast<std::size_t>(offset % kPageSize);
        const std::size_t run = std::min<std::size_t>(n, kPageSize - in);
        const std::uint8_t* stream = pageStream(page) + in;
        for (std::size_t i = 0; i < run; ++i)
            data[i] = static_cast<char>(static_cast<std::uint8_t>(data[i]) ^ stream[i]);
        offset += run;
        data += run;
        n -= run;
    }
}

} // namespace iit::db
