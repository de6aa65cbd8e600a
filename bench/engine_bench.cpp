// One whole single-person calculation as the main window runs it: the income text checked, the
// bracket table read from the password-protected file the window holds open, the tax computed
// and the result text built.
#include "base/files.h"
#include "engine/rate_table_file.h"
#include "engine/single_person.h"

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
    ~TableDir() { std::filesystem::remove_all(dir); }
};

void runCalculation(benchmark::State& state, iit::engine::TaxKind kind, iit::engine::TaxMode mode,
                    const char* income) {
    TableDir t;
    iit::engine::RateTableFile file(t.table);
    const iit::Text text = iit::Text::fromBytes(income);
    for (auto _ : state) {
        auto r = iit::engine::singlePersonTax(text, kind, mode, [&] { return file.load(); });
        if (!r) return state.SkipWithError("the rate table cannot be read");
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

// The first calculation of a run, which also opens the file, checks its password and checks
// the table as start-up does.
void BM_Calculate_FirstOpen(benchmark::State& state) {
    TableDir t;
    const iit::Text text = iit::Text::fromBytes("8000");
    for (auto _ : state) {
        iit::engine::RateTableFile file(t.table);
        auto r =
            iit::engine::singlePersonTax(text, iit::engine::TaxKind::Wages,
                                         iit::engine::TaxMode::Gross, [&] { return file.load(); });
        if (!r) return state.SkipWithError("the rate table cannot be read");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_Calculate_FirstOpen);

} // namespace
