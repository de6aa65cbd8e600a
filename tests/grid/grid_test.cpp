#include "grid/grid.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace iit {
namespace {

using namespace std::string_literals;
namespace cf = cellformat;

Text B(std::string_view gbk) {
    return Text::fromBytes(gbk);
}

// 4 x 4 (or rows x columns) with one fixed row and column.
GridSetup small(int rows = 4, int columns = 4) {
    return {rows, columns, 1, 1, 24, 80};
}
GridSetup batchSheet() {
    return {10001, 8, 1, 1, 24, 80};
}

// Every cell "r<row>c<column>", or "." so that a test sees which cells an operation wrote.
void fill(Grid& g, bool dots) {
    for (int r = 0; r < g.rowCount(); ++r)
        for (int c = 0; c < g.columnCount(); ++c)
            g.setText(r, c, B(dots ? "."s : "r" + std::to_string(r) + "c" + std::to_string(c)));
}

// The non-fixed cells, '|' between cells and '/' between rows.
std::string dataArea(const Grid& g) {
    std::string out;
    for (int r = 1; r < g.rowCount(); ++r)
        for (int c = 1; c < g.columnCount(); ++c)
            out += (c > 1 ? "|" : r > 1 ? "/" : "") + g.text(r, c).bytes();
    return out;
}

// Name, 18-digit id, income, tax, after-tax amount, 19-digit card number, remark.
std::vector<Text> payrollRow(int r) {
    const std::string n = std::to_string(10000 + r);
    return {Text::fromUtf8("职工") + B(n),
            B("11010119800101" + n.substr(1)),
            B(std::to_string(5000 + r) + ".5"),
            B("123.45"),
            B("7876.55"),
            B("622202020011223" + n.substr(1)),
            Text::fromUtf8("已发放")};
}

void fillPayroll(Grid& g) {
    for (int r = 1; r < g.rowCount(); ++r) {
        std::vector<Text> fields = payrollRow(r);
        for (int c = 1; c <= 7; ++c)
            g.setText(r, c, std::move(fields[c - 1]));
    }
}

TEST(GridCells, SetCellDataStoresValuesAsText) {
    const std::pair<Value, const char*> cases[] = {
        {Value::number(5000.93), "5000.93"},
        {Value::number(1e13), "1e+013"},
        {Value::float32(1234567.0f), "1.23457e+006"},
        {Value::int16(-7), "-7"},
        {Value::text(B("\xd5\xc5, 1")), "\xd5\xc5, 1"},
    };
    Grid g(small());
    for (const auto& [value, want] : cases) {
        ASSERT_TRUE(g.setCellData(2, 2, value));
        EXPECT_EQ(g.cellData(2, 2), B(want)) << want;
    }
    int changes = 0;
    const Connection onCellsChanged =
        g.events().cellsChanged.connect([&](const CellRange&) { ++changes; });
    const std::pair<int, int> invalid[] = {{-1, 0}, {0, -1}, {4, 0}, {0, 4}, {INT_MIN, INT_MAX}};
    for (auto [r, c] : invalid) {
        EXPECT_FALSE(g.setCellData(r, c, Value::number(1)) || g.commitEdit(r, c, B("x")));
        EXPECT_FALSE(g.cellData(r, c).has_value());
        EXPECT_TRUE(g.text(r, c).empty());
    }
    EXPECT_EQ(changes, 0);
}

TEST(GridClipboard, Copy) {
    struct Case {
        int top, left, bottom, right, hiddenRow, hiddenColumn;
        const char* want;
    };
    const Case cases[] = {
        {1, 1, 2, 2, 0, 0, "r1c1\tr1c2\r\nr2c1\tr2c2"},
        {0, 0, 1, 1, 0, 0, "r0c0\tr0c1\r\nr1c0\tr1c1"}, // fixed cells copy like any other
        {1, 1, 2, 3, 0, 2, "r1c1\tr1c3\r\nr2c1\tr2c3"},
        {1, 1, 3, 1, 3, 0, "r1c1\r\nr2c1"}, // a hidden last row leaves no line break
        {1, 1, 2, 1, 1, 0, "r2c1"},
        {3, 2, 3, 3, 0, 0, "r3c2\t"}, // an empty cell still has its field
    };
    for (const Case& c : cases) {
        Grid g(small());
        fill(g, false);
        g.setText(3, 3, B(""));
        g.setRowHeight(c.hiddenRow, c.hiddenRow ? 0 : 24);
        g.setColumnWidth(c.hiddenColumn, c.hiddenColumn ? 0 : 80);
        ASSERT_TRUE(g.setSelection(c.bottom, c.right, c.top, c.left));
        EXPECT_EQ(g.copy(), B(c.want)) << c.want;
    }
    EXPECT_FALSE(Grid(small()).copy().has_value()); // no selection: the clipboard stays
}

TEST(GridClipboard, Paste) {
    struct Case {
        int row, column, hiddenRow, hiddenColumn;
        std::string text;
        const char* want; // the data area afterwards; "" when paste refuses
    };
    const Case cases[] = {
        // A one-column copy of formatted amounts keeps its amounts whole.
        {1, 1, 0, 0, "1,234.56\r\n12,500", "1,234.56|.|./12,500|.|./.|.|."},
        {1, 1, 0, 0, "1,5\r\n2", "1|5|./2|.|./.|.|."}, // comma-separated text
        // A TAB anywhere: TABs only, and a comma stays in its cell.
        {1, 1, 0, 0, "12,500.50\t张,三", "12,500.50|张,三|./.|.|./.|.|."},
        {1, 1, 0, 0, "a\t\tb", "a||b/.|.|./.|.|."},
        {1, 1, 0, 0, "1\t2\t3\t4\t5", "1|2|3/.|.|./.|.|."},
        {3, 1, 0, 0, "x\ny", ".|.|./.|.|./x|.|."}, // two lines on the last row
        {1, 1, 0, 0, "a\r\nb\nc\rd\r", "a|.|./b|.|./c|.|."},
        {1, 1, 0, 0, "a\n\nb\n", "a|.|./.|.|./b|.|."},  // an empty line takes up its row
        {1, 1, 0, 0, "a\t\nb\t\t", "a|.|./b||./.|.|."}, // a closing TAB gives no cell
        // A spreadsheet's quoted cell: its TAB and line break become spaces, "" a quote.
        {1, 1, 0, 0, "\"x\ty\r\nz\"\t\"say \"\"hi\"\"\"", "x y z|say \"hi\"|./.|.|./.|.|."},
        {1, 1, 2, 0, "a\nb", "a|.|./.|.|./b|.|."},
        {1, 1, 0, 2, "a\tb", "a|.|b/.|.|./.|.|."},
        {1, 1, 0, 1, "a\tb", ".|a|b/.|.|./.|.|."}, // the origin's own column hidden
        // Control characters are dropped, NUL too, and the rows after them pasted.
        {1, 1, 0, 0,
         "a\0b\tc\n\x01"
         "d"s,
         "ab|c|./d|.|./.|.|."},
        {1, 1, 0, 0, "\x81\t\xff\x80", "\x81|\xff\x80|./.|.|./.|.|."},
        {0, 1, 0, 0, "a\nb", ""}, // a fixed origin
        {-1, -1, 0, 0, "a", ""},
        {2, 2, 0, 0, "a", ""}, // a read-only origin
        {1, 1, 0, 0, "", ""},
    };
    for (const Case& c : cases) {
        Grid g(small());
        fill(g, true);
        g.setRowHeight(c.hiddenRow, c.hiddenRow ? 0 : 24);
        g.setColumnWidth(c.hiddenColumn, c.hiddenColumn ? 0 : 80);
        g.setReadOnly(2, 2, true);
        g.setReadOnly(1, 3, true); // read-only targets are written all the same
        g.setCurrentCell(c.row, c.column);
        const bool refused = *c.want == '\0';
        EXPECT_EQ(g.paste(B(c.text)).pasted, !refused) << c.text;
        EXPECT_EQ(dataArea(g), refused ? ".|.|./.|.|./.|.|." : c.want) << c.text;
        EXPECT_EQ(g.text(0, 1), B(".")) << c.text;
    }
}

TEST(GridClipboard, PasteMarksModifiedLeavesSelectionAndNotifiesOnce) {
    Grid g(small(6, 6));
    std::vector<CellRange> changes;
    const Connection onCellsChanged =
        g.events().cellsChanged.connect([&](const CellRange& r) { changes.push_back(r); });
    g.setCurrentCell(2, 2);
    ASSERT_TRUE(g.setSelection(1, 1, 4, 4));
    ASSERT_TRUE(g.paste(B("a\tb\tc\tx\ny")));
    EXPECT_EQ(changes, (std::vector<CellRange>{{2, 2, 3, 5}}));
    // Row, column, selected, modified.
    const std::tuple<int, int, bool, bool> cells[] = {
        {2, 2, false, true}, {2, 4, false, true}, {2, 5, false, true}, {3, 2, false, true},
        {3, 3, true, false}, {1, 1, true, false}, {4, 4, true, false}, {5, 5, false, false}};
    for (auto [r, c, selected, modified] : cells) {
        EXPECT_EQ(g.isSelected(r, c), selected) << r << "," << c;
        EXPECT_EQ(g.isModified(r, c), modified) << r << "," << c;
    }
    g.selectAll(); // a new selection takes the pasted cells in again
    EXPECT_TRUE(g.isSelected(2, 2));
    EXPECT_EQ(g.selection(), (CellRange{1, 1, 5, 5}));
}

TEST(GridClipboard, BatchSheetRoundTripAndPasteAtRow9999) {
    Grid g(batchSheet());
    fillPayroll(g);
    g.setText(0, 1, B("header"));
    g.selectAll();
    const std::optional<Text> clip = g.copy();
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ(std::count(clip->bytes().begin(), clip->bytes().end(), '\n'), 9999);
    EXPECT_EQ(clip->bytes().substr(0, 9), "\xd6\xb0\xb9\xa4"
                                          "10001"); // no header, no number

    ASSERT_TRUE(g.clearCells(1, 1, 10000, 7));
    EXPECT_TRUE(g.text(5000, 3).empty());
    g.setCurrentCell(1, 1);
    ASSERT_TRUE(g.paste(*clip));
    for (int r = 1; r <= 10000; ++r) {
        const std::vector<Text> want = payrollRow(r);
        for (int c = 1; c <= 7; ++c)
            ASSERT_EQ(g.text(r, c), want[c - 1]) << r << "," << c;
    }
    EXPECT_EQ(g.text(0, 1), B("header"));

    g.setCurrentCell(9999, 1);
    const PasteResult atTheEnd = g.paste(B("a\t1\r\nb\t2\r\nc\t3"));
    EXPECT_EQ(atTheEnd.rowsRead, 3u);
    EXPECT_EQ(atTheEnd.rowsLeftOut, 1u); // said, not dropped without a word
    EXPECT_EQ(g.text(9999, 1), B("a"));
    EXPECT_EQ(g.text(10000, 2), B("2"));
    EXPECT_EQ(g.rowCount(), 10001);
}

TEST(GridClipboard, HostileTexts) {
    std::mt19937 random(7);
    std::string binary(4 << 20, '\0');
    for (char& ch : binary)
        ch = static_cast<char>(1 + random() % 255);
    std::string lines;
    for (int i = 0; i < 200'000; ++i)
        lines += i % 2 ? "x,y\r\n" : "\r\r\n";
    // Text, then cells (row, column) and the text each must hold afterwards.
    const std::pair<std::string, std::vector<std::tuple<int, int, std::string>>> cases[] = {
        {binary, {{1, 0, "."}, {0, 1, "."}}},
        {"a" + std::string(1'000'000, '\t') + "b\nz", {{1, 1, "a"}, {1, 7, ""}, {2, 1, "z"}}},
        {std::string(8 << 20, 'q'), {{1, 1, std::string(8 << 20, 'q')}, {2, 1, "."}}},
        // A lone CR ends a row as CR LF does: two empty rows left as they were, then x and y.
        {lines, {{1, 1, "."}, {3, 1, "x"}, {3, 2, "y"}, {9999, 2, "y"}, {10000, 1, "."}}},
    };
    for (const auto& [text, cells] : cases) {
        Grid g(batchSheet());
        fill(g, true);
        g.setCurrentCell(1, 1);
        EXPECT_TRUE(g.paste(B(text)));
        EXPECT_EQ(g.rowCount(), 10001);
        for (const auto& [r, c, want] : cells)
            EXPECT_EQ(g.text(r, c), B(want)) << r << "," << c;
    }
}

TEST(GridFormat, RangeRules) {
    // row1, column1, row2, column2, accepted; row2 and column2 beyond the grid are reduced.
    const std::tuple<int, int, int, int, bool> cases[] = {
        {1, 1, 100, 1, true}, {1, 1, 1, 100, true}, {0, 0, 0, 0, true},  {-1, 1, 2, 2, false},
        {1, 1, -2, 2, false}, {2, 1, 1, 1, false},  {1, 2, 1, 1, false}, {4, 0, 4, 0, false}};
    for (auto [r1, c1, r2, c2, ok] : cases) {
        Grid g(small());
        EXPECT_EQ(g.setAlignment(r1, c1, r2, c2, Align::Right), ok);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                const bool inside = ok && r >= r1 && r <= r2 && c >= c1 && c <= c2;
                EXPECT_EQ((g.format(r, c) & cf::kHorizontalMask) == cf::kRight, inside);
            }
        }
    }
}

