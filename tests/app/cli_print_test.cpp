// iitcalc-cli print on the real executable: the PDF read back with poppler's tools (pdfinfo,
// pdftotext, pdffonts), its totals against those of `batch`, and the output left alone by
// every failure.
#include "base/convert.h"
#include "resources/print_template.h"
#include "tests/support/cli_run.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace iit::testing {
namespace {

namespace fs = std::filesystem;

// Spreadsheet text of n people with incomes from 3,000 to 47,000 and, for some, a card.
std::string people(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) {
        text += "职员" + std::to_string(i) + "\t1101011990" + std::to_string(10000000 + i) + "\t" +
                std::to_string(3000 + (i * 7919) % 44000) + "." + std::to_string(i % 10) +
                "\t\t\t" + (i % 3 == 0 ? "62220202" + std::to_string(100000000 + i) : "") + "\t\n";
    }
    return text;
}

int pdfPages(const TempDir& dir, const std::string& pdf) {
    const CliRun run = runShell(dir, "pdfinfo '" + pdf + "'");
    std::smatch m;
    return std::regex_search(run.out, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : -1;
}

// The text of the PDF; with `layout`, the rows of the table on lines.
std::string pdfText(const TempDir& dir, const std::string& pdf, bool layout = false) {
    return runShell(dir, std::string("pdftotext ") + (layout ? "-layout " : "") + "'" + pdf + "' -")
        .out;
}

// The three numbers of the totals row of a PDF, or of the sheet `batch` prints.
std::string pdfTotals(const TempDir& dir, const std::string& pdf) {
    const std::string text = pdfText(dir, pdf, true);
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("合计\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)\\s*\n")))
        return "no totals row";
    return m[1].str() + " " + m[2].str() + " " + m[3].str();
}
std::string batchTotals(const TempDir& dir, const std::string& args) {
    const CliRun run = runShell(dir, "$CLI --data-dir d batch " + args + " | grep '^合计'");
    std::smatch m;
    if (!std::regex_search(run.out, m, std::regex("^合计\t\t([^\t]*)\t([^\t]*)\t([^\t]*)\t")))
        return "no totals row: " + run.out + run.err;
    return m[1].str() + " " + m[2].str() + " " + m[3].str();
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return "打印日期：" + std::to_string(tm.tm_year + 1900) + "年" + std::to_string(tm.tm_mon + 1) +
           "月" + std::to_string(tm.tm_mday) + "日";
}

// Temporary files that a writer left in the directory.
std::string leftovers(const TempDir& dir) {
    return runShell(dir, "find . -name '*.tmp' | sort").out;
}

