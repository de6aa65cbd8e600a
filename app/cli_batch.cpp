// iitcalc-cli batch INPUT [-o OUTPUT] [--kind KIND] [--mode MODE] [--table FILE]: the batch
// window's sheet on the command line. INPUT is a batch file or spreadsheet text ("-" for
// standard input); the kind and mode radios are set, then every row is computed.
#include "app/cli.h"
#include "app/cli_sheet.h"
#include "app/cli_util.h"
#include "batch/sheet.h"
#include "base/files.h"

#include <iostream>

namespace iit::cli {
namespace {

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
    SheetArgs args;
    if (const int usage = ParseSheetArgs(ctx, args); usage != kExitOk) return usage;

    // The input is read before anything is written: an input that cannot be read never
    // replaces OUTPUT.
    SheetInput input;
    std::string problem;
    if (!ReadSheetInput(args.input, input, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    batch::BatchSheet sheet;
    if (const int failed = ComputeSheet(ctx, args, input, sheet); failed != kExitOk) return failed;

    const std::optional<std::string>& output = args.output;
    if (output && EndsWithDat(*output)) {
        const Outcome<Text> saved = sheet.SaveBatchFile(std::filesystem::path(*output));
        if (!saved) {
            std::cerr << "iitcalc-cli: " << OneLine(saved.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        if (!saved->empty()) std::cerr << "iitcalc-cli: " << OneLine(*saved).toUtf8() << "\n";
        return kExitOk;
    }
    const std::string text = SheetText(sheet.grid());
    if (!output) {
        std::cout << text; // a failed write is told when standard output is closed
        return kExitOk;
    }
    if (!WriteOutput(std::filesystem::path(*output), text, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace iit::cli
