#include "tests/batch/batch_support.h"

#include "batch/spreadsheet.h"
#include "sheets/writer.h"

namespace iit {
namespace {

using testing::BatchFixture;

// Columns 1 to 7 of a record, tab-separated.
std::string Line(const batch::BatchRecord& record) {
    std::string s;
    for (std::size_t c = 0; c < record.size(); ++c)
        s += (c ? "\t" : "") + record[c].toUtf8();
    return s;
}

TEST(SpreadsheetImport, HeadersAndColumns) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> people; // columns 1 to 7
        const char* notes;               // a part of notes(), or "" for none
    };
    const Case cases[] = {
        {"a title row, then a header in another order with other names",
         "2026年12月工资表\r\n序号,证件号码,姓 名,应发工资,部门,卡号\r\n"
         "1,11010119900101123X,张三,\"8,000.50\",财务,6222\r\n",
         {"张三\t11010119900101123X\t8,000.50\t\t\t6222\t"},
         "未读入的列：“序号”、“部门”"},
        {"the sheet's own captions, with their line breaks and spaces",
         "姓  名\t身份证号\t\"用于报税\r\n的 收 入\"\t\"应  缴\n税  "
         "额\"\t计税后所得额\t银行卡号\t备注\n"
         "李四\t\t12500\t540\t11960\t\t奖金\n合计\t\t12500\t540\t11960\t\t\n",
         {"李四\t\t12500\t540\t11960\t\t奖金"},
         ""},
        {"no header: the sheet's order, columns past the seventh told",
         "王五\t1101\t6000\t\t\t\t\t多余\n赵六\t\t7000\n",
         {"王五\t1101\t6000\t\t\t\t", "赵六\t\t7000\t\t\t\t"},
         "只读入了前 7 列（1 列未读入）"},
        {"a header that names one field is data",
         "姓名,x\r\n张三,1\r\n",
         {"姓名\tx\t\t\t\t\t", "张三\t1\t\t\t\t\t"},
         ""},
        {"a cell holds one line",
         "姓名\t收入\t备注\n\"张\n三\"\t100\t\"a\tb\"\n",
         {"张 三\t\t100\t\t\t\ta b"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome<batch::SheetImport> read = batch::readSpreadsheetBytes(c.text);
        ASSERT_TRUE(read) << read.problem().message.toUtf8();
        std::vector<std::string> people;
        for (const batch::BatchRecord& r : read->records)
            people.push_back(Line(r));
        EXPECT_EQ(people, c.people);
        const std::string notes = read->notes().toUtf8();
        if (*c.notes)
            EXPECT_NE(notes.find(c.notes), std::string::npos) << notes;
        else
            EXPECT_EQ(notes, "");
    }
}

TEST(SpreadsheetImport, RefusedFormatsAndRowsBeyondTheSheet) {
    const std::pair<std::string, const char*> refused[] = {
        {std::string("PK\x03\x04", 4) + std::string(26, '\0') +
             "mimetypeapplication/vnd.oasis.opendocument.spreadsheet",
         ".ods"},
        {std::string("PK\x03\x04", 4) + "cut", ".xlsx"},
        {"\x7f"
         "ELF\x02\x01\x01" +
             std::string(64, '\0'),
         ".xlsx、.xls、.csv"},
    };
    for (const auto& [bytes, named] : refused) {
        const Outcome<batch::SheetImport> read = batch::readSpreadsheetBytes(bytes);
        ASSERT_FALSE(read);
        EXPECT_NE(read.problem().message.toUtf8().find(named), std::string::npos)
            << read.problem().message.toUtf8();
    }

    std::string many = "姓名\t收入\n";
    for (int i = 1; i <= 10'050; ++i)
        many += "P" + std::to_string(i) + "\t1000\n";
    many += "合计\t10050000\n";
    const Outcome<batch::SheetImport> read = batch::readSpreadsheetBytes(many);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->records.size(), 10'000u);
    EXPECT_EQ(read->beyondSheet, 50);
    EXPECT_EQ(read->records.back()[0].toUtf8(), "P10000");
}

class SpreadsheetExport : public BatchFixture {};

// The computed sheet written as .csv, .tsv and .xlsx reads back as the same people.
TEST_F(SpreadsheetExport, WhatIsWrittenReadsBack) {
    person(1, "张三", "8,000");
    set(1, batch::kIdColumn, "110101199001011234");
    set(1, batch::kCardColumn, "6222021001123456789");
    person(2, "李四", "abc");
    person(4, "王五", "60673.70");
    set(4, batch::kRemarkColumn, "含\"加班\",费");
    calculate();
    const sheets::Table table = batch::exportTable(grid());
    ASSERT_EQ(table.rows.size(), 4u); // the empty row 3 is left out, the totals kept
    EXPECT_TRUE(table.totalsRow);
    EXPECT_EQ(table.rows[0][2], "8000"); // an amount as the decimal it reads as
    EXPECT_EQ(table.rows[1][2], "abc");  // no amount: the text the user sees

    for (const char* name : {"out.csv", "out.tsv", "out.xlsx"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(sheet->exportSpreadsheet(dir / name));
        EXPECT_FALSE(sheet->hasUnsavedChanges());
        const Outcome<batch::SheetImport> read = batch::readSpreadsheet(dir / name);
        ASSERT_TRUE(read) << read.problem().message.toUtf8();
        EXPECT_TRUE(read->header);
        EXPECT_EQ(read->notes().toUtf8(), "");
        EXPECT_EQ(read->totalsRows, 1u);
        ASSERT_EQ(read->records.size(), 3u);
        EXPECT_EQ(Line(read->records[0]),
                  "张三\t110101199001011234\t8000\t90\t7910\t6222021001123456789\t");
        EXPECT_EQ(Line(read->records[1]), "李四\t\tabc\t\t\t\t");
        EXPECT_EQ(Line(read->records[2]), "王五\t\t60673.7\t12325.8\t48347.9\t\t含\"加班\",费");
    }
}

} // namespace
} // namespace iit
