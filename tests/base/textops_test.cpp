#include "base/convert.h"

#include <gtest/gtest.h>

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
