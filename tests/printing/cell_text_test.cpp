// How a cell's text is set: wrapped before it is set smaller, never cut without "…", numbers
// never broken; and the rows that grow for it.
#include "printing/cell_text.h"
#include "printing/page_layout.h"
#include "resources/print_template.h"

#include <gtest/gtest.h>

#include <cmath>

namespace iit::printing {
namespace {

// A CJK character is one em wide, an ASCII one half an em.
class FixedMeasure : public TextMeasure {
public:
    double width(const Text&, double em, std::string_view line) const override {
        double ems = 0;
        for (unsigned char b : line)
            if (b < 0x80)
                ems += 0.5;
            else if (b >= 0xc0)
                ems += 1;
        return ems * em;
    }
};

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines)
        out += (out.empty() ? "" : "|") + l;
    return out;
}

TEST(CellText, WrapsBeforeSettingSmallerAndCutsOnlyWithASign) {
    const FixedMeasure measure;
    const double two = linesHeight(2, 10); // room for two lines at full size
    const struct {
        const char* what;
        const char* text;
        double width, height;
        bool wraps;
        const char* lines;
        double size; // 0: below 1, checked by the lines
        bool elided;
    } cases[] = {
        {"fits", "张三", 70, two, true, "张三", 1, false},
        {"a long name wraps", "阿卜杜热合曼买买提江", 70, two, true, "阿卜杜热合曼买|买提江", 1,
         false},
        {"a middle dot stays with the character before it", "阿卜杜热合曼买·提江", 70, two, true,
         "阿卜杜热合曼|买·提江", 1, false},
        {"two lines set smaller", "一二三四五六七八九十一二三四五六", 70, two, true,
         "一二三四五六七八|九十一二三四五六", 0, false},
        {"too long even small", "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十", 70,
         two, true, "一二三四五六七八九十一|二三四五六七八九十一…", 0.6, true},
        {"a card number is set smaller, not broken", "6222021234567890123", 70, two, true,
         "6222021234567890123", 0, false},
        {"with spaces too", "6222 0212 3456 7890 123", 70, two, true, "6222 0212 3456 7890 123", 0,
         false},
        {"a number that cannot fit", "6222021234567890123", 50, two, true, "62220212345678…", 0.6,
         true},
        {"a cell that does not wrap", "阿卜杜热合曼买买提江", 70, two, false,
         "阿卜杜热合曼买买提江", 0, false},
        {"one line of room", "阿卜杜热合曼买买提江", 70, 10, true, "阿卜杜热合曼买买提江", 0,
         false},
        {"words break at spaces", "Bank of China Beijing", 70, two, true, "Bank of China|Beijing",
         1, false},
        {"no comma opens a line", "一二三四五六七，八", 70, two, true, "一二三四五六|七，八", 1,
         false},
        {"its own line breaks", "用于报\r\n税金额", 70, two, true, "用于报|税金额", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CellText set = fitText(c.text, Text(), 10, c.width, c.height, c.wraps, measure);
        EXPECT_EQ(joined(set.lines), c.lines);
        EXPECT_EQ(set.elided, c.elided);
        if (c.size > 0) {
            EXPECT_DOUBLE_EQ(set.size, c.size);
        } else {
            EXPECT_LT(set.size, 1);
            EXPECT_GE(set.size, kSmallestSize);
        }
        // Whatever was set fits its room at its size, and at a step larger it would not.
        EXPECT_LE(linesHeight(static_cast<int>(set.lines.size()), 10 * set.size), c.height + 1e-9);
        for (const std::string& l : set.lines)
            EXPECT_LE(measure.width(Text(), 10 * set.size, l), c.width + 1e-9) << l;
        if (set.size < 1 && !set.elided) {
            const CellText larger = fitText(c.text, Text(), 10 * (set.size + 0.01), c.width,
                                            c.height, c.wraps, measure);
            EXPECT_LT(larger.size, 1);
        }
    }
}

TEST(PageLayout, RowsGrowForTwoLinesAndThePagesFollow) {
    const FixedMeasure measure;
    const ByteSet& b = resources::builtInPrintTemplate();
    auto people = [&](int count, const char* name) {
        PrintTable t;
        EXPECT_TRUE(t.loadBytes(std::string(b.begin(), b.end())));
        t.insertRows(4, count);
        for (int p = 0; p < count; ++p)
            t.setText(4 + p, 2, Text::fromUtf8(name));
        t.setText(4, 7, Text::fromUtf8("62220212345678901234567")); // a card: set smaller
        t.insertRows(t.rowCount(), 1);
        t.applyPageSetup(PageSetup{});
        t.setHeaderRows(3);
        t.setClosingRows(3);
        return t;
    };
    // The name column holds seven characters of the body's font on a line.
    const PrintTable shortNames = people(25, "欧阳明月");
    const PrintTable longNames = people(25, "阿卜杜热合曼买买提江");
    const PageLayout plain = layOutPages(shortNames, &measure);
    const PageLayout grown = layOutPages(longNames, &measure);
    EXPECT_EQ(plain.rowHeight(4), 60);
    const double twoLines =
        std::ceil(linesHeight(2, cellEm(longNames.cell(4, 2))) + 2 * kCellPaddingY);
    for (int r = 4; r < 4 + 25; ++r)
        EXPECT_EQ(grown.rowHeight(r), twoLines) << r;
    EXPECT_EQ(grown.rowHeight(3), 102);                 // the headers hold their own two lines
    EXPECT_EQ(layOutPages(longNames).rowHeight(4), 60); // without a measure, as the table has
    EXPECT_EQ(plain.pageCount(), 1);
    EXPECT_EQ(grown.pageCount(), 2);
    // Every page holds what it has room for.
    for (const PageRows& page : grown.pages) {
        double used = 0;
        for (int r = 1; r <= grown.headerRows; ++r)
            used += grown.rowHeight(r);
        for (int r = page.first; r <= page.last; ++r)
            used += grown.rowHeight(r);
        EXPECT_LE(used * grown.scale, grown.printableHeight + 1e-6);
    }
    // The page number sits in the bottom margin, below every row.
    EXPECT_GT(grown.numberY - grown.numberEm / 2, grown.top + grown.printableHeight);
    EXPECT_LT(grown.numberY + grown.numberEm / 2, grown.paper.height);
    EXPECT_EQ(pageNumberText(2, 3), "第 2 页 共 3 页");
}

} // namespace
} // namespace iit::printing
