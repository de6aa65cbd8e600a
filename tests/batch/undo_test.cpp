// Undo and redo of the batch window's operations on the real sheet: the calculation that
// follows an operation is undone and redone with it.
#include "grid/grid_history.h"
#include "tests/batch/batch_support.h"

#include <vector>

namespace iit {
namespace {

using batch::kIncomeColumn;
using testing::BatchFixture;

class Undo : public BatchFixture {
protected:
    std::unique_ptr<GridHistory> history;

    void SetUp() override {
        BatchFixture::SetUp();
        history = std::make_unique<GridHistory>(grid());
    }
    void TearDown() override {
        history.reset();
        BatchFixture::TearDown();
    }

    // Rows 1 to 12, columns 1 to 7, one line each.
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        for (int r = 1; r <= 12; ++r)
            out.push_back(line(r));
        return out;
    }
    // A Ctrl+V paste: the paste is a step, the CalculateAll at the release of V amends it.
    void pasteAndCalculate(int row, const char* utf8) {
        grid().setCurrentCell(row, 1);
        {
            GridHistory::Step step(*history);
            sheet->PasteAtCursor(Text::fromUtf8(utf8));
        }
        GridHistory::Amendment amendment(*history);
        calculate();
    }
};

TEST_F(Undo, PasteWithItsCalculation) {
    person(1, "张三", "8000");
    person(2, "李四", "4000");
    calculate(); // recorded nowhere: no step before it
    const std::vector<std::string> before = rows();
    ASSERT_EQ(cell(3, 1), "合计");

    pasteAndCalculate(4, "王五\t\t9000\r\n赵六\t\t12000\r\n");
    const std::vector<std::string> after = rows();
    EXPECT_EQ(cell(3, 1), ""); // the old totals row was cleared
    EXPECT_EQ(cell(6, 1), "合计");
    EXPECT_EQ(cell(6, 3), "33000");
    EXPECT_EQ(cell(4, 4), "190");

    ASSERT_TRUE(history->undo());
    EXPECT_EQ(rows(), before); // incomes, taxes and the totals row where they were
    ASSERT_TRUE(history->redo());
    EXPECT_EQ(rows(), after);
    EXPECT_FALSE(history->canRedo());
}

TEST_F(Undo, EditWithTheRowItComputes) {
    person(1, "张三", "8000");
    calculate();
    const std::vector<std::string> before = rows();
    // The window computes the edited row from the commit event, inside the edit's step.
    const Connection onCommit = grid().events().cellEditCommitted.connect([&](int r, int c) {
        GridHistory::Amendment amendment(*history);
        editedRow(r, c);
    });
    grid().setCurrentCell(1, kIncomeColumn);
    {
        GridHistory::Step step(*history);
        grid().commitEdit(1, kIncomeColumn, Text::fromBytes("9000"));
    }
    EXPECT_EQ(cell(1, 4), "190");
    EXPECT_EQ(history->undoCount(), 1u);
    ASSERT_TRUE(history->undo());
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(cell(1, 4), "90");
}

TEST_F(Undo, ClearAndOpenOfAFile) {
    const std::filesystem::path file = dir / "people.dat";
    person(1, "张三", "8000");
    person(2, "李四", "7950");
    ASSERT_TRUE(sheet->CalculateAll());
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    const std::vector<std::string> saved = rows();
    {
        GridHistory::Step step(*history);
        sheet->ClearGrid();
    }
    const std::vector<std::string> cleared = rows();
    {
        GridHistory::Step step(*history);
        ASSERT_TRUE(sheet->OpenBatchFile(file));
    }
    EXPECT_EQ(cell(1, 1), "张三");
    ASSERT_TRUE(history->undo());
    EXPECT_EQ(rows(), cleared);
    ASSERT_TRUE(history->undo());
    EXPECT_EQ(rows(), saved);
}

} // namespace
} // namespace iit
