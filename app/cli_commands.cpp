// The table of subcommands; each later command adds its line here and its cli_*.cpp file.
#include "app/cli.h"

namespace iit::cli {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {};
    return commands;
}

} // namespace iit::cli
