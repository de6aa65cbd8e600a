// iitcalc-cli print, and the ledger's PDFs: run the print program, iitcalc-cli-print, with the
// same arguments. Drawing needs Qt; the other commands of iitcalc-cli start without loading it.
#include "app/cli.h"
#include "app/cli_ledger.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace iit::cli {
namespace {

constexpr const char* kPrintProgram = "iitcalc-cli-print";

// Installed, the print program is in IIT_PRINT_PROGRAM_DIR relative to this program's
// directory; in the build tree, beside it.
std::filesystem::path printProgram() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const std::filesystem::path dir = self.parent_path();
    for (const std::filesystem::path& candidate :
         {dir / IIT_PRINT_PROGRAM_DIR / kPrintProgram, dir / kPrintProgram}) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.lexically_normal();
    }
    return {};
}

// Runs the print program's `command` with this one's arguments; returns only on failure.
int runInPrintProgram(const Context& ctx, const char* command) {
    const std::filesystem::path program = printProgram();
    if (program.empty()) {
        std::cerr << "iitcalc-cli " << command << ": " << kPrintProgram << " is not installed\n";
        return kExitFailure;
    }
    std::vector<std::string> args = {program.string()};
    if (ctx.dataDirArg) {
        args.push_back("--data-dir");
        args.push_back(ctx.dataDirArg->string());
    }
    args.push_back(command);
    args.insert(args.end(), ctx.args.begin(), ctx.args.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    std::cerr << "iitcalc-cli " << command << ": cannot run " << program.string() << ": "
              << std::strerror(errno) << "\n";
    return kExitFailure;
}

} // namespace

int runPrint(Context& ctx) {
    return runInPrintProgram(ctx, "print");
}

int runLedgerPdf(Context& ctx) {
    return runInPrintProgram(ctx, "ledger");
}

} // namespace iit::cli
