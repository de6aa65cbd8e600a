// The bytes on disk: layout, check text, enciphering, stored forms of values.
#include "database/cipher.h"
#include "database/format.h"
#include "db_support.h"

#include "base/convert.h"

#include <cmath>
#include <filesystem>

namespace iit::db::testing {
namespace {

TEST(passwordCheckText, KnownAnswers) {
    EXPECT_EQ(passwordCheckText(kRatePassword), kRateCheck);
    EXPECT_EQ(passwordCheckText(""), "7e42f8ec980980e904b2008fd98c1dd4");
    EXPECT_EQ(passwordCheckText("abc"), "727fe1287d3f96d6b04fd23c98500190");
}

TEST(Cipher, MatchesIndependentPageStreamAcrossPages) {
    // Three pages of known bytes, deciphered in pieces that cross page borders.
    std::string plain(3 * 4096 + 100, '\0');
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(i * 7 + 3);
    const std::string expected = encipher(plain, kRatePassword, kRateCheck);
    Cipher cipher(kRatePassword);
    struct Piece {
        std::size_t offset, length;
    };
    for (const Piece& p : {Piece{0, 10}, Piece{2, 5000}, Piece{4090, 12}, Piece{8191, 4200},
                           Piece{0, plain.size()}, Piece{100, 1}}) {
        std::string chunk = plain.substr(p.offset, p.length);
        cipher.apply(p.offset, chunk.data(), chunk.size());
        EXPECT_EQ(chunk, expected.substr(p.offset, p.length)) << "offset " << p.offset;
    }
    EXPECT_EQ(expected.substr(0, 4), plain.substr(0, 4)); // the magic stays readable
}

struct LayoutCase {
    const char* what;
    std::vector<FieldSpec> fields;
    std::int32_t recordSize;
    std::vector<std::int32_t> offsets;
    std::size_t firstRecord; // where record 0 starts: the length of the empty table
};

TEST_F(DbTest, LayoutOfNewTables) {
    std::vector<FieldSpec> ints;
    for (int i = 1; i <= 24; ++i)
        ints.push_back({Text::fromBytes("F" + std::to_string(i)), kInt, 0});
    std::vector<std::int32_t> intOffsets;
    for (int i = 0; i < 24; ++i)
        intOffsets.push_back(4 + 4 * i);
    const std::vector<LayoutCase> cases = {
        {"batch file", batchFields(), 104, {4, 20, 40, 48, 56, 64, 84}, 620},
        {"rate table", ints, 100, intOffsets, 1844},
        {"every type",
         {{Text::fromBytes("a"), kByte, 7},
          {Text::fromBytes("b"), kShort, 0},
          {Text::fromBytes("c"), kInt, 0},
          {Text::fromBytes("d"), kInt64, 0},
          {Text::fromBytes("e"), kFloat, 0},
          {Text::fromBytes("f"), kDouble, 0},
          {Text::fromBytes("g"), kBool, 0},
          {Text::fromBytes("h"), kDateTime, 0},
          {Text::fromBytes("i"), kSubroutine, 0},
          {Text::fromBytes("j"), kText, 3},
          {Text::fromBytes("k"), kByteSet, 0},
          {Text::fromBytes("l"), kMemo, 0}},
         4 + 1 + 2 + 4 + 8 + 4 + 8 + 1 + 8 + 4 + 3 + 4 + 4,
         {4, 5, 7, 11, 19, 23, 31, 32, 40, 44, 47, 51},
         116 + 12 * 72},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = path(dir, std::string(c.what) + ".dat");
        const Outcome<void> created = CreateDatabase(file, c.fields);
        ASSERT_TRUE(created) << created.problem().code;
        const std::string bytes = readFile(file);
        ASSERT_EQ(bytes.size(), c.firstRecord);
        EXPECT_EQ(bytes.substr(0, 4), "QKDB");
        EXPECT_EQ(get<std::int32_t>(bytes, 4), 0x10000);
        EXPECT_NEAR(get<double>(bytes, 8), Now(), 1.0 / 24);
        EXPECT_EQ(get<std::int32_t>(bytes, 16), 0);
        EXPECT_EQ(get<std::int32_t>(bytes, 20), 1);
        EXPECT_EQ(get<std::int32_t>(bytes, 24), c.recordSize);
        EXPECT_EQ(bytes.substr(28, 84), std::string(84, '\0'));
        EXPECT_EQ(get<std::int32_t>(bytes, 112), static_cast<std::int32_t>(c.fields.size()));
        for (std::size_t i = 0; i < c.fields.size(); ++i) {
            const std::size_t d = 116 + 72 * i;
            EXPECT_EQ(bytes.substr(d, 17).c_str(), c.fields[i].name.bytes());
            EXPECT_EQ(get<std::int32_t>(bytes, d + 20), c.fields[i].type);
            EXPECT_EQ(get<std::int32_t>(bytes, d + 24), c.offsets[i]) << "field " << i + 1;
            EXPECT_EQ(get<std::int32_t>(bytes, d + 28),
                      c.fields[i].type == kText ? c.fields[i].width : 0);
        }
        // The first record starts right after the descriptors and carries stamp 1.
        ASSERT_TRUE(OpenDatabase(file)->AppendBlankRecord());
        const std::string withRecord = readFile(file);
        ASSERT_EQ(withRecord.size(), bytes.size() + static_cast<std::size_t>(c.recordSize));
        EXPECT_EQ(get<std::int32_t>(withRecord, bytes.size()), 1);
        EXPECT_EQ(withRecord.substr(bytes.size() + 4),
                  std::string(static_cast<std::size_t>(c.recordSize) - 4, '\0'));
    }
}

TEST(TableImage, RateTableIs2744Bytes) {
    const auto value = [](int r, int i) { return Value::number(r * 100 + i + 0.75); };
    const std::string image = rateShapedImage(40000.25, value);
    ASSERT_EQ(image.size(), 2744u);

    // The test's own construction of the same file.
    std::vector<RawField> raw;
    for (int i = 0; i < 24; ++i)
        raw.push_back({"F" + std::to_string(i + 1), kInt, 0, 4 + 4 * i});
    std::string expected = rawTable(raw, 100, 9, 10, 40000.25, kRateCheck);
    for (int r = 0; r < 9; ++r) {
        const std::size_t at = 1844 + 100 * static_cast<std::size_t>(r);
        put<std::int32_t>(expected, at, r + 1);
        for (int i = 0; i < 24; ++i)
            put<std::int32_t>(expected, at + 4 + 4 * static_cast<std::size_t>(i), r * 100 + i);
    }
    EXPECT_EQ(image, encipher(expected, kRatePassword, kRateCheck));
    EXPECT_EQ(rateShapedImage(40000.25, value, ""),
              expected.replace(0, 4, "QKDB").replace(28, 33, std::string(33, '\0')));
}

TEST(TableImage, RefusesBadInput) {
    const std::vector<FieldSpec> one = {{Text::fromBytes("a"), kInt, 0}};
    EXPECT_EQ(encodeTableImage({}, 0, {}, ""), "");
    EXPECT_EQ(encodeTableImage({{Text::fromBytes("1a"), kInt, 0}}, 0, {}, ""), "");
    EXPECT_EQ(encodeTableImage(one, 0, {{txt("x")}}, ""), "");       // text into int
    EXPECT_EQ(encodeTableImage(one, 0, {{pos(1), pos(2)}}, ""), ""); // too many values
    EXPECT_EQ(encodeTableImage({{Text::fromBytes("m"), kMemo, 0}}, 0, {{txt("x")}}, ""), "");
    EXPECT_EQ(encodeTableImage(one, 0, {{}}, "").size(), 116u + 72 + 8); // missing = empty
}

// A small plain table written through the engine, compared with bytes built here.
TEST_F(DbTest, PlainTableByteExact) {
    const std::filesystem::path file = path(dir, "plain.kdb");
    const std::vector<FieldSpec> fields = {
        {Text::fromBytes("Name"), kText, 6},     {Text::fromBytes("Count"), kInt, 9},
        {Text::fromBytes("Amount"), kDouble, 0}, {Text::fromBytes("Flag"), kBool, 0},
        {Text::fromBytes("When"), kDateTime, 0}, {Text::fromBytes("Small"), kShort, 0},
        {Text::fromBytes("Tiny"), kByte, 0},     {Text::fromBytes("Big"), kInt64, 0},
        {Text::fromBytes("Single"), kFloat, 0},  {Text::fromBytes("Sub"), kSubroutine, 0}};
    ASSERT_TRUE(CreateDatabase(file, fields));
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->AppendBlankRecord());
        ASSERT_TRUE(t->WriteField(pos(1), txt("ab\xD6\xD0")));
        ASSERT_TRUE(t->WriteField(name("count"), Value::number(-7.9)));
        ASSERT_TRUE(t->WriteField(pos(3), Value::int32(12)));
        ASSERT_TRUE(t->WriteField(pos(4), Value::boolean(5)));
        ASSERT_TRUE(t->WriteField(pos(5), Value::dateTime(45000.5)));
        ASSERT_TRUE(t->WriteField(pos(6), Value::number(70000)));
        ASSERT_TRUE(t->WriteField(pos(7), Value::int32(300)));
        ASSERT_TRUE(t->WriteField(pos(8), Value::number(-1e15)));
        ASSERT_TRUE(t->WriteField(pos(9), Value::number(0.1)));
        ASSERT_TRUE(t->WriteField(pos(10), Value::subroutine(-3)));
        ASSERT_TRUE(t->AppendBlankRecord());
        ASSERT_TRUE(t->WriteField(pos(1), txt("longer than six")));
    }

