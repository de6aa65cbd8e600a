#include "base/convert.h"
#include "tests/batch/batch_support.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace iit {
namespace {

using batch::kAfterTaxColumn;
using batch::kIncomeColumn;
using batch::kNameColumn;
using batch::kTaxColumn;
using engine::TaxKind;
using engine::TaxMode;
using testing::BatchFixture;

class Calculate : public BatchFixture {};

TEST_F(Calculate, SetUpOfTheGrid) {
    EXPECT_EQ(grid().rowCount(), 10001);
    EXPECT_EQ(grid().columnCount(), 8);
    EXPECT_EQ(cell(0, 3), "用于报税\r\n的 收 入");
    EXPECT_EQ(cell(10000, 0), "10000");
    EXPECT_EQ(grid().columnWidth(0), 45);
    EXPECT_EQ(grid().columnWidth(2), 160);
    EXPECT_EQ(grid().columnWidth(3), 80);
    EXPECT_EQ(grid().rowHeight(0), 50);
    EXPECT_EQ(grid().format(5, 4) & cellformat::kHorizontalMask, cellformat::kRight);
    EXPECT_EQ(grid().format(5, 0) & cellformat::kHorizontalMask, cellformat::kCentre);
    EXPECT_NE(grid().format(0, 3) & cellformat::kWordWrap, 0);
    EXPECT_EQ(grid().format(5, 2) & cellformat::kHorizontalMask, cellformat::kLeft);
}

struct RowCase {
    TaxKind kind;
    TaxMode mode;
    const char* income;
    const char* tax;   // column 4 after CalculateAll
    const char* after; // column 5 after CalculateAll
    const char* editedTax;
    const char* editedAfter;
};

TEST_F(Calculate, RowsOfEveryPassAndTheEditedRow) {
    const RowCase cases[] = {
        {TaxKind::Wages, TaxMode::Gross, "8000", "90", "7910", "90", "7910"},
        {TaxKind::Wages, TaxMode::Gross, "5000", "", "5000", "", "5000"},
        {TaxKind::Wages, TaxMode::Gross, "5000.00", "", "5000.00", "", "5000"},
        {TaxKind::Wages, TaxMode::Gross, "17000", "990", "16010", "990", "16010"},
        {TaxKind::Wages, TaxMode::Net, "7910", "90", "8000", "90", "8000"},
        {TaxKind::Wages, TaxMode::Net, "7950", "94.44", "8044.44", "94.44", "8044.44"},
        {TaxKind::Wages, TaxMode::Net, "29000", "4453.33", "33453.33", "4453.33", "33453.33"},
        {TaxKind::Wages, TaxMode::Net, "5000.0", "", "5000.0", "", "5000"},
        {TaxKind::Labour, TaxMode::Gross, "2000", "240", "1760", "240", "1760"},
        {TaxKind::Labour, TaxMode::Gross, "6000", "960", "5040", "960", "5040"},
        {TaxKind::Labour, TaxMode::Gross, "700.0", "", "700.0", "", "700"},
        {TaxKind::Labour, TaxMode::Net, "2800", "500", "3300", "500", "3300"},
        {TaxKind::Labour, TaxMode::Net, "800", "", "800", "", "800"},
        {TaxKind::Royalties, TaxMode::Gross, "40000", "4480", "35520", "4480", "35520"},
        {TaxKind::Royalties, TaxMode::Gross, "500", "0", "500", "", "500"},
        {TaxKind::Royalties, TaxMode::Net, "4000", "448", "3552", "448", "3552"},
    };
    for (const RowCase& c : cases) {
        const std::string what = std::string(c.income) + " " + engine::kindText(c.kind).toUtf8() +
                                 engine::modeText(c.mode).toUtf8();
        sheet->ClearGrid();
        sheet->setKind(c.kind);
        sheet->setMode(c.mode);
        person(1, "张三", c.income);
        calculate();
        EXPECT_EQ(cell(1, kTaxColumn), c.tax) << what;
        EXPECT_EQ(cell(1, kAfterTaxColumn), c.after) << what;
        grid().setText(1, kTaxColumn, Text::fromBytes("stale"));
        EXPECT_EQ(editedRow(1, kIncomeColumn), "") << what;
        EXPECT_EQ(cell(1, kTaxColumn), c.editedTax) << what;
        EXPECT_EQ(cell(1, kAfterTaxColumn), c.editedAfter) << what;
    }
}

TEST_F(Calculate, TotalsRowMovesAndIsRecomputed) {
    person(1, "甲", "8000");
    person(2, "乙", "9000");
    person(3, "丙", "4000");
    person(10, "丁", "10000");
    calculate();
    EXPECT_EQ(sheet->LastDataRow(), 10);
    EXPECT_EQ(line(11), "合计\t\t31000\t570\t30430\t\t"); // taxes 90 + 190 + 290
    const std::string before = line(11);
    calculate(); // the old totals row is removed before the sums are taken
    EXPECT_EQ(line(11), before);
    EXPECT_EQ(line(12), "\t\t\t\t\t\t");

    grid().setText(10, kIncomeColumn, Text{}); // the last person leaves
    grid().setText(10, kAfterTaxColumn, Text{});
    grid().setText(10, kTaxColumn, Text{});
    calculate();
    EXPECT_EQ(sheet->LastDataRow(), 3);
    EXPECT_EQ(cell(4, kNameColumn), "合计");
    EXPECT_EQ(line(11), "\t\t\t\t\t\t"); // the old totals row is cleared
}

TEST_F(Calculate, OnlyAnOldTotalsRowLeft) {
    set(5, kNameColumn, "合计");
    set(5, kIncomeColumn, "1234");
    calculate();
    EXPECT_EQ(line(5), "\t\t\t\t\t\t");
    EXPECT_EQ(line(1), "合计\t\t0\t0\t0\t\t");
}

TEST_F(Calculate, NothingWhenTheIncomesSumToZero) {
    person(1, "甲", "0");
    person(2, "乙", "0.000");
    set(3, kNameColumn, "合计");
    calculate();
    EXPECT_EQ(cell(1, kTaxColumn), "");
    EXPECT_EQ(cell(3, kNameColumn), ""); // the old totals row was cleared all the same
    EXPECT_EQ(cell(4, kNameColumn), "");
    sheet->ClearGrid();
    calculate();
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(line(row), "\t\t\t\t\t\t");
}

TEST_F(Calculate, EveryPersonIsComputedWhateverTheEmptyRowsBefore) {
    // 60 scattered empty income cells before the last person.
    int row = 1;
    for (int i = 0; i < 60; ++i) {
        person(row, "甲", "8000");
        row += 2;
    }
    person(row, "末", "9000");
    calculate();
    EXPECT_EQ(cell(row, kTaxColumn), "190");
    EXPECT_EQ(cell(row + 1, kNameColumn), "合计");
    EXPECT_EQ(cell(row + 1, kTaxColumn), ToText(60 * 90.0 + 190).toUtf8());
}

TEST_F(Calculate, NoTotalsRowWhenTheLastRowIsUsed) {
    person(10000, "末", "8000");
    calculate();
    EXPECT_EQ(sheet->LastDataRow(), 10000);
    EXPECT_EQ(cell(10000, kTaxColumn), "90");
    for (int r = 1; r < 10000; r += 997)
        EXPECT_NE(cell(r, kNameColumn), "合计");
}

// The totals row never overwrites a person: it goes into the first row after the last data
// row that is empty in columns 1 to 7, and the next CalculateAll still finds and removes it.
TEST_F(Calculate, TotalsRowGoesIntoTheFirstEmptyRow) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, std::string>> people; // row, "name\tincome\t...\tremark"
        int lastDataRow;
        int totalsRow; // 0: none
        const char* totals;
    };
    const Case cases[] = {
        {"the second person has no income yet",
         {{1, "甲\t\t8000\t\t\t\t"}, {2, "乙\t\t\t\t\t\t"}},
         1,
         3,
         "合计\t\t8000\t90\t7910\t\t"},
        {"rows taken by a card number and a remark",
         {{1, "甲\t\t8000\t\t\t\t"}, {2, "\t\t\t\t\t6222\t"}, {3, "\t\t\t\t\t\t备注"}},
         1,
         4,
         "合计\t\t8000\t90\t7910\t\t"},
        {"an identity-card number only",
         {{1, "甲\t\t9000\t\t\t\t"}, {2, "\t110101\t\t\t\t\t"}},
         1,
         3,
         "合计\t\t9000\t190\t8810\t\t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sheet->ClearGrid();
        for (const auto& [row, text] : c.people) {
            grid().setCurrentCell(row, 1);
            sheet->PasteAtCursor(Text::fromUtf8(text));
        }
        for (int pass = 0; pass < 2; ++pass) { // the second pass removes the first totals row
            calculate();
            EXPECT_EQ(sheet->LastDataRow(), c.lastDataRow);
            EXPECT_EQ(line(c.totalsRow), c.totals) << "pass " << pass;
            for (const auto& [row, text] : c.people)
                EXPECT_EQ(cell(row, kNameColumn), text.substr(0, text.find('\t')));
            EXPECT_EQ(line(c.totalsRow + 1), "\t\t\t\t\t\t");
        }
    }
}

