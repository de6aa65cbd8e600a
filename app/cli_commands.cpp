// The table of commands: each row gives a command's operands, summary and options, from which
// the arguments are parsed and the usage and --help written; each command lives in its own
// cli_*.cpp file.
#include "app/cli.h"

namespace iit::cli {

int RunDb(Context& ctx);    // cli_db.cpp
int RunTax(Context& ctx);   // cli_tax.cpp
int RunBatch(Context& ctx); // cli_batch.cpp
int RunPrint(Context& ctx); // cli_print.cpp in iitcalc-cli-print, cli_print_exec.cpp in iitcalc-cli

namespace {

const Option kTable = {"table", 0, "FILE", "a rate-table file instead of the data directory's"};
const Option kKind = {"kind", 0, "KIND", "wages (default), labour or royalties"};
const Option kMode = {"mode", 0, "MODE", "gross (tax included, default) or net (employer-borne)"};
const Option kTruncate = {"truncate", 0, nullptr,
                          "keep the first 10,000 rows of a longer INPUT (a warning, not a failure)"};

} // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"db",
         "dump FILE",
         "the fields and records of a table file, in UTF-8",
         {{"password", 0, "TEXT", "the table's password"}},
         RunDb},
        {"tax",
         "KIND MODE AMOUNT...",
         "what the main window shows for each amount",
         {{"json", 0, nullptr, "one JSON object a line"}, kTable},
         RunTax},
        {"batch",
         "INPUT",
         "the batch window's sheet of INPUT, computed with its totals",
         {{"output", 'o', "OUTPUT", "where the sheet goes (default: standard output)"}, kKind,
          kMode, kTable, kTruncate},
         RunBatch},
        {"print",
         "INPUT",
         "the tax payment table of INPUT as a PDF file",
         {{"output", 'o', "OUT.pdf", "the PDF file", true}, kKind, kMode,
          {"employer", 0, "NAME", "the employer's name in the title"}, kTable, kTruncate},
         RunPrint},
    };
    return commands;
}

} // namespace iit::cli
