// iitcalc-cli withhold, bonus and ledger on the real executable: residents' wages by the
// cumulative method, the annual bonus, and the payroll ledger shared by programs that may be
// killed at any moment.
#include "tests/support/cli_run.h"
#include "tests/support/identity_numbers.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace iit::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

const std::string kHeader =
    "姓名\t身份证号\t月份\t本月收入\t本月免税收入\t本月专项扣除\t本月专项附加扣除\t本月其他扣除\n";

// The published example: 10,000 a month, special deductions of 1,750, employed all year.
std::string publishedYear() {
    std::string text = kHeader;
    for (int m = 1; m <= 12; ++m)
        text += "张三\t110101199001011237\t" + std::to_string(m) + "\t10000\t\t1750\t\t\n";
    return text;
}

TEST(CliWithhold, PublishedExampleInterleavedEmployeesAndNetPay) {
    TempDir dir;
    writeFile(dir / "year.tsv", publishedYear());
    const CliRun year = runShell(dir, "$CLI --data-dir . withhold year.tsv --year 2025");
    ASSERT_EQ(year.exit, 0) << year.err;
    const std::vector<std::string> lines = splitLines(year.out);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0],
              "张三\t110101199001011237\t1\t10000\t\t1750\t\t\t10000\t5000\t3250\t3\t0\t97."
              "5\t0\t97.5\t8152.5");
    // 累计应纳税所得额, 累计应纳税额 and 本月应预扣 of the months the example gives.
    const struct {
        int month;
        const char *taxable, *tax, *withheld;
    } published[] = {{1, "3250", "97.5", "97.5"},
                     {2, "6500", "195", "97.5"},
                     {11, "35750", "1072.5", "97.5"},
                     {12, "39000", "1380", "307.5"}};
    for (const auto& p : published) {
        const std::vector<std::string> c = cells(lines[static_cast<std::size_t>(p.month - 1)]);
        ASSERT_EQ(c.size(), 17u);
        EXPECT_EQ(c[10], p.taxable) << "month " << p.month;
        EXPECT_EQ(c[13], p.tax) << "month " << p.month;
        EXPECT_EQ(c[15], p.withheld) << "month " << p.month;
    }
    EXPECT_EQ(cells(lines[11])[11], "10"); // 预扣率 in the second band
    EXPECT_EQ(cells(lines[11])[14], "1072.5");

    // Interleaved employees in input order; B joins in March and has no row in April, which
    // still counts for the basic deduction; a blank line and spaces around cells change nothing.
    writeFile(dir / "mixed.tsv", "A\tx1\t1\t8000\n"
                                 "B\tx2\t3\t20000\t\t2000\n"
                                 "\n"
                                 "A\tX1\t2\t8000\n"
                                 "B\t x2 \t5\t20000\t\t2000\n");
    const CliRun mixed = runShell(dir, "$CLI --data-dir . withhold mixed.tsv --year 2025");
    ASSERT_EQ(mixed.exit, 0) << mixed.err;
    const std::vector<std::string> m = splitLines(mixed.out);
    ASSERT_EQ(m.size(), 4u);
    const struct {
        std::size_t line;
        const char *name, *month, *cumIncome, *basic, *taxable, *withheld;
    } rows[] = {{0, "A", "1", "8000", "5000", "3000", "90"},
                {1, "B", "3", "20000", "5000", "13000", "390"},
                {2, "A", "2", "16000", "10000", "6000", "90"},
                {3, "B", "5", "40000", "15000", "21000", "240"}};
    for (const auto& r : rows) {
        const std::vector<std::string> c = cells(m[r.line]);
        ASSERT_EQ(c.size(), 17u) << m[r.line];
        EXPECT_EQ(c[0], r.name);
        EXPECT_EQ(c[2], r.month);
        EXPECT_EQ(c[8], r.cumIncome) << m[r.line];
        EXPECT_EQ(c[9], r.basic) << m[r.line];
        EXPECT_EQ(c[10], r.taxable) << m[r.line];
        EXPECT_EQ(c[15], r.withheld) << m[r.line];
    }

    // Employer-borne: the net entered comes back as gross − tax, an eighteenth cell the gross.
    const CliRun net = runShell(dir, "$CLI --data-dir . withhold year.tsv --mode net --year 2025");
    ASSERT_EQ(net.exit, 0) << net.err;
    const std::vector<std::string> n = splitLines(net.out);
    ASSERT_EQ(n.size(), 12u);
    EXPECT_EQ(cells(n[0])[17], "10100.52");
    EXPECT_EQ(cells(n[0])[15], "100.52");
    for (const std::string& line : n) {
        const std::vector<std::string> c = cells(line);
        ASSERT_EQ(c.size(), 18u);
        EXPECT_DOUBLE_EQ(std::stod(c[17]) - std::stod(c[15]), 10000) << line;
    }
}