TEST_F(Calculate, NoTotalsRowWhenEveryRowAfterTheLastIncomeIsTaken) {
    person(1, "甲", "8000");
    for (int row = 2; row <= batch::kDataRows; ++row)
        set(row, kNameColumn, "乙");
    calculate();
    EXPECT_EQ(sheet->LastDataRow(), 1);
    EXPECT_EQ(cell(1, kTaxColumn), "90");
    for (int row = 2; row <= batch::kDataRows; ++row)
        ASSERT_EQ(line(row), "乙\t\t\t\t\t\t") << row;
}

TEST_F(Calculate, FullSheetHasNoTotalsRow) {
    for (int row = 1; row <= batch::kDataRows; ++row)
        person(row, "甲", "8000");
    calculate();
    EXPECT_EQ(sheet->LastDataRow(), batch::kDataRows);
    EXPECT_EQ(line(batch::kDataRows), "甲\t\t8000\t90\t7910\t\t");
    for (int row = 1; row <= batch::kDataRows; row += 999)
        EXPECT_EQ(cell(row, kNameColumn), "甲");
}

TEST_F(Calculate, EditedRowMessagesAndOtherColumns) {
    person(1, "甲", "8000");
    calculate();
    // Lowering the income below the threshold shows the message and clears the old tax.
    set(1, kIncomeColumn, "4000");
    EXPECT_EQ(editedRow(1, kIncomeColumn), "  个人所得收入小于纳税标准, 不计税! . . .    ");
    EXPECT_EQ(cell(1, kTaxColumn), "");
    EXPECT_EQ(cell(1, kAfterTaxColumn), "4000");
    // An emptied income cell counts 0: the message, and the row is emptied.
    set(1, kIncomeColumn, "");
    EXPECT_EQ(editedRow(1, kIncomeColumn), "  个人所得收入小于纳税标准, 不计税! . . .    ");
    EXPECT_EQ(cell(1, kAfterTaxColumn), "");
    // Other columns compute nothing.
    set(5, kIncomeColumn, "9000");
    EXPECT_EQ(editedRow(5, kNameColumn), "");
    EXPECT_EQ(cell(5, kTaxColumn), "");
    // Labour and royalties have no message; an empty income cell is left alone.
    sheet->setKind(TaxKind::Labour);
    EXPECT_EQ(editedRow(1, kIncomeColumn), "");
    EXPECT_EQ(cell(1, kTaxColumn), "");
}

