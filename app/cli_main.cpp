// iitcalc-cli: the command line of iitcalc. Global options: --help, --version, --data-dir DIR.
#include "app/cli.h"
#include "base/files.h"
#include "base/paths.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>

namespace iit::cli {
namespace {

// The options every command takes besides its own.
const std::vector<Option>& globalOptions() {
    static const std::vector<Option> options = {
        {"data-dir", 0, "DIR", "the data directory (default: $XDG_DATA_HOME/iitcalc)"},
        {"help", 'h', nullptr, "this text"},
        {"version", 0, nullptr, "the program version"},
    };
    return options;
}

void printHelp(std::ostream& out) {
    out << "iitcalc-cli " IITCALC_VERSION " - PRC individual income tax calculator, command line\n"
           "\n"
           "usage: iitcalc-cli [--data-dir DIR] COMMAND [ARGS...]\n"
           "       iitcalc-cli COMMAND --help\n"
           "       iitcalc-cli --help | --version\n"
           "\n"
           "options:\n";
    printOptions(out, globalOptions());
    out << "\ncommands:\n";
    for (const Command& c : commands())
        out << "  " << c.name << std::string(c.name ? 10 - std::strlen(c.name) : 0, ' ')
            << c.summary << "\n";
}

void printCommandHelp(std::ostream& out, const Command& c) {
    out << "usage: iitcalc-cli " << usage(c) << "\n\n" << c.summary << "\n";
    if (c.details) out << "\n" << c.details;
    if (!c.options.empty()) {
        out << "\noptions:\n";
        printOptions(out, c.options);
    }
}

// Parses with the command's usage error, or the program's, on a problem.
std::optional<int> parse(int argc, char** argv, const std::vector<Option>& options,
                         bool stopAtOperand, Context& ctx) {
    const std::string problem = parseOptions(argc, argv, options, stopAtOperand, ctx);
    if (problem.empty()) return std::nullopt;
    if (ctx.command) return ctx.usageError(problem);
    std::cerr << "iitcalc-cli: " << problem << " (see --help)\n";
    return kExitUsage;
}

} // namespace

std::string usage(const Command& command) {
    std::string s = command.name;
    if (*command.operands) s += std::string(" ") + command.operands;
    for (const Option& o : command.options)
        s += o.required ? " " + optionUsage(o) : " [" + optionUsage(o) + "]";
    return s;
}

std::optional<std::filesystem::path> Context::dataDirectory() const {
    std::string error, notice;
    auto dir = resolveDataDirectory(dataDirArg, &error, &notice);
    if (!dir) {
        std::cerr << "iitcalc-cli: " << error << "\n";
        return std::nullopt;
    }
    static bool told = false; // once a run, however many times a command asks
    if (!notice.empty() && !std::exchange(told, true))
        std::cerr << "iitcalc-cli: " << notice << "\n";
    setProgramDirectory(*dir);
    removeStaleTemporariesIn(*dir);
    return dir;
}

int Context::usageError(const std::string& problem) const {
    std::cerr << "iitcalc-cli " << command->name << ": " << problem << "\n"
              << "usage: iitcalc-cli " << usage(*command) << "\n";
    return kExitUsage;
}

} // namespace iit::cli

namespace {

using namespace iit::cli;

int run(int argc, char** argv) {
    Context global;
    if (auto usage = parse(argc, argv, globalOptions(), true, global)) return *usage;
    if (global.flag("version")) {
        std::cout << "iitcalc-cli " IITCALC_VERSION "\n";
        return kExitOk;
    }
    if (global.operands.empty()) {
        printHelp(std::cout);
        return kExitOk;
    }
    const std::string name = global.operands.front();
    const Command* command = nullptr;
    for (const Command& c : commands())
        if (name == c.name) command = &c;
    if (!command) {
        if (global.flag("help")) {
            printHelp(std::cout);
            return kExitOk;
        }
        std::cerr << "iitcalc-cli: unknown command '" << name << "' (see --help)\n";
        return kExitUsage;
    }
    // The command's own options, and the global ones again after its name.
    Context ctx;
    ctx.command = command;
    ctx.dataDirArg = global.value("data-dir");
    std::vector<Option> options = command->options;
    options.push_back({"data-dir", 0, "DIR", ""});
    options.push_back({"help", 'h', nullptr, ""});
    const int first = argc - static_cast<int>(global.operands.size());
    std::vector<char*> rest(argv + first, argv + argc);
    for (char* a : std::vector<char*>(rest.begin() + 1, rest.end()))
        ctx.args.emplace_back(a);
    rest.push_back(nullptr);
    if (auto usage = parse(static_cast<int>(rest.size()) - 1, rest.data(), options, false, ctx))
        return *usage;
    if (global.flag("help") || ctx.flag("help")) {
        printCommandHelp(std::cout, *command);
        return kExitOk;
    }
    if (auto dir = ctx.value("data-dir")) ctx.dataDirArg = *dir;
    ctx.values.erase("data-dir");
    return command->run(ctx);
}

} // namespace

int main(int argc, char** argv) {
    // A write beyond the file size limit fails with EFBIG, as on a full disk, instead of
    // ending the program before it could clean up.
    std::signal(SIGXFSZ, SIG_IGN);
    const int exit = run(argc, argv);
    // Output that was not written whole (a full disk, a closed pipe) is a failure, whatever the
    // command: the buffered rest is written and standard output closed here, and checked.
    std::cout.flush();
    errno = 0;
    const bool lost = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0 ||
                      std::fclose(stdout) != 0;
    if (lost && exit == kExitOk) {
        std::cerr << "iitcalc-cli: standard output: "
                  << (errno ? std::strerror(errno) : "write error") << "\n";
        return kExitFailure;
    }
    return exit;
}