TEST(CliWithhold, OutputsByNameAndWorkbookReadBack) {
    TempDir dir;
    writeFile(dir / "year.tsv", publishedYear());
    const std::string plain = runShell(dir, "$CLI --data-dir . withhold year.tsv --year 2025").out;
    ASSERT_EQ(splitLines(plain).size(), 12u);
    const CliRun written =
        runShell(dir, "$CLI --data-dir . withhold year.tsv --year 2025 -o out.tsv && "
                      "$CLI --data-dir . withhold year.tsv --year 2025 -o out.txt && "
                      "$CLI --data-dir . withhold - --year 2025 -o out.CSV <year.tsv && "
                      "$CLI --data-dir . withhold year.tsv --year 2025 -o out.xlsx && "
                      "$CLI --data-dir . withhold out.xlsx --year 2025");
    ASSERT_EQ(written.exit, 0) << written.err;
    // A file has the header; standard output the rows alone.
    const std::string header =
        "姓名\t身份证号\t月份\t本月收入\t本月免税收入\t本月专项扣除\t本月专项附加扣除\t"
        "本月其他扣除\t累计收入\t累计减除费用\t累计应纳税所得额\t预扣率\t速算扣除数\t"
        "累计应纳税额\t累计已预扣\t本月应预扣\t实发\n";
    EXPECT_EQ(readFile(dir / "out.tsv"), header + plain);
    EXPECT_EQ(readFile(dir / "out.txt"), header + plain);
    const std::string csv = readFile(dir / "out.CSV");
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(
        csv.substr(3, csv.find("\r\n") - 3),
        "姓名,身份证号,月份,本月收入,本月免税收入,本月专项扣除,本月专项附加扣除,本月其他扣除,"
        "累计收入,累计减除费用,累计应纳税所得额,预扣率,速算扣除数,累计应纳税额,累计已预扣,本月"
        "应预扣,实发");
    // The workbook's header is recognised and its first eight columns give the same year.
    EXPECT_EQ(written.out, plain);
}

TEST(CliWithhold, RefusedRowsAreNamedAndNothingIsWritten) {
    TempDir dir;
    writeFile(dir / "out.tsv", "the old output\n");
    struct Case {
        const char* what;
        std::string input;
        const char* message; // a part of standard error
    };
    const std::vector<Case> cases = {
        {"month 13", "A\tx1\t13\t8000\n", "第1行：月份应为1到12的整数"},
        {"months not increasing", "A\tx1\t3\t8000\nB\tx2\t1\t1\n\nA\tx1\t3\t8000\n",
         "第4行：月份应逐行递增，此人第1行已是3月"},
        {"thousands separator out of its groups", kHeader + "A\tx1\t1\t\"8,00\"\n",
         "第2行：本月收入：不是金额"},
        {"negative deduction", "A\tx1\t1\t8000\t\t-1\n", "本月专项扣除：金额不能为负"},
        {"three decimals", "A\tx1\t1\t8000.125\n", "金额最多两位小数"},
        {"no number", "A\t\t1\t8000\n", "身份证号为空"},
        {"a refusal after good rows", "A\tx1\t1\t8000\nA\tx1\t2\tabc\n", "第2行"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "in.tsv", c.input);
        const CliRun run =
            runShell(dir, "$CLI --data-dir . withhold in.tsv -o out.tsv --year 2025; echo $?; "
                          "$CLI --data-dir . withhold in.tsv --year 2025");
        EXPECT_EQ(run.out, "1\n"); // nothing printed by the second either
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("nothing was computed or written"), std::string::npos);
        EXPECT_EQ(readFile(dir / "out.tsv"), "the old output\n");
    }
    const struct {
        std::string args;
        int exit;
    } usage[] = {{"withhold", 2},
                 {"withhold a b", 2},
                 {"withhold in.tsv --mode sideways", 2},
                 {"withhold in.tsv --year 20x5", 2},
                 {"withhold missing.tsv", 1},
                 {"withhold in.tsv --year 2018", 1}}; // no withholding table before 2019
    writeFile(dir / "in.tsv", "A\tx1\t1\t8000\n");
    for (const auto& u : usage) {
        const CliRun run = runShell(dir, "$CLI --data-dir . " + u.args);
        EXPECT_EQ(run.exit, u.exit) << u.args;
        if (u.exit == 1) {
            EXPECT_NE(run.err.find(u.args.find("missing") != std::string::npos
                                       ? "missing.tsv"
                                       : "holds no withholding table for 2018"),
                      std::string::npos)
                << run.err;
        }
    }
    writeFile(dir / "empty.tsv", "\n \n");
    const CliRun empty = runShell(dir, "$CLI --data-dir . withhold empty.tsv");
    EXPECT_EQ(empty.exit, 1);
    EXPECT_NE(empty.err.find("the input is empty"), std::string::npos) << empty.err;
}

