// An insured employee's social insurance and housing fund in the ledger: the four items of
// 专项扣除 from the city's rules in force in each month, items given by hand standing, the city
// and bases carried forward, and what is refused.
#include "tests/ledger/ledger_support.h"

#include <string>

namespace iit::testing {
namespace {

const char* const kZhang = "440524188001010014";
const char* const kLi = "11010519491231002X";

class LedgerInsurance : public BookFixture {
public:
    Outcome<ledger::ChangeReport> importInsured(int month, Cells rows) {
        return book->importMonth(2026, month, rows);
    }
    // The four items and the sum of an employee's month: "596.8 149.2 37.3 350 = 1133.3".
    std::string items(int month, const char* id) {
        Outcome<std::optional<ledger::Entry>> e = book->entry(2026, month, key(id));
        EXPECT_TRUE(e.ok() && *e);
        if (!e || !*e) return "";
        std::string s;
        for (int i = 0; i < 4; ++i)
            s += ToText((*e)->items[static_cast<std::size_t>(i)]).toUtf8() + " ";
        return s + "= " + ToText((*e)->special).toUtf8();
    }
    int manual(int month, const char* id) {
        Outcome<std::optional<ledger::Entry>> e = book->entry(2026, month, key(id));
        return e && *e ? (*e)->insuranceManual : -1;
    }
};

INSTANTIATE_TEST_SUITE_P(Stores, LedgerInsurance,
                         ::testing::Values(StoreKind::Memory, StoreKind::File), storeName);

// The notices' worked examples, a month before and after the base period changes in July.
TEST_P(LedgerInsurance, ItemsFollowTheRulesInForceEachMonth) {
    for (int month : {6, 7}) {
        Outcome<ledger::ChangeReport> r =
            importInsured(month, makeRows({{"证件号码", "姓名", "本月收入", "社保城市", "缴费基数",
                                            "公积金比例", "补充公积金比例"},
                                           {kZhang, "张三", "9000", "上海", "5000", "7", ""},
                                           {kLi, "李四", "20000", "上海", "12345.67", "7", "3"}}));
        ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    }
    EXPECT_EQ(items(6, kZhang), "596.8 149.2 37.3 350 = 1133.3");
    EXPECT_EQ(items(7, kZhang), "603.68 150.92 37.73 350 = 1142.33");
    EXPECT_EQ(items(7, kLi), "987.65 246.91 61.73 1234 = 2530.29");
    // The tax follows: 9,000 − 5,000 − 1,133.30 in June, then the year to date.
    EXPECT_EQ(cell(6, kZhang, "累计应纳税所得额", 2026), "2866.7");
    EXPECT_EQ(cell(7, kZhang, "累计应纳税所得额", 2026), "5724.37");

    // August carried forward keeps the city and the bases; its items are August's.
    ASSERT_TRUE(book->copyToNextMonth(2026, 7, true).ok());
    EXPECT_EQ(items(8, kLi), "987.65 246.91 61.73 1234 = 2530.29");
    const std::vector<Text> columns = ledger::insuranceColumns();
    Outcome<std::optional<ledger::MonthLine>> line = book->showLine(2026, 8, key(kLi));
    ASSERT_TRUE(line.ok() && *line);
    std::string shown;
    for (std::size_t i = 0; i < ledger::kInsuranceColumns; ++i)
        shown += ledger::insuranceCell(**line, i).toUtf8() + "|";
    EXPECT_EQ(shown, "上海|12345.67|12345.67|7|3|");
}

// An item given by hand stands and is marked; given as the rules give it, it is theirs again.
// A row without a city keeps its items as entered.
TEST_P(LedgerInsurance, ItemsGivenByHandStand) {
    const auto row = [&](const char* pension, const char* city) {
        return importInsured(7, makeRows({{"证件号码", "姓名", "本月收入", "社保城市", "缴费基数",
                                           "公积金比例", "基本养老保险费"},
                                          {kZhang, "张三", "9000", city, "5000", "7", pension}}));
    };
    ASSERT_TRUE(row("700", "上海").ok());
    EXPECT_EQ(items(7, kZhang), "700 150.92 37.73 350 = 1238.65");
    EXPECT_EQ(manual(7, kZhang), 1);
    ASSERT_TRUE(row("603.68", "上海").ok());
    EXPECT_EQ(manual(7, kZhang), 0);
    ASSERT_TRUE(row("", "上海").ok());
    EXPECT_EQ(items(7, kZhang), "603.68 150.92 37.73 350 = 1142.33");
    ASSERT_TRUE(row("800", "").ok()); // not insured here: the items as entered
    EXPECT_EQ(items(7, kZhang), "800 150.92 37.73 350 = 1338.65");
    EXPECT_EQ(manual(7, kZhang), 0);
}

TEST_P(LedgerInsurance, WhatCannotBeComputedIsRefused) {
    const struct {
        const char *city, *month, *rate, *said;
    } cases[] = {
        {"北京", "7", "7", "2026年7月没有北京的社保公积金规则"},
        {"上海", "7", "4", "上海的住房公积金比例应在5%至7%之间（或为0）"},
        {"上海", "7", "百分之七", "公积金比例：应为0到100之间的百分数"},
        {"上海", "7", "100", "公积金比例：应为0到100之间的百分数"},
    };
    for (const auto& c : cases) {
        Outcome<ledger::ChangeReport> r = importInsured(
            std::stoi(c.month),
            makeRows({{"证件号码", "姓名", "本月收入", "社保城市", "缴费基数", "公积金比例"},
                      {kZhang, "张三", "9000", c.city, "5000", c.rate}}));
        ASSERT_FALSE(r.ok()) << c.said;
        EXPECT_NE(r.problem().message.toUtf8().find(c.said), std::string::npos)
            << r.problem().message.toUtf8();
    }
    EXPECT_TRUE(book->showMonth(2026, 7)->lines.empty()); // nothing was kept
}

// A notice that comes after the period began: the rules added with a past month change the open
// months' items (not one given by hand), each employee's later months with them; a declared
// month stays as declared and the difference is told.
TEST_P(LedgerInsurance, RulesAddedLateChangeOpenMonthsOnly) {
    for (int month : {7, 8, 9}) {
        Outcome<ledger::ChangeReport> r =
            importInsured(month, makeRows({{"证件号码", "姓名", "本月收入", "社保城市", "缴费基数",
                                            "公积金比例", "失业保险费"},
                                           {kZhang, "张三", "9000", "上海", "5000", "7", ""},
                                           {kLi, "李四", "20000", "上海", "40000", "5", "99"}}));
        ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    }
    ASSERT_TRUE(book->declareMonth(2026, 7).ok());
    const std::string before = cell(9, kZhang, "累计应纳税所得额", 2026);

    // The 2026 period's floor, say, 8,000: a section from August.
    insurance::Rules rules = book->tables().insurance;
    insurance::CityRules august = *rules.inForce(Text::fromUtf8("上海"), 2026, 7);
    august.fromMonth = 8;
    august.baseFloor = engine::Exact(8000);
    rules.sections().push_back(august);
    ASSERT_TRUE(book->setInsuranceRules(rules).ok());
    Outcome<ledger::InsuranceUpdate> u = book->applyInsuranceRules(2026);
    ASSERT_TRUE(u.ok()) << u.problem().message.toUtf8();
    EXPECT_EQ(u->months, (std::vector<int>{8, 9}));
    EXPECT_EQ(u->entries, 2); // 张三's August and September; 李四's base is above the floor
    EXPECT_TRUE(u->declared.empty());
    EXPECT_EQ(items(8, kZhang), "640 160 40 350 = 1190");
    EXPECT_EQ(items(7, kZhang), "603.68 150.92 37.73 350 = 1142.33");
    EXPECT_EQ(cell(9, kZhang, "累计应纳税所得额", 2026), [&] {
        // Two months' 1,190 instead of 1,142.33 each: 95.34 less taxable.
        return ToText(engine::Exact::fromText(Text::fromBytes(before)) -
                      engine::Exact(9534) / engine::Exact(100))
            .toUtf8();
    }());
    EXPECT_EQ(items(9, kLi), "3018.48 754.62 99 1887 = 5759.1"); // 失业保险费 as given

    // The same change to July, which is declared: told, not made.
    rules.sections().pop_back();
    insurance::CityRules july = *rules.inForce(Text::fromUtf8("上海"), 2026, 7);
    july.baseFloor = engine::Exact(8000);
    rules.sections().back() = july;
    ASSERT_TRUE(book->setInsuranceRules(rules).ok());
    u = book->applyInsuranceRules(2026);
    ASSERT_TRUE(u.ok()) << u.problem().message.toUtf8();
    ASSERT_EQ(u->declared.size(), 1u);
    EXPECT_EQ(u->declared[0].month, 7);
    EXPECT_EQ(ToText(u->declared[0].declared).toUtf8(), "1142.33");
    EXPECT_EQ(ToText(u->declared[0].now).toUtf8(), "1190");
    EXPECT_EQ(items(7, kZhang), "603.68 150.92 37.73 350 = 1142.33");
}

} // namespace
} // namespace iit::testing
