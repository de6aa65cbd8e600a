#include "base/convert.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <vector>

namespace iit {
namespace {

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}
Text B(std::string_view gbk) {
    return Text::fromBytes(gbk);
}

TEST(TextOps, LengthLeftMid) {
    EXPECT_EQ(TextLength(U("计算")), 4);
    EXPECT_EQ(TextLength(B("")), 0);
    EXPECT_EQ(TextLength(B(std::string_view("ab\0cd", 5))), 2);

    struct Left {
        const char* in;
        int n;
        std::string want;
    };
    for (const Left& c :
         {Left{"abc", 0, ""}, Left{"abc", -1, ""}, Left{"abc", 2, "ab"}, Left{"abc", 99, "abc"}}) {
        EXPECT_EQ(LeftText(B(c.in), c.n).bytes(), c.want);
    }
    EXPECT_EQ(LeftText(U("计算"), 3).bytes(),
              "\xBC\xC6\xCB"); // first character and a lone lead byte

    struct Mid {
        int start, count;
        std::string want;
    };
    for (const Mid& c : {Mid{3, 5, "c"}, Mid{4, 1, ""}, Mid{0, 2, ""}, Mid{1, 0, ""},
                         Mid{1, -1, ""}, Mid{2, 1, "b"}, Mid{1, 3, "abc"},
                         Mid{-2147483647 - 1, 3, ""}, Mid{2, 2147483647, "bc"}}) {
        EXPECT_EQ(MidText(B("abc"), c.start, c.count).bytes(), c.want) << c.start << "," << c.count;
    }
}

TEST(TextOps, CharRemoveConcatCompare) {
    EXPECT_EQ(CharText('A').bytes(), "A");
    EXPECT_TRUE(CharText(0).empty());
    EXPECT_EQ(CharText(0xB0).bytes(), "\xB0");

    EXPECT_EQ(RemoveSpaces(U(" a　b c 　")).bytes(), "abc");
    EXPECT_EQ(RemoveSpaces(U("张 三\t\r\n")).toUtf8(), "张三\t\r\n");
    EXPECT_EQ(RemoveSpaces(B("a \xA1")).bytes(), "a"); // trailing lone lead byte dropped
    EXPECT_EQ(RemoveSpaces(B("\xA1\x20"
                             "x"))
                  .bytes(),
              "\xA1\x20"
              "x"); // 0x20 as a trail byte stays

    EXPECT_EQ(ConcatText(B("a"), B(""), B("bc")).bytes(), "abc");

    struct Cmp {
        std::string a, b;
        int want;
    };
    for (const Cmp& c :
         {Cmp{"", "", 0}, Cmp{"", "a", -1}, Cmp{"a", "", 1}, Cmp{"a", "a", 0}, Cmp{"a", "ab", -1},
          Cmp{"b", "ab", 1}, Cmp{"\x7F", "\x80", -1}, Cmp{"\xFF", "a", 1}}) {
        EXPECT_EQ(CompareText(B(c.a), B(c.b)), c.want) << c.a << " vs " << c.b;
    }
    EXPECT_EQ(CompareText(Text{}, B("")), 0);
}

} // namespace
} // namespace iit

namespace iit {
namespace {

// Every two-byte GBK character reads as GBK reads it: files of earlier versions open unchanged.
TEST(Gb18030, EveryGbkCharacterReadsUnchanged) {
    const iconv_t gbk = iconv_open("UTF-8", "GBK");
    ASSERT_NE(gbk, reinterpret_cast<iconv_t>(-1));
    int checked = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char out[8];
            char* ip = in;
            char* op = out;
            std::size_t il = 2, ol = sizeof out;
            iconv(gbk, nullptr, nullptr, nullptr, nullptr);
            if (iconv(gbk, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) continue;
            const std::string expected(out, sizeof out - ol);
            const Text text = Text::fromBytes(std::string_view(in, 2));
            ASSERT_EQ(text.toUtf8(), expected) << std::hex << lead << " " << trail;
            ASSERT_EQ(Text::fromUtf8(expected), text) << std::hex << lead << " " << trail;
            ++checked;
        }
    }
    iconv_close(gbk);
    EXPECT_GT(checked, 21000);
}

// The walker steps over whole characters of one, two and four bytes: cuts, spaces and the
// last character never split one.
TEST(Gb18030, CharactersStayWhole) {
    const Text name = sysText("张𠀀䶮三");
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < name.size(); i += charLength(name.view(), i))
        lengths.push_back(charLength(name.view(), i));
    EXPECT_EQ(lengths, (std::vector<std::size_t>{2, 4, 2, 2}));
    const struct {
        std::size_t width;
        const char* cut;
    } cuts[] = {{0, ""},     {2, "张"},     {3, "张"},       {5, "张"},
                {6, "张𠀀"}, {9, "张𠀀䶮"}, {10, "张𠀀䶮三"}};
    for (const auto& c : cuts)
        EXPECT_EQ(cutToWidth(name, c.width).toUtf8(), c.cut) << c.width;
    EXPECT_EQ(RemoveSpaces(sysText(" 𠀀　a 😀 ")).toUtf8(), "𠀀a😀");
    // A four-byte character cut short at the end is dropped whole.
    EXPECT_EQ(RemoveSpaces(Text::fromBytes(sysText("a𠀀").bytes().substr(0, 3))).toUtf8(), "a");
    // Its digit bytes are not digits of a number.
    EXPECT_EQ(normalizeFullWidth(sysText("𠀀１２").view()), sysText("𠀀12").bytes());
}

} // namespace
} // namespace iit