TEST(CliBonus, BandEdgesJsonAndTheYearBothWays) {
    TempDir dir;
    struct Case {
        std::string args;
        int exit;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"bonus 36000 --year 2025", 0, "应纳税: 1080\n税后: 34920\n税率: 3%\n速算扣除数: 0\n"},
        {"bonus 36001 --year 2025 --json", 0,
         "{\"outcome\":\"computed\",\"amount\":\"36001\",\"tax\":\"3390.1\",\"net\":\"32610.9\","
         "\"rate\":10,\"quick_deduction\":\"210\"}\n"},
        {"bonus 144000 --year 2025 --json", 0,
         "{\"outcome\":\"computed\",\"amount\":\"144000\",\"tax\":\"14190\",\"net\":\"129810\","
         "\"rate\":10,\"quick_deduction\":\"210\"}\n"},
        {"bonus 144000.01 --year 2025", 0,
         "应纳税: 27390\n税后: 116610.01\n税率: 20%\n速算扣除数: 1410\n"},
        {"bonus 0 --year 2025", 0, "应纳税: 0\n税后: 0\n税率: 3%\n速算扣除数: 0\n"},
        // Someone earning 120,000 with 21,000 of deductions: on its own the bonus costs 1,080
        // besides the wages' 1,380; added to December it lifts the year into the 10 % band.
        {"bonus 36000 --year 2025 --year-income 120000 --year-deductions 21000", 0,
         "应纳税: 1080\n税后: 34920\n税率: 3%\n速算扣除数: 0\n"
         "单独计税全年税额: 2460（工资 1380 + 奖金 1080）\n并入综合所得全年税额: 4980\n"
         "较低: 单独计税，少缴 2520\n"},
        // Wages below the year's basic deduction: added to them the bonus is free.
        {"bonus 20000 --year 2025 --year-income 30000 --json", 0,
         "{\"outcome\":\"computed\",\"amount\":\"20000\",\"tax\":\"600\",\"net\":\"19400\","
         "\"rate\":3,\"quick_deduction\":\"0\",\"year_income\":\"30000\",\"year_deductions\":"
         "\"0\",\"separate_wages_tax\":\"0\",\"separate_total\":\"600\",\"combined_total\":\"0\","
         "\"lower\":\"combined\",\"saving\":\"600\"}\n"},
        {"bonus 36000 --year 2028", 1, ""}, // taxed on its own only until 2027
        {"bonus abc", 2, ""},
        {"bonus -- -5", 2, ""},
        {"bonus 1.234", 2, ""},
        {"bonus ''", 2, ""},
        {"bonus 1 2", 2, ""},
        {"bonus 100 --year-income x", 2, ""},
        {"bonus 100 --year-deductions 5", 2, ""},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(dir, c.args);
        EXPECT_EQ(run.exit, c.exit) << c.args << "\n" << run.err;
        EXPECT_EQ(run.out, c.out) << c.args;
        if (c.exit == 2) {
            EXPECT_NE(run.err.find("usage: iitcalc-cli bonus"), std::string::npos) << c.args;
        }
    }
}

std::string monthFile(const std::vector<std::string>& rows) {
    std::string text = "证件号码\t姓名\t本月收入\t本月专项扣除\t全年一次性奖金\n";
    for (const std::string& r : rows)
        text += r + "\n";
    return text;
}

