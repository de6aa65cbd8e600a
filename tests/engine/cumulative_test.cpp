// The cumulative method of residents' wages against the worked example and hand-worked cases:
// every band of the annual table, a month of less pay, a late joiner, the two deduction
// options, the tax borne by the employer, the annual bonus at every band edge of the monthly
// table, the comparison of the two ways of taxing the bonus, and the withholding table's file.
#include "base/files.h"
#include "engine/amount.h"
#include "engine/bracket_table.h"
#include "engine/cumulative.h"
#include "engine/rate_table_file.h"
#include "engine/withholding_table.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace iit {
namespace {

using namespace engine;

Exact E(const char* decimal) {
    return *parseDecimal(decimal);
}
std::string S(const Exact& v) {
    return ToText(v).toUtf8();
}

const WithholdingTable& annual() {
    const WithholdingTable* t = defaultWithholdingTables().forYear(2024);
    EXPECT_NE(t, nullptr);
    return *t;
}

// Months 1.. of one employee with the same amounts, withheld figures of each.
std::vector<CumulativeFigures> computeYear(const std::vector<MonthAmounts>& months,
                                           int firstMonth = 1, DeductionOptions options = {},
                                           TaxMode mode = TaxMode::Gross) {
    std::vector<CumulativeFigures> out;
    YearToDate sums;
    int month = firstMonth;
    for (const MonthAmounts& a : months) {
        Outcome<CumulativeFigures> f =
            computeCumulative(annual(), sums, month, firstMonth, options, a, mode);
        EXPECT_TRUE(f.ok()) << "month " << month;
        if (!f) break;
        out.push_back(*f);
        sums = f->after;
        ++month;
    }
    return out;
}

MonthAmounts pay(const char* income, const char* special = "0") {
    MonthAmounts a;
    a.income = E(income);
    a.special = E(special);
    return a;
}

TEST(Cumulative, WorkedExampleOfTheYear) {
    const std::vector<CumulativeFigures> year =
        computeYear(std::vector<MonthAmounts>(12, pay("10000", "1750")));
    ASSERT_EQ(year.size(), 12u);
    struct Row {
        int month;
        const char *taxable, *tax, *withheld;
    };
    for (const Row& r : {Row{1, "3250", "97.5", "97.5"}, Row{2, "6500", "195", "97.5"},
                         Row{11, "35750", "1072.5", "97.5"}, Row{12, "39000", "1380", "307.5"}}) {
        const CumulativeFigures& f = year[static_cast<std::size_t>(r.month - 1)];
        EXPECT_EQ(S(f.taxable), r.taxable) << "month " << r.month;
        EXPECT_EQ(S(f.tax), r.tax) << "month " << r.month;
        EXPECT_EQ(S(f.withholding), r.withheld) << "month " << r.month;
    }
    EXPECT_EQ(S(year[11].withheldBefore), "1072.5");
    EXPECT_EQ(S(year[11].ratePercent), "10");
    EXPECT_EQ(S(year[11].quickDeduction), "2520");
    EXPECT_EQ(S(year[11].after.basicDeduction), "60000");
    EXPECT_EQ(S(year[11].afterTax), "7942.5"); // 10,000 − 1,750 − 307.50
}

// One month whose cumulative taxable income lands at a chosen place of each band.
TEST(Cumulative, EveryBandOfTheAnnualTable) {
    struct Case {
        const char* taxable;
        const char *rate, *quick, *tax;
    };
    const Case cases[] = {
        {"0.01", "3", "0", "0"}, // 0.0003 rounds to nothing
        {"1000", "3", "0", "30"},
        {"36000", "3", "0", "1080"}, // an upper bound belongs to the lower band
        {"36000.01", "10", "2520", "1080"},
        {"100000", "10", "2520", "7480"},
        {"144000", "10", "2520", "11880"},
        {"144000.01", "20", "16920", "11880"},
        {"200000", "20", "16920", "23080"},
        {"300000", "20", "16920", "43080"},
        {"350000", "25", "31920", "55580"},
        {"420000", "25", "31920", "73080"},
        {"500000", "30", "52920", "97080"},
        {"660000", "30", "52920", "145080"},
        {"800000", "35", "85920", "194080"},
        {"960000", "35", "85920", "250080"},
        {"1000000", "45", "181920", "268080"},
        {"1234567.89", "45", "181920", "373635.55"}, // 373,635.5505
    };
    for (const Case& c : cases) {
        const std::vector<CumulativeFigures> f =
            computeYear({pay(S(E(c.taxable) + Exact(5000)).c_str())});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(S(f[0].taxable), c.taxable);
        EXPECT_EQ(S(f[0].ratePercent), c.rate) << c.taxable;
        EXPECT_EQ(S(f[0].quickDeduction), c.quick) << c.taxable;
        EXPECT_EQ(S(f[0].tax), c.tax) << c.taxable;
        EXPECT_EQ(S(f[0].withholding), c.tax) << c.taxable;
    }
}

TEST(Cumulative, EveryDeductionCounts) {
    MonthAmounts a = pay("30000", "2000");
    a.taxFree = E("1000");
    a.specialAdditional = E("3000");
    a.other = E("500");
    a.relief = E("100");
    const std::vector<CumulativeFigures> f = computeYear({a, a});
    ASSERT_EQ(f.size(), 2u);
    // 30,000 − 1,000 − 5,000 − 2,000 − 3,000 − 500 = 18,500 → 555; less 100 of relief.
    EXPECT_EQ(S(f[0].taxable), "18500");
    EXPECT_EQ(S(f[0].withholding), "455");
    EXPECT_EQ(S(f[1].taxable), "37000"); // 3,700 − 2,520 = 1,180 less 200 less 455
    EXPECT_EQ(S(f[1].tax), "1180");
    EXPECT_EQ(S(f[1].withholding), "525");
    EXPECT_EQ(S(f[1].afterTax), "27475"); // 30,000 − 2,000 − 525
}

TEST(Cumulative, LessPayWithholdsNothingAndRefundsNothing) {
    const std::vector<CumulativeFigures> f = computeYear({pay("20000"), pay("3000"), pay("20000")});
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(S(f[0].withholding), "450"); // 15,000 × 3 %
    EXPECT_EQ(S(f[1].tax), "390");         // 13,000 × 3 % is less than the 450 withheld
    EXPECT_EQ(S(f[1].withholding), "0");
    EXPECT_EQ(S(f[1].afterTax), "3000");
    EXPECT_EQ(S(f[2].tax), "840"); // 28,000 × 3 %: the later month absorbs the difference
    EXPECT_EQ(S(f[2].withholding), "390");
    EXPECT_EQ(S(f[2].after.withheld), "840");
}

TEST(Cumulative, BasicDeductionOfJoinersAndOptions) {
    struct Case {
        const char* what;
        int firstMonth;
        DeductionOptions options;
        const char* income;
        int months;
        const char *basic, *taxable, *withheld; // of the last month
    };
    const Case cases[] = {
        {"joins in April", 4, {}, "10000", 1, "5000", "5000", "150"},
        {"joins in April, no wages before", 4, {true, false}, "10000", 1, "20000", "0", "0"},
        {"joins in April, December", 4, {}, "10000", 9, "45000", "45000", "500"},
        {"low earner at 60,000 from January", 1, {false, true}, "5000", 12, "60000", "0", "0"},
        {"low earner passes 60,000 in November",
         1,
         {false, true},
         "6000",
         11,
         "60000",
         "6000",
         "180"},
        {"the option's year in December", 1, {false, true}, "6000", 12, "60000", "12000", "180"},
    };
    for (const Case& c : cases) {
        const std::vector<CumulativeFigures> f = computeYear(
            std::vector<MonthAmounts>(static_cast<std::size_t>(c.months), pay(c.income)),
            c.firstMonth, c.options);
        ASSERT_EQ(f.size(), static_cast<std::size_t>(c.months)) << c.what;
        EXPECT_EQ(S(f.back().after.basicDeduction), c.basic) << c.what;
        EXPECT_EQ(S(f.back().taxable), c.taxable) << c.what;
        EXPECT_EQ(S(f.back().withholding), c.withheld) << c.what;
    }
    // The joiner's months withhold the cumulative tax of December between them.
    const std::vector<CumulativeFigures> year =
        computeYear(std::vector<MonthAmounts>(9, pay("10000")), 4);
    EXPECT_EQ(S(year.back().tax), "1980"); // 45,000 × 10 % − 2,520
    EXPECT_EQ(S(year.back().after.withheld), "1980");
}

TEST(Cumulative, MonthsWithoutPayInsideTheSpanCount) {
    YearToDate sums;
    Outcome<CumulativeFigures> feb =
        computeCumulative(annual(), sums, 2, 2, {}, pay("10000"), TaxMode::Gross);
    ASSERT_TRUE(feb.ok());
    Outcome<CumulativeFigures> may =
        computeCumulative(annual(), feb->after, 5, 2, {}, pay("10000"), TaxMode::Gross);
    ASSERT_TRUE(may.ok());
    EXPECT_EQ(S(may->after.basicDeduction), "20000"); // February to May
    EXPECT_EQ(S(may->taxable), "0");
}

// Employer-borne: the net entered comes back as gross − tax, and the gross computation of the
// worked-back gross incomes withholds the same.
TEST(Cumulative, EmployerBorneWorksBackTheGross) {
    EXPECT_EQ(S(computeYear({pay("10000")}, 1, {}, TaxMode::Net)[0].grossIncome), "10154.64");
    const char* const nets[] = {"0",         "4999.99", "8000",   "10000",   "34920",   "40000",
                                "123456.78", "250000",  "600000", "1000000", "33333.33"};
    for (const char* net : nets) {
        const std::vector<MonthAmounts> months(12, pay(net, "1000"));
        const std::vector<CumulativeFigures> byNet = computeYear(months, 1, {}, TaxMode::Net);
        ASSERT_EQ(byNet.size(), 12u) << net;
        std::vector<MonthAmounts> grossMonths;
        for (const CumulativeFigures& f : byNet) {
            EXPECT_EQ(S(f.grossIncome - f.withholding), S(E(net))) << net;
            EXPECT_EQ(S(f.afterTax), S(E(net) - E("1000"))) << net;
            grossMonths.push_back(pay(S(f.grossIncome).c_str(), "1000"));
        }
        const std::vector<CumulativeFigures> byGross = computeYear(grossMonths);
        for (std::size_t m = 0; m < 12; ++m) {
            EXPECT_EQ(S(byGross[m].withholding), S(byNet[m].withholding)) << net << " " << m;
            EXPECT_EQ(S(byGross[m].tax), S(byNet[m].tax)) << net << " " << m;
        }
    }
}

class Bonus : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::vector<TaxBand> bands;
    void SetUp() override {
        setProgramDirectory(dir.path());
        ASSERT_TRUE(writeDefaultRateTable(rateTablePath()));
        const Outcome<BracketTable> table = loadBracketTable(rateTablePath());
        ASSERT_TRUE(table) << table.problem().message.toUtf8();
        Outcome<std::vector<TaxBand>> b = monthlyWageBands(*table);
        ASSERT_TRUE(b.ok());
        bands = *b;
    }
};

