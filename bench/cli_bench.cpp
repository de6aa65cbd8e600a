// iitcalc-cli as a script runs it: each iteration spawns the real program and waits for it to
// end, from the spawn to the exit (real time). The batch command on a payroll file of 9,999
// people; withhold of a year of 10,000 employees (120,000 rows); the ledger's import of one
// month of 10,000 into a ledger that holds the months before it, and its show of December of a
// full year, whose file size is counter "ledger_MB".
#include "bench/support/data_dir.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace iit {
namespace {

// Runs the program with its output to /dev/null; its exit status.
int run(std::vector<std::string> args) {
    args.insert(args.begin(), IITCALC_CLI);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, IITCALC_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 9,999 people as a spreadsheet saves them: name, identity-card number, income.
std::filesystem::path writePayroll(const std::filesystem::path& dir) {
    const std::filesystem::path file = dir / "people.tsv";
    std::ofstream out(file, std::ios::binary);
    static const char* const kNames[] = {"张三", "李四", "王五", "赵六", "钱七"};
    for (int i = 1; i <= 9999; ++i)
        out << kNames[i % 5] << i << "\t11010119900101" << 1000 + i % 9000 << "\t"
            << 3000 + (i * 7919) % 60000 << "." << (i * 37) % 100 << "\n";
    return file;
}

void BM_CliBatch(benchmark::State& state) {
    bench::DataDirectory data;
    const std::filesystem::path input = writePayroll(data.path());
    const std::string output = (data.path() / "out.tsv").string();
    for (auto _ : state)
        if (run({"--data-dir", data.path().string(), "batch", input.string(), "-o", output}) != 0)
            state.SkipWithError("iitcalc-cli batch failed");
}
BENCHMARK(BM_CliBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

// A clerk's round trip: a workbook of 9,999 people in (with its header row, as the program
// itself exports it), computed, a workbook out.
void BM_CliBatchXlsxToXlsx(benchmark::State& state) {
    bench::DataDirectory data;
    const std::string dir = data.path().string();
    const std::string input = (data.path() / "in.xlsx").string();
    if (run({"--data-dir", dir, "batch", writePayroll(data.path()).string(), "-o", input}) != 0) {
        state.SkipWithError("the workbook could not be made");
        return;
    }
    const std::string output = (data.path() / "out.xlsx").string();
    for (auto _ : state)
        if (run({"--data-dir", dir, "batch", input, "-o", output}) != 0)
            state.SkipWithError("iitcalc-cli batch failed");
}
BENCHMARK(BM_CliBatchXlsxToXlsx)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr int kEmployees = 10'000;

std::string Income(int i, int month) {
    return std::to_string(4000 + (i * 37) % 60000 + month * 10) + "." + std::to_string(i % 100);
}

std::string id(int i) {
    return "1101011990" + std::to_string(10000000 + i);
}

// The same with the check character that makes it an identity card's number (born 1990-mm-dd),
// as a declaration needs it to tell the holder's sex and date of birth.
std::string cardId(int i) {
    char body[18];
    std::snprintf(body, sizeof body, "1101011990%02d%02d%03d", 1 + i % 12, 1 + i % 28, i % 1000);
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (int k = 0; k < 17; ++k)
        sum += (body[k] - '0') * weights[k];
    const int check = (12 - sum % 11) % 11;
    return std::string(body, 17) + (check == 10 ? 'X' : static_cast<char>('0' + check));
}

// A year of 10,000 employees as withhold reads it, month after month.
std::filesystem::path writeYear(const std::filesystem::path& dir) {
    const std::filesystem::path file = dir / "year.tsv";
    std::ofstream out(file, std::ios::binary);
    out << "姓名\t身份证号\t月份\t本月收入\t本月免税收入\t本月专项扣除\t本月专项附加扣除\t本月其他"
           "扣除\n";
    for (int m = 1; m <= 12; ++m)
        for (int i = 0; i < kEmployees; ++i)
            out << "张三" << i << "\t" << id(i) << "\t" << m << "\t" << Income(i, m) << "\t\t"
                << 800 + i % 900 << "\t" << (i % 3 ? "2000" : "") << "\t\n";
    return file;
}

// One month of 10,000 employees as ledger import reads it; December brings a quarter of them
// an annual bonus.
// With `items`, the deductions item by item (the insurances and 子女教育), as the declaration
// needs them.
std::filesystem::path writeMonth(const std::filesystem::path& dir, int month, bool items = false) {
    const std::filesystem::path file = dir / ("month" + std::to_string(month) + ".tsv");
    std::ofstream out(file, std::ios::binary);
    out << (items ? "证件号码\t姓名\t本月收入\t基本养老保险费\t子女教育\t全年一次性奖金\n"
                  : "证件号码\t姓名\t本月收入\t本月专项扣除\t本月专项附加扣除\t全年一次性奖金\n");
    for (int i = 0; i < kEmployees; ++i)
        out << (items ? cardId(i) : id(i)) << "\t张三" << i << "\t" << Income(i, month) << "\t"
            << 800 + i % 900 << "\t" << (i % 3 ? "2000" : "0") << "\t"
            << (month == 12 && i % 4 == 0 ? "30000" : "") << "\n";
    return file;
}

void BM_CliWithhold120000Rows(benchmark::State& state) {
    bench::DataDirectory data;
    const std::filesystem::path input = writeYear(data.path());
    const std::string dir = data.path().string();
    for (auto _ : state)
        if (run({"--data-dir", dir, "withhold", input.string()}) != 0)
            state.SkipWithError("iitcalc-cli withhold failed");
}
BENCHMARK(BM_CliWithhold120000Rows)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// A data directory whose ledger holds January to `months`, imported by the program itself.
struct Books {
    bench::DataDirectory data;
    std::filesystem::path ledger = data.path() / "工资台账.db";
    explicit Books(int months, bool items = false) {
        for (int m = 1; m <= months; ++m)
            if (run({"--data-dir", data.path().string(), "ledger", "import", "2024",
                     std::to_string(m), writeMonth(data.path(), m, items).string()}) != 0)
                std::abort(); // nothing to measure
    }
};

void BM_CliLedgerImportMonth10000(benchmark::State& state) {
    Books books(11);
    const std::filesystem::path december = writeMonth(books.data.path(), 12);
    const std::filesystem::path kept = books.data.path() / "eleven.db";
    std::filesystem::copy_file(books.ledger, kept); // the last program out left no -wal file
    for (auto _ : state) {
        if (run({"--data-dir", books.data.path().string(), "ledger", "import", "2024", "12",
                 december.string()}) != 0)
            state.SkipWithError("iitcalc-cli ledger import failed");
        state.PauseTiming();
        std::filesystem::copy_file(kept, books.ledger,
                                   std::filesystem::copy_options::overwrite_existing);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CliLedgerImportMonth10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

void BM_CliLedgerShowDecember10000(benchmark::State& state) {
    Books books(12);
    state.counters["ledger_MB"] =
        static_cast<double>(std::filesystem::file_size(books.ledger)) / (1024.0 * 1024.0);
    for (auto _ : state)
        if (run({"--data-dir", books.data.path().string(), "ledger", "show", "2024", "12"}) != 0)
            state.SkipWithError("iitcalc-cli ledger show failed");
}
BENCHMARK(BM_CliLedgerShowDecember10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// December of a full year of 10,000 as a workbook: the writer the declaration writes with.
void BM_CliLedgerShowDecember10000Xlsx(benchmark::State& state) {
    Books books(12);
    const std::string out = (books.data.path() / "x.xlsx").string();
    for (auto _ : state)
        if (run({"--data-dir", books.data.path().string(), "ledger", "show", "2024", "12", "-o",
                 out}) != 0)
            state.SkipWithError("iitcalc-cli ledger show -o x.xlsx failed");
}
BENCHMARK(BM_CliLedgerShowDecember10000Xlsx)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// December's declaration files of 10,000 item by item: the wages of everyone, 2,500 bonuses
// taxed on their own, and everyone's details (no month before is declared), each time the first
// declaration of the month (the ledger keeps the details of all 10,000).
void BM_CliLedgerDeclare10000(benchmark::State& state) {
    Books books(12, true);
    const std::string folder = (books.data.path() / "declaration").string();
    const std::filesystem::path kept = books.data.path() / "undeclared.db";
    std::filesystem::copy_file(books.ledger, kept); // the last program out left no -wal file
    for (auto _ : state) {
        if (run({"--data-dir", books.data.path().string(), "ledger", "declare", "2024", "12", "-o",
                 folder}) != 0)
            state.SkipWithError("iitcalc-cli ledger declare failed");
        state.PauseTiming();
        std::filesystem::copy_file(kept, books.ledger,
                                   std::filesystem::copy_options::overwrite_existing);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CliLedgerDeclare10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// December's pay slips of 10,000 item by item as a workbook: the captions above each
// employee's row, a blank row between.
void BM_CliLedgerSlips10000Xlsx(benchmark::State& state) {
    Books books(12, true);
    const std::string file = (books.data.path() / "slips.xlsx").string();
    for (auto _ : state)
        if (run({"--data-dir", books.data.path().string(), "ledger", "slips", "2024", "12", "-o",
                 file, "--employer", "某某公司"}) != 0)
            state.SkipWithError("iitcalc-cli ledger slips failed");
}
BENCHMARK(BM_CliLedgerSlips10000Xlsx)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// The same slips as a PDF, several a page with cut lines: iitcalc-cli runs the print program,
// which reads the ledger and draws every page.
void BM_CliLedgerSlips10000Pdf(benchmark::State& state) {
    Books books(12, true);
    const std::string file = (books.data.path() / "slips.pdf").string();
    for (auto _ : state)
        if (run({"--data-dir", books.data.path().string(), "ledger", "slips", "2024", "12", "-o",
                 file, "--employer", "某某公司"}) != 0)
            state.SkipWithError("iitcalc-cli ledger slips failed");
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
}
BENCHMARK(BM_CliLedgerSlips10000Pdf)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace iit
