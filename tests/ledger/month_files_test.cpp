// A month of the ledger in and out of files: the import plan of a sheet (its header found and
// mapped, totals rows skipped, rows named by their sheet numbers, numbers stored as numbers
// refused), the export read back, and the printed withholding table laid out on pages.
#include "ledger/window/ledger_sheet.h"
#include "ledger/window/month_files.h"
#include "ledger/window/withholding_print.h"
#include "printing/page_layout.h"
#include "sheets/sheet.h"
#include "tests/ledger/ledger_support.h"

#include <string>

namespace iit::testing {
namespace {

using namespace ledger;

sheets::SheetRow Row(std::size_t number, std::initializer_list<const char*> cells) {
    sheets::SheetRow row;
    row.number = number;
    for (const char* c : cells) {
        sheets::Cell cell;
        cell.kind = *c ? sheets::Cell::Kind::Text : sheets::Cell::Kind::Empty;
        cell.text = c;
        row.cells.push_back(cell);
    }
    return row;
}

sheets::Sheet sheetOf(std::initializer_list<sheets::SheetRow> rows) {
    sheets::Sheet s;
    s.rows = rows;
    return s;
}

TEST(MonthImportPlan, HeadersAliasesTotalsAndFaults) {
    struct Case {
        const char* what;
        sheets::Sheet sheet;
        bool ok;
        std::vector<const char*> said; // parts of the summary or the problem
    };
    sheets::Sheet numeric =
        sheetOf({Row(1, {"姓名", "身份证号", "本月收入"}), Row(2, {"甲", "", "8000"})});
    numeric.rows[1].cells[1] = {sheets::Cell::Kind::Number, "1.10101199001011E+17", 1.1e17};
    const Case cases[] = {
        {"a title, aliases, a column left out and a totals row",
         sheetOf({Row(1, {"某公司2024年3月工资表"}),
                  Row(3, {"序号", "姓 名", "身份证号码", "部门", "应发工资", "专项扣除"}),
                  Row(4, {"1", "甲", "110101199001011237", "财务", "20000", "2000"}),
                  Row(5, {"2", "乙", "110101199002021231", "销售", "9000", ""}),
                  Row(7, {"合计", "", "", "", "29000", "2000"})}),
         true,
         {"标题在第3行", "证件号码（C列）", "本月收入（E列）", "本月专项扣除（F列）",
          "不导入的列：序号、部门", "跳过合计行：第7行", "共2人"}},
        {"no income column",
         sheetOf({Row(1, {"姓名", "身份证号", "部门"}), Row(2, {"甲", "1", "x"})}),
         false,
         {"第1行的标题中没有“本月收入”列"}},
        {"no header", sheetOf({Row(1, {"甲", "1", "8000"})}), false, {"没有找到标题行"}},
        {"an identity number stored as a number",
         numeric,
         false,
         {"第2行：B2：证件号码是数字（1.10101199001011E+17），已丢失位数"}},
    };
    for (const Case& c : cases) {
        Outcome<MonthImportPlan> plan = planMonthImport(c.sheet, 2024, 3);
        ASSERT_EQ(plan.ok(), c.ok) << c.what;
        const std::string said = (plan ? plan->summary : plan.problem().message).toUtf8();
        for (const char* part : c.said)
            EXPECT_NE(said.find(part), std::string::npos) << c.what << ": " << said;
    }
    Outcome<MonthImportPlan> plan = planMonthImport(cases[0].sheet, 2024, 3);
    ASSERT_EQ(plan->rows.size(), 3u);
    EXPECT_EQ((std::vector<std::size_t>{3, 4, 5}), plan->rowNumbers);
}

class MonthFiles : public LedgerFixture {};

TEST_F(MonthFiles, ImportNamesSheetRowsAndExportReadsBack) {
    LedgerSheet sheet(*book);
    ASSERT_TRUE(sheet.show(2024, 3).ok());
    // A faulty amount is named by its row in the sheet, not by its place among the people.
    Outcome<MonthImportPlan> bad =
        planMonthImport(sheetOf({Row(2, {"姓名", "身份证号", "本月收入"}),
                                 Row(3, {"甲", "110101199001011237", "8000"}),
                                 Row(9, {"乙", "110101199002021231", "8千"})}),
                        2024, 3);
    ASSERT_TRUE(bad.ok());
    Outcome<ChangeReport> refused = sheet.importRows(bad->rows, bad->rowNumbers);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.problem().message.toUtf8().rfind("第9行：本月收入", 0), 0u)
        << refused.problem().message.toUtf8();
    EXPECT_TRUE(sheet.lines().empty());

