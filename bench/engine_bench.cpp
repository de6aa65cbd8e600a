// One whole single-person calculation as the main window runs it: the table is opened (or,
// once open, selected), read from the password-protected file, the tax computed and the
// result text built.
#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "mainwindow/calculate.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdlib.h>

namespace {

struct TableDir {
    std::filesystem::path dir;
    std::filesystem::path table;
    TableDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-bench-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
        iit::setProgramDirectory(dir);
        table = iit::engine::rateTablePath();
        if (!iit::engine::ensureRateTableFile(table)) std::abort(); // nothing to measure
    }
    ~TableDir() {
        iit::db::CloseAllDatabases();
        std::filesystem::remove_all(dir);
    }
};

void runCalculation(benchmark::State& state, iit::engine::TaxKind kind, iit::engine::TaxMode mode,
                    const char* income) {
    TableDir t;
    const iit::Text text = iit::Text::fromBytes(income);
    std::int32_t threshold = 0;
    for (auto _ : state) {
        auto r = iit::mainwindow::Calculate(t.table, text, kind, mode, threshold);
        benchmark::DoNotOptimize(r);
    }
}

void BM_Calculate_WagesGross(benchmark::State& s) {
    runCalculation(s, iit::engine::TaxKind::Wages, iit::engine::TaxMode::Gross, "12345.67");
}
void BM_Calculate_WagesNet_TopBand(benchmark::State& s) {
    // The grossing-up walks all seven wage bands.
    runCalculation(s, iit::engine::TaxKind::Wages, iit::engine::TaxMode::Net, "150000");
}
void BM_Calculate_LabourNet(benchmark::State& s) {
    runCalculation(s, iit::engine::TaxKind::Labour, iit::engine::TaxMode::Net, "60000");
}
BENCHMARK(BM_Calculate_WagesGross);
BENCHMARK(BM_Calculate_WagesNet_TopBand);
BENCHMARK(BM_Calculate_LabourNet);

// The first calculation of a run, which also opens the file and checks its password.
void BM_Calculate_FirstOpen(benchmark::State& state) {
    TableDir t;
    const iit::Text text = iit::Text::fromBytes("8000");
    std::int32_t threshold = 0;
    for (auto _ : state) {
        iit::db::CloseAllDatabases();
        auto r = iit::mainwindow::Calculate(t.table, text, iit::engine::TaxKind::Wages,
                                            iit::engine::TaxMode::Gross, threshold);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_Calculate_FirstOpen);

} // namespace