TEST(CliLedger, ImportShowAndPeopleAgreeWithWithhold) {
    TempDir dir;
    writeFile(dir / "m1.tsv", monthFile({"110101199001011237\t张三\t10000\t1750\t",
                                         "11010119900101123X\t李四\t30000\t2000\t"}));
    writeFile(dir / "m2.tsv", monthFile({"110101199001011237\t张三\t10000\t1750\t36000",
                                         "11010119900101123X\t李四\t30000\t2000\t",
                                         "\"" + identityNumber(5) + "\"\t王五\t9000\t\t"}));
    const CliRun imported = runShell(dir, "$CLI --data-dir . ledger import 2025 1 m1.tsv && "
                                          "$CLI --data-dir . ledger import 2025 2 m2.tsv && "
                                          "$CLI --data-dir . ledger import 2025 2 m2.tsv");
    ASSERT_EQ(imported.exit, 0) << imported.err;
    EXPECT_EQ(imported.out, "2025-1: 新增2人，修改0人，删除0人，未变0人；新建职工2人，重算2条\n"
                            "2025-2: 新增3人，修改0人，删除0人，未变0人；新建职工1人，重算3条\n"
                            "2025-2: 新增0人，修改0人，删除0人，未变3人；新建职工0人，重算0条\n");
    // 李四's number fails its check digit: taken, marked and told.
    EXPECT_NE(imported.err.find("11010119900101123X: the check digit"), std::string::npos)
        << imported.err;

    // The computed cells of `ledger show` are those of withhold on the same months.
    writeFile(dir / "same.tsv", "张三\t110101199001011237\t1\t10000\t\t1750\n"
                                "李四\t11010119900101123X\t1\t30000\t\t2000\n"
                                "张三\t110101199001011237\t2\t46000\t\t1750\n"
                                "李四\t11010119900101123X\t2\t30000\t\t2000\n"
                                "王五\t" +
                                    identityNumber(5) + "\t2\t9000\n");
    const std::vector<std::string> expected =
        splitLines(runShell(dir, "$CLI --data-dir . withhold same.tsv --year 2025").out);
    const CliRun show = runShell(dir, "$CLI --data-dir . ledger show 2025 2");
    ASSERT_EQ(show.exit, 0) << show.err;
    const std::vector<std::string> shown = splitLines(show.out);
    ASSERT_EQ(shown.size(), 3u);
    ASSERT_EQ(expected.size(), 5u);
    const std::size_t withholdLine[] = {2, 3, 4};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const std::vector<std::string> s = cells(shown[i]), w = cells(expected[withholdLine[i]]);
        ASSERT_EQ(s.size(), 51u) << shown[i]; // the items, the donation and the insurance last
        for (std::size_t c : {0, 1, 2})
            EXPECT_EQ(s[c], w[c]) << shown[i];
        // 张三's bonus is added to February's income for withhold; the ledger taxes it on its
        // own, so only the others' figures are comparable.
        if (i == 0) continue;
        for (std::size_t c = 8; c < 17; ++c)
            EXPECT_EQ(s[c], w[c]) << "column " << c << ": " << shown[i];
    }
    // 张三: the bonus on its own (1,080), and the year both ways with the months after
    // February projected from it.
    const std::vector<std::string> zhang = cells(shown[0]);
    EXPECT_EQ(zhang[19], "36000");
    EXPECT_EQ(zhang[20], "单独计税");
    EXPECT_EQ(zhang[21], "1080");
    EXPECT_EQ(zhang[24], ""); // 备注
    EXPECT_EQ(zhang[25], "2460");
    EXPECT_EQ(zhang[26], "4980");
    EXPECT_EQ(zhang[27], "单独计税");
    EXPECT_EQ(zhang[28], "2520");
    EXPECT_EQ(zhang[29], "10");
    EXPECT_EQ(cells(shown[1])[23], "校验位不符");
    EXPECT_EQ(cells(shown[1])[25], ""); // no bonus, no comparison

    const CliRun people = runShell(dir, "$CLI --data-dir . ledger people && "
                                        "$CLI --data-dir . ledger people 2024 | wc -l && "
                                        "$CLI --data-dir . ledger people 2025 -o p.csv");
    ASSERT_EQ(people.exit, 0) << people.err;
    // The header first; 入职月份 the month the deduction counts from (王五 came in February).
    const std::string header =
        "年度\t证件类型\t证件号码\t姓名\t银行卡号\t入职月份\t离职月份\t"
        "居民\t减除费用从1月起算\t全年减除6万元\t证件号码校验\t证件类型检查\t工号\t"
        "任职受雇从业类型\t手机号码\t任职受雇从业日期\t离职日期\t入职年度就业情形\t国籍(地区)\t"
        "性别\t出生日期\t商业健康保险由工资代扣\t税延养老保险由工资代扣\n";
    const std::string facts = "\t\t\t雇员\t\t\t\t\t\t\t\t否\t否\n";
    EXPECT_EQ(people.out,
              header + "2025\t居民身份证\t110101199001011237\t张三\t\t1\t\t是\t否\t否\t" + facts +
                  "2025\t居民身份证\t11010119900101123X\t李四\t\t1\t\t是\t否\t否\t校验位不符" +
                  facts + "2025\t居民身份证\t" + identityNumber(5) + "\t王五\t\t2\t\t是\t否\t否\t" +
                  facts + "1\n");                              // 2024 has nobody: the header alone
    EXPECT_EQ(splitLines(readFile(dir / "p.csv")).size(), 4u); // the header and three people

    // A faulty row refuses the whole file: the month stays as it was.
    writeFile(dir / "bad.tsv", monthFile({"110101199001011237\t张三\t50000\t1750\t",
                                          "11010119900101123X\t李四\tabc\t2000\t"}));
    const CliRun bad = runShell(dir, "$CLI --data-dir . ledger import 2025 2 bad.tsv");
    EXPECT_EQ(bad.exit, 1);
    EXPECT_NE(bad.err.find("bad.tsv: 第3行：本月收入：不是金额"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("the ledger was not changed"), std::string::npos);
    EXPECT_EQ(runShell(dir, "$CLI --data-dir . ledger show 2025 2").out, show.out);

    const struct {
        const char* args;
        int exit;
    } usage[] = {{"ledger", 2},
                 {"ledger frob", 2},
                 {"ledger import 2025 13 m1.tsv", 2},
                 {"ledger import 20x5 1 m1.tsv", 2},
                 {"ledger import 2025 1", 2},
                 {"ledger opening 2025 12 m1.tsv", 2},
                 {"ledger import 2025 1 m1.tsv -o x.tsv", 2},
                 {"ledger show 2025", 2},
                 {"ledger people 2025 2026", 2},
                 {"ledger import 2025 1 missing.tsv", 1},
                 {"ledger import 2018 1 m1.tsv", 1}}; // no withholding table before 2019
    for (const auto& u : usage)
        EXPECT_EQ(runShell(dir, std::string("$CLI --data-dir . ") + u.args).exit, u.exit) << u.args;
}

