// The table of subcommands; each later command adds its line here and its cli_*.cpp file.
#include "app/cli.h"

namespace iit::cli {

int RunDb(Context& ctx);    // cli_db.cpp
int RunTax(Context& ctx);   // cli_tax.cpp
int RunBatch(Context& ctx); // cli_batch.cpp
int RunPrint(Context& ctx); // cli_print.cpp in iitcalc-cli-print, cli_print_exec.cpp in iitcalc-cli

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"db", "db dump FILE [--password TEXT]", RunDb},
        {"tax", "tax KIND MODE AMOUNT... [--json] [--table FILE]", RunTax},
        {"batch", "batch INPUT [-o OUTPUT] [--kind KIND] [--mode MODE] [--table FILE]", RunBatch},
        {"print",
         "print INPUT -o OUT.pdf [--kind KIND] [--mode MODE] [--employer NAME] [--table FILE]",
         RunPrint},
    };
    return commands;
}

} // namespace iit::cli
