#include "base/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace iit {
namespace {

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}
Text B(std::string_view gbk) {
    return Text::fromBytes(gbk);
}

TEST(ToNumber, Texts) {
    struct Case {
        Text in;
        double want;
    };
    const Case cases[] = {
        {B(""), 0},
        {U("  12.50元"), 12.5},
        {U("１２３．４"), 123.4},
        {B("1e3"), 1000},
        {B("1d3"), 1000},
        {B("1D-2"), 0.01},
        {B("-.5"), -0.5},
        {B("+7"), 7},
        {B("."), 0},
        {B("-"), 0},
        {B("+-1"), 0},
        {B("-."), 0},
        {B("..5"), 0},
        {B("abc"), 0},
        {B("inf"), 0},
        {B("nan"), 0},
        {B("0x10"), 0},
        {B("1,234"), 1},
        {U(" 　7"), 7}, // space, ideographic space, 7
        {B("\t\n\v\f\r 42"), 42},
        {B("12e"), 12}, // an exponent letter without digits is not part of it
        {B("12e+"), 12},
        {B("1.5e-7"), 1.5e-7},
        {B("0.1"), 0.1},
        {B("12345.67"), 12345.67},
        {B("000000000000000000000000012.5"), 12.5},
        {B("1e999999"), std::numeric_limits<double>::infinity()},
        {B("-1e999999"), -std::numeric_limits<double>::infinity()},
        {B("1e99999999999999999999999"), std::numeric_limits<double>::infinity()},
        {B("1e-999999"), 0},
        {B("0.000000001e-999999"), 0},
        {B("1.7976931348623157e308"), 1.7976931348623157e308},
        {B("4.9e-324"), 4.9e-324},
        {U("－３"), -3}, // full-width minus
        {U("８０００元"), 8000},
        {B("\xA3"), 0}, // lone lead byte
        {B("5\xA3"), 5},
        {B("\x81\x30"
           "5"),
         0}, // a two-byte character that is not a digit
    };
    for (const Case& c : cases) {
        const double got = ToNumber(c.in);
        if (std::isinf(c.want))
            EXPECT_EQ(got, c.want) << c.in.toUtf8();
        else
            EXPECT_DOUBLE_EQ(got, c.want) << "'" << c.in.toUtf8() << "'";
    }
    EXPECT_TRUE(std::signbit(ToNumber(B("-1e-999999"))));
}

TEST(ToNumber, AMillionDigitsIsCorrectlyRounded) {
    std::string digits = "1";
    digits.append(1'000'000, '0');
    EXPECT_EQ(ToNumber(B(digits)), std::numeric_limits<double>::infinity());
    std::string small = "0.";
    small.append(1'000'000, '0');
    small += "1";
    EXPECT_EQ(ToNumber(B(small)), 0.0);
    std::string longAmount = "12345.6";
    longAmount.append(1'000'000, '7');
    EXPECT_DOUBLE_EQ(ToNumber(B(longAmount)), 12345.677777777778);
}

TEST(ToNumber, ArbitraryBytesGiveTheValueOfTheirNormalisedForm) {
    // Windows of pseudo-random bytes (invalid GBK, lone lead bytes, NULs): the conversion is
    // defined and depends only on the normalised text, which is already a fixed point.
    std::string s;
    for (int i = 0; i < 4096; ++i) {
        s.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
        const Text window = B(s.substr(s.size() > 40 ? s.size() - 40 : 0));
        const Text normal = B(normalizeFullWidth(window.view()));
        const double a = ToNumber(window), b = ToNumber(normal);
        EXPECT_TRUE(a == b || (std::isnan(a) && std::isnan(b)));
        EXPECT_EQ(ToInteger(window), ToInteger(normal));
        EXPECT_EQ(normalizeFullWidth(normal.view()), normal.bytes());
    }
}

TEST(ToNumber, OtherKinds) {
    EXPECT_EQ(ToNumber(Value::number(2.5)), 2.5);
    EXPECT_EQ(ToNumber(Value::int32(-7)), -7);
    EXPECT_EQ(ToNumber(Value::int16(-2)), -2);
    EXPECT_EQ(ToNumber(Value::byte(200)), 200);
    EXPECT_EQ(ToNumber(Value::int64(9007199254740993LL)), 9007199254740992.0);
    EXPECT_EQ(ToNumber(Value::float32(0.1f)), static_cast<double>(0.1f));
    EXPECT_EQ(ToNumber(Value::boolean(5)), 1);
    EXPECT_EQ(ToNumber(Value::dateTime(45000.5)), 0);
    EXPECT_EQ(ToNumber(Value::bytes({'1', '2'})), 0);
}