TEST_F(Calculate, RoyaltiesForceTheEarnerMode) {
    sheet->setMode(TaxMode::Net);
    EXPECT_EQ(sheet->mode(), TaxMode::Net);
    sheet->setKind(TaxKind::Royalties);
    EXPECT_EQ(sheet->mode(), TaxMode::Gross);
    EXPECT_FALSE(sheet->netModeEnabled());
    sheet->setMode(TaxMode::Net); // the radio is disabled
    EXPECT_EQ(sheet->mode(), TaxMode::Gross);
    sheet->setKind(TaxKind::Wages);
    EXPECT_TRUE(sheet->netModeEnabled());
    EXPECT_EQ(sheet->mode(), TaxMode::Gross);
}

// An income cell is read whole: full-width digits and thousands separators are amounts, a cell
// with any other text is no amount and is named and marked instead of counting as its digits.
TEST_F(Calculate, IncomeCellsAreReadWhole) {
    const std::pair<const char*, const char*> cases[] = {
        {"８０００", "90"}, {"12,500.50", "540.05"}, {" 8000 ", "90"}, {"８０００元", ""},
        {"abc", ""},        {"-8000", ""},           {"1,00", ""},     {"1e308", ""},
    };
    int row = 1;
    for (const auto& [income, tax] : cases)
        person(row++, "甲", income);
    const batch::CalculationReport report = calculate();
    row = 1;
    for (const auto& [income, tax] : cases) {
        EXPECT_EQ(cell(row, kTaxColumn), tax) << income;
        EXPECT_EQ(sheet->noteOf(row, kIncomeColumn).empty(), *tax != 0) << income;
        ++row;
    }
    EXPECT_EQ(report.uncomputed.size(), 5u);
    EXPECT_EQ(cell(row, kNameColumn), "合计");
    EXPECT_EQ(cell(row, kIncomeColumn), "28500.5"); // 8000 + 12500.50 + 8000
}

