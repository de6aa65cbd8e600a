// The cumulative method and the payroll ledger at an employer of 10,000, on the code paths the
// command line and the window run: withhold of a year's sheet (120,000 rows), the import of one
// month into a ledger that holds the months before it, the show of December, the edit of one
// income with its later months recomputed and stored, opening the ledger (its health check
// included), and the size of the ledger file of a full year (counter "ledger_MB").
#include "engine/withhold.h"
#include "ledger/declaration.h"
#include "ledger/ledger.h"
#include "ledger/month_cells.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/sqlite/sqlite_store.h"
#include "ledger/window/month_files.h"

#include "bench/support/data_dir.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

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

// A month item by item, in the ledger's names (every item, the donation) or in the 29 columns of
// the declaration's template (year-to-date special additional deductions, "*" marks).
std::vector<std::vector<Text>> itemRows(int month, bool declarationTemplate) {
    std::vector<std::vector<Text>> rows;
    const auto texts = [](std::initializer_list<const char*> names) {
        std::vector<Text> out;
        for (const char* n : names)
            out.push_back(sysText(n));
        return out;
    };
    if (declarationTemplate)
        rows.push_back(texts({"工号",
                              "*姓名",
                              "*证件类型",
                              "*证件号码",
                              "本期收入",
                              "本期免税收入",
                              "基本养老保险费",
                              "基本医疗保险费",
                              "失业保险费",
                              "住房公积金",
                              "累计子女教育",
                              "累计继续教育",
                              "累计住房贷款利息",
                              "累计住房租金",
                              "累计赡养老人",
                              "累计3岁以下婴幼儿照护",
                              "累计个人养老金",
                              "企业(职业)年金",
                              "商业健康保险",
                              "税延养老保险",
                              "公务交通费用",
                              "通讯费用",
                              "律师办案费用",
                              "西藏附加减除费用",
                              "其他",
                              "准予扣除的捐赠额",
                              "减免税额",
                              "协定减免",
                              "备注"}));
    else
        rows.push_back(
            texts({"证件号码", "姓名", "本月收入", "基本养老保险费", "基本医疗保险费", "失业保险费",
                   "住房公积金", "子女教育", "继续教育", "住房贷款利息", "住房租金", "赡养老人",
                   "3岁以下婴幼儿照护", "个人养老金", "企业(职业)年金", "商业健康保险",
                   "税延养老保险", "其他", "准予扣除的捐赠额"}));
    const auto t = [](std::int64_t v) { return Text::fromBytes(std::to_string(v)); };
    for (int i = 0; i < kEmployees; ++i) {
        const std::int64_t children = i % 3 ? 0 : 2000, elderly = i % 2 ? 1500 : 0,
                           loan = i % 5 ? 0 : 1000, pension = 400 + i % 300;
        const Text income = Text::fromBytes(Income(i, month)), name = sysText("张三") + t(i);
        if (declarationTemplate)
            rows.push_back({t(i),
                            name,
                            sysText("居民身份证"),
                            Text::fromBytes(id(i)),
                            income,
                            {},
                            t(pension),
                            t(pension / 4),
                            t(pension / 16),
                            t(pension),
                            t(children * month),
                            {},
                            t(loan * month),
                            {},
                            t(elderly * month),
                            {},
                            t(i % 7 ? 0 : 1000 * month),
                            t(100),
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {}});
        else
            rows.push_back({Text::fromBytes(id(i)),
                            name,
                            income,
                            t(pension),
                            t(pension / 4),
                            t(pension / 16),
                            t(pension),
                            t(children),
                            {},
                            t(loan),
                            {},
                            t(elderly),
                            {},
                            t(i % 7 ? 0 : 1000),
                            t(100),
                            t(i % 11 ? 0 : 200),
                            {},
                            {},
                            t(i % 13 ? 0 : 500)});
    }
    return rows;
}

