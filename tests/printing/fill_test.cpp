#include "base/convert.h"
#include "printing/tax_payment_table.h"
#include "resources/print_template.h"
#include "tests/printing/print_support.h"

#include <array>
#include <string>
#include <vector>

namespace iit::printing {
namespace {

using engine::TaxMode;

// 2024-05-03, 15:20: the date prints without the time.
const double kToday = makeDateTime(2024, 5, 3, 15, 20, 0);

class Fill : public testing::PrintFixture {
protected:
    PrintTable print(TaxMode mode = TaxMode::Gross, const char* employer = "") {
        const batch::SheetPeople people = batch::peopleOf(grid());
        return makeTaxPaymentTable(templateFile, grid(), people.forPrint(),
                                   {Text::fromUtf8(employer), mode, kToday});
    }

    std::vector<std::string> snapshot() {
        std::vector<std::string> cells;
        for (int r = 0; r < grid().rowCount(); ++r)
            for (int c = 0; c < grid().columnCount(); ++c)
                cells.push_back(grid().text(r, c).bytes());
        return cells;
    }
};

std::string text(const PrintTable& t, int row, int column) {
    return t.cell(row, column).text.toUtf8();
}
std::uint32_t align(const PrintTable& t, int row, int column) {
    return t.cell(row, column).format & kAlignMask;
}

// Rows 1 to 3, the totals, the signatures and the closing row of a table with k people.
void expectFrame(const PrintTable& t, int k, const std::string& title, const std::string& taxHeader,
                 const std::string& totals) {
    ASSERT_EQ(t.rowCount(), k + 6);
    ASSERT_EQ(t.columnCount(), 8);
    EXPECT_EQ(t.headerRows(), 3);
    EXPECT_EQ(t.closingRows(), 3);
    EXPECT_EQ(text(t, 1, 1), title);
    EXPECT_EQ(text(t, 2, 1), "单位：");
    EXPECT_EQ(text(t, 2, 8), "打印日期：2024年5月3日");
    const char* headers[] = {
        "序号",     "姓名",  "身份证号", "用于报\r\n税金额", "", "计税后\r\n所得额",
        "银行卡号", "备  注"};
    for (int c = 1; c <= 8; ++c)
        EXPECT_EQ(text(t, 3, c), c == 5 ? taxHeader : headers[c - 1]) << c;
    const int totalsRow = k + 4;
    std::string line;
    for (int c = 1; c <= 8; ++c)
        line += (c > 1 ? "|" : "") + text(t, totalsRow, c);
    EXPECT_EQ(line, totals);
    EXPECT_EQ(text(t, k + 5, 1), "制表：");
    EXPECT_EQ(text(t, k + 5, 4), "审核：");
    EXPECT_EQ(text(t, k + 5, 6), "会计：");
    for (int c = 1; c <= 8; ++c)
        EXPECT_TRUE(t.cell(k + 6, c).text.empty()) << c;
    // The title across the page, the totals label over the first two columns.
    const std::vector<CellArea> areas = t.mergedAreas();
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_EQ(areas[0], (CellArea{1, 1, 1, 8}));
    EXPECT_EQ(areas[1], (CellArea{totalsRow, 1, 1, 2}));
    // Serial numbers centred, amounts on the right, from row 4 to the end; the rest as the
    // template's person row (borders all round) and closing row (a rule on top).
    const std::uint32_t personAlign[] = {2, 4, 4, 3, 3, 3, 1, 4};
    for (int r = 4; r <= k + 6; ++r)
        for (int c = 1; c <= 8; ++c) {
            EXPECT_EQ(align(t, r, c), personAlign[c - 1]) << r << "," << c;
            EXPECT_EQ(t.cell(r, c).format & kBorderMask, r <= k + 4 ? kBorderMask : kBorderTop)
                << r << "," << c;
        }
    EXPECT_EQ(t.pageSetup(), taxTablePageSetup());
    EXPECT_EQ(t.pageSetup().margins, (std::array<std::int32_t, 4>{160, 100, 160, 120}));
}

TEST_F(Fill, EmptyGridGivesTheTemplateWithZeroTotals) {
    expectFrame(print(), 0, "个人所得税缴纳表", "自行负\r\n担税额", "合计|||0|0|0||");
}

TEST_F(Fill, TitleAndTaxHeader) {
    const struct {
        TaxMode mode;
        const char* employer;
        const char* title;
        const char* header;
    } cases[] = {
        {TaxMode::Gross, "", "个人所得税缴纳表", "自行负\r\n担税额"},
        {TaxMode::Net, "", "个人所得税缴纳表", "雇主全额\r\n负担税额"},
        {TaxMode::Gross, "华光机械厂", "华光机械厂个人所得税缴纳表", "自行负\r\n担税额"},
        {TaxMode::Net, "", "个人所得税缴纳表", "雇主全额\r\n负担税额"},
    };
    person(1, "张三", "8000");
    EXPECT_TRUE(sheet->CalculateAll());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.employer);
        const PrintTable t = print(c.mode, c.employer);
        EXPECT_EQ(text(t, 1, 1), c.title);
        EXPECT_EQ(text(t, 3, 5), c.header);
    }
}