// Incomes no computation can use get no tax, in every kind and mode, and the totals stay finite
// however many of them the sheet holds.
TEST_F(Calculate, AmountsBeyondTheLimitGetNoTax) {
    const std::string digits(400, '9');
    for (int row = 1; row <= batch::kDataRows - 1; ++row)
        grid().setText(row, kIncomeColumn, Text::fromBytes(row % 3 ? "1e308" : digits));
    person(batch::kDataRows - 1, "D", "8000");
    for (TaxKind kind : {TaxKind::Wages, TaxKind::Labour, TaxKind::Royalties}) {
        for (TaxMode mode : {TaxMode::Gross, TaxMode::Net}) {
            SCOPED_TRACE(static_cast<int>(kind) * 10 + static_cast<int>(mode));
            sheet->setKind(kind);
            sheet->setMode(mode);
            const batch::CalculationReport report = calculate();
            // Every row but the last person's is named, 9,998 of them.
            EXPECT_EQ(report.uncomputed.size(), std::size_t{batch::kDataRows - 2});
            EXPECT_FALSE(report.noTotalsRow);
            EXPECT_EQ(cell(1, kTaxColumn), "");
            EXPECT_EQ(cell(1, kAfterTaxColumn), "");
            EXPECT_EQ(cell(3, kTaxColumn), "");
            const double income = ToNumber(grid().text(batch::kDataRows, kIncomeColumn));
            EXPECT_EQ(income, 8000);
            EXPECT_EQ(cell(batch::kDataRows, kNameColumn), "合计");
            for (int c : {kTaxColumn, kAfterTaxColumn})
                EXPECT_TRUE(std::isfinite(ToNumber(grid().text(batch::kDataRows, c))));
        }
    }
    sheet->setKind(TaxKind::Wages);
    grid().setText(5, kIncomeColumn, Text::fromBytes("2000000000"));
    EXPECT_EQ(editedRow(5, kIncomeColumn), "failed:  输入的数值过大! . . . ");
    EXPECT_EQ(cell(5, kTaxColumn), "");
}

TEST_F(Calculate, RowsThatCannotBeComputedAreNamedAndMarked) {
    person(1, "甲", "8000");
    person(2, "乙", "3000000000");
    person(4, "丙", "1e400");
    const batch::CalculationReport report = calculate();
    ASSERT_EQ(report.uncomputed.size(), 2u);
    EXPECT_EQ(report.uncomputed[0].row, 2);
    EXPECT_EQ(report.uncomputed[1].row, 4);
    const std::string message = report.message().toUtf8();
    EXPECT_NE(message.find("有 2 行的收入无法计算"), std::string::npos) << message;
    EXPECT_NE(message.find("第 2 行（3000000000）"), std::string::npos) << message;
    EXPECT_EQ(line(5), "合计\t\t8000\t90\t7910\t\t");
    EXPECT_FALSE(sheet->noteOf(2, kIncomeColumn).empty());
    EXPECT_TRUE(sheet->noteOf(1, kIncomeColumn).empty());
    EXPECT_TRUE(sheet->noteOf(2, kNameColumn).empty());
}

// A stale tax never counts: an emptied income takes its computed cells with it.
TEST_F(Calculate, EmptiedIncomeTakesItsTaxAlong) {
    sheet->setMode(TaxMode::Net);
    person(1, "甲", "8000");
    person(2, "乙", "7910");
    calculate();
    ASSERT_EQ(line(3), "合计\t\t15910\t190\t16100\t\t");
    set(2, kIncomeColumn, "");
    editedRow(2, kIncomeColumn); // the below-threshold message
    EXPECT_EQ(line(2), "乙\t\t\t\t\t\t");
    set(2, kTaxColumn, "90"); // and if a stale tax was left, "计算" drops it
    calculate();
    EXPECT_EQ(line(2), "乙\t\t\t\t\t\t");
    EXPECT_EQ(line(3), "合计\t\t8000\t100\t8100\t\t");
}