TEST(CliLedger, OpeningBalancesCarryIntoTheFirstMonth) {
    TempDir dir;
    writeFile(dir / "open.tsv", "身份证号\t姓名\t累计收入\t累计专项扣除\t累计已预扣\n"
                                "110101199001011237\t赵六\t50000\t8000\t600\n");
    writeFile(dir / "june.tsv", monthFile({"110101199001011237\t赵六\t10000\t1600\t"}));
    writeFile(dir / "other.tsv", "证件号码\t姓名\t截至月份\n110101199001011237\t赵六\t4\n");
    const CliRun run =
        runShell(dir, "$CLI --data-dir . ledger opening 2025 5 open.tsv && "
                      "$CLI --data-dir . ledger import 2025 6 june.tsv >/dev/null && "
                      "$CLI --data-dir . ledger show 2025 6 | cut -f 9-17");
    ASSERT_EQ(run.exit, 0) << run.err;
    // Through May: 50,000 of income, 25,000 of basic deduction from January, 8,000 of special
    // deductions, 600 withheld; June adds its own.
    EXPECT_EQ(run.out, "2025-5: 新增1人，修改0人，删除0人，未变0人；新建职工1人，重算0条\n"
                       "60000\t30000\t20400\t3\t0\t612\t600\t12\t8388\n");
    const CliRun other = runShell(dir, "$CLI --data-dir . ledger opening 2025 5 other.tsv");
    EXPECT_EQ(other.exit, 1);
    EXPECT_NE(other.err.find("第2行：截至月份 4"), std::string::npos) << other.err;
}

TEST(CliLedger, DamagedLedgerIsSetAsideAndANewOneStarted) {
    TempDir dir;
    writeFile(dir / "m1.tsv", monthFile({"110101199001011237\t张三\t10000\t1750\t"}));
    fs::create_directories(dir / "d");
    writeFile(dir / "d" / "工资台账.db", "not a ledger at all");
    writeFile(dir / "d" / "工资台账.db-wal", "wal");
    const CliRun damaged = runShell(dir, "$CLI --data-dir d ledger import 2025 1 m1.tsv");
    EXPECT_EQ(damaged.exit, 1);
    EXPECT_NE(damaged.err.find("工资台账文件已损坏"), std::string::npos) << damaged.err;
    EXPECT_NE(damaged.err.find("原文件已改名保存为"), std::string::npos) << damaged.err;
    std::vector<std::string> aside;
    for (const auto& e : fs::directory_iterator(dir / "d"))
        if (e.path().filename().string().find(".damaged-") != std::string::npos)
            aside.push_back(e.path().filename().string());
    std::sort(aside.begin(), aside.end());
    ASSERT_EQ(aside.size(), 2u);
    EXPECT_EQ(readFile(dir / "d" / aside[0]), "not a ledger at all");
    EXPECT_EQ(aside[1], aside[0] + "-wal");
    const CliRun fresh = runShell(dir, "$CLI --data-dir d ledger import 2025 1 m1.tsv && "
                                       "$CLI --data-dir d ledger show 2025 1 | wc -l");
    EXPECT_EQ(fresh.exit, 0) << fresh.err;
    EXPECT_EQ(splitLines(fresh.out).back(), "1");
}

// The check names a figure that is not as it must be, and damage of the file's own structures
// (an index that no longer matches its table shows figures the table does not hold).
TEST(CliLedger, TheCheckNamesDamagedFiguresAndStructures) {
    TempDir dir;
    writeFile(dir / "m1.tsv", monthFile({"110101199001011237\t张三\t10000\t1750\t30000",
                                         "11010519491231002X\t李四\t8000\t\t"}));
    const CliRun sound =
        runShell(dir, "$CLI --data-dir d ledger import 2025 1 m1.tsv >/dev/null && "
                      "$CLI --data-dir d ledger check 2025");
    EXPECT_EQ(sound.exit, 0) << sound.err;
    EXPECT_EQ(sound.out, "2025: 2 employees, 2 entries, every figure as it must be\n");
    const std::string ledger = (dir / "d" / "工资台账.db").string();
    const struct {
        const char* damage;
        const char* line; // the first line of the report
    } cases[] = {
        {"UPDATE entry SET withholding = withholding + 1 WHERE income = 800000",
         "李四\t11010519491231002X\t1\t本月应预扣为90.01，应为90\n"},
        {"PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, 'bonus > 0', "
         "'bonus > 0 AND bonus < 0') WHERE name = 'entry_bonus'",
         "-\t-\t0\t台账文件的内部结构不一致："},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage);
        ASSERT_TRUE(fs::copy_file(ledger, ledger + ".sound", fs::copy_options::overwrite_existing));
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(ledger.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, c.damage, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        const CliRun damaged = runShell(dir, "$CLI --data-dir d ledger check 2025");
        EXPECT_EQ(damaged.exit, 1) << damaged.err;
        EXPECT_EQ(damaged.out.rfind(c.line, 0), 0u) << damaged.out;
        fs::rename(ledger + ".sound", ledger);
    }
}