TEST_F(Bonus, EveryBandEdgeOfTheMonthlyTable) {
    struct Case {
        const char *bonus, *rate, *quick, *tax;
    };
    const Case cases[] = {
        {"0", "3", "0", "0"},
        {"36000", "3", "0", "1080"},
        {"36001", "10", "210", "3390.1"}, // the cliff: one yuan more, 2,310.10 more tax
        {"144000", "10", "210", "14190"},
        {"144001", "20", "1410", "27390.2"},
        {"300000", "20", "1410", "58590"},
        {"300001", "25", "2660", "72340.25"},
        {"420000", "25", "2660", "102340"},
        {"420001", "30", "4410", "121590.3"},
        {"660000", "30", "4410", "193590"},
        {"660001", "35", "7160", "223840.35"},
        {"960000", "35", "7160", "328840"},
        {"960001", "45", "15160", "416840.45"},
        {"36000.12", "10", "210", "3390.01"}, // 3,000.01 a month: the next band already
    };
    for (const Case& c : cases) {
        Outcome<BonusFigures> f = computeSeparateBonus(bands, E(c.bonus));
        ASSERT_TRUE(f.ok()) << c.bonus;
        EXPECT_EQ(S(f->ratePercent), c.rate) << c.bonus;
        EXPECT_EQ(S(f->quickDeduction), c.quick) << c.bonus;
        EXPECT_EQ(S(f->tax), c.tax) << c.bonus;
        EXPECT_EQ(S(f->afterTax), S(E(c.bonus) - E(c.tax))) << c.bonus;
    }
}

