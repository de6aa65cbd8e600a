#include "grid/grid_history.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace iit {
namespace {

Text B(std::string_view gbk) {
    return Text::fromBytes(gbk);
}

// Every cell's text and modified bit, so that a comparison sees both.
std::vector<std::pair<std::string, bool>> snapshot(const Grid& g) {
    std::vector<std::pair<std::string, bool>> cells;
    for (int r = 0; r < g.rowCount(); ++r)
        for (int c = 0; c < g.columnCount(); ++c)
            cells.emplace_back(g.text(r, c).bytes(), g.isModified(r, c));
    return cells;
}

// Columns 1 to 3 of rows 1 to 4, '|' between cells and '/' between rows.
std::string area(const Grid& g) {
    std::string out;
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 3; ++c)
            out += (c > 1 ? "|" : r > 1 ? "/" : "") + g.text(r, c).bytes();
    return out;
}

// A stand-in for the batch calculation: column 3 of rows 1 to 3 gets the texts of columns 1
// and 2 joined, row 4 the number of rows that have one. It clears its totals cell first, as
// CalculateAll clears the old totals row, so it stores even when the results stay the same.
void calculate(Grid& g) {
    Grid::UpdateScope scope(g);
    g.setText(4, 1, Text{});
    int filled = 0;
    for (int r = 1; r <= 3; ++r) {
        const Text joined = g.text(r, 1) + g.text(r, 2);
        g.setText(r, 3, joined);
        if (!joined.empty()) ++filled;
    }
    g.setText(4, 1, B("T" + std::to_string(filled)));
}

class History : public ::testing::Test {
protected:
    std::optional<Grid> freshGrid{GridSetup{5, 4, 1, 1, 24, 80}};
    std::optional<GridHistory> freshHistory{*freshGrid};
    Grid& grid = *freshGrid;
    GridHistory& history = *freshHistory;

    // A new empty grid and history in the same places.
    void reset() {
        freshHistory.reset();
        freshGrid.emplace(GridSetup{5, 4, 1, 1, 24, 80});
        freshHistory.emplace(*freshGrid);
    }

    void edit(int row, int column, const char* text) {
        GridHistory::Step step(history);
        grid.commitEdit(row, column, B(text));
    }
    void paste(int row, int column, const char* text) {
        grid.setCurrentCell(row, column);
        GridHistory::Step step(history);
        grid.paste(B(text));
    }
    void amendedCalculation() {
        GridHistory::Amendment amendment(history);
        calculate(grid);
    }
    // One operation by its letter: E edit, P paste, X clear, C amended calculation,
    // U undo, R redo; for U and R, whether it did anything.
    bool run(char op) {
        switch (op) {
        case 'E':
            edit(1, 1, "e");
            return true;
        case 'P':
            paste(2, 1, "p\tq\r\nr\r\n");
            return true;
        case 'X': {
            GridHistory::Step step(history);
            return grid.clearCells(1, 1, 4, 3);
        }
        case 'C':
            amendedCalculation();
            return true;
        case 'U':
            return history.undo();
        case 'R':
            return history.redo();
        default:
            ADD_FAILURE() << op;
            return false;
        }
    }
};