TEST_F(Fill, PeopleWithAnIncomeFollowOneAnother) {
    person(1, "张三", "8000");
    set(1, batch::kIdColumn, "110101199001011234");
    set(1, batch::kCardColumn, "6222020200112233445");
    set(1, batch::kRemarkColumn, "三月");
    person(2, "李四", ""); // a name without an income: not printed
    person(3, "王五", "4000");
    person(5, "", "17000.50");          // an income without a name
    set(7, batch::kNameColumn, "赵六"); // only a name
    EXPECT_TRUE(sheet->CalculateAll());
    ASSERT_EQ(cell(6, batch::kNameColumn), "合计"); // the grid's own totals row, skipped

    const PrintTable t = print();
    expectFrame(t, 3, "个人所得税缴纳表", "自行负\r\n担税额",
                "合计|||" + cell(6, 3) + "|" + cell(6, 4) + "|" + cell(6, 5) + "||");
    const int rows[] = {1, 3, 5};
    double sums[3] = {0, 0, 0};
    for (int p = 0; p < 3; ++p)
        for (int c = 0; c < 8; ++c) {
            EXPECT_EQ(text(t, 4 + p, c + 1), cell(rows[p], c)) << p << "," << c;
            if (c >= 3 && c <= 5) sums[c - 3] += ToNumber(grid().text(rows[p], c));
        }
    EXPECT_EQ(text(t, 4, 1), "1");
    EXPECT_EQ(text(t, 6, 1), "5");
    EXPECT_EQ(text(t, 4, 5), "90");
    EXPECT_EQ(text(t, 5, 6), "4000");
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(text(t, 7, 4 + k), ToText(sums[k]).toUtf8()) << k;
}

TEST_F(Fill, TotalsAreSumsOfThePrintedTextsUnrounded) {
    person(1, "甲", "0.1");
    person(2, "乙", "0.2");
    person(3, "丙", "abc"); // not empty: printed, counts 0
    const PrintTable t = print();
    expectFrame(t, 3, "个人所得税缴纳表", "自行负\r\n担税额", "合计|||0.3|0|0||");
    EXPECT_EQ(text(t, 6, 4), "abc");
}

// One totals rule: an income above the top band is not computed, and neither the sheet's
// totals row nor the printed one counts it.
TEST_F(Fill, PrintedTotalsAreTheSheetTotals) {
    person(1, "甲", "3000000000");
    person(2, "乙", "8000");
    EXPECT_EQ(calculate().uncomputed.size(), 1u);
    ASSERT_EQ(line(3), "合计\t\t8000\t90\t7910\t\t");
    const PrintTable t = print();
    expectFrame(t, 2, "个人所得税缴纳表", "自行负\r\n担税额", "合计|||8000|90|7910||");
    EXPECT_EQ(text(t, 4, 4), "3000000000"); // the person is printed, without a tax
    EXPECT_EQ(text(t, 4, 5), "");
}

TEST_F(Fill, RowsWithNothingOfAPersonAreNotPrinted) {
    // name, identity card, income, tax, after tax, card, remark; printed?
    const struct {
        std::array<const char*, 7> cells;
        bool printed;
    } cases[] = {
        {{"", "", "0", "", "0", "", ""}, false},   // a reopened empty row, computed
        {{"", "", "0", "0", "0", "", ""}, false},  // the same before the calculation
        {{"", "", "0.00", "", "", "", ""}, false}, // another way to write zero
        {{"", "", "abc", "", "", "", ""}, false},  // counts 0 in the totals too
        {{"张三", "", "0", "", "0", "", ""}, true},
        {{"", "110101199001011234", "0", "", "0", "", ""}, true},
        {{"", "", "0", "", "0", "6222020200112233445", ""}, true},
        {{"", "", "0", "", "0", "", "三月"}, true},
        {{"", "", "8000", "90", "7910", "", ""}, true},
        {{"", "", "0", "5", "0", "", ""}, true},
        {{"", "", "0", "", "-3", "", ""}, true},
        {{"李四", "", "", "", "", "", ""}, false}, // no income
    };
    std::string expected;
    int row = 0;
    for (const auto& c : cases) {
        ++row;
        for (int col = 1; col <= 7; ++col)
            set(row, col, c.cells[static_cast<std::size_t>(col - 1)]);
        if (c.printed) expected += std::to_string(row) + " ";
    }
    const PrintTable t = print();
    std::string serials;
    for (int r = 4; r <= t.rowCount() - 3; ++r)
        serials += text(t, r, 1) + " ";
    EXPECT_EQ(serials, expected);
    expectFrame(t, 7, "个人所得税缴纳表", "自行负\r\n担税额", "合计|||8000|95|7907||");
}

