// Text files: the encodings told apart give the same cells, the grammar's rows keep their
// numbers, and what cannot be read is refused with its line.
#include "base/unicode.h"
#include "sheets/writer.h"
#include "tests/sheets/sheets_support.h"
#include "tests/support/temp_dir.h"

#include <array>
#include <iconv.h>

namespace iit::sheets {
namespace {

using testing::show;

// The sheet's text in another encoding (glibc iconv, independent of the code under test).
std::string encode(const std::string& utf8, const char* to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    std::string out(utf8.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size(), outLeft = out.size();
    char* o = out.data();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

const std::string kSheet = "姓名,身份证号,收入\r\n张三,110101199001011234,\"12,500.50\"\r\n"
                           "\r\n𠀀,\"备注\r\n两行\",800\r\n";
const char* kExpected = "1: T姓名 T身份证号 T收入\n"
                        "2: T张三 T110101199001011234 T12,500.50\n"
                        "4: T𠀀 T备注\r\n两行 T800\n";

TEST(SheetsText, EveryEncodingGivesTheSameCells) {
    const std::pair<const char*, std::string> files[] = {
        {"UTF-8", kSheet},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + kSheet},
        {"UTF-16LE with BOM", "\xFF\xFE" + encode(kSheet, "UTF-16LE")},
        {"UTF-16BE with BOM", "\xFE\xFF" + encode(kSheet, "UTF-16BE")},
        {"GB18030", encode(kSheet, "GB18030")},
    };
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(detectFormat(bytes), Format::Text) << name;
        EXPECT_EQ(show(testing::readOk(bytes)), kExpected) << name;
    }
    // The four-byte GB18030 character really is four bytes there.
    EXPECT_NE(encode("𠀀", "GB18030"), "");
    EXPECT_EQ(encode("𠀀", "GB18030").size(), 4u);
}

TEST(SheetsText, TabSeparatedAndWrittenText) {
    EXPECT_EQ(show(testing::readOk("a,b\tc\nd\te,f\n")), "1: Ta,b Tc\n2: Td Te,f\n");
    Table t;
    t.columns = {{"姓名"}, {"收入", 10, ColumnKind::Amount}};
    t.rows = {{"张,三", "12500.50"}, {"李\"四\"", ""}};
    const std::string csv = tableToCsv(t);
    EXPECT_EQ(csv, "\xEF\xBB\xBF姓名,收入\r\n\"张,三\",12500.50\r\n\"李\"\"四\"\"\",\r\n");
    EXPECT_EQ(tableToTsv(t), "姓名\t收入\r\n张,三\t12500.50\r\n\"李\"\"四\"\"\"\t\r\n");
    EXPECT_EQ(show(testing::readOk(csv)), "1: T姓名 T收入\n2: T张,三 T12500.50\n3: T李\"四\"\n");
    EXPECT_EQ(show(testing::readOk(tableToTsv(t))), show(testing::readOk(csv)));
}

TEST(SheetsText, RefusedTexts) {
    const std::pair<std::string, const char*> cases[] = {
        {"a,b\r\nc,d\r\n\x81\x20,e\r\n", "第 3 行的文字不是有效的 GB18030 编码"},
        {"\xEF\xBB\xBF"
         "a\n\xC3\x28\n",
         "第 2 行的文字不是有效的 UTF-8 编码"},
        {std::string("\xFF\xFE"
                     "a\0\n\0\0\xD8",
                     8),
         "第 2 行的文字不是有效的 UTF-16LE 编码"}, // a cut surrogate
        {"\"" + std::string(200000, 'x'), "第 1 行的单元格文字过长（也许缺少配对的引号）"},
        {std::string(20000, ','), "第 1 行的列数超过 16384"},
    };
    for (const auto& [bytes, message] : cases)
        EXPECT_NE(testing::readProblem(bytes).find(message), std::string::npos)
            << testing::readProblem(bytes);
}

TEST(SheetsText, FilesThatCannotBeRead) {
    const std::pair<std::filesystem::path, const char*> cases[] = {
        {"/nonexistent/x.csv", "文件不存在"},
        {"/tmp", "这是一个目录"},
        {"/dev/null", "不是普通文件"},
    };
    for (const auto& [path, message] : cases) {
        const Outcome<Sheet> sheet = readSheet(path);
        ASSERT_FALSE(sheet) << path;
        EXPECT_NE(sheet.problem().message.toUtf8().find(message), std::string::npos)
            << sheet.problem().message.toUtf8();
    }
}

TEST(SheetsText, RowCap) {
    std::string text;
    for (int i = 1; i <= 100; ++i)
        text += std::to_string(i) + ",x\n";
    ReadOptions options;
    options.rowCap = 7;
    const Sheet sheet = testing::readOk(text, options);
    EXPECT_EQ(sheet.rows.size(), 7u);
    EXPECT_EQ(sheet.rows.back().number, 7u);
    EXPECT_TRUE(sheet.more);
    EXPECT_EQ(sheet.rowsSeen, 100u);
}

// Rows handed over as they are read give the sheet they would have made, in every format (the
// .xls rows after its child process has read them whole), within the cap, with the problems.
TEST(SheetsText, RowsHandedOverAsTheyAreRead) {
    std::string text = "甲,1\n\n乙,\"2,5\"\n";
    for (int i = 4; i <= 30; ++i)
        text += "x" + std::to_string(i) + "," + std::to_string(i) + "\n";
    const std::string xls = iit::testing::readFile(std::string(IIT_SHEETS_DATA) + "/people.xls");
    iit::testing::TempDir dir;
    Table table;
    table.columns = {{"姓名", 8, ColumnKind::Text}, {"收入", 8, ColumnKind::Amount}};
    for (int i = 1; i <= 20; ++i)
        table.rows.push_back({"x" + std::to_string(i), std::to_string(i * 100)});
    ASSERT_TRUE(writeXlsx(dir / "t.xlsx", table));
    const std::string xlsx = iit::testing::readFile(dir / "t.xlsx");
    for (const std::string* bytes : std::array<const std::string*, 3>{&text, &xls, &xlsx}) {
        for (const std::size_t cap : {std::size_t{5}, static_cast<std::size_t>(-1)}) {
            ReadOptions kept;
            kept.rowCap = cap;
            const Sheet whole = testing::readOk(*bytes, kept);
            Sheet handed;
            ReadOptions streamed = kept;
            streamed.onRow = [&](SheetRow& row) { handed.rows.push_back(std::move(row)); };
            const Sheet rest = testing::readOk(*bytes, streamed);
            EXPECT_TRUE(rest.rows.empty());
            EXPECT_EQ(show(handed), show(whole)) << cap;
            EXPECT_EQ(rest.rowsSeen, whole.rowsSeen);
            EXPECT_EQ(rest.more, whole.more);
            EXPECT_EQ(testing::showProblems(rest), testing::showProblems(whole));
        }
    }
}

} // namespace
} // namespace iit::sheets
