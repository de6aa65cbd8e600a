// The cities' rules of social insurance and the housing fund, and an employee's contributions
// computed from them, against the worked examples of the cities' notices.
#include "base/files.h"
#include "insurance/contributions.h"
#include "insurance/rules.h"
#include "resources/resources.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace iit::insurance {
namespace {

Text T(const char* utf8) {
    return Text::fromUtf8(utf8);
}
Exact E(const char* decimal) {
    return Exact::fromText(Text::fromBytes(decimal));
}
std::string S(const Exact& v) {
    return ToText(v).toUtf8();
}

const CityRules& shanghai(int year, int month) {
    const CityRules* r = defaultRules().inForce(T("上海"), year, month);
    if (!r) throw std::runtime_error("no rules of Shanghai");
    return *r;
}

// The employee's items of the notices' worked examples, to the fen.
TEST(Contributions, WorkedExamplesOfTheNotices) {
    struct Case {
        int year, month;
        const char *base, *fundRate, *extra;
        const char *pension, *medical, *unemployment, *fund;
    };
    const Case cases[] = {
        {2026, 6, "5000", "7", "0", "596.8", "149.2", "37.3", "350"},         // floor 7,460
        {2026, 7, "5000", "7", "0", "603.68", "150.92", "37.73", "350"},      // floor 7,546
        {2026, 7, "50000", "7", "0", "3018.48", "754.62", "188.66", "2641"},  // ceiling 37,731
        {2026, 7, "12345.67", "7", "3", "987.65", "246.91", "61.73", "1234"}, // 864 + 370
        {2025, 7, "37302", "5", "0", "2984.16", "746.04", "186.51", "1865"},
        {2026, 7, "2000", "5", "0", "603.68", "150.92", "37.73", "137"}, // fund floor 2,740
    };
    for (const Case& c : cases) {
        const Bases bases{E(c.base), E(c.base), E(c.fundRate), E(c.extra)};
        Outcome<Contributions> r = contribute(shanghai(c.year, c.month), bases);
        ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
        const std::string what =
            std::to_string(c.year) + "-" + std::to_string(c.month) + " " + c.base;
        EXPECT_EQ(S(r->column(Column::Pension)), c.pension) << what;
        EXPECT_EQ(S(r->column(Column::Medical)), c.medical) << what;
        EXPECT_EQ(S(r->column(Column::Unemployment)), c.unemployment) << what;
        EXPECT_EQ(S(r->column(Column::HousingFund)), c.fund) << what;
        EXPECT_EQ(r->employee, r->column(Column::Pension) + r->column(Column::Medical) +
                                   r->column(Column::Unemployment) +
                                   r->column(Column::HousingFund));
        // The notices at hand give no rates of the employer's.
        EXPECT_FALSE(r->employerComplete);
    }
}

TEST(Contributions, EachLineSaysHowItWasReached) {
    Outcome<Contributions> r =
        contribute(shanghai(2026, 7), {E("5000"), E("12345.67"), E("7"), E("3")});
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r->lines.size(), 5u);
    EXPECT_EQ(explain(r->lines[0]).toUtf8(), "养老保险：基数5000低于下限，按7546 × 8% = 603.68");
    EXPECT_EQ(explain(r->lines[2]).toUtf8(), "失业保险：基数5000低于下限，按7546 × 0.5% = 37.73");
    EXPECT_EQ(explain(r->lines[3]).toUtf8(),
              "住房公积金：12345.67 × 7% = 864.1969，取整为864；单位864");
    EXPECT_EQ(explain(r->lines[4]).toUtf8(),
              "补充公积金：12345.67 × 3% = 370.3701，取整为370；单位370");
    Outcome<Contributions> high =
        contribute(shanghai(2026, 7), {E("50000"), E("0"), E("0"), E("0")});
    ASSERT_TRUE(high.ok());
    EXPECT_EQ(explain(high->lines[2]).toUtf8(),
              "失业保险：基数50000高于上限，按37731 × 0.5% = 188.655，四舍五入为188.66");
    EXPECT_EQ(high->lines.size(), 3u); // no housing fund at rate 0
}

// The employer's share where the rules give it: each item, the injury insurance on the
// social-insurance base, the housing fund at the employee's rate, each rounded on its own.
TEST(Contributions, TheEmployersShare) {
    CityRules r = shanghai(2026, 7);
    r.items[0].employerRate = E("16");
    r.items[1].employerRate = E("9");
    r.items[1].fixed = E("3"); // a city that adds a fixed amount a month
    r.items[2].employerRate = E("0.5");
    r.injuryRate = E("0.16");
    Outcome<Contributions> c = contribute(r, {E("10000"), E("10000.5"), E("7"), E("0")});
    ASSERT_TRUE(c.ok());
    EXPECT_TRUE(c->employerComplete);
    EXPECT_EQ(S(c->column(Column::Medical)), "203"); // 200 + 3
    EXPECT_EQ(S(*c->lines[3].employer), "700");      // 700.035, to the yuan
    EXPECT_EQ(S(c->employer), "3266");               // 1,600 + 900 + 50 + 16 (injury) + 700
}

TEST(Contributions, RatesOutsideTheCitysRangeAreRefused) {
    const struct {
        const char *fundRate, *extra, *base, *message;
    } cases[] = {
        {"4", "0", "8000", "上海的住房公积金比例应在5%至7%之间（或为0）"},
        {"7.5", "0", "8000", "上海的住房公积金比例应在5%至7%之间（或为0）"},
        {"7", "6", "8000", "上海的补充公积金比例应在1%至5%之间（或为0）"},
        {"7", "0", "-1", "缴费基数不能为负"},
    };
    for (const auto& c : cases) {
        Outcome<Contributions> r =
            contribute(shanghai(2026, 7), {E(c.base), E(c.base), E(c.fundRate), E(c.extra)});
        ASSERT_FALSE(r.ok()) << c.fundRate << " " << c.extra;
        EXPECT_EQ(r.problem().message.toUtf8(), c.message);
    }
}