// A saved batch file holds every row of the sheet; the empty ones open as empty rows, so that
// printing it again gives the people, not pages of nameless zeros.
TEST_F(Fill, AReopenedBatchFilePrintsItsPeopleOnly) {
    for (engine::TaxKind kind : {engine::TaxKind::Wages, engine::TaxKind::Royalties}) {
        SCOPED_TRACE(static_cast<int>(kind));
        sheet = std::make_unique<batch::BatchSheet>();
        sheet->setKind(kind);
        person(1, "张三", "8000");
        person(2, "李四", "12000");
        person(3, "王五", "4000");
        EXPECT_TRUE(sheet->CalculateAll());
        ASSERT_EQ(cell(4, batch::kNameColumn), "合计");
        const std::string totals =
            "合计|||" + cell(4, 3) + "|" + cell(4, 4) + "|" + cell(4, 5) + "||";
        const std::filesystem::path file = dir / "x.dat";
        ASSERT_TRUE(sheet->SaveBatchFile(file));

        sheet = std::make_unique<batch::BatchSheet>();
        sheet->setKind(kind);
        ASSERT_TRUE(sheet->OpenBatchFile(file));
        ASSERT_EQ(cell(9999, batch::kIncomeColumn), "");
        const PrintTable opened = print();
        expectFrame(opened, 3, "个人所得税缴纳表", "自行负\r\n担税额", totals);
        EXPECT_TRUE(sheet->CalculateAll()); // the totals follow the people again
        ASSERT_EQ(cell(4, batch::kNameColumn), "合计");
        ASSERT_EQ(cell(10000, batch::kNameColumn), "");
        const PrintTable computed = print();
        expectFrame(computed, 3, "个人所得税缴纳表", "自行负\r\n担税额", totals);
        for (int p = 0; p < 3; ++p)
            for (int c = 0; c < 8; ++c)
                EXPECT_EQ(text(computed, 4 + p, c + 1), cell(1 + p, c)) << p << "," << c;
    }
}

TEST_F(Fill, PrintingLeavesTheGridAsItWas) {
    for (int r = 1; r <= 40; ++r)
        person(r, ("职员" + std::to_string(r)).c_str(), std::to_string(3000 + 250 * r).c_str());
    EXPECT_TRUE(sheet->CalculateAll());
    ASSERT_EQ(cell(41, 1), "合计");
    // A person typed below the totals row after the calculation.
    person(42, "孙七", "9000");
    const std::vector<std::string> before = snapshot();
    const PrintTable first = print();
    EXPECT_EQ(snapshot(), before);
    const PrintTable second = print();
    EXPECT_TRUE(first == second);
    EXPECT_EQ(first.rowCount(), 41 + 6);
    EXPECT_EQ(text(first, 43, 1), "40");
    EXPECT_EQ(text(first, 44, 1), "42");
    EXPECT_EQ(text(first, 44, 2), "孙七");
    // The next calculation still finds its totals row where it wrote it.
    EXPECT_TRUE(sheet->CalculateAll());
    EXPECT_EQ(cell(43, 1), "合计");
    EXPECT_TRUE(grid().text(41, 1).empty());
    EXPECT_EQ(cell(41, 0), "41");
}

TEST_F(Fill, AFullGrid) {
    for (int r = 1; r <= batch::kDataRows; ++r)
        person(r, "某某", "12345.67");
    EXPECT_TRUE(sheet->CalculateAll()); // no room for a totals row
    const PrintTable t = print();
    ASSERT_EQ(t.rowCount(), batch::kDataRows + 6);
    EXPECT_EQ(text(t, batch::kDataRows + 3, 1), "10000");
    EXPECT_EQ(text(t, batch::kDataRows + 4, 4), ToText(12345.67 * 0 +
                                                       [] {
                                                           double s = 0;
                                                           for (int i = 0; i < batch::kDataRows;
                                                                ++i)
                                                               s += 12345.67;
                                                           return s;
                                                       }())
                                                    .toUtf8());
}

TEST_F(Fill, WithoutATemplateOnlyTheCreatedCellsAreFilled) {
    person(1, "张三", "8000");
    std::filesystem::remove(templateFile);
    const PrintTable t = print();
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(t.headerRows(), 3);
}

} // namespace
} // namespace iit::printing