TEST(CliPrint, TheTableOfEachKindAndModeHasTheTotalsOfBatch) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(12));
    const struct {
        const char* args;
        const char* batchArgs;
        const char* title;
        const char* header;
    } cases[] = {
        {"", "", "个人所得税缴纳表", "自行负\n担税额"},
        {"--employer 华光机械厂", "", "华光机械厂个人所得税缴纳表", "自行负\n担税额"},
        {"--mode net", "--mode net", "个人所得税缴纳表", "雇主全额\n负担税额"},
        {"--kind labour --mode net --employer '北京 某某 公司'", "--kind labour --mode net",
         "北京 某某 公司个人所得税缴纳表", "雇主全额\n负担税额"},
        // Royalties are always computed tax included, and the header says so.
        {"--kind royalties --mode net", "--kind royalties --mode net", "个人所得税缴纳表",
         "自行负\n担税额"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        runShell(dir, "rm -f out.pdf");
        const CliRun run =
            runShell(dir, std::string("$CLI --data-dir d print people.tsv -o out.pdf ") + c.args);
        ASSERT_EQ(run.exit, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(pdfPages(dir, "out.pdf"), 1);
        const std::string text = pdfText(dir, "out.pdf");
        EXPECT_EQ(text.substr(0, text.find('\n')), c.title);
        EXPECT_NE(text.find(c.header), std::string::npos);
        EXPECT_NE(text.find(today()), std::string::npos);
        for (const char* label : {"单位：", "制表：", "审核：", "会计："})
            EXPECT_NE(text.find(label), std::string::npos) << label;
        for (int i = 1; i <= 12; ++i)
            EXPECT_NE(text.find("职员" + std::to_string(i) + "\n"), std::string::npos) << i;
        EXPECT_EQ(pdfTotals(dir, "out.pdf"),
                  batchTotals(dir, std::string("people.tsv ") + c.batchArgs));
    }
    // Every font is embedded.
    const CliRun fonts = runShell(dir, "pdffonts out.pdf | tail -n +3");
    std::size_t lines = 0;
    for (std::size_t at = 0; at < fonts.out.size(); ++lines) {
        const std::size_t end = fonts.out.find('\n', at);
        const std::string line = fonts.out.substr(at, end - at);
        EXPECT_TRUE(std::regex_search(line, std::regex("Identity-H\\s+yes "))) << line;
        at = end == std::string::npos ? fonts.out.size() : end + 1;
    }
    EXPECT_EQ(lines, 2u) << fonts.out;
}

// One totals rule: an income that is not computed counts in neither table.
TEST(CliPrint, TotalsOfARowAboveTheTopBandAgreeWithBatch) {
    TempDir dir;
    writeFile(dir / "two.tsv", "甲\t\t3000000000\n乙\t\t8000\n");
    const CliRun run = runShell(dir, "$CLI --data-dir d print two.tsv -o out.pdf");
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(pdfTotals(dir, "out.pdf"), batchTotals(dir, "two.tsv"));
    EXPECT_NE(pdfTotals(dir, "out.pdf").find("8000"), std::string::npos);
}

TEST(CliPrint, AReopenedBatchFilePrintsItsPeopleOnly) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(3));
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d batch people.tsv -o x.dat").exit, 0);
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d db dump x.dat | head -1").out,
              "fields: 7 records: 9999\n");
    CliRun run = runShell(dir, "$CLI --data-dir d print x.dat -o x.pdf");
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(pdfPages(dir, "x.pdf"), 1);
    const std::string text = pdfText(dir, "x.pdf", true);
    for (const char* name : {"职员1", "职员2", "职员3"})
        EXPECT_NE(text.find(name), std::string::npos) << name;
    EXPECT_EQ(pdfTotals(dir, "x.pdf"), batchTotals(dir, "people.tsv"));
    // The serial numbers 1 to 3 and nothing after them but the totals.
    EXPECT_FALSE(std::regex_search(text, std::regex("\n\\s*4\\s"))) << text;

    // The same file through a pipe prints the same table.
    run = runShell(dir, "cat x.dat | $CLI --data-dir d print - -o piped.pdf");
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(pdfText(dir, "piped.pdf", true), text);
    EXPECT_EQ(leftovers(dir), "");
}

TEST(CliPrint, TenThousandPeople) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(10000));
    const CliRun run = runShell(dir, "$CLI --data-dir d print people.tsv -o all.pdf", 120);
    ASSERT_EQ(run.exit, 0) << run.err;
    const int pages = pdfPages(dir, "all.pdf");
    EXPECT_EQ(pages, 358);
    const std::string last = runShell(dir, "pdftotext -layout -f 358 -l 358 all.pdf -").out + "\n";
    EXPECT_NE(last.find("职员10000"), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(last, m, std::regex("合计\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)\\s*\n")))
        << last;
    // A full sheet has no room for its totals row: the sums of the rows `batch` computes.
    const std::string sheet = runShell(dir, "$CLI --data-dir d batch people.tsv").out;
    double sums[3] = {0, 0, 0};
    std::size_t rows = 0;
    for (std::size_t at = 0; at < sheet.size(); ++rows) {
        const std::size_t end = sheet.find('\n', at);
        std::vector<std::string> cells(1);
        for (char ch : sheet.substr(at, end - at)) {
            if (ch == '\t')
                cells.emplace_back();
            else
                cells.back().push_back(ch);
        }
        for (std::size_t k = 0; k < 3 && cells.size() == 7; ++k)
            sums[k] += ToNumber(Text::fromUtf8(cells[2 + k]));
        at = end + 1;
    }
    EXPECT_EQ(rows, 10000u);
    EXPECT_EQ(m[1].str() + " " + m[2].str() + " " + m[3].str(), ToText(sums[0]).toUtf8() + " " +
                                                                    ToText(sums[1]).toUtf8() + " " +
                                                                    ToText(sums[2]).toUtf8());
}

