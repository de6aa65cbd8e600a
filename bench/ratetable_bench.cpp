// The rate-table window's actions on the real table file, as the window runs them: loading a
// sub-table into the grid, saving it, and restoring the built-in table (written beside the old
// file, flushed, renamed over it and opened again).
#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "ratetable/rate_table_sheet.h"

#include "bench/support/data_dir.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <stdlib.h>

namespace iit::ratetable {
namespace {

using Workspace = bench::DataDirectory;

void BM_Load(benchmark::State& state) {
    Workspace ws;
    RateTableSheet sheet;
    const SubTable tables[] = {SubTable::Wages, SubTable::LabourGross, SubTable::LabourNet,
                               SubTable::Royalties};
    std::size_t i = 0;
    for (auto _ : state) {
        if (!sheet.Load(tables[i++ % 4])) state.SkipWithError("load failed");
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMicrosecond);

void BM_Save(benchmark::State& state) {
    Workspace ws;
    RateTableSheet sheet;
    if (!sheet.Load(SubTable::Wages)) state.SkipWithError("load failed");
    for (auto _ : state) {
        if (!sheet.Save()) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_Save)->Unit(benchmark::kMicrosecond);

void BM_RestoreDefaults(benchmark::State& state) {
    Workspace ws;
    RateTableSheet sheet;
    for (auto _ : state) {
        if (!sheet.restoreDefaults()) state.SkipWithError("restore failed");
    }
}
BENCHMARK(BM_RestoreDefaults)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace iit::ratetable
