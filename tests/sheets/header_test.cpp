// Header recognition with the batch's table of fields as the example caller, and totals rows.
#include "sheets/header.h"
#include "sheets/writer.h"
#include "tests/sheets/sheets_support.h"
#include "tests/support/temp_dir.h"

namespace iit::sheets {
namespace {

enum Field { Name, Id, Income, Card, Remark };

const std::vector<HeaderField> kBatchFields = {
    {{"姓名"}},
    {{"身份证号", "身份证号码", "证件号码", "身份证"}},
    {{"收入", "应发工资", "本期收入", "用于报税的收入", "金额"}},
    {{"银行卡号", "账号", "卡号"}},
    {{"备注"}},
};

std::string mapping(const HeaderMatch& m) {
    std::string out = std::to_string(m.rowNumber) + ":";
    for (int f : m.fieldColumn)
        out += " " + std::to_string(f);
    out += " |";
    for (const std::string& u : m.unmapped)
        out += " " + u;
    return out;
}

TEST(SheetsHeader, FindsTheHeaderAndMapsColumns) {
    const struct Case {
        const char* name;
        std::string text;
        const char* expected; // header row: column of each field | unmapped texts
    } cases[] = {
        {"plain", "姓名,身份证号,收入\n", "1: 0 1 2 -1 -1 |"},
        {"title rows above, any order, spaces and line breaks",
         "2024年3月工资表\n单位：某公司,,\n银行卡号,\"用于报税\r\n的 收 入\",姓　名,部门,身份证\n",
         "3: 2 4 1 0 -1 | 部门"},
        {"a later duplicate of a field is unmapped", "姓名,金额,收入,备注\n",
         "1: 0 -1 1 -1 3 | 收入"},
        {"a TAB inside a name", "\"姓\t名\"\t卡号\n", "1: 0 -1 -1 1 -1 |"},
        {"the tax client template's marks of required columns", "*姓名,＊身份证号,* 收入\n",
         "1: 0 1 2 -1 -1 |"},
    };
    for (const Case& c : cases) {
        const Sheet sheet = testing::readOk(c.text);
        const std::optional<HeaderMatch> m = findHeader(sheet, kBatchFields);
        ASSERT_TRUE(m) << c.name;
        EXPECT_EQ(mapping(*m), c.expected) << c.name;
    }
}

TEST(SheetsHeader, NoHeaderWithinTheSearchedRows) {
    EXPECT_FALSE(findHeader(testing::readOk("姓名,部门\n张三,x\n"), kBatchFields)); // one field
    std::string late;
    for (int i = 0; i < 20; ++i)
        late += "标题" + std::to_string(i) + "\n";
    late += "姓名,收入\n";
    EXPECT_FALSE(findHeader(testing::readOk(late), kBatchFields));
    EXPECT_TRUE(findHeader(testing::readOk(late), kBatchFields, 21));
}

TEST(SheetsHeader, ExportedHeaderReadsBack) {
    iit::testing::TempDir dir;
    Table t;
    t.columns = {
        {"序号"}, {"姓  名"}, {"身份证号码"}, {"用于报税\r\n的 收 入", 12, ColumnKind::Amount}};
    t.rows = {{"1", "张三", "110101199001011234", "100.00"}, {"合  计", "", "", "100.00"}};
    t.totalsRow = true;
    ASSERT_TRUE(writeXlsx(dir / "x.xlsx", t));
    Outcome<Sheet> sheet = readSheet(dir / "x.xlsx");
    ASSERT_TRUE(sheet);
    const std::optional<HeaderMatch> m = findHeader(*sheet, kBatchFields);
    ASSERT_TRUE(m);
    EXPECT_EQ(mapping(*m), "1: 1 2 3 -1 -1 | 序号");
    EXPECT_EQ(m->columnField, (std::vector<int>{-1, Name, Id, Income}));
    EXPECT_TRUE(isTotalsRow(sheet->rows.back()));
}

TEST(SheetsHeader, TotalsRows) {
    const std::pair<const char*, bool> cases[] = {
        {"合计,,100\n", true},   {",总 计,100\n", true},  {"　合　计　,1\n", true},
        {"1,张三,100\n", false}, {"合计人数,3\n", false}, {"小计,100\n", false},
    };
    for (const auto& [text, totals] : cases) {
        const Sheet sheet = testing::readOk(text);
        ASSERT_EQ(sheet.rows.size(), 1u) << text;
        EXPECT_EQ(isTotalsRow(sheet.rows[0]), totals) << text;
    }
}

} // namespace
} // namespace iit::sheets
