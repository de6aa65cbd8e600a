// The grammar of a payroll row, as every reader takes it: the names a header may give a field,
// the identity number as it is keyed and marked, the bounds of an amount, the words of the
// bonus's taxation and of residence, and a cell made one line.
#include "base/cell_text.h"
#include "engine/amount.h"
#include "engine/payroll_row.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace iit::engine {
namespace {

TEST(PayrollRow, HeaderNamesAndTheirFields) {
    const PayrollField ledger[] = {PayrollField::IdNumber, PayrollField::Name,
                                   PayrollField::Income,   PayrollField::TaxFree,
                                   PayrollField::Bonus,    PayrollField::BankCard};
    const struct {
        const char* header;
        std::optional<PayrollField> field;
    } cases[] = {
        {"证件号码", PayrollField::IdNumber},
        {"身份证号", PayrollField::IdNumber},
        {" 身份证号码 ", PayrollField::IdNumber},
        {"证照号码", PayrollField::IdNumber},
        {"姓\xE3\x80\x80名", PayrollField::Name},
        {"应发工资", PayrollField::Income},
        {"用于报税\r\n的 收 入", PayrollField::Income},
        {"本月免税收入", PayrollField::TaxFree},
        {"免税收入", PayrollField::TaxFree},
        {"年终奖", PayrollField::Bonus},
        {"卡号", PayrollField::BankCard},
        {"部门", std::nullopt},
        {"累计收入", std::nullopt}, // a field of opening balances, not among these
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fieldNamed(c.header, ledger), c.field) << c.header;
    EXPECT_EQ(fieldNamed("累计收入", std::array{PayrollField::CumulativeIncome}),
              PayrollField::CumulativeIncome);
    // Every field is read by its own name first.
    for (int f = 0; f <= static_cast<int>(PayrollField::CumulativeWithheld); ++f)
        EXPECT_EQ(std::string(fieldName(static_cast<PayrollField>(f))),
                  fieldNames(static_cast<PayrollField>(f)).front());
}

TEST(PayrollRow, IdentityNumbersAsKeyedAndMarked) {
    EXPECT_EQ(identityKey(" 11010119900101123x\xE3\x80\x80"), "11010119900101123X");
    EXPECT_EQ(identityKey("e12345678"), "E12345678");
    const Text card = identityCardType();
    const struct {
        Text type;
        const char* number;
        bool marked;
    } cases[] = {
        {card, "110101199001011237", false},
        {card, "110101199001011238", true},                 // the check character fails
        {card, "11010119900101123", false},                 // not 18 characters: not judged
        {sysText("外国护照"), "110101199001011238", false}, // not an identity card
    };
    for (const auto& c : cases)
        EXPECT_EQ(identityCheckFails(c.type, Text::fromUtf8(c.number)), c.marked) << c.number;
}

TEST(PayrollRow, AmountsHeldToOneSetOfBounds) {
    const struct {
        const char* text; // parsed, then checked again as an amount that came another way
        bool ok;
    } cases[] = {{"0", true},
                 {"12.5", true},
                 {"1000000000000", true},
                 {"1000000000000.01", false},
                 {"-1", false},
                 {"1.001", false},
                 {"8,000.50", true}, // the batch sheet's grammar: thousands in groups of three
                 {"８０００", true}, // full-width digits
                 {"3e4", true},
                 {"1,2,3", false},
                 {"8000元", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Outcome<Exact> parsed = parseAmount(c.text);
        EXPECT_EQ(parsed.ok(), c.ok);
        const std::optional<Exact> exact = parseDecimal(c.text);
        if (exact) {
            EXPECT_EQ(checkAmount(*exact).ok(), c.ok);
        }
    }
    // An amount that does not fit fen is a failure, never 0.
    EXPECT_FALSE(fenOf(Exact(kLargestAmount) * Exact(kLargestAmount)).ok());
    EXPECT_FALSE(fenOf(Exact::fromText(Text::fromBytes("0.001"))).ok());
    EXPECT_EQ(*fenOf(Exact::fromText(Text::fromBytes("12.34"))), 1234);
}

TEST(PayrollRow, WordsOfTheBonusAndOfResidence) {
    EXPECT_EQ(bonusMethodFromText(" 单独 计税 "), BonusMethod::Separate);
    EXPECT_EQ(bonusMethodFromText("并入"), BonusMethod::Combined);
    EXPECT_EQ(bonusMethodFromText(bonusMethodText(BonusMethod::Combined).toUtf8()),
              BonusMethod::Combined);
    EXPECT_EQ(bonusMethodFromText("合并"), std::nullopt);
    EXPECT_EQ(residentFromText("非居民个人"), false);
    EXPECT_EQ(residentFromText("是"), true);
    EXPECT_EQ(residentFromText("yes"), std::nullopt);
}

// A cell is made one line by one rule wherever it comes from: a line break is one space.
TEST(PayrollRow, ACellMadeOneLine) {
    EXPECT_EQ(oneLine("a\r\nb\rc\nd\te"), "a b c d e");
    EXPECT_EQ(oneLine("\r\n"), " ");
    EXPECT_EQ(compactName("Ａ B\xE3\x80\x80"
                          "C\r\n"),
              "Ａbc");
}

// Dates as the declaration's sheets write them, and what no calendar has.
TEST(PayrollRow, DatesOfTheDeclaration) {
    const struct {
        const char* text;
        int date; // 0: refused
    } cases[] = {
        {"2024-03-01", 20240301},
        {"20240301", 20240301},
        {"2024/3/1", 20240301},
        {"2024.3.1", 20240301},
        {"2024年3月1日", 20240301},
        {" 2024-3-1 ", 20240301},
        {"2024-02-29", 20240229},
        {"2023-02-29", 0},
        {"2100-02-29", 0},
        {"2024-13-01", 0},
        {"2024-04-31", 0},
        {"24-3-1", 0},
        {"2024-3", 0},
        {"2024-3-1-1", 0},
        {"2024年3月1", 20240301},
        {"1899-12-31", 0},
        {"abc", 0},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dateFromText(c.text).value_or(0), c.date) << c.text;
    EXPECT_EQ(dateText(20240301), "2024-03-01");
}

} // namespace
} // namespace iit::engine