TEST(CliPrint, UsageErrors) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(2));
    const struct {
        const char* args;
        const char* problem;
    } cases[] = {
        {"print people.tsv", "-o OUT.pdf is needed"},
        {"print people.tsv -o", "option '-o' needs a value"},
        {"print people.tsv --output", "option '--output' needs a value"},
        {"print -o x.pdf", "exactly one INPUT is needed"},
        {"print people.tsv people.tsv -o x.pdf", "exactly one INPUT is needed"},
        {"print people.tsv -o x.pdf --kind salary", "unknown KIND 'salary'"},
        {"print people.tsv -o x.pdf --mode sideways", "unknown MODE 'sideways'"},
        {"print people.tsv -o x.pdf --employer", "option '--employer' needs a value"},
        {"print people.tsv -o x.pdf --landscape", "unknown option '--landscape'"},
        {"print people.tsv -o x.pdf --table t.dat", "--table and --data-dir exclude each other"},
        {"batch people.tsv --employer 某厂", "unknown option '--employer'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const CliRun run = runShell(dir, std::string("$CLI --data-dir d ") + c.args);
        EXPECT_EQ(run.exit, 2);
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("usage: iitcalc-cli "), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir / "x.pdf"));
    }
    const CliRun help = runShell(dir, "$CLI print --help");
    EXPECT_EQ(help.out.substr(0, help.out.find('\n')),
              "usage: iitcalc-cli print INPUT -o OUT.pdf [--kind KIND] [--mode MODE] "
              "[--employer NAME] [--table FILE] [--truncate]");
    // Both spellings of an option with its value, before or after the operand.
    for (const char* args : {"--output=y.pdf people.tsv", "people.tsv --output y.pdf",
                             "-oy.pdf --employer=某厂 people.tsv"}) {
        SCOPED_TRACE(args);
        const CliRun run =
            runShell(dir, std::string("rm -f y.pdf; $CLI --data-dir d print ") + args);
        EXPECT_EQ(run.exit, 0) << run.err;
        EXPECT_TRUE(fs::exists(dir / "y.pdf"));
    }
}

TEST(CliPrint, FailuresLeaveTheOutputAsItWas) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(3));
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d batch people.tsv -o x.dat").exit, 0);
    const std::string batchFile = readFile(dir / "x.dat");
    writeFile(dir / "text.dat", "QKDB, but not a table");
    fs::create_directory(dir / "adir");
    fs::create_directory(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0555);
    const struct {
        const char* what;
        const char* args;
        const char* message;
    } cases[] = {
        {"a missing input", "missing.tsv -o old.pdf", "missing.tsv: no such file"},
        {"a directory as input", "adir -o old.pdf", "adir: is a directory"},
        {"a file that is no batch file", "text.dat -o old.pdf", "文件打开失败，请选择正确的文件！"},
        {"a table that is no batch file", "d/设置税率表A.dat -o old.pdf",
         "文件打开失败，请选择正确的文件！"},
        {"too much text", "/dev/zero -o old.pdf", "MB; no sheet of people"},
        {"a directory as output", "people.tsv -o adir", "adir: is a directory"},
        {"a missing output directory", "people.tsv -o no/such/dir/x.pdf",
         "cannot write no/such/dir/x.pdf: No such file or directory"},
        {"a file as output directory", "people.tsv -o people.tsv/x.pdf",
         "cannot write people.tsv/x.pdf: Not a directory"},
        {"the input as output", "x.dat -o x.dat", "x.dat: is the INPUT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "old.pdf", "the old PDF");
        const CliRun run = runShell(dir, std::string("$CLI --data-dir d print ") + c.args);
        EXPECT_EQ(run.exit, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(readFile(dir / "old.pdf"), "the old PDF");
        EXPECT_EQ(readFile(dir / "x.dat"), batchFile);
        EXPECT_EQ(leftovers(dir), "");
    }
    EXPECT_FALSE(fs::exists(dir / "adir" / "people.pdf"));
    EXPECT_TRUE(fs::is_empty(dir / "adir"));

    // A file its owner may not write, and a directory that cannot be written (which root may
    // write all the same).
    writeFile(dir / "readonly.pdf", "keep me");
    ::chmod((dir / "readonly.pdf").c_str(), 0444);
    CliRun run = runShell(dir, "$CLI --data-dir d print people.tsv -o readonly.pdf");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("readonly.pdf: not writable"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "readonly.pdf"), "keep me");
    if (::geteuid() != 0) {
        run = runShell(dir, "$CLI --data-dir d print people.tsv -o locked/x.pdf");
        EXPECT_EQ(run.exit, 1);
        EXPECT_NE(run.err.find("cannot write locked/x.pdf: Permission denied"), std::string::npos)
            << run.err;
    }
    run = runShell(dir, "$CLI --data-dir d print people.tsv -o /proc/x.pdf");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("cannot write /proc/x.pdf"), std::string::npos) << run.err;

    // A disk that fills up (the file size limit stands in for it) while the PDF is written.
    writeFile(dir / "old.pdf", "the old PDF");
    run = runShell(dir, "(ulimit -f 8; $CLI --data-dir d print people.tsv -o old.pdf)");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("old.pdf: 磁盘空间不够"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "old.pdf"), "the old PDF");
    EXPECT_EQ(leftovers(dir), "");
    ::chmod((dir / "locked").c_str(), 0755);
}

