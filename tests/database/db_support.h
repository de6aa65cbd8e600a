#pragma once
// Shared pieces of the table-database tests: raw file images built without the engine's own
// encoders, a small RC4 of the test's own, and a fatal handler that leaves by an exception.

#include "base/fatal.h"
#include "base/files.h"
#include "database/database.h"
#include "database/format.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace iit::db::testing {

using iit::testing::readFile;
using iit::testing::TempDir;
using iit::testing::writeFile;

// The check text of the rate table's password, computed once by hand.
inline const std::string kRatePassword = "qvr4729158";
inline const std::string kRateCheck = "a92f988ecaa7f3ed8a2c7a3d699e4f33";

template <typename T> void put(std::string& s, std::size_t at, T v) {
    if (s.size() < at + sizeof v) s.resize(at + sizeof v, '\0');
    std::memcpy(s.data() + at, &v, sizeof v);
}

template <typename T> T get(const std::string& s, std::size_t at) {
    T v{};
    std::memcpy(&v, s.data() + at, sizeof v);
    return v;
}

struct RawField {
    std::string name;
    std::int32_t type;
    std::int32_t width; // as stored in the descriptor
    std::int32_t offset;
};

// Header + field count + descriptors of a table, records left to the caller.
inline std::string rawTable(const std::vector<RawField>& fields, std::int32_t recordSize,
                            std::int32_t count, std::int32_t counter, double created,
                            const std::string& check = {}) {
    std::string s(116 + 72 * fields.size(), '\0');
    std::memcpy(s.data(), check.empty() ? "QKDB" : "QCDB", 4);
    put<std::int32_t>(s, 4, 0x10000);
    put<double>(s, 8, created);
    put<std::int32_t>(s, 16, count);
    put<std::int32_t>(s, 20, counter);
    put<std::int32_t>(s, 24, recordSize);
    std::memcpy(s.data() + 28, check.data(), check.size());
    put<std::int32_t>(s, 112, static_cast<std::int32_t>(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t d = 116 + 72 * i;
        std::memcpy(s.data() + d, fields[i].name.data(), fields[i].name.size());
        put<std::int32_t>(s, d + 20, fields[i].type);
        put<std::int32_t>(s, d + 24, fields[i].offset);
        put<std::int32_t>(s, d + 28, fields[i].width);
    }
    return s;
}

inline std::vector<std::uint8_t> rc4(const std::string& key, std::size_t n) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<std::uint8_t>(key[static_cast<std::size_t>(i) % key.size()])) &
            255;
        std::swap(s[i], s[j]);
    }
    std::vector<std::uint8_t> out(n);
    for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        out[k] = s[(s[i] + s[j]) & 255];
    }
    return out;
}

// Enciphers a plain image (magic already "QCDB") page by page from offset 4 on.
inline std::string encipher(std::string image, const std::string& password,
                            const std::string& check) {
    const std::size_t pages = (image.size() + 4095) / 4096;
    const std::vector<std::uint8_t> base = rc4(password, 4 * pages);
    for (std::size_t p = 0; p < pages; ++p) {
        std::uint32_t w = 0;
        std::memcpy(&w, base.data() + 4 * p, 4);
        std::string key(40, '\0');
        std::memcpy(key.data(), &w, 4);
        std::memcpy(key.data() + 4, check.data(), 32);
        const std::uint32_t mixed = static_cast<std::uint32_t>(p) ^ w;
        std::memcpy(key.data() + 36, &mixed, 4);
        const std::vector<std::uint8_t> ks = rc4(key, 36 + 4096);
        for (std::size_t r = 0; r < 4096 && p * 4096 + r < image.size(); ++r)
            if (p * 4096 + r >= 4) image[p * 4096 + r] ^= static_cast<char>(ks[36 + r]);
    }
    return image;
}

// Fatal runtime errors become this exception while a FatalTrap lives.
struct FatalRaised : std::runtime_error {
    explicit FatalRaised(const Text& m) : std::runtime_error(m.toUtf8()) {}
};

class FatalTrap {
public:
    FatalTrap()
        : m_previous(
              setFatalHandler([](int, const Text& message) { throw FatalRaised(message); })) {}
    ~FatalTrap() { setFatalHandler(std::move(m_previous)); }

private:
    FatalHandler m_previous;
};

inline std::filesystem::path path(const TempDir& dir, const std::string& name) {
    return dir / name;
}

inline Value pos(int i) {
    return Value::int32(i);
}
inline Value name(const char* utf8) {
    return Value::text(sysText(utf8));
}
inline Value txt(const char* bytes) {
    return Value::text(Text::fromBytes(bytes));
}

// The engine's error code of an outcome: kOk for a success.
template <typename T> int codeOf(const Outcome<T>& outcome) {
    return outcome ? kOk : outcome.problem().code;
}

// Every test works in a directory of its own.
class DbTest : public ::testing::Test {
protected:
    TempDir dir;
};

// The batch-file field list.
inline std::vector<FieldSpec> batchFields() {
    return {{sysText("姓名"), kText, 16},      {sysText("身份证号"), kText, 20},
            {sysText("收入"), kDouble, 0},     {sysText("应缴税"), kDouble, 0},
            {sysText("所得合计"), kDouble, 0}, {sysText("银行卡号"), kText, 20},
            {sysText("备注"), kText, 20}};
}

// An image shaped like the rate table: 24 int fields F1..F24 and 9 records, field i of record r
// (both from 0) holding value(r, i); password-protected unless `password` is empty.
template <typename ValueOf>
std::string rateShapedImage(double created, ValueOf value,
                            const std::string& password = kRatePassword) {
    std::vector<FieldSpec> ints;
    std::vector<std::vector<Value>> records(9);
    for (int i = 1; i <= 24; ++i)
        ints.push_back({Text::fromBytes("F" + std::to_string(i)), kInt, 0});
    for (int r = 0; r < 9; ++r)
        for (int i = 0; i < 24; ++i)
            records[static_cast<std::size_t>(r)].push_back(value(r, i));
    return encodeTableImage(ints, created, records, password);
}

} // namespace iit::db::testing
