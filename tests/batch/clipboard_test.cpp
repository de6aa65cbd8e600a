#include "tests/batch/batch_support.h"

#include <chrono>

namespace iit {
namespace {

using testing::BatchFixture;

class Clipboard : public BatchFixture {
protected:
    void pasteAt(int row, int column, const std::string& utf8) {
        grid().setCurrentCell(row, column);
        sheet->PasteAtCursor(Text::fromUtf8(utf8));
    }
};

TEST_F(Clipboard, PasteRules) {
    struct Case {
        int row, column;
        const char* text;
        int checkRow;
        const char* wantLine; // columns 1 to 7 of checkRow afterwards
    };
    const Case cases[] = {
        {5, 1, "张三\t110101199001011234\t8000", 5,
         "张三\t110101199001011234\t8000\told4\told5\told6\told7"},
        {5, 1, "a\t\tb", 5, "a\t\tb\told4\told5\told6\told7"},
        {5, 1, "a\t", 5, "a\told2\told3\told4\told5\told6\told7"},
        {5, 3, "1,234.50", 5, "old1\told2\t1,234.50\told4\told5\told6\told7"},
        {5, 1, "\"李,四\",110101199001011234,\"8,000\"", 5,
         "李,四\t110101199001011234\t8,000\told4\told5\told6\told7"},
        {5, 1, "\"a\tb\"\t\"say \"\"hi\"\"\"\t1,500", 5,
         "a b\tsay \"hi\"\t1,500\told4\told5\told6\told7"},
        {5, 1,
         "a\x01"
         "b\tc",
         5, "ab\tc\told3\told4\told5\told6\told7"},
        {5, 1, "1\t2\t3\t4\t5\t6\t7\t8\t9", 5, "1\t2\t3\t4\t5\t6\t7"},
        {5, 6, "x\ty\tz", 5, "old1\told2\told3\told4\told5\tx\ty"},
        {4, 1, "first\r\n\nthird", 6, "third\told2\told3\told4\told5\told6\told7"},
        {4, 1, "a\rb\nc", 5, "b\told2\told3\told4\told5\told6\told7"}, // a lone CR ends a row
    };
    for (const Case& c : cases) {
        for (int row = 4; row <= 6; ++row)
            for (int col = 1; col <= 7; ++col)
                set(row, col, ("old" + std::to_string(col)).c_str());
        pasteAt(c.row, c.column, c.text);
        EXPECT_EQ(line(c.checkRow), c.wantLine) << c.text;
    }
}

TEST_F(Clipboard, PasteAtTheBottomDropsWhatDoesNotFit) {
    pasteAt(9999, 1, "a\nb\nc");
    EXPECT_EQ(cell(9999, 1), "a");
    EXPECT_EQ(cell(10000, 1), "b");
    EXPECT_EQ(grid().rowCount(), 10001); // the grid never grows
    // A paste at a fixed cell or with no current cell does nothing.
    grid().setCurrentCell(0, 1);
    sheet->PasteAtCursor(Text::fromBytes("zzz"));
    EXPECT_EQ(cell(0, 1), "姓  名");
    grid().setCurrentCell(-1, -1);
    sheet->PasteAtCursor(Text::fromBytes("zzz"));
    EXPECT_EQ(cell(1, 1), "");
}

TEST_F(Clipboard, SelectAllCopyPasteGivesTheSameGrid) {
    person(1, "张三", "8000");
    set(1, 7, "备注");
    person(3, "李四", "9000");
    calculate();
    sheet->SelectAll();
    const auto copied = sheet->CopySelection();
    ASSERT_TRUE(copied.has_value());
    const std::string text = copied->toUtf8();
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "张三\t\t8000\t90\t7910\t\t备注");
    std::size_t lines = 1;
    for (char ch : text)
        lines += ch == '\n';
    EXPECT_EQ(lines, 10000u);
    EXPECT_EQ(text.substr(text.size() - 6), "\t\t\t\t\t\t"); // the last, empty row: six TABs

    batch::BatchSheet other;
    other.grid().setCurrentCell(1, 1);
    other.PasteAtCursor(*copied);
    for (int row = 1; row <= 5; ++row)
        for (int col = 1; col <= 7; ++col)
            EXPECT_EQ(other.grid().text(row, col), grid().text(row, col)) << row << "," << col;

    // Nothing selected: nothing copied.
    grid().setCurrentCell(1, 1);
    EXPECT_FALSE(sheet->CopySelection().has_value());
}

TEST_F(Clipboard, ClearGridKeepsHeadersAndNumbers) {
    person(1, "张三", "8000");
    calculate();
    sheet->ClearGrid();
    for (int row = 1; row <= 2; ++row)
        EXPECT_EQ(line(row), "\t\t\t\t\t\t");
    EXPECT_EQ(cell(1, 0), "1");
    EXPECT_EQ(cell(0, 1), "姓  名");
    calculate(); // the incomes sum to 0: nothing is written
    EXPECT_EQ(line(1), "\t\t\t\t\t\t");
}

TEST_F(Clipboard, HostileClipboardTexts) {
    // Binary bytes and invalid GBK, mixed line ends, a line of a million TABs, and a large
    // text: extra fields and lines are dropped; nothing hangs.
    std::string binary;
    for (int i = 0; i < 100000; ++i)
        binary.push_back(static_cast<char>((i * 167 + 13) & 0xFF));
    std::string tabs(1'000'000, '\t');
    tabs = "x" + tabs + "y";
    std::string mixed = "a\rb\r\nc\nd\r\r\ne";
    const std::string person =
        Text::fromUtf8("王五\t110101199001011234\t8000\t\t\t6222\tok\r\n").bytes();
    std::string large;
    for (int i = 0; i < 400000; ++i)
        large += person;

    const auto start = std::chrono::steady_clock::now();
    for (const std::string* t : {&binary, &tabs, &mixed, &large}) {
        grid().setCurrentCell(1, 1);
        sheet->PasteAtCursor(Text::fromBytes(*t));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(cell(10000, 1), "王五");
    EXPECT_EQ(cell(10000, 7), "ok");
    EXPECT_EQ(grid().rowCount(), 10001);
    calculate();
    EXPECT_EQ(sheet->LastDataRow(), 10000);
}

} // namespace
} // namespace iit
