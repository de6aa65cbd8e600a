#pragma once
// The command line's shared pieces: the argument list after the global options, the data
// directory, and the table of subcommands (each subcommand lives in its own cli_*.cpp).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace iit::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Context {
    std::vector<std::string> args; // after the subcommand name, global options removed
    std::optional<std::filesystem::path> dataDirArg; // --data-dir as given
    // Resolves (and creates) the data directory and makes it the program directory.
    // Prints a message and returns nullopt on failure.
    std::optional<std::filesystem::path> dataDirectory() const;
};

struct Command {
    const char* name;
    const char* synopsis; // one usage line, printed by --help
    int (*run)(Context&);
};

const std::vector<Command>& Commands();

// Prints "usage: ..." for a command to standard error and returns kExitUsage.
int UsageError(const Command& command, const std::string& problem);

} // namespace iit::cli
