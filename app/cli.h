#pragma once
// The command line's shared pieces: the table of commands with their options, the parsed
// arguments of one command, the data directory and the exit codes.
//
// Every command is one row of the table (cli_commands.cpp): its name, its operands, a summary
// and its options, from which its arguments are parsed (app/options.h) and its usage line and
// --help written.

#include "app/options.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace iit::cli {

// One table of exit codes for every command: 0 done (warnings go to standard error); 1 failed,
// and no output was written or replaced; 2 a usage error.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Context;

struct Command {
    const char* name;
    const char* operands; // "INPUT", "KIND MODE AMOUNT..."
    const char* summary;  // one line for --help
    std::vector<Option> options;
    int (*run)(Context&);
    const char* details = nullptr; // more lines for --help, each ending in a line break
};

const std::vector<Command>& commands();

// One command's arguments as parsed.
struct Context : ParsedOptions {
    const Command* command = nullptr;
    std::vector<std::string> args; // as given after the command's name (for a re-run)
    std::optional<std::filesystem::path> dataDirArg; // --data-dir as given

    bool flag(const std::string& name) const { return flags.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const {
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    // Resolves (and creates) the data directory and makes it the program directory. Prints a
    // message and returns nullopt on failure.
    std::optional<std::filesystem::path> dataDirectory() const;
    // Prints "iitcalc-cli COMMAND: PROBLEM" and the command's usage to standard error; returns
    // kExitUsage.
    int usageError(const std::string& problem) const;
};

// The usage line of a command ("batch INPUT [-o OUTPUT] [--kind KIND] ...").
std::string usage(const Command& command);

} // namespace iit::cli
