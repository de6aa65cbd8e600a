#pragma once
// The enciphering of password-protected tables.
//
// A password has a check text (MD5 in hexadecimal, neighbouring characters swapped, the whole
// reversed), stored in the header so that a wrong password is known at once. The file is
// enciphered from offset 4 on with RC4 keyed per 4,096-byte page: the page key is a word of
// the password's own RC4 stream, the check text and the page number mixed with that word.
// The scheme is positional, so any byte can be read or rewritten alone. The keystream of a
// page depends only on the password and the page number; a Cipher keeps the pages it has
// computed so that reading one field costs a table look-up, not a key schedule.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace iit::db {

// The 32-character check text of a password.
std::string passwordCheckText(std::string_view password);

// RC4 as the format uses it: the standard key schedule and output.
class Rc4 {
public:
    explicit Rc4(std::string_view key);
    std::uint8_t next();
    void discard(std::size_t n);

private:
    std::array<std::uint8_t, 256> m_s{};
    std::uint8_t m_i = 0;
    std::uint8_t m_j = 0;
};

class Cipher {
public:
    static constexpr std::uint64_t kPageSize = 4096;

    explicit Cipher(std::string_view password);

    const std::string& checkText() const { return m_checkText; }

    // Enciphers or deciphers (the same operation) n bytes that lie at file offset `offset`;
    // bytes below offset 4 are left as they are.
    void apply(std::uint64_t offset, char* data, std::size_t n);

private:
    std::uint32_t pageWord(std::uint64_t page);
    const std::uint8_t* pageStream(std::uint64_t page);

    std::string m_checkText;
    Rc4 m_base;                        // the password's stream, advanced as far as needed
    std::vector<std::uint8_t> m_words; // the base stream so far: 4 bytes per page word
    // Computed page keystreams; dropped all at once when the cache grows past its bound.
    std::unordered_map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> m_pages;
    std::uint64_t m_lastPage = UINT64_MAX;
    const std::uint8_t* m_lastStream = nullptr;
};

} // namespace iit::db