// A data directory whose ledger holds January to `months` of 10,000 employees.
struct Books {
    bench::DataDirectory dir;
    std::optional<Ledger> ledger;
    explicit Books(int months, bool items = false, int year = kYear) {
        Outcome<LedgerTables> tables = loadLedgerTables();
        Outcome<Ledger> l = openLedgerFile(ledgerPath(), std::move(*tables));
        ledger.emplace(std::move(*l));
        for (int m = 1; m <= months; ++m) {
            Outcome<ChangeReport> r =
                ledger->importMonth(year, m, items ? itemRows(m, false) : monthRows(m));
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

// December item by item over eleven months item by item: every item column in the ledger's
// names (arg 0), or the declaration template's 29 columns (arg 1), whose year-to-date items are
// told from the months before.
void BM_ImportMonth10000Items(benchmark::State& state) {
    const bool declarationTemplate = state.range(0) == 1;
    Books books(11, true);
    const std::vector<std::vector<Text>> december = itemRows(12, declarationTemplate);
    std::vector<EntryChange> removal;
    for (int i = 0; i < kEmployees; ++i)
        removal.push_back(EntryChange{{identityCardType(), Text::fromBytes(id(i))}, std::nullopt});
    for (auto _ : state) {
        Outcome<ChangeReport> r = books.ledger->importMonth(kYear, 12, december);
        if (!r || r->added != kEmployees) {
            state.SkipWithError(r ? "import added too few" : r.problem().message.toUtf8().c_str());
            break;
        }
        state.PauseTiming();
        if (!books.ledger->changeEntries(kYear, 12, removal)) state.SkipWithError("removal failed");
        state.ResumeTiming();
    }
    state.SetLabel(declarationTemplate ? "declaration template" : "every item column");
}
BENCHMARK(BM_ImportMonth10000Items)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// December 2025 over eleven months, every employee insured in Shanghai (arg 1: the four items
// of 专项扣除 computed from the city's rules, each base its own) or the same sheet with the
// insurance columns empty (arg 0): the difference is what computing the items costs.
void BM_ImportMonth10000Insurance(benchmark::State& state) {
    const bool insured = state.range(0) == 1;
    constexpr int year = 2025;
    Books books(11, false, year);
    std::vector<std::vector<Text>> december = monthRows(12);
    december[0].push_back(sysText("社保城市"));
    december[0].push_back(sysText("缴费基数"));
    december[0].push_back(sysText("公积金比例"));
    for (std::size_t r = 1; r < december.size(); ++r) {
        december[r].push_back(insured ? sysText("上海") : Text{});
        december[r].push_back(Text::fromBytes(std::to_string(3000 + (r * 53) % 45000)));
        december[r].push_back(Text::fromBytes(r % 3 ? "7" : "5"));
    }
    std::vector<EntryChange> removal;
    for (int i = 0; i < kEmployees; ++i)
        removal.push_back(EntryChange{{identityCardType(), Text::fromBytes(id(i))}, std::nullopt});
    for (auto _ : state) {
        Outcome<ChangeReport> r = books.ledger->importMonth(year, 12, december);
        if (!r || r->added != kEmployees) {
            state.SkipWithError(r ? "import added too few" : r.problem().message.toUtf8().c_str());
            break;
        }
        state.PauseTiming();
        if (!books.ledger->changeEntries(year, 12, removal)) state.SkipWithError("removal failed");
        state.ResumeTiming();
    }
    state.SetLabel(insured ? "insured" : "insurance columns empty");
}
BENCHMARK(BM_ImportMonth10000Insurance)
    ->Arg(0)
    ->Arg(1)
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

// December's declaration of 10,000 item by item (no month declared before: everyone's details
// too), in its two halves: the files' rows from the ledger, and the three workbooks written.
void BM_DeclarationRows10000(benchmark::State& state) {
    Books books(12, true);
    for (auto _ : state) {
        Outcome<Declaration> d = declareFiles(*books.ledger, kYear, 12);
        if (!d || d->files.empty())
            state.SkipWithError(d ? "no rows" : d.problem().message.toUtf8().c_str());
    }
}
BENCHMARK(BM_DeclarationRows10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_DeclarationWrite10000(benchmark::State& state) {
    Books books(12, true);
    Outcome<Declaration> d = declareFiles(*books.ledger, kYear, 12);
    if (!d) {
        state.SkipWithError("no declaration");
        return;
    }
    for (auto _ : state)
        if (!writeDeclaration(*d, books.dir.path() / "declaration"))
            state.SkipWithError("not written");
}
BENCHMARK(BM_DeclarationWrite10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// ---- The same ledger on a PostgreSQL server: the throwaway server the tests start, begun
// here in a folder of its own (Unix socket only) and stopped when the benchmarks end.

class Server {
public:
    Server()
        : m_dir(std::filesystem::temp_directory_path() /
                ("iitcalc-bench-pg-" + std::to_string(::getpid()))) {
        const std::string start =
            std::string(IIT_POSTGRES_SCRIPT) + " start '" + m_dir.string() + "' >/dev/null";
        if (std::system(start.c_str()) != 0) std::abort();
        std::ifstream in(m_dir / "conninfo");
        std::getline(in, m_conninfo);
    }
    ~Server() {
        const std::string stop =
            std::string(IIT_POSTGRES_SCRIPT) + " stop '" + m_dir.string() + "'";
        (void)std::system(stop.c_str());
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    // A new, empty database of the server: its connection string.
    std::string newDatabase() {
        const std::string name = "bench" + std::to_string(++m_count);
        const std::string make = "psql -q '" + m_conninfo + "' -c 'CREATE DATABASE " + name + "'";
        if (std::system(make.c_str()) != 0) std::abort();
        std::string at = m_conninfo;
        at.replace(at.find("/postgres?"), 10, "/" + name + "?");
        return at;
    }

private:
    std::filesystem::path m_dir;
    std::string m_conninfo;
    int m_count = 0;
};

Server& server() {
    static Server s;
    return s;
}

// January to `months` of 10,000 employees in a server ledger of its own.
struct ServerBooks {
    bench::DataDirectory dir;
    std::string where;
    std::optional<Ledger> ledger;
    explicit ServerBooks(int months) : where(server().newDatabase()) {
        Outcome<Ledger> l = openLedgerServer(where, std::move(*loadLedgerTables()));
        if (!l) {
            std::fprintf(stderr, "%s\n", l.problem().message.toUtf8().c_str());
            std::abort();
        }
        ledger.emplace(std::move(*l));
        for (int m = 1; m <= months; ++m)
            if (!ledger->importMonth(kYear, m, monthRows(m))) std::abort();
    }
};

void BM_ServerImportMonth10000(benchmark::State& state) {
    ServerBooks books(11);
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
BENCHMARK(BM_ServerImportMonth10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

ServerBooks& serverYear() {
    static ServerBooks books(12);
    return books;
}

void BM_ServerShowDecember10000(benchmark::State& state) {
    ServerBooks& books = serverYear();
    for (auto _ : state) {
        Outcome<MonthView> v = books.ledger->showMonth(kYear, 12);
        if (!v || v->lines.size() != kEmployees) state.SkipWithError("show failed");
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_ServerShowDecember10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ServerEditMarchIncome(benchmark::State& state) {
    ServerBooks& books = serverYear();
    const PersonKey key{identityCardType(), Text::fromBytes(id(4321))};
    Entry entry = **books.ledger->entry(kYear, 3, key);
    static int n = 0;
    for (auto _ : state) {
        entry.income = engine::Exact(20000 + (++n % 2) * 15000);
        Outcome<ChangeReport> r = books.ledger->changeEntries(kYear, 3, {EntryChange{key, entry}});
        if (!r || r->recomputed < 1) state.SkipWithError("edit failed");
    }
}
BENCHMARK(BM_ServerEditMarchIncome)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// What the window does to open a year: connect, check the tables, read the month shown.
void BM_ServerOpenYear(benchmark::State& state) {
    ServerBooks& books = serverYear();
    for (auto _ : state) {
        Outcome<Ledger> l = openLedgerServer(books.where, std::move(*loadLedgerTables()));
        if (!l) state.SkipWithError("open failed");
        Outcome<MonthView> v = l->showMonth(kYear, 12);
        if (!v || v->lines.size() != kEmployees) state.SkipWithError("show failed");
    }
}
BENCHMARK(BM_ServerOpenYear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace iit::ledger