// A ledger whose header and schema are sound but one page of its entries is overwritten: the
// command that meets the page fails with the damage named, and the file's bytes are kept, in
// place or set aside, never written over.
TEST(CliLedger, DamagedPageOfEntriesFailsTheCommandAndKeepsTheBytes) {
    TempDir dir;
    std::string jan = monthFile({}), feb = monthFile({}), again = monthFile({});
    for (int i = 0; i < 400; ++i) {
        const std::string who = identityNumber(100000 + i) + "\t员工" + std::to_string(i);
        if (i < 20) jan += who + "\t" + std::to_string(6000 + i) + "\t500\t\n";
        feb += who + "\t" + std::to_string(7000 + i) + "\t500\t\n";
        again += who + "\t" + std::to_string(8000 + i) + "\t500\t\n";
    }
    writeFile(dir / "m1.tsv", jan);
    writeFile(dir / "m2.tsv", feb);
    writeFile(dir / "again.tsv", again);
    const CliRun made = runShell(dir, "$CLI --data-dir d ledger import 2025 1 m1.tsv && "
                                      "$CLI --data-dir d ledger import 2025 2 m2.tsv");
    ASSERT_EQ(made.exit, 0) << made.err;
    const fs::path ledger = dir / "d" / "工资台账.db";
    ASSERT_FALSE(fs::exists(ledger.string() + "-wal")); // checkpointed by the last one out
    // The entries' tree has an interior root; the child in the middle of it is a leaf of
    // February's entries (January's few fill the first one), which both commands read.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name = 'entry'", -1, &q,
                       nullptr);
    ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
    const auto root = static_cast<std::size_t>(sqlite3_column_int64(q, 0));
    sqlite3_finalize(q);
    sqlite3_close(db);
    std::string bytes = readFile(ledger);
    const auto at = [&](std::size_t i, int n) {
        std::size_t v = 0;
        for (int k = 0; k < n; ++k)
            v = (v << 8) | static_cast<unsigned char>(bytes.at(i + static_cast<std::size_t>(k)));
        return v;
    };
    const std::size_t page = at(16, 2), rootAt = (root - 1) * page;
    ASSERT_EQ(at(rootAt, 1), 0x02u); // an interior page of an index-shaped tree
    const std::size_t cells = at(rootAt + 3, 2);
    ASSERT_GE(cells, 4u);
    const std::size_t leaf = at(rootAt + at(rootAt + 12 + 2 * (cells / 2), 2), 4);
    ASSERT_GT(leaf, root);
    ASSERT_LT(leaf * page, bytes.size()); // in the middle of the file
    bytes.replace((leaf - 1) * page, page, std::string(page, '\x5a'));

    for (const char* command : {"ledger show 2025 2", "ledger import 2025 2 again.tsv"}) {
        SCOPED_TRACE(command);
        for (const auto& e : fs::directory_iterator(dir / "d"))
            if (e.path().filename().string().starts_with("工资台账.db")) fs::remove(e.path());
        writeFile(ledger, bytes);
        const CliRun run = runShell(dir, std::string("$CLI --data-dir d ") + command);
        EXPECT_EQ(run.exit, 1) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("工资台账文件已损坏"), std::string::npos) << run.err;
        int kept = 0;
        for (const auto& e : fs::directory_iterator(dir / "d")) {
            const std::string name = e.path().filename().string();
            if (name == "工资台账.db" || (name.find(".damaged-") != std::string::npos &&
                                          !name.ends_with("-wal") && !name.ends_with("-shm")))
                kept += readFile(e.path()) == bytes;
        }
        EXPECT_EQ(kept, 1);
    }
}

// 10,000 employees of one month, as an import reads them.
std::string bigMonth() {
    std::string text = "证件号码\t姓名\t本月收入\t本月专项扣除\n";
    for (int i = 0; i < 10000; ++i)
        text += identityNumber(100000 + i) + "\t员工" + std::to_string(i) + "\t" +
                std::to_string(5000 + i) + "\t500\n";
    return text;
}

TEST(CliLedger, KilledImportsChangeNothingAndTwoProgramsShareTheLedger) {
    TempDir dir;
    writeFile(dir / "big.tsv", bigMonth());
    // An import killed at any moment leaves the month empty or whole, and the ledger sound.
    const struct {
        const char *year, *delay;
    } kills[] = {{"2021", "0.05"}, {"2022", "0.15"}, {"2023", "0.3"}};
    for (const auto& k : kills) {
        SCOPED_TRACE(k.delay);
        const std::string show = std::string("$CLI --data-dir . ledger show ") + k.year + " 1";
        const CliRun run = runShell(dir, std::string("$CLI --data-dir . ledger import ") + k.year +
                                             " 1 big.tsv >/dev/null & sleep " + k.delay +
                                             "; kill -9 $! 2>/dev/null; wait; " + show +
                                             " | wc -l; " + show + " | wc -l");
        EXPECT_EQ(run.exit, 0) << run.err;
        const std::vector<std::string> counts = splitLines(run.out);
        ASSERT_EQ(counts.size(), 2u) << run.out;
        EXPECT_TRUE(counts[0] == "0" || counts[0] == "10000") << counts[0];
        EXPECT_EQ(counts[1], counts[0]);
        EXPECT_EQ(run.err.find("损坏"), std::string::npos) << run.err;
    }
    // Two programs at once: each waits for the other's transaction, both succeed.
    const CliRun both = runShell(dir,
                                 "$CLI --data-dir . ledger import 2026 1 big.tsv >a.out & a=$!; "
                                 "$CLI --data-dir . ledger import 2026 2 big.tsv >b.out & b=$!; "
                                 "wait $a; ea=$?; wait $b; eb=$?; echo $ea $eb; "
                                 "$CLI --data-dir . ledger show 2026 1 | wc -l; "
                                 "$CLI --data-dir . ledger show 2026 2 | wc -l",
                                 60);
    EXPECT_EQ(both.out, "0 0\n10000\n10000\n") << both.err;
}

} // namespace
} // namespace iit::testing

