#include "app/options.h"

#include <getopt.h>
#include <ostream>

namespace iit::cli {

std::string parseOptions(int argc, char** argv, const std::vector<Option>& options,
                         bool stopAtOperand, ParsedOptions& out) {
    std::vector<struct option> longs;
    std::string shorts = stopAtOperand ? "+:" : ":";
    for (std::size_t i = 0; i < options.size(); ++i) {
        const Option& o = options[i];
        const int has = !o.value          ? no_argument
                        : o.optionalValue ? optional_argument
                                          : required_argument;
        longs.push_back({o.name, has, nullptr, static_cast<int>(256 + i)});
        if (o.letter) {
            shorts += o.letter;
            if (o.value) shorts += o.optionalValue ? "::" : ":";
        }
    }
    longs.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    optind = 0; // glibc: start afresh
    for (int c; (c = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr)) != -1;) {
        const Option* found = nullptr;
        if (c >= 256) {
            found = &options[static_cast<std::size_t>(c - 256)];
        } else if (c == '?' || c == ':') {
            const std::string given = argv[optind - 1];
            if (c == ':') return "option '" + given + "' needs a value";
            if (optopt) return std::string("unknown option '-") + static_cast<char>(optopt) + "'";
            return "unknown option '" + given.substr(0, given.find('=')) + "'";
        } else {
            for (const Option& o : options)
                if (o.letter == c) found = &o;
        }
        if (!found) return "unknown option";
        if (found->value && optarg)
            out.values[found->name] = optarg;
        else
            out.flags.insert(found->name);
    }
    for (int i = optind; i < argc; ++i)
        out.operands.emplace_back(argv[i]);
    return {};
}

std::string optionUsage(const Option& o) {
    std::string s = o.letter ? std::string("-") + o.letter : std::string("--") + o.name;
    if (o.value)
        s += o.optionalValue ? std::string("[=") + o.value + "]" : std::string(" ") + o.value;
    return s;
}

void printOptions(std::ostream& out, const std::vector<Option>& options) {
    for (const Option& o : options) {
        std::string names = o.letter ? std::string("-") + o.letter + ", " : std::string("    ");
        names += std::string("--") + o.name;
        if (o.value)
            names +=
                o.optionalValue ? std::string("[=") + o.value + "]" : std::string(" ") + o.value;
        out << "  " << names << std::string(names.size() < 24 ? 24 - names.size() : 1, ' ')
            << o.help << "\n";
    }
}

} // namespace iit::cli
