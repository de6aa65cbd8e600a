#pragma once
// Runs the real iitcalc-cli (its path comes from the build as IITCALC_CLI) with a data
// directory of the test's own, or a shell script that runs it, and collects what it prints.

#include "tests/support/temp_dir.h"

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace iit::testing {

struct CliRun {
    int exit;
    std::string out, err;
};

// Runs a shell command whose standard error goes to `errFile`; what it prints, and its exit
// code (`killedExit` when a signal ended it).
inline CliRun runCommand(const std::string& command, const std::string& errFile, int killedExit) {
    CliRun run{-1, {}, {}};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        run.out.append(buf, n);
    const int status = ::pclose(pipe);
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : killedExit;
    run.err = readFile(errFile);
    return run;
}

// `args` is passed to the shell as it stands; `input`, when given, is the file standard input
// is read from.
inline CliRun runCli(const TempDir& dir, const std::string& args, const std::string& input = {}) {
    const std::string errFile = (dir / "stderr.txt").string();
    std::string command = std::string(IITCALC_CLI) + " --data-dir '" + dir.path().string() + "' " +
                          args + " 2>'" + errFile + "'";
    if (!input.empty()) command += " <'" + input + "'";
    return runCommand(command, errFile, -1);
}

// Runs a bash command line in `dir` (with the CLI as $CLI) and collects its output; a command
// that does not end within `seconds` is killed and reported as exit 124.
inline CliRun runShell(const TempDir& dir, const std::string& script, int seconds = 20) {
    const std::string scriptFile = (dir / "script.sh").string();
    writeFile(scriptFile, "CLI='" + std::string(IITCALC_CLI) + "'\ncd '" + dir.path().string() +
                              "'\n" + script + "\n");
    const std::string errFile = (dir / "stderr.txt").string();
    const std::string command = "timeout -s KILL " + std::to_string(seconds) + " bash '" +
                                scriptFile + "' 2>'" + errFile + "'";
    return runCommand(command, errFile, 124);
}

} // namespace iit::testing
