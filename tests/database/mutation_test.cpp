// Damaged files: truncations, bit flips and hostile words over a few good tables. Each case is
// opened (for writing, read-only, with and without the password) and every field of every
// record is read; nothing may crash, read out of bounds or report an unexpected error.
#include "database/format.h"
#include "db_support.h"

#include "base/convert.h"

#include <filesystem>
#include <random>
#include <set>

namespace iit::db::testing {
namespace {

struct Seed {
    const char* what;
    std::string data;
    std::string aux;      // empty: no auxiliary file
    std::string password; // empty: plain
};

Seed plainSeed() {
    std::vector<std::vector<Value>> records;
    for (int r = 0; r < 3; ++r)
        records.push_back({Value::text(sysText("张三") + Text::fromBytes(std::to_string(r))),
                           txt("110101199001011234"), Value::number(5000 + r),
                           Value::number(r * 1.5), Value::number(4990), txt("6222"), txt("note")});
    return {"plain", encodeTableImage(batchFields(), 45000.0, records, ""), "", ""};
}

Seed encipheredSeed() {
    return {"enciphered",
            rateShapedImage(45000.0, [](int r, int i) { return Value::int32(r * 1000 + i); }), "",
            kRatePassword};
}

Seed memoSeed(const TempDir& dir) {
    const std::filesystem::path file = path(dir, "seed.kdb");
    EXPECT_TRUE(CreateDatabase(file, {{Text::fromBytes("N"), kInt, 0},
                                      {Text::fromBytes("M"), kMemo, 0},
                                      {Text::fromBytes("B"), kByteSet, 0},
                                      {Text::fromBytes("T"), kText, 5}}));
    {
        Outcome<Table> t = OpenDatabase(file);
        EXPECT_TRUE(t);
        for (int r = 0; t && r < 4; ++r) {
            EXPECT_TRUE(t->AppendBlankRecord());
            EXPECT_TRUE(t->WriteField(pos(1), Value::int32(r)));
            EXPECT_TRUE(t->WriteField(
                pos(2), Value::text(Text::fromBytes(std::string(300 * r + 10, 'm')))));
            EXPECT_TRUE(
                t->WriteField(pos(3), Value::bytes(ByteSet(static_cast<std::size_t>(700 * r), 9))));
            EXPECT_TRUE(t->WriteField(pos(4), txt("abcde")));
        }
    }
    return {"memo", readFile(dir / "seed.kdb"), readFile(dir / "seed.KDT"), ""};
}

const std::set<int> kOpenErrors = {kOk,          kErrNotDatabase, kErrTooNew,     kErrPassword,
                                   kErrFileSize, kErrAuxRead,     kErrAuxVersion, kErrAuxDamaged};
const std::set<int> kReadErrors = {kOk, kErrSeek, kErrReadField, kErrAuxAccess};

class Mutations : public DbTest {
protected:
    int m_appends = 0;

