#include "printing/page_layout.h"
#include "printing/print_table.h"
#include "resources/print_template.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace iit::printing {
namespace {

std::string builtIn() {
    const ByteSet& b = resources::builtInPrintTemplate();
    return std::string(b.begin(), b.end());
}

PrintTable loaded() {
    PrintTable t;
    EXPECT_TRUE(t.loadBytes(builtIn()));
    return t;
}

// A table of `rows` x `columns` cells, every row `height` high, made through the template
// format so that it is what a template file gives.
PrintTable Plain(int rows, int columns, std::int32_t height = 60, std::int32_t width = 300) {
    PrintTemplate t;
    t.rowHeights.assign(static_cast<std::size_t>(rows), height);
    t.columnWidths.assign(static_cast<std::size_t>(columns), width);
    t.resetCells();
    PrintTable table;
    EXPECT_TRUE(table.loadBytes(encodePrintTemplate(t)));
    return table;
}

TEST(PrintTable, LoadsTheTemplateOrStaysEmpty) {
    const PrintTable t = loaded();
    EXPECT_EQ(t.rowCount(), 5);
    EXPECT_EQ(t.columnCount(), 8);
    EXPECT_EQ(t.cell(1, 1).text.toUtf8(), "个人所得税缴纳表");
    EXPECT_EQ(t.pageSetup().margins, (std::array<std::int32_t, 4>{230, 230, 230, 230}));
    EXPECT_EQ(t.mergedAreas(), (std::vector<CellArea>{{1, 1, 1, 8}}));

    testing::TempDir dir;
    testing::writeFile(dir / "print.dbf", builtIn());
    testing::writeFile(dir / "bad.dbf", "SDTX" + builtIn().substr(4));
    const struct {
        std::filesystem::path file;
        bool loads;
    } cases[] = {
        {dir / "print.dbf", true},
        {dir / "bad.dbf", false},
        {dir / "missing.dbf", false},
        {dir.path(), false}, // a directory
    };
    for (const auto& c : cases) {
        PrintTable table = loaded();
        table.setHeaderRows(3);
        EXPECT_EQ(table.load(c.file), c.loads) << c.file;
        EXPECT_EQ(table.empty(), !c.loads) << c.file;
        EXPECT_EQ(table.headerRows(), 0) << c.file;
        if (c.loads) {
            EXPECT_TRUE(table == loaded());
        }
    }
}

TEST(PrintTable, InsertedRowsTakeTheFormatOfTheRowBelow) {
    PrintTable t = loaded();
    ASSERT_TRUE(t.insertRows(4, 3));
    EXPECT_EQ(t.rowCount(), 8);
    EXPECT_EQ(t.rowHeights(), (std::vector<std::int32_t>{194, 60, 102, 60, 60, 60, 60, 60}));
    const PrintTable original = loaded();
    for (int r = 4; r <= 7; ++r)
        for (int c = 1; c <= 8; ++c) {
            EXPECT_EQ(t.cell(r, c).format, original.cell(4, c).format) << r << "," << c;
            EXPECT_TRUE(t.cell(r, c).text.empty());
        }
    for (int c = 1; c <= 8; ++c)
        EXPECT_TRUE(t.cell(8, c) == original.cell(5, c));
    // Appending copies the last row; the title's merge marks are not copied into a new row.
    ASSERT_TRUE(t.insertRows(100));
    EXPECT_EQ(t.rowCount(), 9);
    EXPECT_EQ(t.cell(9, 1).format, original.cell(5, 1).format);
    ASSERT_TRUE(t.insertRows(1));
    EXPECT_EQ(t.cell(1, 2).format & kMergeMask, 0u);
    EXPECT_EQ(t.cell(2, 1).text.toUtf8(), "个人所得税缴纳表");
    EXPECT_EQ(t.mergedAreas(), (std::vector<CellArea>{{2, 1, 1, 8}}));
    EXPECT_FALSE(t.insertRows(0));
    EXPECT_FALSE(t.insertRows(2, 0));

    // A row inserted inside a vertically merged area makes it taller.
    PrintTable v = Plain(4, 2);
    ASSERT_TRUE(v.merge(1, 1, 3, 1));
    ASSERT_TRUE(v.insertRows(2, 2));
    EXPECT_EQ(v.mergedAreas(), (std::vector<CellArea>{{1, 1, 5, 1}}));
}

TEST(PrintTable, MergeCutsOverlappedAreasLoose) {
    PrintTable t = Plain(4, 4);
    EXPECT_TRUE(t.merge(1, 1, 2, 3));
    EXPECT_TRUE(t.merge(2, 3, 3, 2)); // takes (2,3) out of the first area
    EXPECT_EQ(t.mergedAreas(), (std::vector<CellArea>{{2, 3, 3, 2}}));
    EXPECT_TRUE(t.merge(1, 1, 1, 2));
    EXPECT_TRUE(t.merge(1, 4, 10, 10)); // clipped to rows 1-4 of column 4
    EXPECT_EQ(t.mergedAreas(), (std::vector<CellArea>{{1, 1, 1, 2}, {1, 4, 4, 1}}));
    EXPECT_FALSE(t.merge(4, 4, 1, 1)); // a single cell
    EXPECT_FALSE(t.merge(5, 1, 1, 2)); // outside
    EXPECT_FALSE(t.merge(1, 1, 0, 2));
}

TEST(PrintTable, AlignmentKeepsBordersAndMerges) {
    PrintTable t = loaded();
    EXPECT_TRUE(t.setAlignment(1, 1, 100, 100, 3));
    const PrintTable original = loaded();
    for (int r = 1; r <= 5; ++r)
        for (int c = 1; c <= 8; ++c) {
            EXPECT_EQ(t.cell(r, c).format & kAlignMask, 3u);
            EXPECT_EQ(t.cell(r, c).format & ~kAlignMask, original.cell(r, c).format & ~kAlignMask);
        }
    EXPECT_FALSE(t.setAlignment(1, 1, 1, 1, 0));
    EXPECT_FALSE(t.setAlignment(1, 1, 1, 1, 15));
    EXPECT_FALSE(t.setAlignment(6, 1, 1, 1, 2));
    EXPECT_TRUE(t.setAlignment(0, 0, 2, 2, 2)); // clipped to (1, 1)
    EXPECT_EQ(t.cell(1, 1).format & kAlignMask, 2u);
    EXPECT_EQ(t.cell(1, 2).format & kAlignMask, 3u);
}

TEST(PrintTable, AlignmentCodes) {
    const struct {
        std::uint32_t code;
        HAlign h;
        VAlign v;
        bool wraps;
    } cases[] = {
        {1, HAlign::Left, VAlign::Middle, false},   {2, HAlign::Centre, VAlign::Middle, false},
        {3, HAlign::Right, VAlign::Middle, false},  {4, HAlign::Left, VAlign::Middle, true},
        {5, HAlign::Centre, VAlign::Middle, true},  {6, HAlign::Right, VAlign::Middle, true},
        {7, HAlign::Left, VAlign::Top, true},       {9, HAlign::Right, VAlign::Top, true},
        {11, HAlign::Centre, VAlign::Bottom, true}, {13, HAlign::Spread, VAlign::Middle, false},
        {14, HAlign::Spread, VAlign::Top, false},   {0, HAlign::Left, VAlign::Middle, false},
        {15, HAlign::Left, VAlign::Middle, false},
    };
    for (const auto& c : cases) {
        const Alignment a = alignmentOf(c.code | kBorderMask | kMergeLeft);
        EXPECT_EQ(a.horizontal, c.h) << c.code;
        EXPECT_EQ(a.vertical, c.v) << c.code;
        EXPECT_EQ(a.mayWrap, c.wraps) << c.code;
    }
}

TEST(PrintTable, MergeMarksWithoutPartnersAreIgnored) {
    PrintTemplate t;
    t.rowHeights.assign(3, 60);
    t.columnWidths.assign(3, 100);
    t.resetCells();
    t.cell(1, 1).format |= kMergeRight;              // (1,2) has no left mark
    t.cell(2, 1).format |= kMergeRight | kMergeDown; // a 2 x 2 area
    t.cell(2, 2).format |= kMergeLeft | kMergeDown;
    t.cell(3, 1).format |= kMergeUp | kMergeRight;
    t.cell(3, 2).format |= kMergeUp | kMergeLeft;
    t.cell(3, 3).format |= kMergeUp; // (2,3) has no down mark
    PrintTable table;
    ASSERT_TRUE(table.loadBytes(encodePrintTemplate(t)));
    EXPECT_EQ(table.mergedAreas(), (std::vector<CellArea>{{2, 1, 2, 2}}));
}

TEST(PageLayout, ScaleCodes) {
    const struct {
        std::int32_t code;
        double table, printable, factor;
    } cases[] = {
        {-1, 2877, 2650, 2650.0 / 2877},
        {-1, 1000, 2000, 2.0},
        {-2, 2877, 2650, 2650.0 / 2877},
        {-2, 1000, 2000, 1.0},
        {0, 2877, 2650, 1.0},
        {5, 1, 1, 0.2},
        {19, 1, 1, 0.2},
        {20, 1, 1, 0.2},
        {150, 1, 1, 1.5},
        {5000, 1, 1, 10.0},
        {-7, 1, 1, 1.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(scaleFactor(c.code, c.table, c.printable), c.factor) << c.code;
}

TEST(PageLayout, PaperSizes) {
    constexpr auto landscape = Orientation::Landscape, portrait = Orientation::Portrait;
    EXPECT_EQ(paperOf(Paper::A4, landscape).width, 2970);
    EXPECT_EQ(paperOf(Paper::A4, landscape).height, 2100);
    EXPECT_EQ(paperOf(Paper::A4, portrait).width, 2100);
    EXPECT_EQ(paperOf(Paper::A3, portrait).height, 4200);
    EXPECT_EQ(paperOf(Paper::PrinterDefault, landscape).width, 2970);   // the printer's default: A4
    EXPECT_EQ(paperOf(static_cast<Paper>(1009), portrait).width, 2100); // a platform number
    EXPECT_EQ(paperOf(Paper::Ledger, landscape).width, 4318);
    // Any stored orientation but 1 is portrait.
    EXPECT_EQ(paperOf(Paper::A4, static_cast<Orientation>(2)).width, 2100);
}

// Checks what every layout must hold: pages in order cover every body row once, a page's
// rows fit, merged rows and the closing rows are not split.
void expectSound(const PrintTable& t, const PageLayout& l) {
    ASSERT_GE(l.pageCount(), 1);
    const double room = l.printableHeight / l.scale;
    double header = 0;
    for (int r = 1; r <= l.headerRows; ++r)
        header += t.rowHeight(r);
    int next = l.headerRows + 1;
    std::vector<int> pageOf(static_cast<std::size_t>(t.rowCount()) + 1, -1);
    for (int p = 0; p < l.pageCount(); ++p) {
        const PageRows& rows = l.pages[static_cast<std::size_t>(p)];
        EXPECT_EQ(rows.first, next) << "page " << p;
        double h = header;
        for (int r = rows.first; r <= rows.last; ++r) {
            h += t.rowHeight(r);
            pageOf[static_cast<std::size_t>(r)] = p;
        }
        EXPECT_LE(h, room + 1e-9) << "page " << p;
        next = rows.last + 1;
    }
    EXPECT_EQ(next, t.rowCount() + 1);
    for (const CellArea& a : t.mergedAreas()) {
        if (a.lastRow() <= l.headerRows) continue;
        EXPECT_GT(a.row, l.headerRows) << "an area crosses the header";
        EXPECT_EQ(pageOf[static_cast<std::size_t>(a.row)],
                  pageOf[static_cast<std::size_t>(a.lastRow())]);
    }
    for (int r = t.rowCount() - t.closingRows(); r <= t.rowCount(); ++r)
        if (r > l.headerRows) {
            EXPECT_EQ(pageOf[static_cast<std::size_t>(r)],
                      pageOf[static_cast<std::size_t>(t.rowCount())]);
        }
}

TEST(PageLayout, TaxTableShapes) {
    // The built-in template with k people, A4 landscape, margins 160, 100, 160, 120.
    for (int k : {0, 1, 27, 28, 29, 30, 100, 10000}) {
        SCOPED_TRACE(k);
        PrintTable t = loaded();
        if (k > 0) t.insertRows(4, k);
        t.insertRows(t.rowCount(), 1);
        t.applyPageSetup(PageSetup{});
        t.setHeaderRows(3);
        t.setClosingRows(3);
        const PageLayout l = layOutPages(t);
        EXPECT_EQ(l.headerRows, 3);
        EXPECT_NEAR(l.scale, 2650.0 / 2877.0, 1e-12);
        EXPECT_NEAR(l.left, 160, 1e-9);
        EXPECT_NEAR(l.top, 100, 1e-9);
        expectSound(t, l);
        // 1,880 of paper height is 2,041.1 of table height: 1,685.1 below the 3 header rows,
        // 28 rows of 60 a page. The last person goes with the totals, signature and closing
        // rows, a block of 4.
        const int singles = std::max(k - 1, 0);
        const int full = (singles + 27) / 28;
        const int onLast = singles - 28 * (full - 1);
        const int expected = singles == 0 ? 1 : full + (onLast + 4 <= 28 ? 0 : 1);
        EXPECT_EQ(l.pageCount(), expected);
    }
}

TEST(PageLayout, MergesAndHeadersStayWhole) {
    PrintTable t = Plain(40, 3, 100);
    t.merge(2, 1, 3, 1);   // crosses the end of the 2 header rows
    t.merge(10, 2, 6, 1);  // must not be split
    t.merge(17, 1, 30, 1); // clipped to rows 17-40: taller than a page, split
    t.setHeaderRows(2);
    PageSetup atFullSize;
    atFullSize.scale = 0;
    t.applyPageSetup(atFullSize);
    const PageLayout l = layOutPages(t);
    EXPECT_EQ(l.headerRows, 4);
    int pageOf10 = -1, pageOf15 = -2;
    for (int p = 0; p < l.pageCount(); ++p) {
        const PageRows& r = l.pages[static_cast<std::size_t>(p)];
        if (r.first <= 10 && 10 <= r.last) pageOf10 = p;
        if (r.first <= 15 && 15 <= r.last) pageOf15 = p;
        EXPECT_GE(r.count(), 1);
    }
    EXPECT_EQ(pageOf10, pageOf15);

    // Header rows that fill the page print once.
    PrintTable tall = Plain(10, 2, 1000);
    tall.setHeaderRows(3);
    const PageLayout once = layOutPages(tall);
    EXPECT_EQ(once.headerRows, 0);
    EXPECT_EQ(once.pageCount(), 10);

    const PageLayout empty = layOutPages(PrintTable());
    EXPECT_EQ(empty.pageCount(), 1);
    EXPECT_EQ(empty.pages[0].count(), 0);
}

} // namespace
} // namespace iit::printing