namespace iit::testing {
namespace {

// A month imported again from a corrected sheet: those it leaves out are named and kept, or
// removed with --replace; the sheet's header may use the names payroll sheets commonly use.
TEST(CliLedger, AMonthImportedAgainFromACorrectedSheet) {
    TempDir dir;
    writeFile(dir / "full.tsv", monthFile({identityNumber(1) + "\t甲\t9000\t500\t",
                                           identityNumber(2) + "\t乙\t8000\t500\t"}));
    writeFile(dir / "less.tsv", "身份证号\t姓名\t应发工资\n" + identityNumber(1) + "\t甲\t9100\n");
    const CliRun kept = runShell(dir, "$CLI --data-dir . ledger import 2025 1 full.tsv && "
                                      "$CLI --data-dir . ledger import 2025 1 less.tsv");
    ASSERT_EQ(kept.exit, 0) << kept.err;
    EXPECT_NE(kept.err.find("less.tsv: 1 employee of 2025-1 not in it keep their entries (乙); "
                            "--replace removes them"),
              std::string::npos)
        << kept.err;
    const CliRun replaced =
        runShell(dir, "$CLI --data-dir . ledger import 2025 1 less.tsv --replace && "
                      "$CLI --data-dir . ledger show 2025 1 -o shown.tsv");
    ASSERT_EQ(replaced.exit, 0) << replaced.err;
    EXPECT_NE(replaced.out.find("删除1人"), std::string::npos) << replaced.out;
    const std::vector<std::string> shown = splitLines(readFile(dir / "shown.tsv"));
    ASSERT_EQ(shown.size(), 2u); // the header and 甲, whose deduction stayed
    EXPECT_EQ(shown[0].substr(0, shown[0].find('\t')), "姓名");
    EXPECT_NE(shown[1].find("\t9100\t0\t500\t"), std::string::npos) << shown[1];
}

// The items of the notices' worked examples through the command line, and what it refuses.
TEST(CliInsurance, TheNoticesExamplesAndWhatIsRefused) {
    TempDir dir;
    const struct {
        std::string args;
        int exit;
        std::string has;
    } cases[] = {
        {"insurance 上海 5000 --month 2026-06 --fund-rate 7", 0,
         "基本养老保险费\t596.8\n基本医疗保险费\t149.2\n失业保险费\t37.3\n住房公积金\t350\n"},
        {"insurance 上海 12345.67 --month 2026-07 --fund-rate 7 --fund-extra-rate 3", 0,
         "失业保险费\t61.73\n住房公积金\t1234\n个人合计\t2530.29\n"},
        {"insurance 上海 50000 --month 2026-07 --fund-rate 7 --json", 0,
         "\"基本养老保险费\":3018.48,\"基本医疗保险费\":754.62,\"失业保险费\":188.66,"
         "\"住房公积金\":2641,\"employee\":6602.76}\n"},
        {"insurance 上海 5000 --month 2026-07 --fund-rate 4", 1, ""},
        {"insurance 北京 5000", 1, ""},
        {"insurance 上海 5000元", 2, ""},
        {"insurance 上海 5000 --month 2026-13", 2, ""},
    };
    for (const auto& c : cases) {
        const CliRun run = runCli(dir, c.args);
        EXPECT_EQ(run.exit, c.exit) << c.args << "\n" << run.err;
        EXPECT_NE(run.out.find(c.has), std::string::npos) << c.args << "\n" << run.out;
        if (c.exit != 0) {
            EXPECT_TRUE(run.out.empty()) << c.args;
        }
    }
}

// The ledger's insured month through the command line: the items from the city's rules, and
// what the month costs the employer once the clerk has copied the employer's rates in.
TEST(CliInsurance, TheLedgersItemsAndTheEmployersCost) {
    TempDir dir;
    writeFile(dir / "m7.tsv", "证件号码\t姓名\t本月收入\t社保城市\t缴费基数\t公积金比例\n" +
                                  identityNumber(1) + "\t张三\t9000\t上海\t5000\t7\n" +
                                  identityNumber(2) + "\t李四\t4000\t\t\t\n");
    ASSERT_EQ(runShell(dir, "$CLI --data-dir . ledger import 2026 7 m7.tsv").exit, 0);
    // The items stand after the columns before them, the city's five last.
    const CliRun shown = runCli(dir, "ledger show 2026 7");
    const std::vector<std::string> line = cells(splitLines(shown.out).at(0));
    ASSERT_EQ(line.size(), 51u);
    EXPECT_EQ(line[30] + " " + line[31] + " " + line[32] + " " + line[33] + " " + line[46],
              "603.68 150.92 37.73 350 上海");
    // Shanghai's rules come without the employer's rates: the cost says it does not know.
    const CliRun unknown = runCli(dir, "ledger cost 2026 7");
    EXPECT_EQ(unknown.exit, 0);
    EXPECT_NE(unknown.out.find("张三\t" + identityNumber(1) + "\t上海\t9000\t\t\t\n"),
              std::string::npos)
        << unknown.out;
    EXPECT_NE(unknown.err.find("do not give every rate of the employer's"), std::string::npos);
    std::string rules = readFile(dir / "社保公积金规则.txt");
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"基本养老保险费 8   -", "基本养老保险费 8 16"},
          {"基本医疗保险费 2   -", "基本医疗保险费 2 9"},
          {"失业保险费     0.5 -", "失业保险费 0.5 0.5"},
          {"injury -", "injury 0.16"}})
        for (std::size_t at; (at = rules.find(from)) != std::string::npos;)
            rules.replace(at, from.size(), to);
    writeFile(dir / "社保公积金规则.txt", rules);
    const CliRun known = runCli(dir, "ledger cost 2026 7");
    EXPECT_EQ(known.exit, 0) << known.err;
    // 7,546 × 25.5 % = 1,924.23, injury 12.07; the fund 350; 李四 is not insured here.
    EXPECT_NE(known.out.find("张三\t" + identityNumber(1) + "\t上海\t9000\t1936.3\t350\t11286.3\n"),
              std::string::npos)
        << known.out;
    EXPECT_NE(known.out.find("李四\t" + identityNumber(2) + "\t\t4000\t\t\t4000\n"),
              std::string::npos);
    EXPECT_NE(known.out.find("合计\t\t\t13000\t1936.3\t350\t15286.3\n"), std::string::npos);
}

