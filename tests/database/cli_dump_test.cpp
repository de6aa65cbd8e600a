// iitcalc-cli db dump on real files: what a user sees of a plain and a password table.
#include "database/format.h"
#include "db_support.h"
#include "tests/support/cli_run.h"

namespace iit::db::testing {
namespace {

using iit::testing::CliRun;
using iit::testing::runCli;

TEST(CliDump, PlainAndPasswordTables) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {{sysText("姓名"), kText, 8},
                                           {sysText("收入"), kDouble, 0},
                                           {Text::fromBytes("Ok"), kBool, 0}};
    const std::vector<std::vector<Value>> records = {
        {Value::text(sysText("张三")), Value::number(8000.5), Value::boolean(1)},
        {Value::text(sysText("李四")), Value::int32(-3), Value::boolean(0)}};
    writeFile(dir / "plain.KDB", encodeTableImage(fields, 45000, records, ""));
    writeFile(dir / "secret.dat", encodeTableImage(fields, 45000, records, kRatePassword));
    const std::string listing = "fields: 3 records: 2\n"
                                "1\t姓名\t10\t8\n"
                                "2\t收入\t6\t0\n"
                                "3\tOk\t7\t0\n"
                                "张三\t8000.5\t真\n"
                                "李四\t-3\t假\n";
    const std::string plain = (dir / "plain").string(); // the extension KDB is implied
    const std::string secret = (dir / "secret.dat").string();
    struct Case {
        std::string args;
        int exit;
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {"db dump " + plain, 0, listing, ""},
        {"db dump " + secret + " --password " + kRatePassword, 0, listing, ""},
        {"db dump " + secret, 1, "", "error -78: 未提供数据库访问密码或提供了错误的密码\n"},
        {"db dump " + plain + " --password x", 1, "",
         "error -78: 未提供数据库访问密码或提供了错误的密码\n"},
        {"db dump " + (dir / "none.kdb").string(), 1, "", "error -3: 指定文件未找到\n"},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(dir, c.args);
        EXPECT_EQ(run.exit, c.exit) << c.args;
        EXPECT_EQ(run.out, c.out) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
    }
    for (const char* usage : {"db", "db list", "db dump", "db dump a b", "db dump a --password"})
        EXPECT_EQ(runCli(dir, usage).exit, 2) << usage;
    // The dump opens read-only: a file cut in a record is reported, not repaired.
    const std::string whole = readFile(dir / "plain.KDB");
    writeFile(dir / "cut.kdb", whole.substr(0, whole.size() - 3));
    EXPECT_EQ(runCli(dir, "db dump " + (dir / "cut.kdb").string()).err,
              "error -48: 数据库文件尺寸错误\n");
    EXPECT_EQ(readFile(dir / "cut.kdb").size(), whole.size() - 3);
}

} // namespace
} // namespace iit::db::testing
