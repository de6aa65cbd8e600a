// The command line against files that are not what they seem: names no code page can hold,
// names that look like patterns, FIFOs and devices, directories, pipes, damaged tables, full
// disks, write-protected files, two programs at once.
#include "base/files.h"
#include "base/text.h"
#include "tests/support/cli_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace iit::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string firstLine(const std::string& s) {
    return s.substr(0, s.find('\n'));
}

std::size_t lines(const std::string& s) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
}

// Spreadsheet text of n people, each earning 8000.
std::string people(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i)
        text += "P" + std::to_string(i) + "\t\t8000\n";
    return text;
}

TEST(CliFiles, NamesOutsideGbkArePathsNotTexts) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(2));
    writeFile(dir / "out?.dat", "someone else's file");
    const CliRun run = runShell(dir, "$CLI --data-dir 'dd😀' batch rows.tsv -o 'out😀.dat' && "
                                     "$CLI --data-dir 'dd😀' db dump 'out😀.dat' | head -1");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "fields: 7 records: 9999\n");
    EXPECT_EQ(readFile(dir / "out?.dat"), "someone else's file");
    EXPECT_TRUE(fs::exists(dir / "dd😀" / "设置税率表A.dat"));
    EXPECT_FALSE(fs::exists(dir / "dd?"));
    // The remembered path is stored as a text like any other: every character has a form.
    const std::string config = Text::fromBytes(readFile(dir / "dd😀" / "config.inf")).toUtf8();
    EXPECT_NE(config.find((dir / "out😀.dat").string()), std::string::npos) << config;
}

TEST(CliFiles, NamesThatLookLikePatternsExist) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(1));
    // An edited rate table in a data directory named like a pattern is kept.
    CliRun run = runShell(dir, "$CLI --data-dir '税[2024]' tax wages gross 8000 >/dev/null");
    ASSERT_EQ(run.exit, 0) << run.err;
    const fs::path table = dir / "税[2024]" / "设置税率表A.dat";
    std::string edited = readFile(table);
    ASSERT_FALSE(edited.empty());
    // A byte change that the next start must not undo: the stamp of the first record, which
    // no calculation reads.
    edited[1844] = static_cast<char>(edited[1844] ^ 1);
    writeFile(table, edited);
    run = runShell(dir, "$CLI --data-dir '税[2024]' batch rows.tsv -o '工资[2024].dat' && "
                        "$CLI --data-dir '税[2024]' batch '工资[2024].dat' | head -1");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "P1\t\t8000\t90\t7910\t\t\n");
    EXPECT_EQ(readFile(table), edited);
}

TEST(CliFiles, SpecialFilesNeverHangOrEatMemory) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(3));
    struct Case {
        const char* what;
        std::string script;
        int exit;
        const char* message; // a part of standard error
    };
    const std::vector<Case> cases = {
        {"config.inf is a FIFO",
         "mkdir d1 && mkfifo d1/config.inf && $CLI --data-dir d1 batch "
         "rows.tsv -o d1/x.dat; echo $?",
         0, "未能记入配置文件"},
        {"configJS.inf is a FIFO",
         "mkdir d2 && mkfifo d2/configJS.inf && $CLI --data-dir d2 batch rows.tsv | tail -1", 0,
         nullptr},
        {"a FIFO as a table", "mkfifo t.kdb && $CLI db dump t.kdb", 1, "error -6"},
        {"a device", "$CLI batch /dev/zero", 1, "MB; no sheet of people"},
        {"a sparse file", "truncate -s 2G big.txt && $CLI batch big.txt", 1,
         "MB; no sheet of people"},
        {"a directory", "mkdir adir && echo old >r.dat && $CLI batch adir -o r.dat", 1,
         "is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = Clock::now();
        const CliRun run = runShell(dir, c.script);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(run.exit, c.exit) << run.err;
        if (c.message) {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(readFile(dir / "r.dat"), "old\n"); // an input that cannot be read writes nothing
    EXPECT_EQ(runShell(dir, "tail -c 13 d1/x.dat >/dev/null && ls d2 | wc -l").exit, 0);
}

TEST(CliFiles, InputIsReadOnce) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(3000));
    CliRun run = runShell(dir, "$CLI batch <(cat rows.tsv)");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(lines(run.out), 3001u); // every person and the totals
    EXPECT_EQ(firstLine(run.out), "P1\t\t8000\t90\t7910\t\t");
    run = runShell(dir, "cat rows.tsv | $CLI batch - | tail -1");
    EXPECT_EQ(run.out, "合计\t\t24000000\t270000\t23730000\t\t\n");

    // A batch file through a pipe is a batch file.
    ASSERT_EQ(runShell(dir, "$CLI batch rows.tsv -o saved.dat").exit, 0);
    run = runShell(dir, "$CLI batch <(cat saved.dat) | head -1");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "P1\t\t8000\t90\t7910\t\t\n");
}

