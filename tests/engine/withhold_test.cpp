// The stateless withhold computation: the worked example through its rows, interleaved
// employees and a joiner, the header and blank rows, net mode, and every kind of refused row
// named at once.
#include "engine/withhold.h"

#include "base/files.h"
#include "engine/rate_table_file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace iit {
namespace {

using namespace engine;

const WithholdingTable& annual() {
    return *defaultWithholdingTables().forYear(2024);
}

CellRow Row(const char* name, const char* id, const std::string& month, const char* income,
            const char* special = "") {
    return {name, id, month, income, "", special, "", ""};
}

std::string joined(const CellRow& row) {
    std::string s;
    for (std::size_t i = 0; i < row.size(); ++i)
        s += (i ? "|" : "") + row[i];
    return s;
}

TEST(withhold, WorkedExampleRowByRow) {
    std::vector<CellRow> rows = {withholdInputHeader()};
    rows[0][2] = " 月 份 "; // spaces in a header cell are ignored
    for (int m = 1; m <= 12; ++m)
        rows.push_back(Row("张三", "110105194912310029", std::to_string(m), "10000", "1750"));
    Outcome<std::vector<CellRow>> out = withhold(rows, TaxMode::Gross, annual());
    ASSERT_TRUE(out.ok()) << out.problem().message.toUtf8();
    ASSERT_EQ(out->size(), 12u);
    EXPECT_EQ(joined((*out)[0]), "张三|110105194912310029|1|10000||1750||"
                                 "|10000|5000|3250|3|0|97.5|0|97.5|8152.5");
    EXPECT_EQ(joined((*out)[11]), "张三|110105194912310029|12|10000||1750||"
                                  "|120000|60000|39000|10|2520|1380|1072.5|307.5|7942.5");
    EXPECT_EQ(withholdOutputHeader(TaxMode::Gross).size(), 17u);
    EXPECT_EQ((*out)[0].size(), 17u);
}

TEST(withhold, EmployeesInterleavedAndAJoinerWithAGap) {
    const std::vector<CellRow> rows = {
        Row("甲", "A1", "1", "20000"),
        Row("乙", "B2", "4", "10000"), // joins in April
        Row("甲", "A1", "2", "3000"),  // less pay: nothing withheld
        {},                            // a blank row is no row
        Row("乙", "B2", "6", "10000"), // May without a row still counts
        Row("甲", "a1", "3", "20000"), // the same number, spelt with a small letter
    };
    Outcome<std::vector<CellRow>> out = withhold(rows, TaxMode::Gross, annual());
    ASSERT_TRUE(out.ok()) << out.problem().message.toUtf8();
    ASSERT_EQ(out->size(), 5u);
    struct Expect {
        const char *cumIncome, *basic, *taxable, *withheld;
    };
    const Expect expected[] = {{"20000", "5000", "15000", "450"},
                               {"10000", "5000", "5000", "150"},
                               {"23000", "10000", "13000", "0"},
                               {"20000", "15000", "5000", "0"},
                               {"43000", "15000", "28000", "390"}};
    for (std::size_t i = 0; i < 5; ++i) {
        const CellRow& r = (*out)[i];
        EXPECT_EQ(r[8], expected[i].cumIncome) << i;
        EXPECT_EQ(r[9], expected[i].basic) << i;
        EXPECT_EQ(r[10], expected[i].taxable) << i;
        EXPECT_EQ(r[15], expected[i].withheld) << i;
    }
    EXPECT_EQ((*out)[4][0], "甲");
    EXPECT_EQ((*out)[4][1], "a1"); // the cells come back as given
}

TEST(withhold, NetModeAddsTheGross) {
    const std::vector<CellRow> rows = {Row("丙", "C3", "1", "10000"),
                                       Row("丙", "C3", "2", "10000")};
    Outcome<std::vector<CellRow>> out = withhold(rows, TaxMode::Net, annual());
    ASSERT_TRUE(out.ok());
    ASSERT_EQ((*out)[0].size(), 18u);
    EXPECT_EQ((*out)[0][17], "10154.64");
    EXPECT_EQ((*out)[0][15], "154.64");
    EXPECT_EQ((*out)[0][16], "10000");   // 实发: the net less the special deductions (none)
    EXPECT_EQ((*out)[1][8], "20309.28"); // the cumulative income is of the gross
    EXPECT_EQ(withholdOutputHeader(TaxMode::Net).back(), "本月税前收入");
}

TEST(withhold, EveryRefusedRowIsNamed) {
    std::vector<CellRow> rows = {
        withholdInputHeader(),
        Row("甲", "A1", "3", "10000"),
        Row("甲", "A1", "3", "10000"),         // row 3: the same month again
        Row("乙", "B2", "13", "10000"),        // row 4
        Row("乙", "B2", "0", "10000"),         // row 5
        Row("丙", "C3", "1", "1,00"),          // row 6: a group of two
        Row("丙", "C3", "2", "10000.123"),     // row 7
        Row("丙", "C3", "3", "-5"),            // row 8
        Row("丁", "", "1", "10000"),           // row 9
        Row("甲", "A1", "2", "10000", "abc"),  // row 10: two faults at once
        Row("戊", "E5", "一月", "10000"),      // row 11
        Row("己", "F6", "1", "1000000000001"), // row 12
    };
    Outcome<std::vector<CellRow>> out = withhold(rows, TaxMode::Gross, annual());
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.problem().message.toUtf8(),
              "第3行：月份应逐行递增，此人第2行已是3月\n"
              "第4行：月份应为1到12的整数\n"
              "第5行：月份应为1到12的整数\n"
              "第6行：本月收入：不是金额\n"
              "第7行：本月收入：金额最多两位小数\n"
              "第8行：本月收入：金额不能为负\n"
              "第9行：身份证号为空\n"
              "第10行：本月专项扣除：不是金额；月份应逐行递增，此人第2行已是3月\n"
              "第11行：月份应为1到12的整数\n"
              "第12行：本月收入：金额过大");
    // Trailing zeros are no decimals: 12.500 is an amount.
    EXPECT_TRUE(withhold({Row("甲", "A1", "1", " 12.500 ")}, TaxMode::Gross, annual()).ok());
}

} // namespace
} // namespace iit