TEST(ToInteger, Conversions) {
    struct Case {
        Value in;
        std::int32_t want;
    };
    const Case cases[] = {
        {Value::text(B("2147483648")), -2147483647 - 1},
        {Value::text(B("4294967297")), 1},
        {Value::text(B("3.9")), 3},
        {Value::text(B("-12abc")), -12},
        {Value::text(U("　－８")), -8},
        {Value::text(B("")), 0},
        {Value::text(B("-")), 0},
        {Value::text(B("99999999999999999999999999")), static_cast<std::int32_t>(0xE3FFFFFFu)},
        {Value::number(-7.9), -7},
        {Value::number(7.9), 7},
        {Value::number(3000000000.0), -1294967296},
        {Value::number(1e19), 0},
        {Value::number(-1e19), 0},
        {Value::number(9223372036854775807.0), 0}, // 2^63 is already outside
        {Value::number(std::numeric_limits<double>::infinity()), 0},
        {Value::number(std::nan("")), 0},
        {Value::float32(-2.5f), -2},
        {Value::int64(0x1'0000'0005LL), 5},
        {Value::int16(-3), -3},
        {Value::byte(255), 255},
        {Value::boolean(7), 7},
        {Value::dateTime(44000.0), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToInteger(c.in), c.want) << ToText(c.in).toUtf8();
}

TEST(ToText, Doubles) {
    struct Case {
        double in;
        const char* want;
    };
    const Case cases[] = {
        {5000.93, "5000.93"},
        {1000000.0, "1000000"},
        {90.0, "90"},
        {1234.5, "1234.5"},
        {0.1 + 0.2, "0.3"},
        {0.1 * 3, "0.3"},
        {-2.5, "-2.5"},
        {9999999999999.0, "9999999999999"},
        {9999999999999.4, "9999999999999"},
        {9999999999999.5, "1e+013"}, // rounds up to 14 digits: exponent form
        {1e13, "1e+013"},
        {12345678901234.0, "1.234567890123e+013"},
        {1e100, "1e+100"},
        {1.5e300, "1.5e+300"},
        {0.0001, "0.0001"},
        {0.00012345, "0.00012345"},
        {0.00001, "1e-005"},
        {1.5e-7, "1.5e-007"},
        {0.0, "0"},
        {-0.0, "0"},
        {7910.0, "7910"},
        {8044.44, "8044.44"},
        {1.0 / 3.0, "0.3333333333333"},
        {2.0 / 3.0, "0.6666666666667"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToText(c.in).bytes(), c.want) << c.in;
}

TEST(ToText, OtherKinds) {
    struct Case {
        Value in;
        const char* wantUtf8;
    };
    const Case cases[] = {
        {Value::int32(-42), "-42"},
        {Value::int16(-7), "-7"},
        {Value::byte(255), "255"},
        {Value::int64(-9223372036854775807LL - 1), "-9223372036854775808"},
        {Value::float32(0.1f), "0.1"},
        {Value::float32(1234567.0f), "1.23457e+006"},
        {Value::float32(123456.0f), "123456"},
        {Value::float32(3.14159274f), "3.14159"},
        {Value::float32(0.00001f), "1e-005"},
        {Value::boolean(1), "真"},
        {Value::boolean(0), "假"},
        {Value::text(U("张三")), "张三"},
        {Value::bytes({'a', 'b', 0, 'c'}), "ab"},
        {Value::bytes({'a', 'b'}), "ab"},
        {Value::dateTime(0), "1899年12月30日"},
        {Value::dateTime(0.5), "1899年12月30日12时"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToText(c.in).toUtf8(), c.wantUtf8);
}

TEST(ToBytes, Widths) {
    EXPECT_EQ(ToBytes(Value::text(B("ab"))), (ByteSet{'a', 'b'}));
    EXPECT_TRUE(ToBytes(Value::text(B(""))).empty());
    EXPECT_EQ(ToBytes(Value::int32(0x01020304)), (ByteSet{4, 3, 2, 1}));
    EXPECT_EQ(ToBytes(Value::int16(-2)), (ByteSet{0xFE, 0xFF}));
    EXPECT_EQ(ToBytes(Value::byte(9)), (ByteSet{9}));
    EXPECT_EQ(ToBytes(Value::number(1.0)), (ByteSet{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(ToBytes(Value::float32(1.0f)), (ByteSet{0, 0, 0x80, 0x3F}));
    EXPECT_EQ(ToBytes(Value::int64(1)).size(), 8u);
    EXPECT_EQ(ToBytes(Value::boolean(1)), (ByteSet{1, 0, 0, 0}));
    EXPECT_EQ(ToBytes(Value::bytes({1, 0, 2})), (ByteSet{1, 0, 2}));
}

TEST(Round, Places) {
    struct Case {
        double in;
        int places;
        double want;
    };
    const Case cases[] = {
        {0.125, 2, 0.13},
        {-0.125, 2, -0.13},
        {2.675, 2, 2.68},
        {1.005, 2, 1.01},
        {1.004999, 2, 1.0},
        {0.005, 2, 0.01},
        {0.0049999, 2, 0.0},
        {12345.6789, -2, 12300},
        {12350, -2, 12400},
        {0.5, 0, 1},
        {-0.5, 0, -1},
        {1.49999, 0, 1},
        {0.0005, 3, 0.001},
        {1.0005, 3, 1.001},
        {2.0045, 3, 2.005},
        {-2.0045, 3, -2.005},
        {8044.444, 2, 8044.44},
        {41.235, 2, 41.24},
        {5000.9278350515, 2, 5000.93},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Round(c.in, c.places), c.want) << c.in << " @" << c.places;
}

TEST(Round, SignsZerosAndNonFinite) {
    const double r = Round(-0.004, 2);
    EXPECT_EQ(r, 0.0);
    EXPECT_TRUE(std::signbit(r));
    EXPECT_EQ(ToText(r).bytes(), "0");
    EXPECT_TRUE(std::signbit(Round(-0.0, 2)));
    EXPECT_TRUE(std::isnan(Round(std::nan(""), 2)));
    EXPECT_EQ(Round(std::numeric_limits<double>::infinity(), 2),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(Round(1e300, 2), 1e300);
}

TEST(Normalize, FullWidthForms) {
    EXPECT_EQ(normalizeFullWidth(U("ＡＢｃ！～").view()), "ABc!~");
    EXPECT_EQ(normalizeFullWidth(B("\xA1\xAB\xA1\xEE\xA1\xEF\xA1\xA1").view()), "~** ");
    EXPECT_EQ(normalizeFullWidth(U("元").view()), U("元").bytes());
    EXPECT_EQ(normalizeFullWidth(B("12\xA3").view()), "12");
}

TEST(Encoding, RoundTripAndReplacement) {
    EXPECT_EQ(U("个人所得税扣税表.dat").toUtf8(), "个人所得税扣税表.dat");
    EXPECT_EQ(U("税").bytes(), "\xCB\xB0");
    // Every character has a GB18030 form: 䶮 in two bytes, 𠀀 and emoji in four; GBK's
    // characters keep their bytes, and GBK's lone 0x80 reads as the euro sign.
    for (const char* s : {"䶮", "𠀀", "a😀b", "龑", "张𠀀三"})
        EXPECT_EQ(U(s).toUtf8(), s) << s;
    EXPECT_EQ(U("a😀b").bytes(), "a\x94\x39\xFC\x36"
                                "b");
    EXPECT_EQ(U("𠀀").size(), 4u);
    EXPECT_EQ(U("䶮").size(), 2u);
    EXPECT_EQ(B("\x80").toUtf8(), "€");
    EXPECT_EQ(U("a\xFF"
                "b")
                  .bytes(),
              "a?b"); // invalid UTF-8
    EXPECT_EQ(B("a\xFF").toUtf8(), "a\xEF\xBF\xBD");
    EXPECT_EQ(B("\xCB").toUtf8(), "\xEF\xBF\xBD"); // lone lead byte
}

} // namespace
} // namespace iit