TEST_F(History, OperationSequences) {
    struct Case {
        const char* ops;
        const char* setUp; // texts of rows 1 to 3 first: "a" puts "a" into (1, 1)
        const char* want;  // area() afterwards
        std::size_t undo, redo;
    };
    const Case cases[] = {
        {"P", "", "||/p|q|/r||/||", 1, 0},
        {"PC", "", "||/p|q|pq/r||r/T2||", 1, 0},
        {"PCU", "", "||/||/||/||", 0, 1}, // the tax cells and totals go with the paste
        {"PCUR", "", "||/p|q|pq/r||r/T2||", 1, 0},
        {"PCUUR", "", "||/p|q|pq/r||r/T2||", 1, 0}, // the second undo has nothing to undo
        {"PUE", "", "e||/||/||/||", 1, 0},          // a new step drops the redo step
        {"PUER", "", "e||/||/||/||", 1, 0},
        {"EPCUU", "", "||/||/||/||", 0, 2},
        {"EPCUUR", "", "e||/||/||/||", 1, 1},
        {"EPCUURR", "", "e||e/p|q|pq/r||r/T3||", 2, 0},
        // A calculation after an undo joins no step. Here it rewrites the same results, so
        // the redo step stays; the second time it changes the grid, which drops it.
        {"CPCUC", "a", "a||a/||/||/T1||", 0, 1},
        {"PCUC", "a", "a||a/||/||/T1||", 0, 0},
        {"PCUCU", "a", "a||a/||/||/T1||", 0, 0},
        // A calculation with no step before it records nothing.
        {"C", "a", "a||a/||/||/T1||", 0, 0},
        {"CU", "a", "a||a/||/||/T1||", 0, 0},
        {"XU", "a", "a||/||/||/||", 0, 1},
        {"XX", "", "||/||/||/||", 0, 0}, // clearing empty cells is no step
        {"PXUU", "", "||/||/||/||", 0, 2},
    };
    for (const Case& c : cases) {
        reset();
        for (int i = 0; c.setUp[i]; ++i)
            grid.setText(i + 1, 1, B(std::string(1, c.setUp[i])));
        for (const char* op = c.ops; *op; ++op)
            run(*op);
        EXPECT_EQ(area(grid), c.want) << c.ops;
        EXPECT_EQ(history.undoCount(), c.undo) << c.ops;
        EXPECT_EQ(history.redoCount(), c.redo) << c.ops;
    }
}

TEST_F(History, UndoAndRedoReportWhetherTheyDidAnything) {
    // Operations, and what each undo and redo among them returned.
    const std::pair<const char*, const char*> cases[] = {
        {"U", "0"}, {"R", "0"}, {"EU", "1"}, {"EUR", "11"}, {"EURR", "110"}, {"EUUR", "101"}};
    for (const auto& [ops, want] : cases) {
        reset();
        std::string got;
        for (const char* op = ops; *op; ++op) {
            const bool did = run(*op);
            if (*op == 'U' || *op == 'R') got += did ? '1' : '0';
        }
        EXPECT_EQ(got, want) << ops;
    }
}

TEST_F(History, TheCalculationOfACommittedEditJoinsItsStep) {
    // The batch window computes the edited row from the cell-edit-committed event, while the
    // edit's step is open; an amendment there simply joins it.
    const Connection onCommit = grid.events().cellEditCommitted.connect([&](int, int) {
        GridHistory::Amendment amendment(history);
        calculate(grid);
    });
    edit(1, 2, "b");
    edit(2, 1, "c");
    EXPECT_EQ(area(grid), "|b|b/c||c/||/T2||");
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(area(grid), "|b|b/||/||/T1||");
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(area(grid), "||/||/||/||");
    EXPECT_FALSE(grid.isModified(1, 2));
    ASSERT_TRUE(history.redo());
    EXPECT_EQ(area(grid), "|b|b/||/||/T1||");
    EXPECT_TRUE(grid.isModified(1, 2));
}

TEST_F(History, NestedScopes) {
    {
        GridHistory::Step outer(history);
        grid.setText(1, 1, B("a"));
        {
            GridHistory::Step inner(history);
            grid.setText(1, 2, B("b"));
            EXPECT_FALSE(history.undo()); // not while a step is open
        }
        grid.setText(1, 3, B("c"));
    }
    EXPECT_EQ(history.undoCount(), 1u);
    // A step inside an amendment that cannot amend (after the undo) starts a new step that
    // keeps the rest of the amendment's changes too.
    ASSERT_TRUE(history.undo());
    {
        GridHistory::Amendment amendment(history);
        grid.setText(2, 1, B("not recorded"));
        {
            GridHistory::Step step(history);
            grid.setText(2, 2, B("x"));
        }
        grid.setText(2, 3, B("y"));
    }
    EXPECT_EQ(history.undoCount(), 1u);
    EXPECT_EQ(history.redoCount(), 0u);
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(area(grid), "||/not recorded||/||/||");
}

TEST_F(History, InsertingOrRemovingARowClearsIt) {
    edit(1, 1, "a");
    {
        GridHistory::Step step(history);
        grid.setText(2, 1, B("b"));
        grid.insertRow(1);
        grid.setText(3, 1, B("c"));
    }
    EXPECT_FALSE(history.canUndo());
    edit(1, 1, "d");
    grid.deleteRow(4);
    EXPECT_FALSE(history.canUndo());
    EXPECT_EQ(grid.journal(), nullptr);
}