TEST(CliFiles, DamagedBatchFilesAreRefusedAndLeftAlone) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(3));
    ASSERT_EQ(runShell(dir, "$CLI batch rows.tsv -o good.dat").exit, 0);
    const std::string good = readFile(dir / "good.dat");
    ASSERT_GT(good.size(), 1000000u);
    std::string badSize = good;
    badSize[24] = static_cast<char>(badSize[24] + 1); // the record size
    std::string claims = good;                        // a header that claims 2,147,483,647
    for (int i = 16; i < 20; ++i)
        claims[static_cast<std::size_t>(i)] = i == 19 ? '\x7F' : '\xFF';
    const struct {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"size.dat", badSize, "文件打开失败，请选择正确的文件！"},
        {"junk.dat", "QKDB" + std::string(200, 'x'), "文件打开失败，请选择正确的文件！"},
        {"cut.dat", good.substr(0, 600000), "文件已损坏：读出 3 人，文件的其余部分缺失"},
        {"claims.dat", claims, "文件已损坏：读出 3 人，文件的其余部分缺失"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / c.name, c.bytes);
        const CliRun run = runShell(dir, std::string("$CLI batch ") + c.name + " -o out.tsv");
        EXPECT_EQ(run.exit, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir / "out.tsv"));
        EXPECT_EQ(readFile(dir / c.name), c.bytes);
    }
    // The content decides, not the name: text named .dat is a sheet's text.
    writeFile(dir / "text.dat", people(2));
    const CliRun run = runShell(dir, "$CLI batch text.dat | tail -1");
    EXPECT_EQ(run.out, "合计\t\t16000\t180\t15820\t\t\n") << run.err;
}

// An input that gives nothing never replaces an output; one that gives more rows than the sheet
// holds fails unless --truncate; a FIFO is read once its writer comes.
TEST(CliFiles, InputsThatGiveNothingOrTooMuch) {
    TempDir dir;
    writeFile(dir / "empty.txt", "");
    writeFile(dir / "blank.txt", "\r\n\n  \t\n");
    writeFile(dir / "over.tsv", people(10001));
    writeFile(dir / "out.tsv", "the old output\n");
    struct Case {
        const char* what;
        std::string script;
        int exit;
        const char* message; // a part of standard error
        const char* out;     // standard output, when given
    };
    const std::vector<Case> cases = {
        {"an empty file", "$CLI batch empty.txt -o out.tsv", 1, "the input is empty", nullptr},
        {"blank lines", "$CLI batch - -o out.tsv <blank.txt", 1, "the input is empty", nullptr},
        {"a writer that writes nothing",
         "mkfifo f1 && { (sleep 1; timeout 10 sh -c ': >f1') & $CLI batch f1 -o out.tsv; }", 1,
         "the input is empty", nullptr},
        {"a writer that comes late",
         "mkfifo f2 && { (sleep 1; timeout 10 sh -c \"printf 'P1\\t\\t8000\\n' >f2\") & "
         "$CLI batch f2 | tail -1; }",
         0, nullptr, "合计\t\t8000\t90\t7910\t\t\n"},
        {"10,001 rows", "$CLI batch over.tsv -o out.tsv", 1, "1 row does not fit", nullptr},
        {"10,001 rows printed", "$CLI print over.tsv -o out.pdf", 1, "1 row does not fit", nullptr},
        {"10,001 rows, truncated", "$CLI batch over.tsv --truncate | wc -l", 0,
         "the first 10000 were kept", "10000\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = Clock::now();
        const CliRun run = runShell(dir, c.script);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
        // A build without the windows has no printing program.
        if (run.err.find("iitcalc-cli-print is not installed") != std::string::npos) continue;
        EXPECT_EQ(run.exit, c.exit) << run.err;
        if (c.message) {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        }
        if (c.out) {
            EXPECT_EQ(run.out, c.out);
        }
    }
    EXPECT_EQ(readFile(dir / "out.tsv"), "the old output\n");
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
}

// Standard input leaves no copy behind and is never remembered as the batch file opened last.
TEST(CliFiles, StandardInputLeavesNoTrace) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(3));
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d batch rows.tsv -o saved.dat").exit, 0);
    const std::string tmp = (dir / "tmp").string();
    fs::create_directory(dir / "tmp");
    const CliRun run = runShell(dir, "TMPDIR=" + tmp + " XDG_RUNTIME_DIR=" + tmp +
                                         " $CLI --data-dir d batch - <saved.dat | tail -1; "
                                         "ls -A tmp | wc -l; ls d");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "合计\t\t24000\t270\t23730\t\t\n0\nconfig.inf\n设置税率表A.dat\n");
}

