// startup_bench [IITCALC] [RUNS]: starts the real program RUNS times (default 11) offscreen,
// each time measuring from the spawn of the process to the moment it reports its main window
// painted, and reads the resident memory of the idle window from /proc. Reports the first start
// (empty data directory: the built-in files are written) and the median of the later ones.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double shownMs = -1; // from spawn to the "shown" line
    long rssKb = -1;     // VmRSS of the idle window
};

long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

Run startOnce(const std::string& program, const std::string& dataDir) {
    Run run;
    int out[2];
    if (::pipe(out) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The window stays up, idle, for 600 ms after it is shown: long enough to read its memory.
    std::vector<std::string> args = {program, "--data-dir", dataDir, "--exit-after-show=600"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return run;
    }
    std::string seen;
    char buffer[256];
    pollfd pfd{out[0], POLLIN, 0};
    while (seen.find('\n') == std::string::npos && ::poll(&pfd, 1, 10000) > 0) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    if (seen.rfind("shown after", 0) == 0) {
        run.shownMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ::usleep(300 * 1000); // idle, with its timers ticking
        run.rssKb = residentKb(pid);
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : IITCALC_PROGRAM;
    const int runs = argc > 2 ? std::max(2, std::atoi(argv[2])) : 11;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string tmpl = (std::filesystem::temp_directory_path() / "iit-startup-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return 1;
    std::vector<double> shown, rss;
    Run first;
    for (int i = 0; i < runs; ++i) {
        const Run r = startOnce(program, tmpl);
        if (r.shownMs < 0) {
            std::fprintf(stderr, "startup_bench: %s did not report its window\n", program.c_str());
            std::filesystem::remove_all(tmpl);
            return 1;
        }
        if (i == 0)
            first = r;
        else
            shown.push_back(r.shownMs);
        rss.push_back(static_cast<double>(r.rssKb));
    }
    std::filesystem::remove_all(tmpl);
    std::printf("start to window shown, first start (empty directory): %.1f ms\n", first.shownMs);
    std::printf("start to window shown, median of %d later starts: %.1f ms (min %.1f, max %.1f)\n",
                runs - 1, median(shown), *std::min_element(shown.begin(), shown.end()),
                *std::max_element(shown.begin(), shown.end()));
    std::printf("resident memory of the idle window, median: %.1f MB\n", median(rss) / 1024.0);
    return 0;
}