TEST_F(History, ChangedIsRaisedWhenTheStepsChange) {
    int raised = 0;
    const Connection onChanged = history.changed.connect([&] { ++raised; });
    const std::pair<char, int> ops[] = {{'E', 1}, {'C', 2}, {'U', 3}, {'R', 4}, {'X', 5}};
    for (auto [op, want] : ops) {
        run(op);
        EXPECT_EQ(raised, want) << op;
    }
    { GridHistory::Step nothing(history); }
    EXPECT_EQ(raised, 5);
    history.clear();
    EXPECT_EQ(raised, 6);
}

// The batch sheet's size: 10,000 rows of 7 data cells, texts longer than a string holds in
// place, so that each takes a buffer of its own.
GridSetup batchSheet() {
    return {10001, 8, 1, 1, 24, 80};
}

void fillSheet(Grid& g) {
    for (int r = 1; r <= 10000; ++r) {
        g.setText(r, 0, B(std::to_string(r)));
        for (int c = 1; c <= 7; ++c)
            g.setText(r, c, B("row " + std::to_string(r) + " column " + std::to_string(c)));
    }
}

TEST(HistoryOfTheSheet, UndoOfAClearRestoresEveryCell) {
    Grid g(batchSheet());
    fillSheet(g);
    g.setCurrentCell(1, 1);
    g.paste(B("modified\tcells")); // modified bits come back too
    GridHistory history(g);
    const auto before = snapshot(g);
    {
        GridHistory::Step step(history);
        ASSERT_TRUE(g.clearCells(1, 1, 10000, 7));
    }
    EXPECT_TRUE(g.text(10000, 7).empty());
    // The cleared texts moved into the step: about 40 bytes of entry and a 32-byte buffer
    // for each of the 70,000 cells.
    EXPECT_LT(history.memoryUsed(), std::size_t{8} << 20);
    const auto cleared = snapshot(g);
    ASSERT_TRUE(history.undo());
    EXPECT_TRUE(snapshot(g) == before);
    ASSERT_TRUE(history.redo());
    EXPECT_TRUE(snapshot(g) == cleared);
    ASSERT_TRUE(history.undo());
    EXPECT_TRUE(snapshot(g) == before);
}

TEST(HistoryOfTheSheet, TheMemoryBound) {
    Grid g(batchSheet());
    constexpr std::size_t limit = 256 << 10;
    GridHistory history(g, limit);
    const std::string wide(200, 'w');
    // 2,000 edits of one cell, each step keeping the 200 bytes the edit replaced: far beyond
    // the bound, so the oldest steps are dropped.
    for (int i = 1; i <= 2000; ++i) {
        GridHistory::Step step(history);
        g.commitEdit(1, 1, B(wide + std::to_string(i)));
        EXPECT_LE(history.memoryUsed(), limit) << i;
    }
    const std::size_t kept = history.undoCount();
    EXPECT_GT(kept, 100u);
    EXPECT_LT(kept, 2000u);
    while (history.undo()) {
    }
    // Back to the text before the oldest step that was kept.
    EXPECT_EQ(g.text(1, 1).bytes(), wide + std::to_string(2000 - kept));
    EXPECT_EQ(history.redoCount(), kept);
    while (history.redo()) {
    }
    EXPECT_EQ(g.text(1, 1).bytes(), wide + "2000");

    // One step larger than the bound is kept: it is the step the user would undo.
    fillSheet(g);
    history.clear();
    {
        GridHistory::Step step(history);
        g.clearCells(1, 1, 10000, 7);
    }
    EXPECT_GT(history.memoryUsed(), limit);
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(g.text(10000, 7), B("row 10000 column 7"));
    // A new step drops the old one, which is now beyond the bound.
    {
        GridHistory::Step step(history);
        g.setText(1, 1, B("new"));
    }
    EXPECT_EQ(history.undoCount(), 1u);
    EXPECT_LE(history.memoryUsed(), limit);
}

TEST(HistoryOfTheSheet, NothingIsJournaledOutsideAScope) {
    Grid g(batchSheet());
    GridHistory history(g);
    fillSheet(g);
    g.clearCells(1, 1, 10000, 7);
    EXPECT_EQ(g.journal(), nullptr);
    EXPECT_EQ(history.memoryUsed(), 0u);
    EXPECT_FALSE(history.canUndo());
}

} // namespace
} // namespace iit