    const std::string actual = readFile(file);
    std::vector<RawField> raw = {{"Name", 10, 6, 4}, {"Count", 3, 0, 10}, {"Amount", 6, 0, 14},
                                 {"Flag", 7, 0, 22}, {"When", 8, 0, 23},  {"Small", 2, 0, 31},
                                 {"Tiny", 1, 0, 33}, {"Big", 4, 0, 34},   {"Single", 5, 0, 42},
                                 {"Sub", 9, 0, 46}};
    std::string expected = rawTable(raw, 50, 2, 3, get<double>(actual, 8));
    const std::size_t r0 = expected.size();
    expected.resize(r0 + 100, '\0');
    put<std::int32_t>(expected, r0, 1);
    std::memcpy(expected.data() + r0 + 4, "ab\xD6\xD0\0\0", 6);
    put<std::int32_t>(expected, r0 + 10, -7);
    put<double>(expected, r0 + 14, 12.0);
    put<std::uint8_t>(expected, r0 + 22, 1);
    put<double>(expected, r0 + 23, 45000.5);
    put<std::int16_t>(expected, r0 + 31, static_cast<std::int16_t>(70000 - 65536));
    put<std::uint8_t>(expected, r0 + 33, 300 - 256);
    put<std::int64_t>(expected, r0 + 34, -1000000000000000);
    put<float>(expected, r0 + 42, 0.1f);
    put<std::int32_t>(expected, r0 + 46, -3);
    put<std::int32_t>(expected, r0 + 50, 2);
    std::memcpy(expected.data() + r0 + 54, "longer", 6);
    EXPECT_EQ(actual, expected);
}