TEST(GridFormat, AlignmentKeepsWrapAndWrapKeepsAlignment) {
    Grid g(small());
    constexpr std::uint16_t base = cf::kVCentre | cf::kNoPrefix;
    EXPECT_EQ(g.format(1, 1), cf::kDefault);
    g.setAlignment(1, 1, Align::Centre);
    EXPECT_EQ(g.format(1, 1), cf::kCentre | base | cf::kSingleLine);
    g.setWordWrap(1, 1, true);
    EXPECT_EQ(g.format(1, 1), cf::kCentre | cf::kNoPrefix | cf::kWordWrap);
    g.setAlignment(1, 1, Align::Right);
    EXPECT_EQ(g.format(1, 1), cf::kRight | base | cf::kWordWrap);
    g.setWordWrap(1, 1, false);
    EXPECT_EQ(g.format(1, 1), cf::kRight | base | cf::kSingleLine);
    g.setAlignment(1, 1, Align::Left);
    EXPECT_EQ(g.format(1, 1), cf::kLeft | base | cf::kSingleLine);
}

TEST(GridCurrentCell, MovedEventOnlyWhenThePositionChanges) {
    // From, to, where it ends and how many events.
    const std::array<int, 7> cases[] = {{1, 1, 1, 1, 1, 1, 0},
                                        {1, 1, 2, 1, 2, 1, 1},
                                        {1, 1, 9, 9, -1, -1, 1},
                                        {-1, -1, 9, 9, -1, -1, 0},
                                        {-1, -1, 0, 0, 0, 0, 1}};
    for (auto [fromRow, fromColumn, row, column, wantRow, wantColumn, want] : cases) {
        Grid g(small());
        g.setCurrentCell(fromRow, fromColumn);
        g.setSelection(1, 1, 2, 2);
        int events = 0;
        const Connection onCurrentCellMoved =
            g.events().currentCellMoved.connect([&] { ++events; });
        g.setCurrentCell(row, column);
        EXPECT_EQ(events, want) << row << "," << column;
        EXPECT_EQ(std::pair(g.currentRow(), g.currentColumn()), std::pair(wantRow, wantColumn));
        EXPECT_FALSE(g.selection().has_value()); // cleared even when the cell stays
    }
}

