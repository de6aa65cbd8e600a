#include "mainwindow/calculate.h"
#include "tests/engine/engine_test_support.h"

namespace iit {
namespace {

using engine::TaxKind;
using engine::TaxMode;
using mainwindow::CalcResult;
using testing::EngineFixture;

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}

struct LabelCase {
    TaxKind kind;
    TaxMode mode;
    const char* income;
    CalcResult::Outcome outcome;
    const char* balloon; // UTF-8, "" for none
    const char* label;   // UTF-8; nullptr when the label stays as it was
};

class Calculate : public EngineFixture {
protected:
    void check(const LabelCase& c) {
        std::int32_t threshold = 0;
        const CalcResult r =
            mainwindow::Calculate(tablePath, U(c.income), c.kind, c.mode, threshold);
        const std::string what = std::string(c.income) + " " + engine::kindText(c.kind).toUtf8() +
                                 engine::modeText(c.mode).toUtf8();
        EXPECT_EQ(r.outcome, c.outcome) << what;
        EXPECT_EQ(r.balloon.toUtf8(), c.balloon) << what;
        if (c.label) {
            ASSERT_TRUE(r.label.has_value()) << what;
            EXPECT_EQ(r.label->toUtf8(), c.label) << what;
        } else {
            EXPECT_FALSE(r.label.has_value()) << what;
        }
        EXPECT_EQ(r.clearsEntryFlag(), c.outcome == CalcResult::Outcome::Computed ||
                                           c.outcome == CalcResult::Outcome::NoResult);
    }
};

constexpr auto W = TaxKind::Wages;
constexpr auto L = TaxKind::Labour;
constexpr auto R = TaxKind::Royalties;
constexpr auto G = TaxMode::Gross;
constexpr auto N = TaxMode::Net;
using O = CalcResult::Outcome;

TEST_F(Calculate, ResultTextsOnTheExampleTable) {
    writeTable(testing::exampleTable());
    const LabelCase cases[] = {
        {W, G, "8000", O::Computed, "", "实发数: 7910\r\n应纳税:   90"},
        {W, N, "7910", O::Computed, "", "合计数：8000\r\n应纳税:   90"},
        {L, N, "3360", O::Computed, "", "合计数: 4000\r\n应纳税:  640"},
        {R, G, "4000", O::Computed, "", "实发数: 3552\r\n应纳税:  448"},
        {W, G, "5000", O::Computed, "", "实发数: 5000\r\n应纳税:    0"},
        {W, G, "８０００元", O::Computed, "", "实发数: 7910\r\n应纳税:   90"},
        {W, N, "20000", O::NoResult, "", "0"},
        {W, G, "", O::NoInput, " 请在这里输入个人所得收入! . . . ", nullptr},
        {W, G, "在这里输入个人所得收入\r\nEnter the income of personal income here", O::NoInput,
         " 请在这里输入个人所得收入! . . . ", nullptr},
        {W, G, "1999999999.1", O::TooLarge, " 输入的数值过大! . . . ", nullptr},
        {W, G, "1e10", O::TooLarge, " 输入的数值过大! . . . ", nullptr},
        {W, G, "数值过大", O::BelowThreshold, " 收入数低于5000, 无需上税! . . . ", ""},
        {L, G, "799", O::BelowThreshold, " 收入数低于800, 无需上税! . . . ", ""},
        {W, G, "-5", O::BelowThreshold, " 收入数低于5000, 无需上税! . . . ", ""},
    };
    for (const LabelCase& c : cases)
        check(c);
}

TEST_F(Calculate, LargestIncomeIsComputed) {
    ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    // 1999999999 - 5000 in the 45 % band; the texts line up under each other.
    check({W, G, "1999999999", O::Computed, "", "实发数: 1100017409.45\r\n应纳税:  899982589.55"});
    check({L, N, "1999999999", O::Computed, "", "合计数: 2941166175\r\n应纳税:  941166176"});
}

TEST(resultLabel, PadsTheShorterNumber) {
    struct Case {
        const char* caption;
        const char* c;
        const char* x;
        const char* want;
    };
    const Case cases[] = {
        {"实发数: ", "7910", "90", "实发数: 7910\r\n应纳税:   90"},
        {"实发数: ", "0", "0", "实发数: 0\r\n应纳税: 0"},
        {"合计数: ", "5", "1000", "合计数:    5\r\n应纳税: 1000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mainwindow::resultLabel(U(c.caption), U(c.c), U(c.x)).toUtf8(), c.want);
}

} // namespace
} // namespace iit
