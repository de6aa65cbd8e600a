// Another implementation's view: python3-openpyxl reads what the writer writes (numbers are
// numbers, identity-card numbers strings, the header frozen and bold) and writes a workbook
// the reader reads. Skipped only where python3 with openpyxl is missing.
#include "sheets/writer.h"
#include "tests/sheets/sheets_support.h"
#include "tests/support/shell_output.h"
#include "tests/support/temp_dir.h"

#include <cstdio>
#include <cstdlib>

namespace iit::sheets {
namespace {

using iit::testing::TempDir;

// A python3 that has openpyxl: Debian's first (another python3 may come first in PATH).
std::string pythonWithOpenpyxl(const TempDir& dir) {
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        const std::string command =
            std::string(python) + " -c 'import openpyxl' 2>'" + (dir / "err").string() + "'";
        if (std::system(command.c_str()) == 0) return python;
    }
    return {};
}

// What the script prints; a failing script fails the test with its standard error.
std::string runPython(const TempDir& dir, const std::string& python, const std::string& script) {
    iit::testing::writeFile(dir / "check.py", script);
    const std::string err = (dir / "stderr.txt").string();
    const std::string command = python + " '" + (dir / "check.py").string() + "' 2>'" + err + "'";
    const iit::testing::ShellOutput r = iit::testing::shellOutput(command);
    EXPECT_EQ(r.status, 0) << iit::testing::readFile(err);
    return r.out;
}

TEST(SheetsOpenpyxl, ReadsWhatTheWriterWrites) {
    TempDir dir;
    const std::string python = pythonWithOpenpyxl(dir);
    if (python.empty()) GTEST_SKIP() << "python3 with openpyxl is not installed";
    Table t;
    t.sheetName = "税款";
    t.columns = {
        {"姓名", 10}, {"身份证号", 22}, {"收入", 12, ColumnKind::Amount}, {"银行卡号", 22}};
    t.rows = {{"张三", "110101199001011234", "12500.50", "6222021234567890123"},
              {"合计", "", "12500.50", ""}};
    t.totalsRow = true;
    ASSERT_TRUE(writeXlsx(dir / "out.xlsx", t));
    const std::string out = runPython(dir, python,
                                      R"(
import openpyxl
ws = openpyxl.load_workbook(")" + (dir / "out.xlsx").string() +
                                          R"(")["税款"]
print(ws.freeze_panes, ws["A1"].font.b, ws["A1"].alignment.wrap_text)
for row in ws.iter_rows(min_row=2):
    print(" ".join("%s:%s:%s" % (c.data_type, c.value, c.number_format) for c in row))
print(ws["A3"].font.b, ws.column_dimensions["B"].width > 20)
)");
    EXPECT_EQ(out, "A2 True True\n"
                   "s:张三:@ s:110101199001011234:@ n:12500.5:0.00 s:6222021234567890123:@\n"
                   "s:合计:@ n:None:@ n:12500.5:0.00 n:None:@\n"
                   "True True\n");
}

TEST(SheetsOpenpyxl, ReadsWhatOpenpyxlWrites) {
    TempDir dir;
    const std::string python = pythonWithOpenpyxl(dir);
    if (python.empty()) GTEST_SKIP() << "python3 with openpyxl is not installed";
    const std::string path = (dir / "in.xlsx").string();
    runPython(dir, python, R"(
import datetime, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "人员"
ws.append(["2024年3月"])
ws.append([])
ws.append(["姓  名", "身份证号", "收入", "日期", "在职", "公式"])
ws.append(["张三", "110101199001011234", 12500.5, datetime.date(2024, 3, 1), True, "=C4*2"])
ws.append(["𠀀", 110101199001011234, -0.25, datetime.datetime(2024, 3, 1, 12, 30), False])
ws.freeze_panes = "A4"
wb.save(")" + path + R"(")
)");
    Outcome<Sheet> sheet = readSheet(path);
    ASSERT_TRUE(sheet) << sheet.problem().message.toUtf8();
    EXPECT_EQ(sheet->name, "人员");
    EXPECT_EQ(testing::show(*sheet),
              "1: T2024年3月\n"
              "3: T姓  名 T身份证号 T收入 T日期 T在职 T公式\n"
              "4: T张三 T110101199001011234 N12500.5 D2024-03-01 BTRUE E#N/A\n"
              "5: T𠀀 N1.10101199001011E+17 N-0.25 D2024-03-01 12:30:00 BFALSE\n");
    // openpyxl stores formulas with an empty result: the cell is reported, never dropped; and it
    // stores the 18-digit number in a form that no longer holds its digits.
    EXPECT_EQ(testing::showProblems(*sheet),
              "4 F4：公式没有保存计算结果，请在表格程序中重新计算并保存\n");
    EXPECT_EQ(*keyCellText(sheet->rows[2].cells[1]), "110101199001011234"); // a text cell
    EXPECT_FALSE(keyCellText(sheet->rows[3].cells[1]).ok());
}

} // namespace
} // namespace iit::sheets