// Every command says when its output could not be written.
TEST(CliFiles, OutputToAFullDevice) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(3));
    for (const char* command :
         {"tax wages gross 8000", "tax --json wages gross 8000", "db dump x.dat", "batch rows.tsv",
          "--help", "--version", "batch --help"}) {
        SCOPED_TRACE(command);
        const CliRun run =
            runShell(dir, "$CLI --data-dir . batch rows.tsv -o x.dat && $CLI --data-dir . " +
                              std::string(command) + " >/dev/full");
        EXPECT_EQ(run.exit, 1);
        EXPECT_NE(run.err.find("standard output"), std::string::npos) << run.err;
    }
}

// A clerk's round trip, checked with a real spreadsheet client (openpyxl): a workbook with a
// title row and its own column order in, computed, a workbook out; numbers are number cells,
// identity-card numbers text cells. The same workbook through standard input, as .csv and
// as .tsv; a format that is not read is refused and nothing is written.
TEST(CliFiles, SpreadsheetsInAndOut) {
    TempDir dir;
    const std::string python = "/usr/bin/python3 -c \"import openpyxl\" && /usr/bin/python3";
    const CliRun made = runShell(dir, python + R"( - <<'EOF'
import openpyxl
wb = openpyxl.Workbook(); ws = wb.active
ws.append(["2026年12月工资表"])
ws.append(["序号", "身份证号码", "姓 名", "应发工资", "部门"])
ws.append([1, "110101199001011234", "张三", 8000, "财务"])
ws.append([2, 110101199001011235, "李四", 12500.5, "销售"])
ws.append(["合计", None, None, 20500.5])
wb.save("in.xlsx")
EOF)");
    ASSERT_EQ(made.exit, 0) << made.err;

    const CliRun run = runShell(dir, "$CLI --data-dir d batch in.xlsx -o out.xlsx && " + python +
                                         R"( - <<'EOF'
import openpyxl
ws = openpyxl.load_workbook("out.xlsx").active
print(ws.freeze_panes)
for row in ws.iter_rows(min_row=2, values_only=True):
    print("|".join("%s:%s" % (type(v).__name__, v) for v in row))
EOF)");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "A2\n"
                       "str:张三|str:110101199001011234|int:8000|int:90|int:7910|NoneType:None|"
                       "NoneType:None\n"
                       "str:李四|NoneType:None|float:12500.5|float:540.05|float:11960.45|"
                       "NoneType:None|NoneType:None\n"
                       "str:合计|NoneType:None|float:20500.5|float:630.05|float:19870.45|"
                       "NoneType:None|NoneType:None\n");
    // The columns read into nothing and the number that lost its digits are told.
    EXPECT_NE(run.err.find("未读入的列：“序号”、“部门”"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("B4：身份证号是数字（"), std::string::npos) << run.err;

    const struct {
        const char* script;
        int exit;
        const char* out; // the first line of standard output
    } cases[] = {
        {"$CLI --data-dir d batch - <in.xlsx | head -1", 0,
         "张三\t110101199001011234\t8000\t90\t7910\t\t"},
        {"$CLI --data-dir d batch in.xlsx -o out.csv && head -1 out.csv", 0,
         "\xEF\xBB\xBF姓名,身份证号,收入,应缴税额,计税后所得额,银行卡号,备注\r"},
        {"$CLI --data-dir d batch out.csv -o x.tsv && grep 张三 x.tsv", 0,
         "张三\t110101199001011234\t8000\t90\t7910\t\t\r"}, // CR LF, as spreadsheets write
        {"printf 'PK\\003\\004%026dmimetypeapplication/vnd.oasis.opendocument.spreadsheet' 0 "
         ">in.ods; $CLI --data-dir d batch in.ods -o out.tsv; echo $?; test ! -e out.tsv",
         0, "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const CliRun r = runShell(dir, c.script);
        EXPECT_EQ(r.exit, c.exit) << r.err;
        EXPECT_EQ(firstLine(r.out), c.out) << r.err;
    }
}

// A number cell is the amount the spreadsheet shows, as the clerk typed it: a double one step
// off 88957.9 (as arithmetic or a writer leaves it) taxes as 88957.9, never a fen less; a card
// number a writer kept digit for digit is taken whole, one written with an exponent is refused.
TEST(CliFiles, NumberCellsReadAsTheSpreadsheetShowsThem) {
    TempDir dir;
    const std::string python = "/usr/bin/python3 -c \"import openpyxl\" && /usr/bin/python3";
    const CliRun made = runShell(dir, python + R"( - <<'EOF'
import openpyxl
wb = openpyxl.Workbook(); ws = wb.active
ws.append(["姓名", "身份证号", "收入", "银行卡号"])
ws.append(["甲", "110101199001011237", 88957.89999999999, 6222021001123456])
ws.append(["乙", "110101199002021231", 7460 * 0.105 + 5000, None])
wb.save("in.xlsx")
ws.append(["丙", "110101199003031235", 9000, 6222021001123456789])
wb.save("lost.xlsx")
EOF)");
    if (made.exit != 0) GTEST_SKIP() << "python3 with openpyxl is not installed";
    const CliRun run = runShell(dir, "$CLI --data-dir d batch in.xlsx");
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "甲\t110101199001011237\t88957.9\t22621.06\t66336.84\t6222021001123456\t\n"
                       "乙\t110101199002021231\t5783.3\t23.5\t5759.8\t\t\n"
                       "合计\t\t94741.2\t22644.56\t72096.64\t\t\n");
    const CliRun lost = runShell(dir, "$CLI --data-dir d batch lost.xlsx");
    EXPECT_NE(lost.err.find("D4：银行卡号是数字（6.22202100112346E+18），已丢失位数"),
              std::string::npos)
        << lost.err;
}