// A password-protected table: the image, then one field rewritten through the engine.
TEST_F(DbTest, PasswordTableByteExact) {
    const std::vector<FieldSpec> fields = {{Text::fromBytes("A"), kInt, 0},
                                           {Text::fromBytes("B"), kText, 5},
                                           {Text::fromBytes("C"), kDouble, 0}};
    const std::vector<std::vector<Value>> records = {
        {Value::int32(7), txt("same"), Value::number(1.5)},
        {Value::int32(7), txt("same"), Value::number(1.5)},
        {Value::number(-2.5), txt("toolong"), Value::int64(3)}};
    const std::string image = encodeTableImage(fields, 44000.0, records, kRatePassword);

    std::string plain =
        rawTable({{"A", 3, 0, 4}, {"B", 10, 5, 8}, {"C", 6, 0, 13}}, 21, 3, 4, 44000.0, kRateCheck);
    const std::size_t start = plain.size();
    plain.resize(start + 63, '\0');
    for (int r = 0; r < 3; ++r)
        put<std::int32_t>(plain, start + 21 * static_cast<std::size_t>(r), r + 1);
    for (int r = 0; r < 2; ++r) {
        const std::size_t at = start + 21 * static_cast<std::size_t>(r);
        put<std::int32_t>(plain, at + 4, 7);
        std::memcpy(plain.data() + at + 8, "same", 4);
        put<double>(plain, at + 13, 1.5);
    }
    put<std::int32_t>(plain, start + 42 + 4, -2);
    std::memcpy(plain.data() + start + 42 + 8, "toolo", 5);
    put<double>(plain, start + 42 + 13, 3.0);
    ASSERT_EQ(image, encipher(plain, kRatePassword, kRateCheck));

    // Equal records give different bytes on disk.
    EXPECT_NE(image.substr(start + 4, 17), image.substr(start + 21 + 4, 17));

    const std::filesystem::path file = path(dir, "rates.dat");
    writeFile(file, image);
    OpenOptions options;
    options.password = Text::fromBytes(kRatePassword);
    {
        Outcome<Table> t = OpenDatabase(file, options);
        ASSERT_TRUE(t) << t.problem().code;
        EXPECT_EQ(*t->RecordCount(), 3);
        ASSERT_TRUE(t->Skip(1));
        EXPECT_EQ(*t->ReadField(pos(2)), txt("same"));
        ASSERT_TRUE(t->WriteField(pos(3), Value::number(99.25)));
    }
    put<double>(plain, start + 21 + 13, 99.25);
    const std::string after = readFile(file);
    EXPECT_EQ(after, encipher(plain, kRatePassword, kRateCheck));
    // Only the rewritten field's bytes changed.
    for (std::size_t i = 0; i < after.size(); ++i)
        if (after[i] != image[i]) {
            EXPECT_TRUE(i >= start + 21 + 13 && i < start + 21 + 21) << i;
        }
}