TEST(CliPrint, SignalsPipesAndLinks) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(10000));
    writeFile(dir / "old.pdf", "the old PDF");
    // A signal while the pages are drawn: the temporary file goes, the old PDF stays, and the
    // program ends by the signal.
    CliRun run =
        runShell(dir,
                 "$CLI --data-dir d print people.tsv -o old.pdf & pid=$!\n"
                 "for i in $(seq 3000); do\n"
                 "  [ -n \"$(find . -name '.old-*.tmp' -size +0)\" ] && break; sleep 0.01\n"
                 "done\n"
                 "kill -TERM $pid; wait $pid; echo $?",
                 60);
    EXPECT_EQ(run.out, "143\n") << run.err;
    EXPECT_EQ(readFile(dir / "old.pdf"), "the old PDF");
    EXPECT_EQ(leftovers(dir), "");

    // To a pipe through /dev/stdout, and through a symbolic link to the file it names.
    writeFile(dir / "few.tsv", people(3));
    run = runShell(dir, "$CLI --data-dir d print few.tsv -o /dev/stdout | cat >piped.pdf");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(pdfPages(dir, "piped.pdf"), 1);
    fs::create_symlink("old.pdf", dir / "link.pdf");
    run = runShell(dir, "$CLI --data-dir d print few.tsv -o link.pdf");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
    EXPECT_EQ(pdfPages(dir, "old.pdf"), 1);
    EXPECT_EQ(pdfText(dir, "old.pdf"), pdfText(dir, "piped.pdf"));
    EXPECT_EQ(leftovers(dir), "");
}

TEST(CliPrint, RateTablesAndTheTemplate) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(3));
    // The template is written from the built-in copy when missing.
    CliRun run = runShell(dir, "$CLI --data-dir d print people.tsv -o a.pdf");
    ASSERT_EQ(run.exit, 0) << run.err;
    const ByteSet& builtIn = resources::builtInPrintTemplate();
    EXPECT_EQ(readFile(dir / "d" / "print.dbf"), std::string(builtIn.begin(), builtIn.end()));
    const std::string sound = pdfText(dir, "a.pdf");

    // A damaged rate table of the data directory is set aside and replaced, and told.
    writeFile(dir / "d" / "设置税率表A.dat", "garbage");
    run = runShell(dir, "$CLI --data-dir d print people.tsv -o b.pdf");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.err.find("税率表文件已损坏"), std::string::npos) << run.err;
    EXPECT_EQ(pdfText(dir, "b.pdf"), sound);

    // A damaged --table is an error and left as it is; the default data directory is used
    // for the rest.
    writeFile(dir / "bad.dat", "not a table");
    writeFile(dir / "old.pdf", "the old PDF");
    run = runShell(dir, "XDG_DATA_HOME=\"$PWD/xdg\" $CLI print people.tsv -o old.pdf "
                        "--table bad.dat");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("bad.dat: error -22: 指定文件不是数据库文件"), std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(dir / "bad.dat"), "not a table");
    EXPECT_EQ(readFile(dir / "old.pdf"), "the old PDF");
    run = runShell(dir, "XDG_DATA_HOME=\"$PWD/xdg\" $CLI print people.tsv -o c.pdf "
                        "--table d/设置税率表A.dat");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(pdfText(dir, "c.pdf"), sound);
    EXPECT_TRUE(fs::exists(dir / "xdg" / "iitcalc" / "print.dbf"));

    // A damaged template is an error, and stays for its owner to look at.
    writeFile(dir / "d" / "print.dbf", "SDTQ and then nothing");
    run = runShell(dir, "$CLI --data-dir d print people.tsv -o old.pdf");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("print.dbf: not a print template"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "d" / "print.dbf"), "SDTQ and then nothing");
    EXPECT_EQ(readFile(dir / "old.pdf"), "the old PDF");
    EXPECT_EQ(leftovers(dir), "");
}