TEST(GridCurrentCell, PendingEditIsStoredBeforeTheMove) {
    Grid g(small());
    g.setCurrentCell(1, 2);
    std::vector<std::string> log;
    const Connection onEndPendingEdit = g.events().endPendingEdit.connect(
        [&] { g.commitEdit(g.currentRow(), g.currentColumn(), B("5")); });
    const Connection onCellEditCommitted = g.events().cellEditCommitted.connect([&](int r, int c) {
        log.push_back("commit " + std::to_string(r) + std::to_string(c) + " at " +
                      std::to_string(g.currentRow()) + std::to_string(g.currentColumn()));
        g.setCurrentCell(r, c); // a handler that moves again must not recurse
    });
    const Connection onCurrentCellMoved =
        g.events().currentCellMoved.connect([&] { log.push_back("moved"); });
    g.setCurrentCell(1, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"commit 12 at 12", "moved"}));
    EXPECT_TRUE(g.isModified(1, 2));
    EXPECT_FALSE(g.commitEdit(0, 1, B("x"))); // fixed cells are never edited
}

TEST(GridRows, DeleteRowAndTheCurrentCell) {
    // Rows, current row, deleted row, accepted, current row after, fixed rows after, events.
    const std::tuple<int, int, int, bool, int, int, int> cases[] = {
        {5, 2, 1, true, 2, 1, 0},  // keeps its row number
        {5, 4, 1, true, 3, 1, 1},  // on the last row: up one
        {2, 1, 1, true, -1, 1, 1}, // ends on the fixed row: none
        {5, 2, 0, true, 2, 0, 0},  // a fixed row lowers the fixed count
        {5, 2, 5, false, 2, 1, 0}, {5, 2, -1, false, 2, 1, 0}};
    for (auto [rows, current, deleted, ok, wantRow, wantFixed, want] : cases) {
        Grid g(small(rows, 2));
        fill(g, false);
        g.setCurrentCell(current, 1);
        int events = 0;
        const Connection onCurrentCellMoved =
            g.events().currentCellMoved.connect([&] { ++events; });
        EXPECT_EQ(g.deleteRow(deleted), ok);
        EXPECT_EQ(g.rowCount(), ok ? rows - 1 : rows);
        EXPECT_EQ(std::pair(g.currentRow(), g.currentColumn()),
                  std::pair(wantRow, wantRow < 0 ? -1 : 1));
        EXPECT_EQ(g.fixedRowCount(), wantFixed);
        EXPECT_EQ(events, want);
        if (ok && deleted + 1 < rows) { // the rows below moved up
            EXPECT_EQ(g.text(deleted, 1), B("r" + std::to_string(deleted + 1) + "c1"));
        }
    }
}

