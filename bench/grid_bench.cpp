// The bulk operations of the batch sheet on its real 10,001 x 8 grid: pasting 10,000 lines
// of 7 fields, select all and copy, clearing every data cell, single-cell access, hostile
// clipboard texts, and the memory of a filled sheet.
#include "grid/grid.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using iit::Grid;
using iit::Text;

iit::GridSetup batchSheet() {
    return {10001, 8, 1, 1, 24, 80};
}

// Name, 18-digit id, income, tax, after-tax amount, 19-digit card number, remark.
std::vector<Text> payrollRow(int r) {
    const std::string n = std::to_string(10000 + r);
    return {Text::fromUtf8("职工") + Text::fromBytes(n),
            Text::fromBytes("11010119800101" + n.substr(1)),
            Text::fromBytes(std::to_string(5000 + r % 7000) + ".5"),
            Text::fromBytes("123.45"),
            Text::fromBytes("7876.55"),
            Text::fromBytes("622202020011223" + n.substr(1)),
            Text::fromUtf8("已发放")};
}

// What a spreadsheet puts on the clipboard for 10,000 people.
Text payrollClipboard() {
    std::string text;
    for (int r = 1; r <= 10000; ++r) {
        const std::vector<Text> fields = payrollRow(r);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) text += '\t';
            text += fields[i].view();
        }
        text += "\r\n";
    }
    return Text::fromBytes(std::move(text));
}

void fill(Grid& g) {
    for (int r = 1; r <= 10000; ++r) {
        g.setText(r, 0, Text::fromBytes(std::to_string(r)));
        std::vector<Text> fields = payrollRow(r);
        for (int c = 1; c <= 7; ++c)
            g.setText(r, c, std::move(fields[c - 1]));
    }
}

void BM_PasteTenThousandRows(benchmark::State& state) {
    const Text clip = payrollClipboard();
    std::optional<Grid> g;
    for (auto _ : state) {
        state.PauseTiming();
        g.emplace(batchSheet());
        g->setCurrentCell(1, 1);
        state.ResumeTiming();
        benchmark::DoNotOptimize(g->paste(clip));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * clip.size()));
}
BENCHMARK(BM_PasteTenThousandRows)->Unit(benchmark::kMillisecond);

void BM_SelectAllCopy(benchmark::State& state) {
    Grid g(batchSheet());
    fill(g);
    for (auto _ : state) {
        g.selectAll();
        std::optional<Text> clip = g.copy();
        benchmark::DoNotOptimize(clip);
    }
}
BENCHMARK(BM_SelectAllCopy)->Unit(benchmark::kMillisecond);

void BM_ClearSheet(benchmark::State& state) {
    std::optional<Grid> g;
    for (auto _ : state) {
        state.PauseTiming();
        g.emplace(batchSheet());
        fill(*g);
        state.ResumeTiming();
        benchmark::DoNotOptimize(g->clearCells(1, 1, 10000, 7));
    }
}
BENCHMARK(BM_ClearSheet)->Unit(benchmark::kMillisecond);

void BM_SetAndGetCell(benchmark::State& state) {
    Grid g(batchSheet());
    fill(g);
    std::mt19937 random(1);
    const Text amount = Text::fromBytes("8044.44");
    for (auto _ : state) {
        const int r = 1 + static_cast<int>(random() % 10000);
        const int c = 1 + static_cast<int>(random() % 7);
        g.setText(r, c, amount);
        benchmark::DoNotOptimize(g.text(r, c == 7 ? 1 : c + 1).size());
    }
}
BENCHMARK(BM_SetAndGetCell);

// 50 MB clipboard texts: one field without delimiters (it all lands in one cell), and
// random bytes without NUL (about 200,000 lines, of which 10,000 fit).
void BM_PasteFiftyMegabytes(benchmark::State& state) {
    std::string bytes(50u << 20, 'q');
    if (state.range(0) == 1) {
        std::mt19937 random(7);
        for (char& ch : bytes)
            ch = static_cast<char>(1 + random() % 255);
    }
    const Text clip = Text::fromBytes(std::move(bytes));
    std::optional<Grid> g;
    for (auto _ : state) {
        state.PauseTiming();
        g.emplace(batchSheet());
        g->setCurrentCell(1, 1);
        state.ResumeTiming();
        benchmark::DoNotOptimize(g->paste(clip));
    }
}
BENCHMARK(BM_PasteFiftyMegabytes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PasteMillionTabs(benchmark::State& state) {
    const Text clip = Text::fromBytes("a" + std::string(1'000'000, '\t') + "b");
    Grid g(batchSheet());
    g.setCurrentCell(1, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(g.paste(clip));
}
BENCHMARK(BM_PasteMillionTabs)->Unit(benchmark::kMicrosecond);

// Heap bytes held by a batch sheet with 10,000 people and the row numbers.
void BM_FilledSheetMemory(benchmark::State& state) {
    double megabytes = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const std::size_t before = mallinfo2().uordblks;
        Grid g(batchSheet());
        fill(g);
        megabytes = static_cast<double>(mallinfo2().uordblks - before) / (1 << 20);
    }
    state.counters["MB"] = megabytes;
}
BENCHMARK(BM_FilledSheetMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