    Outcome<MonthImportPlan> good = planMonthImport(
        sheetOf({Row(1, {"姓名", "身份证号", "本月收入", "本月专项扣除", "全年一次性奖金", "备注"}),
                 Row(2, {"甲", "110101199001011237", "20000.5", "2000", "36000", "年终"}),
                 Row(3, {"乙", "11010119900202123X", "9000", "", "", ""})}),
        2024, 3);
    ASSERT_TRUE(good.ok());
    ASSERT_TRUE(sheet.importRows(good->rows, good->rowNumbers).ok());
    const std::filesystem::path file = dir.path() / "month.xlsx";
    ASSERT_TRUE(sheets::writeXlsx(file, monthTable(sheet.lines(), sheet.totals(), 2024, 3)).ok());
    Outcome<sheets::Sheet> back = sheets::readSheet(file);
    ASSERT_TRUE(back.ok()) << back.problem().message.toUtf8();
    ASSERT_EQ(back->rows.size(), 4u); // header, two people, totals
    const sheets::SheetRow& header = back->rows[0];
    auto column = [&](const char* caption) {
        for (std::size_t c = 0; c < header.cells.size(); ++c)
            if (header.cells[c].text == caption) return c;
        ADD_FAILURE() << caption;
        return std::size_t{0};
    };
    const sheets::SheetRow& first = back->rows[1];
    EXPECT_EQ(first.at(column("证件号码")).kind, sheets::Cell::Kind::Text);
    EXPECT_EQ(first.at(column("证件号码")).text, "110101199001011237");
    EXPECT_EQ(first.at(column("本月收入")).kind, sheets::Cell::Kind::Number);
    EXPECT_EQ(first.at(column("本月收入")).number, 20000.5);
    EXPECT_EQ(first.at(column("奖金税额")).number, 1080);
    EXPECT_EQ(first.at(column("备注")).text, "年终");
    EXPECT_EQ(back->rows[2].at(column("证件号码")).text, "11010119900202123X");
    EXPECT_EQ(back->rows[3].at(column("姓名")).text, "合计");
    EXPECT_EQ(back->rows[3].at(column("本月收入")).number, 29000.5);
    // The export reads back as an import of the same month: nothing changes.
    Outcome<MonthImportPlan> again = planMonthImport(*back, 2024, 3);
    ASSERT_TRUE(again.ok()) << again.problem().message.toUtf8();
    Outcome<ChangeReport> same = sheet.importRows(again->rows, again->rowNumbers);
    ASSERT_TRUE(same.ok()) << same.problem().message.toUtf8();
    EXPECT_EQ(same->unchanged, 2);
}

// The employees' own files in a folder: by 工号, else by name, the same name numbered, never by
// identity number, and never a name the file system refuses or reads as a path.
TEST(EmployeeFileNames, ByStaffNumberOrNameAndNeverAPath) {
    const std::pair<const char*, const char*> people[] = {
        // 工号, 姓名
        {"A001", "张三"},    {"", "王五"}, {"", "王五"}, {"", "王五"}, {"", "王五-2"},
        {"财务/01", "李四"}, {"", ".."},   {"", "."},    {"", "a\nb"},
    };
    std::vector<Employee> employees;
    for (const auto& [staff, name] : people) {
        Employee e;
        e.key.idNumber = Text::fromUtf8("110101199001011237");
        e.staffNumber = Text::fromUtf8(staff);
        e.name = Text::fromUtf8(name);
        employees.push_back(e);
    }
    std::string names;
    for (const std::filesystem::path& p : employeeFileNames(employees, ".pdf"))
        names += p.string() + " ";
    EXPECT_EQ(names, "A001.pdf 王五.pdf 王五-2.pdf 王五-3.pdf 王五-2-2.pdf 财务_01.pdf _...pdf "
                     "_..pdf a_b.pdf ");
    // A name too long for a file name is cut at a character's start.
    Employee longName;
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "阿";
    longName.name = Text::fromUtf8(many);
    const std::string cut = employeeFileNames({longName}, ".pdf").front().string();
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 7), "阿.pdf");
}