    // Opens the damaged files every way and reads everything; returns the cases opened.
    // `append`: also append a record, unless the damage may have changed the record size
    // (a damaged record size of up to 2 GB is honoured, which is slow to write).
    int exercise(const Seed& seed, const std::string& data, const std::string& aux,
                 bool append = true) {
        int opened = 0;
        struct Way {
            bool readOnly;
            std::int32_t share;
            std::string password;
        };
        // Exclusive opens take no record locks, which keeps thousands of cases fast.
        const std::vector<Way> ways = {{false, kExclusive, seed.password},
                                       {true, kExclusive, seed.password},
                                       {true, kDenyNone, seed.password.empty() ? "guess" : ""}};
        for (const Way& way : ways) {
            // Fresh files each time: rewriting a file in place can force a flush to disk.
            std::filesystem::remove(dir / "case.kdb");
            std::filesystem::remove(dir / "case.KDT");
            writeFile(dir / "case.kdb", data);
            if (!aux.empty()) writeFile(dir / "case.KDT", aux);
            OpenOptions options;
            options.readOnly = way.readOnly;
            options.shareMode = way.share;
            options.password = Text::fromBytes(way.password);
            Outcome<Table> t = OpenDatabase(path(dir, "case.kdb"), options);
            EXPECT_TRUE(kOpenErrors.count(codeOf(t))) << codeOf(t);
            if (!t) continue;
            ++opened;
            const std::vector<FieldSpec>& fields = t->fields();
            const Outcome<std::int32_t> count = t->RecordCount();
            EXPECT_TRUE(count) << codeOf(count);
            if (!count) continue;
            // The descriptors the engine accepted are all in the file.
            EXPECT_LE(116 + 72 * fields.size(), std::filesystem::file_size(dir / "case.kdb"));
            EXPECT_TRUE(t->GoFirst());
            for (std::int32_t r = 0; r <= *count; ++r) {
                for (std::size_t f = 1; f <= fields.size(); ++f) {
                    const int code = codeOf(t->ReadField(pos(static_cast<int>(f))));
                    EXPECT_TRUE(kReadErrors.count(code)) << code;
                    if (r < *count) {
                        EXPECT_NE(code, kErrSeek);
                    }
                }
                (void)t->Skip();
            }
            if (append && !way.readOnly && ++m_appends % 3 == 0) {
                // A new record takes the empty value of every field and reads back empty; only
                // a record-id counter at its limit refuses the record.
                if (const Outcome<void> appended = t->AppendBlankRecord(); !appended) {
                    EXPECT_EQ(appended.problem().code, kErrWriteRecord);
                    continue;
                }
                for (std::size_t f = 1; f <= fields.size(); ++f) {
                    const Value field = pos(static_cast<int>(f));
                    const Outcome<void> written = t->WriteField(field, std::nullopt);
                    EXPECT_TRUE(written) << codeOf(written);
                    const Outcome<Value> back = t->ReadField(field);
                    EXPECT_TRUE(back) << codeOf(back);
                    if (back) {
                        EXPECT_EQ(*back, emptyValue(fields[f - 1].type));
                    }
                }
            }
        }
        return opened;
    }
};

TEST_F(Mutations, TruncationsFlipsAndHostileWords) {
    FatalTrap trap;
    TempDir seedDir;
    const std::vector<Seed> seeds = {plainSeed(), encipheredSeed(), memoSeed(seedDir)};
    std::mt19937 random(20240601);
    const std::int32_t hostile[] = {
        0, -1, 1, 0x7FFFFFFF, static_cast<std::int32_t>(0x80000000), 0x10000, 1024, 100000, 13};
    int cases = 0, opened = 0;
    for (const Seed& seed : seeds) {
        SCOPED_TRACE(seed.what);
        ASSERT_FALSE(seed.data.empty());
        // Plain bytes to damage: an enciphered seed is damaged before enciphering, so that the
        // damage reaches the header checks behind the password.
        const std::string plain =
            seed.password.empty() ? seed.data : encipher(seed.data, seed.password, kRateCheck);
        // The keystream of the seed's length, so that each case is enciphered by one XOR.
        const std::string stream = seed.password.empty() ? std::string()
                                                         : encipher(std::string(plain.size(), '\0'),
                                                                    seed.password, kRateCheck);
        const auto sealed = [&](std::string s) {
            for (std::size_t i = 4; i < std::min(s.size(), stream.size()); ++i)
                s[i] ^= stream[i];
            return s;
        };
        const std::size_t step = seed.data.size() > 2000 ? 7 : 3;
        for (std::size_t n = 0; n < seed.data.size(); n += step, ++cases)
            opened += exercise(seed, sealed(plain.substr(0, n)), seed.aux);
        for (int i = 0; i < 300; ++i, ++cases) {
            std::string s = plain;
            // Most flips land in the header and descriptors, where the checks are.
            const std::size_t limit =
                i % 3 == 0 ? s.size() : std::min<std::size_t>(s.size(), 116 + 72 * 7);
            const std::size_t at = random() % limit;
            s[at] = static_cast<char>(s[at] ^ (1 << (random() % 8)));
            opened += exercise(seed, sealed(s), seed.aux, at < 24 || at >= 28);
        }
        // Hostile words in every header word and in the numbers of the first two descriptors.
        std::vector<std::size_t> words;
        for (std::size_t at = 4; at <= 112; at += 4)
            words.push_back(at);
        for (std::size_t d : {116u, 188u})
            for (std::size_t within : {20u, 24u, 28u})
                words.push_back(d + within);
        for (std::size_t at : words) {
            if (at + 4 > plain.size()) continue;
            for (std::int32_t word : hostile) {
                std::string s = plain;
                put<std::int32_t>(s, at, word);
                opened += exercise(seed, sealed(s), seed.aux, at != 24);
                ++cases;
            }
        }
        if (!seed.aux.empty()) {
            for (std::size_t n = 0; n < seed.aux.size(); n += 64, ++cases)
                opened += exercise(seed, seed.data, seed.aux.substr(0, n));
            for (int i = 0; i < 200; ++i, ++cases) {
                std::string s = seed.aux;
                const std::size_t at = i % 2 ? random() % 32 : random() % s.size();
                s[at] = static_cast<char>(s[at] ^ (1 << (random() % 8)));
                opened += exercise(seed, seed.data, s);
            }
            for (std::size_t at = 0; at < seed.aux.size(); at += 512) {
                for (std::int32_t word : hostile) {
                    for (std::size_t within : {4u, 16u, 20u}) {
                        std::string s = seed.aux;
                        put<std::int32_t>(s, at + within, word);
                        opened += exercise(seed, seed.data, s);
                        ++cases;
                    }
                }
            }
        }
    }
    EXPECT_GT(cases, 3000);
    EXPECT_GT(opened, cases / 4); // many damaged files still open and are read through
}

} // namespace
} // namespace iit::db::testing