struct WriteCase {
    const char* what;
    std::int32_t type;
    std::int32_t width;
    std::optional<Value> value;
    int error;
    std::string stored; // expected bytes when error == kOk
    Value readBack;
};

std::string bytesOf(auto v) {
    std::string s(sizeof v, '\0');
    std::memcpy(s.data(), &v, sizeof v);
    return s;
}

TEST_F(DbTest, ConversionsOnWrite) {
    const std::vector<WriteCase> cases = {
        {"text cut", kText, 4, txt("abcdefg"), kOk, "abcd", txt("abcd")},
        {"text padded", kText, 4, txt("abc"), kOk, std::string("abc\0", 4), txt("abc")},
        {"text omitted", kText, 3, std::nullopt, kOk, std::string(3, '\0'), txt("")},
        {"double into int truncates", kInt, 0, Value::number(-2.9), kOk, bytesOf(std::int32_t{-2}),
         Value::int32(-2)},
        {"huge double into int", kInt, 0, Value::number(1e300), kOk, bytesOf(std::int32_t{0}),
         Value::int32(0)},
        {"int into double", kDouble, 0, Value::int32(-5), kOk, bytesOf(-5.0), Value::number(-5)},
        {"int64 into short wraps", kShort, 0, Value::int64(65537), kOk, bytesOf(std::int16_t{1}),
         Value::int16(1)},
        {"float into byte", kByte, 0, Value::float32(255.9f), kOk, bytesOf(std::uint8_t{255}),
         Value::byte(255)},
        {"double into float", kFloat, 0, Value::number(1e40), kOk, bytesOf(INFINITY),
         Value::float32(INFINITY)},
        {"byte into int64", kInt64, 0, Value::byte(200), kOk, bytesOf(std::int64_t{200}),
         Value::int64(200)},
        {"omitted double", kDouble, 0, std::nullopt, kOk, bytesOf(0.0), Value::number(0)},
        {"bool stored as 1", kBool, 0, Value::boolean(-9), kOk, "\x01", Value::boolean(1)},
        {"date kept, read clamped", kDateTime, 0, Value::dateTime(9e6), kOk, bytesOf(9e6),
         Value::dateTime(2958465)},
        {"text into int", kInt, 0, txt("12"), kErrTypeMismatch, {}, {}},
        {"text into double", kDouble, 0, txt("1.5"), kErrTypeMismatch, {}, {}},
        {"number into text", kText, 4, Value::number(1), kErrTypeMismatch, {}, {}},
        {"number into bool", kBool, 0, Value::number(1), kErrTypeMismatch, {}, {}},
        {"bool into int", kInt, 0, Value::boolean(1), kErrTypeMismatch, {}, {}},
        {"number into date", kDateTime, 0, Value::number(3), kErrTypeMismatch, {}, {}},
        {"text into memo ok, bytes refused", kMemo, 0, Value::bytes({1}), kErrTypeMismatch, {}, {}},
        {"text into byte-set", kByteSet, 0, txt("x"), kErrTypeMismatch, {}, {}},
    };
    int n = 0;
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = path(dir, "conv" + std::to_string(n++) + ".kdb");
        ASSERT_TRUE(CreateDatabase(
            file, {{Text::fromBytes("Pad"), kInt, 0}, {Text::fromBytes("V"), c.type, c.width}}));
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->AppendBlankRecord());
        ASSERT_TRUE(t->WriteField(pos(1), Value::int32(-1)));
        ASSERT_TRUE(t->WriteField(pos(2), emptyValue(c.type)));
        const std::string before = readFile(file);
        EXPECT_EQ(codeOf(t->WriteField(pos(2), c.value)), c.error);
        const std::string after = readFile(file);
        const std::size_t at = 116 + 2 * 72 + 8;
        if (c.error == kOk) {
            if (c.type != kMemo && c.type != kByteSet) {
                EXPECT_EQ(after.substr(at, c.stored.size()), c.stored);
            }
            EXPECT_EQ(*t->ReadField(pos(2)), c.readBack);
        } else {
            EXPECT_EQ(after, before); // the field is left unchanged
        }
        EXPECT_EQ(*t->ReadField(pos(1)), Value::int32(-1)); // the neighbour is untouched
    }
}

TEST(Names, ValidNamesAndCaseInsensitiveMatch) {
    struct Case {
        const char* utf8;
        bool valid;
    };
    for (const Case& c :
         {Case{"abc", true}, Case{"设置税率表", true}, Case{"Ａ１", true}, Case{"a1", true},
          Case{"1a", false}, Case{"１a", false}, Case{"a_b", false}, Case{"a b", false},
          Case{"", false}, Case{"税率。", false}, Case{"x－", false}})
        EXPECT_EQ(isValidName(sysText(c.utf8).view()), c.valid) << c.utf8;
    EXPECT_TRUE(sameName("Amount", "aMOUNT"));
    EXPECT_TRUE(sameName(sysText("姓名").view(), sysText("姓名").view()));
    // A trail byte that looks like a letter is not folded: 0xB0 0x61 vs 0xB0 0x41.
    EXPECT_FALSE(sameName("\xB0\x61", "\xB0\x41"));
    EXPECT_FALSE(sameName("ab", "abc"));
}

} // namespace
} // namespace iit::db::testing
