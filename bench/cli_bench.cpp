// iitcalc-cli as a script runs it: each iteration spawns the real program on a payroll file of
// 9,999 people and waits for it to end, from the spawn to the exit (real time).
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

} // namespace
} // namespace iit