TEST(CliPrint, NeedsNoDisplayAndTheOtherCommandsNoQt) {
    TempDir dir;
    writeFile(dir / "people.tsv", people(3));
    // Whatever platform the session names, the print is drawn offscreen.
    const CliRun run = runShell(dir, "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR "
                                     "QT_QPA_PLATFORM=xcb $CLI --data-dir d print people.tsv "
                                     "-o out.pdf");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(pdfPages(dir, "out.pdf"), 1);
    EXPECT_EQ(runShell(dir, "ldd \"$CLI\" | grep -c libQt").out, "0\n");

    // Without its print program iitcalc-cli still computes, and says what is missing.
    const CliRun alone =
        runShell(dir, "mkdir alone && cp \"$CLI\" alone/ && "
                      "alone/iitcalc-cli --data-dir d print people.tsv -o x.pdf; "
                      "echo $?; alone/iitcalc-cli --data-dir d tax wages gross 8000");
    EXPECT_EQ(alone.out, "1\n实发数: 7910\n应纳税:   90\n");
    EXPECT_NE(alone.err.find("iitcalc-cli print: iitcalc-cli-print is not installed"),
              std::string::npos)
        << alone.err;
    EXPECT_FALSE(fs::exists(dir / "x.pdf"));
}

// The ledger's PDFs through the command line: the slips of a month in one file or one file an
// employee, an employee's year, and the mistakes that write nothing.
TEST(CliLedgerPdf, SlipsAndTheYearAsFilesAndFolders) {
    TempDir dir;
    writeFile(dir / "m.tsv", "工号\t姓名\t证件号码\t本月收入\t基本养老保险费\n"
                             "A001\t张三\t110101199003076634\t15000\t800\n"
                             "\t王五\t110101197001011237\t8000\t640\n"
                             "\t王五\t110101197205051232\t9000\t640\n");
    ASSERT_EQ(runShell(dir, "$CLI --data-dir d ledger import 2026 3 m.tsv").exit, 0);
    writeFile(dir / "taken", "a file");
    struct Case {
        const char* args;
        int exit;
        const char* out; // what standard output holds
    };
    const Case cases[] = {
        {"slips 2026 3 -o s.pdf --employer 华光机械厂", 0, "s.pdf\t3\n"},
        {"slips 2026 3 -o one.pdf --one-per-page", 0, "one.pdf\t3\n"},
        {"slips 2026 3 -o each --each", 0, "each\t3\n"},
        {"statement 2026 110101199003076634 -o year.pdf", 0, "year.pdf\t1\n"},
        {"statement 2026 -o years --each", 0, "years\t3\n"},
        {"slips 2026 4 -o none.pdf", 1, ""},     // no wages that month
        {"slips 2026 3 -o taken --each", 1, ""}, // not a folder
        {"slips 2026 3 -o s.txt", 2, ""},        // neither a workbook nor a PDF
        {"slips 2026 3 -o s.xlsx --one-per-page", 2, ""},
        {"statement 2026 --each", 2, ""}, // no folder
        {"show 2026 3 --each", 2, ""},
    };
    for (const Case& c : cases) {
        const CliRun run = runShell(dir, std::string("$CLI --data-dir d ledger ") + c.args);
        EXPECT_EQ(run.exit, c.exit) << c.args << "\n" << run.err;
        EXPECT_EQ(run.out, c.out) << c.args;
    }
    EXPECT_FALSE(fs::exists(dir / "none.pdf"));
    EXPECT_EQ(readFile(dir / "taken"), "a file");
    EXPECT_EQ(pdfPages(dir, "s.pdf"), 1);
    EXPECT_EQ(pdfPages(dir, "one.pdf"), 3);
    EXPECT_NE(pdfText(dir, "s.pdf").find("华光机械厂"), std::string::npos);
    // Named by 工号, else by name; never by the identity number.
    EXPECT_EQ(runShell(dir, "LC_ALL=C ls each years").out,
              "each:\nA001.pdf\n王五-2.pdf\n王五.pdf\n\nyears:\nA001.pdf\n王五-2.pdf\n王五.pdf\n");
    EXPECT_NE(pdfText(dir, "each/A001.pdf").find("张三"), std::string::npos);
    const std::string year = pdfText(dir, "year.pdf");
    EXPECT_NE(year.find("张三（110101199003076634）2026年在本单位的收入和个人所得税"),
              std::string::npos)
        << year;
    EXPECT_NE(year.find("大病医疗"), std::string::npos);
}

} // namespace
} // namespace iit::testing
