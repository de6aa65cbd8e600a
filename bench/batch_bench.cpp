// The batch sheet with 10,000 filled rows, on the same code paths as the batch window:
// CalculateAll in each of its five passes and after a paste with and without undo recording,
// undo and redo, saving and opening the batch file, pasting, selecting and copying, clearing.
#include "base/convert.h"
#include "base/files.h"
#include "batch/sheet.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "grid/grid_history.h"

#include "bench/support/data_dir.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <stdlib.h>

namespace iit::batch {
namespace {

using engine::TaxKind;
using engine::TaxMode;

using Workspace = bench::DataDirectory;

// 10,000 lines of seven spreadsheet fields, as a user pastes them.
Text payrollText() {
    std::string text;
    for (int r = 1; r <= kDataRows; ++r) {
        text += "张三" + std::to_string(r) + "\t11010119900101" + std::to_string(1000 + r % 9000) +
                "\t" + std::to_string(3000 + (r * 37) % 60000) + ".5\t\t\t62220212345678" +
                std::to_string(10000 + r) + "\t十月\r\n";
    }
    return Text::fromUtf8(text);
}

void Fill(BatchSheet& sheet) {
    static const Text payroll = payrollText();
    sheet.grid().setCurrentCell(1, 1);
    sheet.PasteAtCursor(payroll);
}

void BM_CalculateAll(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    Fill(sheet);
    const auto kind = static_cast<TaxKind>(state.range(0));
    sheet.setKind(kind);
    sheet.setMode(static_cast<TaxMode>(state.range(1)));
    for (auto _ : state)
        if (!sheet.CalculateAll()) state.SkipWithError("the rate table cannot be read");
    state.SetLabel(engine::kindText(kind).toUtf8() + engine::modeText(sheet.mode()).toUtf8());
}
BENCHMARK(BM_CalculateAll)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond);

// CalculateAll right after a paste of 10,000 people, as at the release of V: arg 1 records it
// into the paste's undo step (every tax and after-tax cell changes), arg 0 records nothing.
void BM_CalculateAllAfterPaste(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    GridHistory history(sheet.grid());
    const bool recorded = state.range(0) == 1;
    const Text payroll = payrollText();
    for (auto _ : state) {
        state.PauseTiming();
        history.clear();
        sheet.ClearGrid();
        sheet.grid().setCurrentCell(1, 1);
        {
            GridHistory::Step step(recorded ? &history : nullptr);
            sheet.PasteAtCursor(payroll);
        }
        state.ResumeTiming();
        GridHistory::Amendment amendment(recorded ? &history : nullptr);
        if (!sheet.CalculateAll()) state.SkipWithError("the rate table cannot be read");
    }
    state.SetLabel(recorded ? "recorded" : "not recorded");
}
BENCHMARK(BM_CalculateAllAfterPaste)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Undo of that paste and its calculation, then redo.
void BM_UndoRedoPasteAndCalculation(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    GridHistory history(sheet.grid());
    sheet.grid().setCurrentCell(1, 1);
    {
        GridHistory::Step step(history);
        sheet.PasteAtCursor(payrollText());
    }
    {
        GridHistory::Amendment amendment(history);
        if (!sheet.CalculateAll()) state.SkipWithError("the rate table cannot be read");
    }
    for (auto _ : state) {
        history.undo();
        history.redo();
    }
}
BENCHMARK(BM_UndoRedoPasteAndCalculation)->Unit(benchmark::kMillisecond);

void BM_SaveBatchFile(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    Fill(sheet);
    if (!sheet.CalculateAll()) state.SkipWithError("the rate table cannot be read");
    const std::filesystem::path file = joinPath(programDirectory(), "bench.dat");
    for (auto _ : state) {
        if (!sheet.SaveBatchFile(file)) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveBatchFile)->Unit(benchmark::kMillisecond);

void BM_OpenBatchFile(benchmark::State& state) {
    Workspace ws;
    const std::filesystem::path file = joinPath(programDirectory(), "bench.dat");
    {
        BatchSheet sheet;
        Fill(sheet);
        if (!sheet.CalculateAll() || !sheet.SaveBatchFile(file))
            state.SkipWithError("no file to open");
    }
    BatchSheet sheet;
    for (auto _ : state) {
        if (!sheet.OpenBatchFile(file)) state.SkipWithError("open failed");
    }
}
BENCHMARK(BM_OpenBatchFile)->Unit(benchmark::kMillisecond);

void BM_PasteAtCursor(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    const Text payroll = payrollText();
    for (auto _ : state) {
        sheet.grid().setCurrentCell(1, 1);
        sheet.PasteAtCursor(payroll);
    }
}
BENCHMARK(BM_PasteAtCursor)->Unit(benchmark::kMillisecond);

void BM_SelectAllAndCopy(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    Fill(sheet);
    if (!sheet.CalculateAll()) state.SkipWithError("the rate table cannot be read");
    for (auto _ : state) {
        sheet.SelectAll();
        benchmark::DoNotOptimize(sheet.CopySelection());
    }
}
BENCHMARK(BM_SelectAllAndCopy)->Unit(benchmark::kMillisecond);

void BM_ClearGrid(benchmark::State& state) {
    Workspace ws;
    BatchSheet sheet;
    for (auto _ : state) {
        state.PauseTiming();
        Fill(sheet);
        state.ResumeTiming();
        sheet.ClearGrid();
    }
}
BENCHMARK(BM_ClearGrid)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace iit::batch