TEST_F(Bonus, ComparedOverTheYear) {
    struct Case {
        const char* what;
        const char *income, *special;
        int monthsEntered, bonusMonth;
        const char* bonus;
        const char *separate, *combined;
        BonusComparison::Lower lower;
        int projected;
    };
    using L = BonusComparison::Lower;
    const Case cases[] = {
        // The worked example's 1,380 of wages and 36,000 × 3 % on its own, against December's
        // cumulative 75,000 × 10 % − 2,520.
        {"worked example", "10000", "1750", 12, 12, "36000", "2460", "4980", L::Separate, 0},
        // March entered, the rest of the year the March pay again.
        {"projected from March", "10000", "1750", 3, 3, "36000", "2460", "4980", L::Separate, 9},
        // Nothing taxable all year: on its own the bonus pays 3 %.
        {"low earner", "3000", "0", 12, 12, "20000", "600", "0", L::Combined, 0},
        {"nothing to compare", "3000", "0", 12, 6, "0", "0", "0", L::Same, 0},
    };
    for (const Case& c : cases) {
        BonusPlan plan;
        for (int m = 1; m <= c.monthsEntered; ++m)
            plan.months.push_back(PlannedMonth{m, pay(c.income, c.special)});
        plan.bonusMonth = c.bonusMonth;
        plan.bonus = E(c.bonus);
        Outcome<BonusComparison> r = compareBonus(annual(), bands, plan);
        ASSERT_TRUE(r.ok()) << c.what;
        EXPECT_EQ(S(r->separate.total), c.separate) << c.what;
        EXPECT_EQ(S(r->combined.total), c.combined) << c.what;
        EXPECT_EQ(r->lower, c.lower) << c.what;
        EXPECT_EQ(r->projectedMonths, c.projected) << c.what;
        EXPECT_EQ(S(r->saving), S(r->lower == L::Separate ? r->combined.total - r->separate.total
                                                          : r->separate.total - r->combined.total))
            << c.what;
    }
}