TEST(Rules, TheRulesInForceInAMonth) {
    const Rules& rules = defaultRules();
    EXPECT_EQ(rules.cities(), std::vector<Text>{T("上海")});
    EXPECT_EQ(rules.inForce(T("上海"), 2025, 6), nullptr);
    EXPECT_EQ(rules.inForce(T("北京"), 2026, 7), nullptr);
    EXPECT_EQ(S(rules.inForce(T("上海"), 2026, 6)->baseFloor), "7460");
    EXPECT_EQ(S(rules.inForce(T("上海"), 2026, 7)->baseFloor), "7546");
    EXPECT_EQ(S(rules.inForce(T("上海"), 2031, 1)->fundCeiling), "37731");
}

// What the file format refuses, by its line; the sound built-in text with one line changed.
TEST(Rules, WrongLinesAreNamed) {
    const std::string good(resources::defaultInsuranceRules());
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const std::size_t at = text.find(from);
        if (at == std::string::npos) throw std::runtime_error("no " + from);
        return text.replace(at, from.size(), to);
    };
    const struct {
        std::string text, problem;
    } cases[] = {
        {with("base 7460 37302", "base 37302 7460"),
         "上海2025年7月起的规则：社保基数下限应低于上限"},
        {with("item 养老保险 基本养老保险费 8 ", "item 养老保险 基本养老保险费 100 "),
         "上海2025年7月起的规则：费率应不小于0且小于100，至多四位小数"},
        {with("失业保险费     0.5 ", "失业保险费     0.12345 "),
         "费率应不小于0且小于100，至多四位小数"},
        {with("base 7460 37302", "base 7460.001 37302"), "金额应为不小于0的整分数"},
        {with("city 上海 2026-07", "city 上海 2025-01"),
         "上海2025年1月起的规则：同一城市的起始年月应逐段递增"},
        {with("city 上海 2026-07", "city 上海 2026-13"), "行：应为 city 城市 年-月（如 2026-07）"},
        {with("失业保险 失业保险费", "失业保险 住房公积金"),
         "行：计入的申报项目应为基本养老保险费、基本医疗保险费或失业保险费"},
        {with("fund-rate 5 7 yuan", "fund-rate 7 5 yuan"),
         "上海2025年7月起的规则：公积金比例的下限应不高于上限"},
        {with("fund-rate 5 7 yuan", "fund-rate 5 7 jiao"), "行：取整方式应为 fen 或 yuan"},
        {with("fund-rate 5 7 yuan\n", ""),
         "行：城市的规则应有 source、base、fund-base 和 fund-rate 各一行"},
        {with("injury -", "injury free"), "行：应为 injury 费率（或 -）"},
        {"base 1 2\n", "第1行：应先写 city 城市 年-月"},
        {"# nothing\n", "没有任何城市的规则"},
        {"city \xC9\xCF\xBA\xA3 2026-07\n", "文件不是UTF-8文字"}, // 上海 in GB18030
    };
    for (const auto& c : cases) {
        Outcome<Rules> r = parseRules(c.text);
        ASSERT_FALSE(r.ok()) << c.problem;
        EXPECT_NE(r.problem().message.toUtf8().find(c.problem), std::string::npos)
            << r.problem().message.toUtf8();
    }
}

TEST(Rules, AFileOnDiskIsWrittenReadSavedAndSetAsideWhenDamaged) {
    testing::TempDir dir;
    const std::filesystem::path path = dir / kRulesFileName;
    // Missing: the built-in rules are written.
    Outcome<LoadedRules> first = loadRules(path);
    ASSERT_TRUE(first.ok()) << first.problem().message.toUtf8();
    EXPECT_TRUE(first->notice.empty());
    EXPECT_EQ(testing::readFile(path), resources::defaultInsuranceRules());
    EXPECT_EQ(first->rules.sections(), defaultRules().sections());

    // A clerk's city, saved and read back whole, the explanation kept.
    Rules mine = first->rules;
    CityRules city = mine.sections().front();
    city.city = T("某市");
    city.source = T("某市人社局通知（2026）");
    city.items[1].fixed = E("3");
    city.items[1].employerRate = E("9.5");
    city.injuryRate = E("0.2");
    city.fundRounding = Rounding::Fen;
    mine.sections().push_back(city);
    ASSERT_TRUE(saveRules(path, mine).ok());
    Outcome<LoadedRules> again = loadRules(path);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->rules.sections(), mine.sections());
    EXPECT_EQ(testing::readFile(path).rfind("# The employee's", 0), 0u);

    // Rules that do not hold are not saved; the file stays as it was.
    Rules wrong = mine;
    wrong.sections().back().fundFloor = E("40000");
    EXPECT_FALSE(saveRules(path, wrong).ok());
    EXPECT_EQ(loadRules(path)->rules.sections(), mine.sections());

    // A damaged file is set aside and the built-in rules put in its place.
    testing::writeFile(path, "city 上海 2026-07\nbase 1\n");
    Outcome<LoadedRules> repaired = loadRules(path);
    ASSERT_TRUE(repaired.ok());
    EXPECT_NE(repaired->notice.toUtf8().find("已改名保存为"), std::string::npos);
    EXPECT_EQ(repaired->rules.sections(), defaultRules().sections());
    int setAside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        setAside += entry.path().filename().string().find(".damaged-") != std::string::npos;
    EXPECT_EQ(setAside, 1);
}

} // namespace
} // namespace iit::insurance