// A rate table that cannot be read: the calculations say so and change nothing.
TEST_F(Calculate, UnreadableTableIsReported) {
    person(1, "A", "8000");
    std::filesystem::remove(engine::rateTablePath());
    std::filesystem::create_directory(engine::rateTablePath());
    const auto all = sheet->CalculateAll();
    ASSERT_FALSE(all.ok());
    const std::string problem = all.problem().message.toUtf8();
    EXPECT_NE(problem.find("税率表文件无法打开"), std::string::npos) << problem;
    EXPECT_EQ(cell(1, kTaxColumn), "");
    EXPECT_EQ(cell(2, kNameColumn), "");
    EXPECT_EQ(editedRow(1, kIncomeColumn), "failed: " + problem);
}

// Identity-card numbers are marked when they cannot be one, and kept as they were typed.
TEST_F(Calculate, IdentityCardNumbersThatCannotBeOneAreMarked) {
    const std::pair<const char*, const char*> cases[] = {
        {"110101199001011237", ""},
        {"11010519491231002X", ""},
        {"11010519491231002x", ""},
        {"110101199001011234", "身份证号的校验位不符"},
        {"110101199002301236", "身份证号的出生日期不存在"}, // 30 February
        {"110101209901011239", "身份证号的出生日期不存在"}, // after today
        {"11010118500101123X", "身份证号的出生日期不存在"},
        {"E12345678", ""},         // a passport number is not judged
        {"11010119900101123", ""}, // nor a number of another length
        {"11010119900101123Y", ""},
    };
    for (const auto& [number, note] : cases) {
        set(1, batch::kIdColumn, number);
        EXPECT_EQ(sheet->noteOf(1, batch::kIdColumn).toUtf8(), note) << number;
        EXPECT_EQ(cell(1, batch::kIdColumn), number);
    }
}

// Column 5 holds the gross when the employer bears the tax, and its header says so.
TEST_F(Calculate, TheHeaderOfColumnFiveFollowsTheMode) {
    const std::string afterTax = cell(0, batch::kAfterTaxColumn);
    sheet->setMode(engine::TaxMode::Net);
    EXPECT_EQ(cell(0, batch::kAfterTaxColumn), "含税\r\n收入额");
    sheet->setKind(engine::TaxKind::Royalties); // no employer-borne royalties
    EXPECT_EQ(cell(0, batch::kAfterTaxColumn), afterTax);
    sheet->setKind(engine::TaxKind::Wages);
    sheet->setMode(engine::TaxMode::Gross);
    EXPECT_EQ(cell(0, batch::kAfterTaxColumn), afterTax);
}

// Sorting moves the people up, keeps the totals row last and sorts amounts as amounts and
// names in pinyin order; cells that are no amount, and empty ones, go last.
TEST_F(Calculate, SortingThePeople) {
    person(1, "张三", "8000");
    person(2, "李四", "abc");
    person(4, "王五", "12,500");
    person(5, "阿五", "");
    set(5, batch::kRemarkColumn, "新来的");
    person(6, "合计", "20500");
    const struct {
        int column;
        bool ascending;
        const char* names; // rows 1 to 6 (row 6 empty)
    } cases[] = {
        {batch::kNameColumn, true, "阿五 李四 王五 张三 合计  "},
        {batch::kNameColumn, false, "张三 王五 李四 阿五 合计  "},
        {batch::kIncomeColumn, true, "张三 王五 李四 阿五 合计  "},
        {batch::kIncomeColumn, false, "王五 张三 李四 阿五 合计  "},
        {batch::kRemarkColumn, true,
         "阿五 王五 张三 李四 合计  "}, // empty remarks keep their order
    };
    for (const auto& c : cases) {
        sheet->sortPeople(c.column, c.ascending);
        std::string names;
        for (int row = 1; row <= 6; ++row)
            names += cell(row, batch::kNameColumn) + " ";
        EXPECT_EQ(names, c.names) << c.column << (c.ascending ? " up" : " down");
    }
    EXPECT_EQ(line(1), "阿五\t\t\t\t\t\t新来的");
}

} // namespace
} // namespace iit
