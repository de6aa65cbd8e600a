// iitcalc-cli tax and batch on the real executable: what a user sees.
#include "base/text.h"
#include "tests/support/cli_run.h"

#include <gtest/gtest.h>

namespace iit::testing {
namespace {

TEST(CliTax, PrintsWhatTheMainWindowShows) {
    TempDir dir;
    struct Case {
        std::string args;
        int exit;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"tax wages net 7950", 0, "合计数：8044.44\n应纳税:   94.44\n"},
        // One grammar of an amount: full-width digits and thousands separators are the amount;
        // anything after the number is none, and so is an empty argument.
        {"tax 薪金收入 税前 8000 ８０００ 8,000", 0,
         "实发数: 7910\n应纳税:   90\n实发数: 7910\n应纳税:   90\n实发数: 7910\n应纳税:   90\n"},
        {"tax wages gross 8000 8000元", 2, ""},
        {"tax wages gross ''", 2, ""},
        {"tax labour gross 2000 700", 0,
         "实发数: 1760\n应纳税:  240\n 收入数低于800, 无需上税! . . . \n"},
        {"tax 稿费 税后 40000", 0, "实发数: 35520\n应纳税:  4480\n"},
        {"tax wages gross 3e9", 0, " 输入的数值过大! . . . \n"},
        {"tax wages net 7950 --json", 0,
         "{\"amount\":\"7950\",\"outcome\":\"computed\",\"caption\":\"合计数：\",\"total\":\"8044."
         "44\","
         "\"tax\":\"94.44\",\"label\":\"合计数：8044.44\\r\\n应纳税:   94.44\"}\n"},
        {"tax --json labour gross 100", 0,
         "{\"amount\":\"100\",\"outcome\":\"below_threshold\",\"threshold\":800,\"message\":\" "
         "收入数低于800, 无需上税! . . . \"}\n"},
        {"tax wages gross", 2, ""},
        {"tax salary gross 1", 2, ""},
        {"tax wages sideways 1", 2, ""},
        {"tax wages gross 1 --table", 2, ""},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(dir, c.args);
        EXPECT_EQ(run.exit, c.exit) << c.args << "\n" << run.err;
        EXPECT_EQ(run.out, c.out) << c.args;
        if (c.exit == 2) {
            EXPECT_NE(run.err.find("usage: iitcalc-cli tax"), std::string::npos);
        }
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "设置税率表A.dat")); // written as start-up does
}

TEST(CliTax, TableOptionAndBadTables) {
    TempDir dir;
    TempDir other;
    writeFile(other / "bad.dat", "not a table");
    const CliRun bad =
        runCli(dir, "tax wages gross 8000 --table '" + (other / "bad.dat").string() + "'");
    EXPECT_EQ(bad.exit, 2); // --table and --data-dir exclude each other
    const std::string cli = IITCALC_CLI;
    const std::string command =
        cli + " tax wages gross 8000 --table '" + (other / "bad.dat").string() + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(out.find("error -22: 指定文件不是数据库文件"), std::string::npos) << out;
}

TEST(CliBatch, SpreadsheetTextInTotalsOut) {
    TempDir dir;
    writeFile(dir / "in.txt", "张三\t\t8000\r\n李四\t\t\"7,950\"\n\n王五\t\t4000\n");
    const CliRun run = runCli(dir, "batch -", (dir / "in.txt").string());
    EXPECT_EQ(run.exit, 0) << run.err;
    // An empty line of the text is no person.
    EXPECT_EQ(run.out, "张三\t\t8000\t90\t7910\t\t\n"
                       "李四\t\t7,950\t88.5\t7861.5\t\t\n"
                       "王五\t\t4000\t\t4000\t\t\n"
                       "合计\t\t19950\t178.5\t19771.5\t\t\n");
    const CliRun net =
        runCli(dir, "batch '" + (dir / "in.txt").string() + "' --mode net --kind 薪金收入");
    EXPECT_EQ(net.out.substr(0, net.out.find('\n')), "张三\t\t8000\t100\t8100\t\t");

    // Saved as the window saves it, then opened again: 9,999 records, the same sheet.
    const std::string saved = (dir / "工资.dat").string();
    ASSERT_EQ(runCli(dir, "batch - -o '" + saved + "'", (dir / "in.txt").string()).exit, 0);
    const CliRun dump = runCli(dir, "db dump '" + saved + "'");
    EXPECT_EQ(dump.out.substr(0, dump.out.find('\n')), "fields: 7 records: 9999");
    const CliRun reopened = runCli(dir, "batch '" + saved + "'");
    EXPECT_EQ(reopened.out.substr(0, reopened.out.find('\n')), "张三\t\t8000\t90\t7910\t\t");
    EXPECT_NE(readFile(dir / "config.inf").find(iit::Text::fromUtf8(saved).bytes()),
              std::string::npos);

    // A person without an income yet, right below the last one with an income, keeps the row:
    // the totals go below it, and a saved file still holds the person.
    writeFile(dir / "two.txt", "张三\t\t8000\n李四\t\t\t\t\t6222\t\n");
    const CliRun two = runCli(dir, "batch -", (dir / "two.txt").string());
    EXPECT_EQ(two.out, "张三\t\t8000\t90\t7910\t\t\n"
                       "李四\t\t\t\t\t6222\t\n"
                       "合计\t\t8000\t90\t7910\t\t\n");
    const std::string twoSaved = (dir / "two.dat").string();
    ASSERT_EQ(runCli(dir, "batch - -o '" + twoSaved + "'", (dir / "two.txt").string()).exit, 0);
    const std::string reread = runCli(dir, "batch '" + twoSaved + "'").out;
    const std::size_t second = reread.find('\n') + 1;
    EXPECT_EQ(reread.substr(second, reread.find('\n', second) - second), "李四\t\t0\t\t0\t6222\t");

    struct Case {
        std::string args;
        int exit;
    };
    const std::vector<Case> failures = {
        {"batch", 2},
        {"batch a b", 2},
        {"batch - --kind nonsense", 2},
        {"batch '" + (dir / "missing.txt").string() + "'", 1},
        {"batch '" + (dir / "设置税率表A.dat").string() + "'", 1}, // a table, but no batch file
    };
    for (const Case& c : failures)
        EXPECT_EQ(runCli(dir, c.args, (dir / "in.txt").string()).exit, c.exit) << c.args;
}

} // namespace
} // namespace iit::testing
