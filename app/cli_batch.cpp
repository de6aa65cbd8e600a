// iitcalc-cli batch INPUT [-o OUTPUT] [--kind KIND] [--mode MODE] [--table FILE]: the batch
// window's sheet on the command line. INPUT is a batch file or spreadsheet text ("-" for
// standard input); the kind and mode radios are set, then every row is computed.
#include "app/cli.h"
#include "app/cli_util.h"
#include "batch/sheet.h"
#include "engine/bracket_table.h"
#include "runtime/files.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace iit::cli {
namespace {

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A table file starts with one of the two magic words; anything else is taken as text.
bool LooksLikeTableFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    if (!in.read(magic, 4)) return false;
    const std::string m(magic, 4);
    return m == "QKDB" || m == "QCDB";
}

std::optional<std::string> ReadText(const std::string& input) {
    std::ostringstream text;
    if (input == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(input, std::ios::binary);
    if (!in) return std::nullopt;
    text << in.rdbuf();
    return text.str();
}

// Columns 1 to 7 of rows 1 up to the last one with any text in them, the totals included.
std::string SheetText(const Grid& grid) {
    int last = 0;
    for (int row = 1; row <= batch::kDataRows; ++row)
        for (int c = 1; c < batch::kGridColumns; ++c)
            if (!grid.text(row, c).empty()) last = row;
    std::string out;
    for (int row = 1; row <= last; ++row) {
        for (int c = 1; c < batch::kGridColumns; ++c) {
            if (c > 1) out += '\t';
            out += grid.text(row, c).toUtf8();
        }
        out += '\n';
    }
    return out;
}

} // namespace

int RunBatch(Context& ctx) {
    const Command& self = FindCommand("batch");
    std::optional<std::string> output, tableFile, kindWord, modeWord;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        auto value = [&](std::optional<std::string>& slot) {
            if (i + 1 >= ctx.args.size()) return false;
            slot = ctx.args[++i];
            return true;
        };
        if (a == "-o" || a == "--output") {
            if (!value(output)) return UsageError(self, a + " needs a file");
        } else if (a == "--table") {
            if (!value(tableFile)) return UsageError(self, "--table needs a file");
        } else if (a == "--kind") {
            if (!value(kindWord)) return UsageError(self, "--kind needs a kind");
        } else if (a == "--mode") {
            if (!value(modeWord)) return UsageError(self, "--mode needs a mode");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 1) return UsageError(self, "exactly one INPUT is needed");
    const auto kind = ParseKind(kindWord.value_or("wages"));
    if (!kind) return UsageError(self, "unknown KIND '" + *kindWord + "'");
    const auto mode = ParseMode(modeWord.value_or("gross"));
    if (!mode) return UsageError(self, "unknown MODE '" + *modeWord + "'");

    // The remembered paths go to the data directory, as the window keeps them there.
    if (tableFile) {
        Context data = ctx;
        data.dataDirArg.reset();
        if (!data.dataDirectory()) return kExitFailure;
    }
    const auto table = OpenTable(ctx, self, tableFile);
    if (!table.ok) return table.exitCode;

    batch::BatchSheet sheet;
    const std::string& input = positional.front();
    if (input != "-" && LooksLikeTableFile(input)) {
        if (auto message = sheet.OpenBatchFile(Text::fromUtf8(input))) {
            std::cerr << "iitcalc-cli: " << input << ": " << message->toUtf8() << "\n";
            return kExitFailure;
        }
    } else {
        const auto text = ReadText(input);
        if (!text) {
            std::cerr << "iitcalc-cli: cannot read " << input << "\n";
            return kExitFailure;
        }
        sheet.grid().setCurrentCell(1, 1);
        sheet.PasteAtCursor(Text::fromUtf8(*text));
    }
    sheet.setKind(*kind);
    sheet.setMode(*mode);

    if (output && EndsWith(*output, ".dat")) {
        sheet.BeginSave();
        if (auto message = sheet.SaveBatchFile(Text::fromUtf8(*output))) {
            std::cerr << "iitcalc-cli: " << *output << ": " << message->toUtf8() << "\n";
            return kExitFailure;
        }
        return kExitOk;
    }
    sheet.CalculateAll();
    const std::string text = SheetText(sheet.grid());
    if (!output) {
        std::cout << text << std::flush;
        return kExitOk;
    }
    std::ofstream out(*output, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        std::cerr << "iitcalc-cli: cannot write " << *output << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace iit::cli