// The month's pay slips: the fields any employee has, each slip's figures those of the month's
// line (the pay what is left of the income and the bonus), read back from the workbook in the
// clerks' layout.
TEST_F(MonthFiles, PaySlipsReadBack) {
    const Cells rows =
        makeRows({{"证件号码", "姓名", "本月收入", "基本养老保险费", "基本医疗保险费", "失业保险费",
                   "住房公积金", "本月专项扣除", "子女教育", "全年一次性奖金", "工号"},
                  {"110101199001011237", "甲", "20000", "1600", "400", "100", "1200", "", "2000",
                   "36000", "A-1"},
                  {"11010119900202123X", "乙", "9000", "", "", "", "", "900", "", "", ""}});
    ASSERT_TRUE(book->importMonth(2024, 3, rows).ok());
    Outcome<MonthView> month = book->showMonth(2024, 3);
    ASSERT_TRUE(month.ok());
    const PaySlips slips = paySlips(*month);
    std::string captions;
    for (const SlipField& f : slips.fields)
        captions += f.caption.toUtf8() + " ";
    EXPECT_EQ(captions, "姓名 工号 本月收入 全年一次性奖金 专项扣除 基本养老保险费 基本医疗保险费 "
                        "失业保险费 住房公积金 子女教育 本月应预扣个税 奖金税额 实发 本年累计收入 "
                        "本年累计已预扣个税 ");
    const std::filesystem::path file = dir.path() / "slips.xlsx";
    ASSERT_TRUE(
        sheets::writeXlsx(file, slipsTable(slips, slipTitle(Text::fromUtf8("某公司"), 2024, 3)))
            .ok());
    Outcome<sheets::Sheet> back = sheets::readSheet(file);
    ASSERT_TRUE(back.ok()) << back.problem().message.toUtf8();
    ASSERT_EQ(back->rows.size(), 5u); // the title, then captions and figures twice (blank rows
                                      // are not read)
    EXPECT_EQ(back->rows[0].at(0).text, "某公司　2024年3月工资条");
    for (std::size_t slip = 0; slip < 2; ++slip) {
        const sheets::SheetRow& head = back->rows[1 + 2 * slip];
        const sheets::SheetRow& figures = back->rows[2 + 2 * slip];
        EXPECT_EQ(head.number, 3 + 3 * slip); // a blank row before each captions' row
        const MonthLine& line = month->lines[slip];
        const auto at = [&](const char* caption) {
            for (std::size_t c = 0; c < head.cells.size(); ++c)
                if (head.cells[c].text == caption) return figures.at(c);
            ADD_FAILURE() << caption;
            return sheets::Cell{};
        };
        EXPECT_EQ(at("姓名").text, line.employee.name.toUtf8());
        EXPECT_EQ(at("实发").number, line.afterTax.toDouble());
        EXPECT_EQ(at("本月应预扣个税").number, line.withholding.toDouble());
        // The pay is the income and the bonus less the deductions paid and the taxes.
        const Exact paid = slip == 0 ? Exact(3300) : Exact(900);
        EXPECT_EQ(line.afterTax,
                  *line.entry.income + line.entry.bonus - paid - line.withholding - line.bonusTax);
    }
    EXPECT_EQ(back->rows[2].at(9).number, 2000); // 子女教育
    EXPECT_EQ(back->rows[4].at(4).number, 900);  // 乙's 专项扣除, a sum alone
    EXPECT_EQ(back->rows[4].at(5).kind, sheets::Cell::Kind::Empty);
}

TEST_F(MonthFiles, PrintedTable) {
    LedgerSheet sheet(*book);
    ASSERT_TRUE(sheet.show(2024, 3).ok());
    std::vector<std::vector<Text>> rows{
        {sysText("证件号码"), sysText("姓名"), sysText("本月收入")}};
    std::vector<std::size_t> numbers{1};
    for (int i = 0; i < 120; ++i) {
        rows.push_back({Text::fromBytes(identityNumber(i)), sysText("某"),
                        Text::fromBytes(i == 119 ? "7601355.07" : "8000")});
        numbers.push_back(static_cast<std::size_t>(i + 2));
    }
    ASSERT_TRUE(sheet.importRows(rows, numbers).ok());
    WithholdingPrintInput input{sysText("某某公司"), 2024, 3, false, 45383};
    const printing::PrintTable table = makeWithholdingTable(sheet.lines(), sheet.totals(), input);
    ASSERT_EQ(table.rowCount(), 6 + 120 - 1);
    EXPECT_EQ(table.columnCount(), static_cast<int>(printedColumns().size()));
    EXPECT_EQ(table.cell(1, 1).text.toUtf8(), "某某公司　工资薪金个人所得税预扣明细表");
    EXPECT_NE(table.cell(2, 1).text.toUtf8().find("所属期：2024年3月"), std::string::npos);
    EXPECT_NE(table.cell(2, 11).text.toUtf8().find("打印日期：2024年4月1日"), std::string::npos)
        << table.cell(2, 11).text.toUtf8();
    EXPECT_EQ(table.cell(4, 2).text.toUtf8(), "某");
    const int totals = table.rowCount() - 1;
    EXPECT_EQ(table.cell(totals, 1).text.toUtf8(), "合计");
    EXPECT_EQ(table.cell(totals, 3).text.toUtf8(), "120人");
    EXPECT_EQ(table.cell(totals, 4).text.toUtf8(), "8553355.07");
    // A column of millions is as wide as its figures, never narrower than its usual 16 mm.
    EXPECT_GE(table.columnWidth(4), 10 * 18 + 24);
    EXPECT_EQ(table.columnWidth(5), 160); // 免税收入, empty
    EXPECT_EQ(table.cell(table.rowCount(), 1).text.toUtf8(), "制表人：");
    EXPECT_EQ(table.headerRows(), 3);
    EXPECT_EQ(table.closingRows(), 2);
    EXPECT_EQ(table.pageSetup().orientation, printing::Orientation::Landscape);
    EXPECT_EQ(table.pageSetup().paper, printing::Paper::A4);
    const printing::PageLayout layout = printing::layOutPages(table);
    ASSERT_GT(layout.pageCount(), 1);
    EXPECT_EQ(layout.headerRows, 3);                       // on every page
    EXPECT_EQ(layout.pages.back().last, table.rowCount()); // totals and signatures at the end
}

} // namespace
} // namespace iit::testing
