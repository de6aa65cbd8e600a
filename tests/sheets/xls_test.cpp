// .xls through FreeXL: cells, kinds, the sheet choice, and what FreeXL leaves out (formulas,
// booleans, error values), from a path and from bytes through a private temporary file.
#include "tests/sheets/sheets_support.h"
#include "tests/support/temp_dir.h"

#include <cstdlib>

namespace iit::sheets {
namespace {

using testing::show;
using testing::showProblems;

std::string fixture() {
    return iit::testing::readFile(std::string(IIT_SHEETS_DATA) + "/people.xls");
}

constexpr const char* kPeople =
    "1: T2024年3月工资表\n"
    "2: T姓名 T身份证号 T收入 T日期 T在职 T错误 T公式\n"
    "3: T张三 T110101199001011234 N12500.5 D2024-03-01 BTRUE E#DIV/0! E#N/A\n"
    "5: T李四 _ N3 _ BFALSE N0.3\n"; // the double 0.30000000000000004, as a spreadsheet shows it

TEST(SheetsXls, ReadsCellsFromPathAndFromBytes) {
    Outcome<Sheet> fromPath = readSheet(std::string(IIT_SHEETS_DATA) + "/people.xls");
    ASSERT_TRUE(fromPath) << fromPath.problem().message.toUtf8();
    EXPECT_EQ(fromPath->name, "人员"); // the hidden first sheet is passed over
    EXPECT_EQ(show(*fromPath), kPeople);
    EXPECT_EQ(showProblems(*fromPath),
              "3 F3：单元格是错误值 #DIV/0!\n"
              "3 G3：公式的结果无法从 .xls 文件读取，请将表格另存为 .xlsx 后再打开\n");

    // From bytes: the private copy lives in $XDG_RUNTIME_DIR and is gone afterwards.
    iit::testing::TempDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const Sheet fromBytes = testing::readOk(fixture());
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(show(fromBytes), kPeople);
    EXPECT_EQ(fromBytes.problems.size(), 2u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(runtime.path()), {}), 0);
}

TEST(SheetsXls, NamedSheetAndRowCap) {
    ReadOptions second;
    second.sheetName = "第二页";
    const Sheet s = testing::readOk(fixture(), second);
    EXPECT_EQ(s.name + "|" + show(s), "第二页|1: T第二页的内容\n");

    ReadOptions capped;
    capped.rowCap = 2;
    const Sheet c = testing::readOk(fixture(), capped);
    EXPECT_EQ(c.rows.size(), 2u);
    EXPECT_TRUE(c.more);
    EXPECT_EQ(c.rowsSeen, 4u);
    EXPECT_TRUE(c.problems.empty());
}

TEST(SheetsXls, RefusedFilesGiveAProblem) {
    // Files on which FreeXL reads out of bounds (found by xls_fuzz). A directory entry's name
    // length past its 64 bytes is refused before FreeXL sees it.
    const auto read = [](const char* name) {
        const std::string bytes = iit::testing::readFile(std::string(IIT_SHEETS_DATA) + "/" + name);
        EXPECT_FALSE(bytes.empty()) << name;
        return readSheetBytes(bytes);
    };
    const Outcome<Sheet> nameLength = read("freexl_name_length.xls");
    ASSERT_FALSE(nameLength);
    EXPECT_NE(nameLength.problem().message.toUtf8().find("无法读取这个 .xls 文件"),
              std::string::npos);
    // The other makes FreeXL overrun a heap buffer inside the child process: under the sanitizer
    // the child is aborted, which must come back as a refused file; elsewhere what FreeXL makes
    // of the bytes it overran is undefined, but it stays in the child.
    const Outcome<Sheet> overflow = read("freexl_overflow.xls");
#if defined(__SANITIZE_ADDRESS__)
    ASSERT_FALSE(overflow);
    EXPECT_NE(overflow.problem().message.toUtf8().find("无法读取这个 .xls 文件"),
              std::string::npos);
#endif
    std::string cut = fixture().substr(0, 1500);
    EXPECT_NE(testing::readProblem(cut).find("无法读取这个 .xls 文件"), std::string::npos);
    std::string header(512, '\0');
    header.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_NE(testing::readProblem(header).find(".xls"), std::string::npos);
}

} // namespace
} // namespace iit::sheets