namespace iit {
namespace {

using namespace engine;

// The columns by name, in any order, with the options of the law: the published examples of the
// 60,000 deduction come out as published, a non-resident by the monthly method, and what the
// sheet says against the law is refused by row.
TEST(withhold, ColumnsByNameWithTheOptionsOfTheLaw) {
    testing::TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(writeDefaultRateTable(rateTablePath()));
    const Outcome<BracketTable> table = loadBracketTable(rateTablePath());
    ASSERT_TRUE(table) << table.problem().message.toUtf8();
    const BracketTable& bracket = *table;
    const auto run = [&](int year, const std::vector<CellRow>& rows) {
        return withhold(rows, TaxMode::Gross, *defaultWithholdingTables().forYear(year), &bracket);
    };
    // 2021: 10,000 in January, then 4,000 a month: nothing is withheld all year.
    std::vector<CellRow> low = {{"全年减除6万元", "本月收入", "月份", "证件号码", "姓名", "部门"}};
    for (int m = 1; m <= 12; ++m)
        low.push_back({m == 1 ? "是" : "", m == 1 ? "10000" : "4000", std::to_string(m),
                       "110101199001011237", "张三", "财务"});
    Outcome<std::vector<CellRow>> out = run(2021, low);
    ASSERT_TRUE(out.ok()) << out.problem().message.toUtf8();
    for (const CellRow& r : *out)
        EXPECT_EQ(r[15], "0") << r[2]; // 本月应预扣
    EXPECT_EQ((*out)[11][9], "60000"); // 累计减除费用
    EXPECT_EQ((*out)[0][0], "张三");   // the eight cells in their documented order
    // 2023: 6,000 in January with the deduction: nothing; without it: 30.
    out = run(2023, {{"身份证号", "姓名", "月份", "本月收入", "全年减除6万元"},
                     {"110101199001011237", "甲", "1", "6000", "是"},
                     {"110101199002021231", "乙", "1", "6000", "否"}});
    ASSERT_TRUE(out.ok()) << out.problem().message.toUtf8();
    EXPECT_EQ((*out)[0][15], "0");
    EXPECT_EQ((*out)[1][15], "30");
    // A non-resident by the monthly table: (20,000 − 5,000) × 20 % − 1,410; a relief column.
    out = run(2024, {{"姓名", "证件类型", "证件号码", "月份", "本月收入", "居民", "减免税额"},
                     {"John", "外国护照", "E1234567", "1", "20000", "否", ""},
                     {"甲", "", "110101199001011237", "1", "10000", "", "100"}});
    ASSERT_TRUE(out.ok()) << out.problem().message.toUtf8();
    EXPECT_EQ((*out)[0][15], "1590");
    EXPECT_EQ((*out)[0][10], "");   // no cumulative taxable income
    EXPECT_EQ((*out)[1][15], "50"); // 150 less the relief of 100

    const struct {
        std::vector<CellRow> rows;
        const char* refusal;
    } refused[] = {
        {{{"证件号码", "姓名", "月份", "本月收入", "全年减除6万元"},
          {"110101199001011237", "甲", "7", "10000", "是"}},
         "第2行：全年减除6万元只适用于1月起在本单位任职的职工，此人7月入职"},
        {{{"证件号码", "姓名", "月份", "本月收入", "居民"},
          {"110101199001011237", "甲", "1", "10000", "是"},
          {"110101199001011237", "甲", "2", "10000", "否"}},
         "第3行：居民身份和减除费用选项一年只有一个，此人第2行已定"},
        {{{"证件号码", "姓名", "月份", "本月收入", "证件类型"},
          {"110101199001011237", "甲", "1", "10000", "火星证"}},
         "第2行：证件类型“火星证”不是扣缴申报的证件类型"},
    };
    for (const auto& c : refused) {
        out = run(2024, c.rows);
        ASSERT_FALSE(out.ok()) << c.refusal;
        EXPECT_EQ(out.problem().message.toUtf8(), c.refusal);
    }
    // The columns withhold does not read are told.
    WithholdPass pass(TaxMode::Gross, annual(), &bracket);
    EXPECT_TRUE(pass.takeHeader({"姓名", "部门", "身份证号", "月份", "本月收入", "工号"}));
    EXPECT_EQ(pass.unreadColumns(), (std::vector<std::string>{"部门", "工号"}));
    EXPECT_EQ(pass.idColumn(), 2u);
}

} // namespace
} // namespace iit