TEST(CliFiles, DamagedRateTablesAreSetAsideOnce) {
    TempDir dir;
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d tax wages gross 1 >/dev/null").exit, 0);
    const fs::path table = dir / "d" / "设置税率表A.dat";
    const std::string sound = readFile(table);
    std::string fewFields = sound;
    fewFields[112] = 12; // the field count: the descriptors of half the fields
    std::string flipped = sound;
    flipped[1954] = static_cast<char>(~flipped[1954]); // the lower bound of the second wage band
    const struct {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {{"zero length", "", ""},
                 {"garbage", "just some text, no table", ""},
                 {"truncated", sound.substr(0, 700), ""},
                 {"too few fields", fewFields, ""},
                 {"cut inside its records", sound.substr(0, 2444), "文件不完整"},
                 {"no records", sound.substr(0, 1844), "文件不完整"},
                 {"a byte of a bound inverted", flipped, "下限应等于上一档的上限 3000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        runShell(dir, "rm -f d/*.damaged-*");
        writeFile(table, c.bytes);
        CliRun run = runShell(dir, "$CLI --data-dir d tax wages gross 8000 100000");
        EXPECT_EQ(run.exit, 0);
        EXPECT_EQ(run.out, "实发数: 7910\n应纳税:   90\n实发数: 72410\n应纳税: 27590\n");
        EXPECT_NE(run.err.find("税率表文件已损坏"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(readFile(table), sound);
        run = runShell(dir, "cat d/*.damaged-*");
        EXPECT_EQ(run.out, c.bytes); // kept whole, under a new name
        run = runShell(dir, "$CLI --data-dir d tax wages gross 8000");
        EXPECT_EQ(run.err, ""); // told once
    }
}

// A damaged table chosen with --table is refused and left as it is.
TEST(CliFiles, ADamagedTableOptionIsRefusedAndLeftAlone) {
    TempDir dir;
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d tax wages gross 1 >/dev/null").exit, 0);
    const std::string cut = readFile(dir / "d" / "设置税率表A.dat").substr(0, 2444);
    writeFile(dir / "cut.dat", cut);
    const CliRun run = runShell(dir, "$CLI tax wages gross 100000 --table cut.dat");
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cut.dat: damaged rate table: 文件不完整"), std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(dir / "cut.dat"), cut);
    EXPECT_EQ(runShell(dir, "ls | grep -c damaged").out, "0\n"); // nothing set aside
}

TEST(CliFiles, ALockedTableIsReportedAndLeftAlone) {
    TempDir dir;
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d tax wages gross 1 >/dev/null").exit, 0);
    const fs::path table = dir / "d" / "设置税率表A.dat";
    const std::string before = readFile(table);
    // Another program holds a lock on the whole file for longer than an open waits.
    const int fd = ::open(table.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_len = 0;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
    const CliRun run = runShell(dir, "$CLI --data-dir d tax wages gross 8000");
    ::close(fd);
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("税率表文件无法打开"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("加锁文件失败"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(table), before);
    EXPECT_EQ(runShell(dir, "ls d | grep -c damaged").out, "0\n");
}

TEST(CliFiles, ManyProgramsShareOneDataDirectory) {
    TempDir dir;
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d tax wages gross 1 >/dev/null").exit, 0);
    // 40 rounds of five programs started at the same moment.
    const CliRun run = runShell(dir,
                                "fails=0\n"
                                "for round in $(seq 40); do\n"
                                "  for i in 1 2 3 4 5; do\n"
                                "    ( $CLI --data-dir d tax wages gross 8000 >out.$i 2>&1 || "
                                "echo x >>failed ) &\n"
                                "  done; wait\n"
                                "  for i in 1 2 3 4 5; do grep -q '应纳税:   90' out.$i || echo x "
                                ">>failed; done\n"
                                "done\n"
                                "cat failed 2>/dev/null | wc -l",
                                120);
    EXPECT_EQ(run.out, "0\n") << run.err;
}

TEST(CliFiles, WritesAreCrashSafeAndSayWhenTheyFail) {
    TempDir dir;
    writeFile(dir / "rows.tsv", people(3000));
    writeFile(dir / "out.tsv", "the old output\n");
    // A disk that fills up (the file size limit stands in for it): the old file stays whole.
    CliRun run = runShell(dir, "(ulimit -f 4; $CLI batch rows.tsv -o out.tsv)");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("cannot write out.tsv"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "out.tsv"), "the old output\n");
    run = runShell(dir, "(ulimit -f 64; $CLI batch rows.tsv -o out.dat); ls -A | grep -c tmp");
    EXPECT_NE(run.err.find("文件保存失败！"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "0\n");
    EXPECT_FALSE(fs::exists(dir / "out.dat"));
    // A workbook: the program says what failed, the spreadsheet library's own lines stay unsaid.
    run = runShell(dir, "(ulimit -f 64; $CLI batch rows.tsv -o out.xlsx); ls -A | grep -c tmp");
    EXPECT_NE(run.err.find("out.xlsx"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("[ERROR]"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "0\n");
    EXPECT_FALSE(fs::exists(dir / "out.xlsx"));

    // A file the user may not write is not replaced.
    writeFile(dir / "locked.dat", "keep me");
    ::chmod((dir / "locked.dat").c_str(), 0444);
    run = runShell(dir, "$CLI batch rows.tsv -o locked.dat");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("文件保存失败！"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "locked.dat"), "keep me");
    writeFile(dir / "locked.tsv", "keep me");
    ::chmod((dir / "locked.tsv").c_str(), 0444);
    EXPECT_EQ(runShell(dir, "$CLI batch rows.tsv -o locked.tsv").exit, 1);
    EXPECT_EQ(readFile(dir / "locked.tsv"), "keep me");

    // Output through a link replaces the file it names, and a device is written as it is.
    writeFile(dir / "real.tsv", "old");
    fs::create_symlink("real.tsv", dir / "link.tsv");
    EXPECT_EQ(runShell(dir, "$CLI batch rows.tsv -o link.tsv").exit, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.tsv"));
    EXPECT_EQ(lines(readFile(dir / "real.tsv")), 3002u); // a header row above the people
    run = runShell(dir, "$CLI batch rows.tsv -o /dev/stdout | wc -l");
    EXPECT_EQ(run.out, "3001\n");
}

TEST(CliFiles, AmountsThatAreNotFinite) {
    TempDir dir;
    writeFile(dir / "rows.tsv",
              "A\t\t1e308\nB\t\t1e308\nC\t\t" + std::string(400, '9') + "\nD\t\t8000\n");
    const CliRun run = runShell(dir, "$CLI batch rows.tsv");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "A\t\t1e308\t\t\t\t\n"
                       "B\t\t1e308\t\t\t\t\n"
                       "C\t\t" +
                           std::string(400, '9') +
                           "\t\t\t\t\n"
                           "D\t\t8000\t90\t7910\t\t\n"
                           "合计\t\t8000\t90\t7910\t\t\n");
    // The rows that were not computed are named; the sheet was computed as written.
    EXPECT_NE(run.err.find("有 3 行的收入无法计算"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("第 3 行（" + std::string(400, '9') + "）"), std::string::npos);
}

} // namespace
} // namespace iit::testing
