#pragma once
// Options of both programs, parsed from a table with glibc's getopt_long: "--opt value",
// "--opt=value", "-o value" and "-ovalue" all work, options may stand before or after the
// operands, and "--" ends them. The help lists are written from the same table.

#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace iit::cli {

struct Option {
    const char* name;           // the long name, without "--"
    char letter;                // the short form, 0 for none
    const char* value;          // the value's name in the usage ("FILE"); nullptr for a flag
    const char* help;           // one line for --help
    bool required = false;      // shown without brackets; the command checks that it is given
    bool optionalValue = false; // "--opt" alone or "--opt=VALUE"
};

struct ParsedOptions {
    std::vector<std::string> operands;         // in order
    std::map<std::string, std::string> values; // options with a value, the last one given
    std::set<std::string> flags;               // options given without a value
};

// Parses argv[1..argc) over `options`. With `stopAtOperand` the parse ends at the first
// operand (the rest are operands). Returns the problem ("unknown option '--x'", "option '-o'
// needs a value"), empty when the arguments are sound.
std::string parseOptions(int argc, char** argv, const std::vector<Option>& options,
                         bool stopAtOperand, ParsedOptions& out);

// "-o OUTPUT" or "--kind KIND", as a usage line shows an option.
std::string optionUsage(const Option& option);
// One line an option: "  -o, --output OUTPUT    where the sheet goes".
void printOptions(std::ostream& out, const std::vector<Option>& options);

} // namespace iit::cli
