// iitcalc-cli: the command line of iitcalc. Global options: --help, --version, --data-dir DIR.
#include "app/cli.h"
#include "base/files.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace iit::cli {
namespace {

void printHelp(std::ostream& out) {
    out << "iitcalc-cli " IITCALC_VERSION " - PRC individual income tax calculator, command line\n"
           "\n"
           "usage: iitcalc-cli [--data-dir DIR] COMMAND [ARGS...]\n"
           "       iitcalc-cli --help | --version\n"
           "\n"
           "options:\n"
           "  --data-dir DIR   the data directory (default: $XDG_DATA_HOME/iitcalc)\n"
           "  --help           this text\n"
           "  --version        the program version\n";
    if (!Commands().empty()) {
        out << "\ncommands:\n";
        for (const Command& c : Commands())
            out << "  " << c.synopsis << "\n";
    }
}

} // namespace

std::optional<std::filesystem::path> Context::dataDirectory() const {
    std::string error;
    auto dir = ResolveDataDirectory(dataDirArg, &error);
    if (!dir) {
        std::cerr << "iitcalc-cli: " << error << "\n";
        return std::nullopt;
    }
    SetProgramDirectory(*dir);
    return dir;
}

int UsageError(const Command& command, const std::string& problem) {
    std::cerr << "iitcalc-cli " << command.name << ": " << problem << "\n"
              << "usage: iitcalc-cli " << command.synopsis << "\n";
    return kExitUsage;
}

} // namespace iit::cli

int main(int argc, char** argv) {
    // A write beyond the file size limit fails with EFBIG, as on a full disk, instead of
    // ending the program before it could clean up.
    std::signal(SIGXFSZ, SIG_IGN);
    using namespace iit::cli;
    Context ctx;
    std::vector<std::string> rest;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--data-dir") {
            if (i + 1 >= argc) {
                std::cerr << "iitcalc-cli: --data-dir needs a directory\n";
                return kExitUsage;
            }
            ctx.dataDirArg = argv[++i];
        } else if (arg.rfind("--data-dir=", 0) == 0) {
            ctx.dataDirArg = arg.substr(std::strlen("--data-dir="));
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            std::cout << "iitcalc-cli " IITCALC_VERSION "\n";
            return kExitOk;
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.empty()) {
        printHelp(std::cout);
        return kExitOk;
    }
    for (const Command& c : Commands()) {
        if (rest.front() == c.name) {
            if (help) {
                std::cout << "usage: iitcalc-cli " << c.synopsis << "\n";
                return kExitOk;
            }
            ctx.args.assign(rest.begin() + 1, rest.end());
            return c.run(ctx);
        }
    }
    if (help) {
        printHelp(std::cout);
        return kExitOk;
    }
    std::cerr << "iitcalc-cli: unknown command '" << rest.front() << "' (see --help)\n";
    return kExitUsage;
}
