// The single-person calculation: the checks of the income text, the texts of each result, and
// the order of the checks (a refused text needs no table).
#include "engine/single_person.h"
#include "tests/engine/engine_test_support.h"

namespace iit {
namespace {

using engine::PersonTax;
using engine::TaxKind;
using engine::TaxMode;
using testing::EngineFixture;

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}

// The outcome of one calculation, as the window tells it apart.
enum class Shown { Refused, BelowThreshold, NoResult, Computed };

struct LabelCase {
    TaxKind kind;
    TaxMode mode;
    const char* income;
    Shown shown;
    const char* message; // UTF-8: the balloon's text, "" for none
    const char* label;   // UTF-8: the result label's new text; nullptr when it stays as it was
};

class SinglePerson : public EngineFixture {
protected:
    Outcome<PersonTax> calculate(const char* income, TaxKind kind, TaxMode mode) {
        return engine::singlePersonTax(U(income), kind, mode,
                                       [this] { return rateTable().load(); });
    }
    void check(const LabelCase& c) {
        const Outcome<PersonTax> r = calculate(c.income, c.kind, c.mode);
        const std::string what = std::string(c.income) + " " + engine::kindText(c.kind).toUtf8() +
                                 engine::modeText(c.mode).toUtf8();
        if (c.shown == Shown::Refused) {
            ASSERT_FALSE(r) << what;
            EXPECT_EQ(r.problem().message.toUtf8(), c.message) << what;
            EXPECT_EQ(c.label, nullptr);
            return;
        }
        ASSERT_TRUE(r) << what << ": " << r.problem().message.toUtf8();
        const Shown shown = r->result == PersonTax::Result::BelowThreshold ? Shown::BelowThreshold
                            : r->result == PersonTax::Result::NoResult     ? Shown::NoResult
                                                                           : Shown::Computed;
        EXPECT_EQ(shown, c.shown) << what;
        EXPECT_EQ(r->message.toUtf8(), c.message) << what;
        ASSERT_NE(c.label, nullptr);
        EXPECT_EQ(r->label.toUtf8(), c.label) << what;
    }
};

constexpr auto W = TaxKind::Wages;
constexpr auto L = TaxKind::Labour;
constexpr auto R = TaxKind::Royalties;
constexpr auto G = TaxMode::Gross;
constexpr auto N = TaxMode::Net;
using S = Shown;

TEST_F(SinglePerson, ResultTextsOnTheExampleTable) {
    writeTable(testing::exampleTable());
    const LabelCase cases[] = {
        {W, G, "8000", S::Computed, "", "实发数: 7910\r\n应纳税:   90"},
        {W, N, "7910", S::Computed, "", "合计数：8000\r\n应纳税:   90"},
        {L, N, "3360", S::Computed, "", "合计数: 4000\r\n应纳税:  640"},
        {R, G, "4000", S::Computed, "", "实发数: 3552\r\n应纳税:  448"},
        {W, G, "5000", S::Computed, "", "实发数: 5000\r\n应纳税:    0"},
        {W, G, "８０００元", S::Computed, "", "实发数: 7910\r\n应纳税:   90"},
        {W, N, "20000", S::NoResult, "", "0"},
        {W, G, "", S::Refused, " 请在这里输入个人所得收入! . . . ", nullptr},
        {W, G, "在这里输入个人所得收入\r\nEnter the income of personal income here", S::Refused,
         " 请在这里输入个人所得收入! . . . ", nullptr},
        {W, G, "1999999999.1", S::Refused, " 输入的数值过大! . . . ", nullptr},
        {W, G, "1e10", S::Refused, " 输入的数值过大! . . . ", nullptr},
        {W, G, "数值过大", S::BelowThreshold, " 收入数低于5000, 无需上税! . . . ", ""},
        {L, G, "799", S::BelowThreshold, " 收入数低于800, 无需上税! . . . ", ""},
        {W, G, "-5", S::BelowThreshold, " 收入数低于5000, 无需上税! . . . ", ""},
    };
    for (const LabelCase& c : cases)
        check(c);
}

TEST_F(SinglePerson, LargestIncomeIsComputed) {
    ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    // 1999999999 - 5000 in the 45 % band; the texts line up under each other.
    check({W, G, "1999999999", S::Computed, "", "实发数: 1100017409.45\r\n应纳税:  899982589.55"});
    check({L, N, "1999999999", S::Computed, "", "合计数: 2941166175\r\n应纳税:  941166176"});
}

// The text is checked before the table is asked for: an empty box says so even when no table
// can be read, and an amount says which table cannot be read. The threshold of the group in use
// comes with every result (the window's message threshold).
TEST_F(SinglePerson, TheTextComesBeforeTheTable) {
    std::filesystem::create_directory(tablePath); // no table can be read
    EXPECT_EQ(calculate("", W, G).problem().message.toUtf8(), " 请在这里输入个人所得收入! . . . ");
    const Outcome<PersonTax> unreadable = calculate("8000", W, G);
    ASSERT_FALSE(unreadable);
    EXPECT_NE(unreadable.problem().message.toUtf8().find(tablePath.string()), std::string::npos);
    std::filesystem::remove(tablePath);
    writeTable(testing::exampleTable());
    EXPECT_EQ(calculate("8000", L, N)->threshold, 800);
    EXPECT_EQ(calculate("1", W, G)->threshold, 5000);
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
        EXPECT_EQ(engine::resultLabel(U(c.caption), U(c.c), U(c.x)).toUtf8(), c.want);
}

} // namespace
} // namespace iit