TEST(GridRows, InsertRowShiftsCellsAndMerges) {
    // Position asked for, position used: a fixed or absent position appends.
    const std::pair<std::optional<int>, int> cases[] = {{2, 2}, {1, 1}, {std::nullopt, 5},
                                                        {0, 5}, {5, 5}, {-1, 5}};
    for (auto [before, at] : cases) {
        Grid g(small(5, 2));
        fill(g, false);
        g.mergeCells(1, 0, 3, 1);
        ASSERT_TRUE(g.insertRow(before));
        ASSERT_EQ(g.rowCount(), 6);
        EXPECT_TRUE(g.text(at, 1).empty());
        EXPECT_EQ(g.text(at == 5 ? 4 : at + 1, 1),
                  B("r" + std::to_string(at == 5 ? 4 : at) + "c1"));
        EXPECT_EQ(g.merges(), (std::vector<CellRange>{{at <= 1 ? 2 : 1, 0, at <= 3 ? 4 : 3, 1}}));
    }
}

TEST(GridLayout, MergeCells) {
    const CellRange existing{1, 1, 1, 2};
    const std::pair<CellRange, std::vector<CellRange>> cases[] = {
        {{2, 2, 2, 2}, {existing}},               // a single cell
        {{-1, 0, 2, 2}, {existing}},              // a negative bound
        {{3, 3, 2, 3}, {existing}},               // inverted
        {{2, 1, 2, 9}, {existing, {2, 1, 2, 3}}}, // clipped to the grid
        {{1, 2, 3, 3}, {{1, 2, 3, 3}}},           // replaces the one it overlaps
    };
    for (const auto& [args, want] : cases) {
        Grid g(small());
        g.mergeCells(existing.top, existing.left, existing.bottom, existing.right);
        g.mergeCells(args.top, args.left, args.bottom, args.right);
        EXPECT_EQ(g.merges(), want);
        EXPECT_EQ(g.mergeAt(want.back().bottom, want.back().right), want.back());
        EXPECT_FALSE(g.mergeAt(3, 0).has_value());
    }
}

