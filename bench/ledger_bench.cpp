// The cumulative method and the payroll ledger at an employer of 10,000, on the code paths the
// command line and the window run: withhold of a year's sheet (120,000 rows), the import of one
// month into a ledger that holds the months before it, the show of December, the edit of one
// income with its later months recomputed and stored, opening the ledger (its health check
// included), and the size of the ledger file of a full year (counter "ledger_MB").
#include "engine/withhold.h"
#include "ledger/ledger.h"
#include "ledger/month_cells.h"
#include "ledger/sqlite/sqlite_store.h"

#include "bench/support/data_dir.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace iit::ledger {
namespace {

constexpr int kEmployees = 10'000;
constexpr int kYear = 2024;

std::string Income(int i, int month) {
    return std::to_string(4000 + (i * 37) % 60000 + month * 10) + "." + std::to_string(i % 100);
}

std::string id(int i) {
    return "1101011990" + std::to_string(10000000 + i);
}

void BM_Withhold120000Rows(benchmark::State& state) {
    std::vector<engine::CellRow> rows;
    rows.reserve(kEmployees * 12 + 1);
    rows.push_back(engine::withholdInputHeader());
    for (int m = 1; m <= 12; ++m)
        for (int i = 0; i < kEmployees; ++i)
            rows.push_back({"张三" + std::to_string(i), id(i), std::to_string(m), Income(i, m), "",
                            std::to_string(800 + i % 900), i % 3 ? "2000" : "", ""});
    const engine::WithholdingTable& table = *engine::defaultWithholdingTables().forYear(kYear);
    const auto mode = static_cast<engine::TaxMode>(state.range(0));
    for (auto _ : state) {
        Outcome<std::vector<engine::CellRow>> out = engine::withhold(rows, mode, table);
        if (!out || out->size() != rows.size() - 1) state.SkipWithError("withhold failed");
        benchmark::DoNotOptimize(out);
    }
    state.SetLabel(mode == engine::TaxMode::Gross ? "gross" : "net");
}
BENCHMARK(BM_Withhold120000Rows)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

std::vector<std::vector<Text>> monthRows(int month) {
    std::vector<std::vector<Text>> rows;
    rows.push_back({sysText("证件号码"), sysText("姓名"), sysText("本月收入"),
                    sysText("本月专项扣除"), sysText("本月专项附加扣除"),
                    sysText("全年一次性奖金")});
    for (int i = 0; i < kEmployees; ++i)
        rows.push_back(
            {Text::fromBytes(id(i)), sysText("张三") + Text::fromBytes(std::to_string(i)),
             Text::fromBytes(Income(i, month)), Text::fromBytes(std::to_string(800 + i % 900)),
             Text::fromBytes(i % 3 ? "2000" : "0"),
             Text::fromBytes(month == 12 && i % 4 == 0 ? "30000" : "")});
    return rows;
}

// A data directory whose ledger holds January to `months` of 10,000 employees.
struct Books {
    bench::DataDirectory dir;
    std::optional<Ledger> ledger;
    explicit Books(int months) {
        Outcome<LedgerTables> tables = loadLedgerTables();
        Outcome<Ledger> l = openLedgerFile(ledgerPath(), std::move(*tables));
        ledger.emplace(std::move(*l));
        for (int m = 1; m <= months; ++m) {
            Outcome<ChangeReport> r = ledger->importMonth(kYear, m, monthRows(m));
            if (!r) {
                std::fprintf(stderr, "import of month %d: %s\n", m,
                             r.problem().message.toUtf8().c_str());
                std::abort();
            }
        }
    }
};

void BM_ImportMonth10000(benchmark::State& state) {
    Books books(11);
    const std::vector<std::vector<Text>> december = monthRows(12);
    std::vector<EntryChange> removal;
    for (int i = 0; i < kEmployees; ++i)
        removal.push_back(EntryChange{{identityCardType(), Text::fromBytes(id(i))}, std::nullopt});
    for (auto _ : state) {
        Outcome<ChangeReport> r = books.ledger->importMonth(kYear, 12, december);
        if (!r || r->added != kEmployees) state.SkipWithError("import failed");
        state.PauseTiming();
        if (!books.ledger->changeEntries(kYear, 12, removal)) state.SkipWithError("removal failed");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportMonth10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// One shared full year for the show, the edit, the open and the size.
Books& fullYear() {
    static Books books(12);
    return books;
}

void BM_ShowDecember10000(benchmark::State& state) {
    Books& books = fullYear();
    for (auto _ : state) {
        Outcome<MonthView> v = books.ledger->showMonth(kYear, 12);
        if (!v || v->lines.size() != kEmployees) state.SkipWithError("show failed");
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_ShowDecember10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The check of a full year: 10,000 employees × 12 months read and recomputed.
void BM_CheckFullYear10000(benchmark::State& state) {
    Books& books = fullYear();
    for (auto _ : state) {
        Outcome<CheckReport> r = books.ledger->checkYear(kYear);
        if (!r || r->entries != 12u * kEmployees || !r->differences.empty())
            state.SkipWithError("check failed");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_CheckFullYear10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_EditMarchIncome(benchmark::State& state) {
    Books& books = fullYear();
    const PersonKey key{identityCardType(), Text::fromBytes(id(4321))};
    Entry entry = **books.ledger->entry(kYear, 3, key);
    static int n = 0; // across the runs, so that every edit changes the income
    for (auto _ : state) {
        entry.income = engine::Exact(20000 + (++n % 2) * 15000);
        Outcome<ChangeReport> r = books.ledger->changeEntries(kYear, 3, {EntryChange{key, entry}});
        if (!r) {
            static std::string why; // the library keeps the pointer
            why = r.problem().message.toUtf8();
            state.SkipWithError(why.c_str());
        } else if (r->recomputed < 1)
            state.SkipWithError("nothing recomputed");
    }
}
BENCHMARK(BM_EditMarchIncome)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_OpenFullYear(benchmark::State& state) {
    Books& books = fullYear();
    const std::filesystem::path path = ledgerPath(); // the data directory of the books
    books.ledger.reset(); // the last connection checkpoints the WAL into the file
    state.counters["ledger_MB"] =
        static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    for (auto _ : state) {
        Outcome<LedgerTables> tables = loadLedgerTables();
        Outcome<Ledger> l = openLedgerFile(path, std::move(*tables));
        if (!l) state.SkipWithError("open failed");
    }
    Outcome<LedgerTables> tables = loadLedgerTables();
    books.ledger.emplace(std::move(*openLedgerFile(path, std::move(*tables))));
}
BENCHMARK(BM_OpenFullYear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace iit::ledger