// A joiner's year and its reconciliation: six months withheld on 30,000 of basic deduction,
// reconciled on a whole year's 60,000.
TEST(CliLedger, TheEmployeesYearAndItsReconciliation) {
    TempDir dir;
    for (int m = 7; m <= 12; ++m) {
        writeFile(dir / "m.tsv", "证件号码\t姓名\t本月收入\t基本养老保险费\t住房公积金\n" +
                                     identityNumber(1) + "\t张三\t20000\t1600\t400\n");
        const CliRun imported = runCli(dir, "ledger import 2024 " + std::to_string(m) + " '" +
                                                (dir / "m.tsv").string() + "'");
        ASSERT_EQ(imported.exit, 0) << imported.err;
    }
    const CliRun s = runCli(dir, "ledger statement 2024 " + identityNumber(1));
    ASSERT_EQ(s.exit, 0) << s.err;
    EXPECT_NE(s.out.find("\t奖金税额\t基本养老保险费\t住房公积金\n"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("合计\t120000\t0\t30000\t12000\t0\t0\t0\t0\t0\t\t5280\t0\t9600\t2400\n"),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("应纳税额2280，减免税额0，已预扣5280，应退税3000。"), std::string::npos)
        << s.out;
    EXPECT_EQ(runCli(dir, "ledger statement 2024 110101199001011237").exit, 1);
}

// The ledger copied into a new file and read there through --ledger; never over a file, and
// a server ledger is not backed up as a file is.
TEST(CliLedger, MigrateIntoANewFileAndReadItThere) {
    TempDir dir;
    writeFile(dir / "m.tsv", "证件号码\t姓名\t本月收入\n" + identityNumber(1) + "\t张三\t20000\n");
    ASSERT_EQ(runCli(dir, "ledger import 2024 7 '" + (dir / "m.tsv").string() + "'").exit, 0);
    const std::string copy = "'" + (dir / "copy.db").string() + "'";
    const CliRun migrated = runCli(dir, "ledger migrate --to " + copy);
    EXPECT_EQ(migrated.exit, 0) << migrated.err;
    EXPECT_EQ(migrated.out, "1 years, 1 employees, 1 entries copied; every month the same\n");
    EXPECT_EQ(runCli(dir, "ledger --ledger " + copy + " show 2024 7").out,
              runCli(dir, "ledger show 2024 7").out);
    const struct {
        const char* args;
        int exit;
    } cases[] = {
        {"ledger migrate --to COPY", 1},                      // never over a file
        {"ledger migrate", 2},                                // nowhere to go
        {"ledger show 2024 7 --to COPY", 2},                  // --to is migrate's
        {"ledger --ledger postgresql://h/db backup b.db", 2}, // a server's backup is migrate
    };
    for (const auto& c : cases) {
        std::string args = c.args;
        if (const std::size_t at = args.find("COPY"); at != std::string::npos)
            args.replace(at, 4, copy);
        EXPECT_EQ(runCli(dir, args).exit, c.exit) << args;
    }
}

} // namespace
} // namespace iit::testing