TEST(GridCells, ClearCellsAndUpdateScopeNotifyOnce) {
    Grid g(small(6, 6));
    fill(g, true);
    std::vector<CellRange> changes;
    const Connection onCellsChanged =
        g.events().cellsChanged.connect([&](const CellRange& r) { changes.push_back(r); });
    EXPECT_TRUE(g.clearCells(1, 1, 99, 99));
    EXPECT_FALSE(g.clearCells(6, 0, 9, 9));
    EXPECT_EQ(dataArea(g), "||||/||||/||||/||||/||||");
    {
        Grid::UpdateScope scope(g);
        g.setText(2, 2, B("a"));
        g.setCellData(4, 1, Value::int32(1));
        g.setAlignment(3, 3, Align::Right);
    }
    EXPECT_EQ(changes, (std::vector<CellRange>{{1, 1, 5, 5}, {2, 1, 4, 3}}));
}

TEST(GridMemory, FilledBatchSheetFitsIn16MB) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator bypasses mallinfo2";
#else
    // Heap chunks and the large blocks malloc maps on its own both count.
    auto inUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return m.uordblks + m.hblkhd;
    };
    malloc_trim(0);
    const std::size_t before = inUse();
    std::size_t used = 0;
    {
        Grid g(batchSheet());
        for (int r = 1; r <= 10000; ++r)
            g.setText(r, 0, B(std::to_string(r)));
        fillPayroll(g);
        used = inUse() - before;
    }
    RecordProperty("bytes", std::to_string(used));
    EXPECT_GT(used, 1u << 20); // the measurement sees the sheet at all
    EXPECT_LE(used, 16u << 20);
#endif
}

} // namespace
} // namespace iit