TEST(WithholdingTable, BuiltInTableIsTheLawSince2019) {
    const WithholdingTables& tables = defaultWithholdingTables();
    EXPECT_EQ(tables.forYear(2018), nullptr);
    ASSERT_NE(tables.forYear(2019), nullptr);
    EXPECT_EQ(tables.forYear(2035), tables.forYear(2019));
    const WithholdingTable& t = *tables.forYear(2019);
    EXPECT_EQ(S(t.basicDeduction), "5000");
    EXPECT_EQ(S(t.annualDeduction), "60000");
    EXPECT_TRUE(t.bonusSeparateAllowed(2027));
    EXPECT_FALSE(t.bonusSeparateAllowed(2028));
    const char* const expected[][4] = {{"0", "36000", "3", "0"},
                                       {"36000", "144000", "10", "2520"},
                                       {"144000", "300000", "20", "16920"},
                                       {"300000", "420000", "25", "31920"},
                                       {"420000", "660000", "30", "52920"},
                                       {"660000", "960000", "35", "85920"},
                                       {"960000", "-", "45", "181920"}};
    ASSERT_EQ(t.bands.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        const TaxBand& b = t.bands[i];
        EXPECT_EQ(S(b.lower), expected[i][0]);
        EXPECT_EQ(b.upper ? S(*b.upper) : "-", expected[i][1]);
        EXPECT_EQ(S(b.ratePercent), expected[i][2]);
        EXPECT_EQ(S(b.quickDeduction), expected[i][3]);
    }
}

TEST(WithholdingTable, DescriptionsThatAreRefusedNameTheirLine) {
    const std::string good = "table 2019\nbasic-deduction 5000\nband 0 100 3 0\nband 100 - 10 7\n";
    EXPECT_TRUE(parseWithholdingTables(good).ok());
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"", "预扣率表是空的"},
        {"band 0 - 3 0\n", "第1行：应先写 table 年份"},
        {"table 2019\nband 0 100 3 0\nband 100 - 10 7\n", "第1行：缺少每月减除费用"},
        {"table 2019\nbasic-deduction 5000\nband 0 100 3 0\nband 150 - 10 7\n",
         "第1行：级距应首尾相接"},
        {"table 2019\nbasic-deduction 5000\nband 0 - 3 0\nband 100 200 10 7\n",
         "第1行：只有最后一级可以没有上限"},
        {"table 2019\nbasic-deduction 5000\nband 0 100 100 0\n", "第1行：税率应小于100"},
        {"table 2019\nbasic-deduction 5,000\n", "第2行：金额不对"},
        {"table 2019\nbasic-deduction 5000\nband 0 100 3\n",
         "第3行：级距应有下限、上限、税率和速算扣除数"},
        {"table 2019\nrate 3\n", "第2行：无法识别"},
        {good + "table 2019\n", "第5行：年份重复"},
    };
    for (const Case& c : cases) {
        Outcome<WithholdingTables> t = parseWithholdingTables(c.text);
        ASSERT_FALSE(t.ok()) << c.text;
        EXPECT_EQ(t.problem().message.toUtf8(), c.message) << c.text;
    }
    // A later law applies from its year on.
    Outcome<WithholdingTables> two =
        parseWithholdingTables(good + "table 2030\nbasic-deduction 6000\nband 0 - 3 0\n");
    ASSERT_TRUE(two.ok());
    EXPECT_EQ(S(two->forYear(2029)->basicDeduction), "5000");
    EXPECT_EQ(S(two->forYear(2030)->basicDeduction), "6000");
}

TEST(WithholdingTable, FileIsWrittenWhenMissingAndReadAfresh) {
    testing::TempDir dir;
    const std::filesystem::path path = dir / "预扣率表.txt";
    Outcome<WithholdingTables> first = loadWithholdingTables(path);
    ASSERT_TRUE(first.ok());
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(first->tables().size(), 1u);
    testing::writeFile(path, testing::readFile(path) + "band x\n");
    Outcome<WithholdingTables> broken = loadWithholdingTables(path);
    ASSERT_FALSE(broken.ok());
    EXPECT_NE(broken.problem().message.toUtf8().find("预扣率表文件有误"), std::string::npos);
    EXPECT_NE(broken.problem().message.toUtf8().find("级距应有下限"), std::string::npos);
}

} // namespace
} // namespace iit
