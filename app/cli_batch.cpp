// iitcalc-cli batch INPUT [-o OUTPUT] [--kind KIND] [--mode MODE] [--table FILE] [--truncate]:
// the batch window's sheet on the command line. INPUT is a batch file or a spreadsheet (.xlsx,
// .xls, delimited text; "-" for standard input), told by content; the kind and mode radios are
// set, then every row is computed. OUTPUT is written by its extension.
#include "app/cli.h"
#include "app/cli_sheet.h"
#include "app/cli_util.h"
#include "base/files.h"
#include "batch/sheet.h"
#include "batch/spreadsheet.h"

#include <iostream>

namespace iit::cli {
namespace {

// Columns 1 to 7 of rows 1 up to the last one with any text in them, the totals included.
std::string sheetText(const Grid& grid) {
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

int runBatch(Context& ctx) {
    SheetArgs args;
    if (const int usage = parseSheetArgs(ctx, args); usage != kExitOk) return usage;

    // The input is read before anything is written: an input that cannot be read never
    // replaces OUTPUT.
    SheetInput input;
    std::string problem;
    if (!readSheetInput(args.input, input, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    batch::BatchSheet sheet;
    if (const int failed = computeSheet(ctx, args, input, sheet); failed != kExitOk) return failed;

    const std::optional<std::string>& output = args.output;
    if (output && endsWithDat(*output)) {
        const Outcome<Text> saved = sheet.SaveBatchFile(std::filesystem::path(*output));
        if (!saved) {
            std::cerr << "iitcalc-cli: " << oneLine(saved.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        if (!saved->empty()) std::cerr << "iitcalc-cli: " << oneLine(*saved).toUtf8() << "\n";
        return kExitOk;
    }
    if (!output) {
        std::cout << sheetText(
            sheet.grid()); // a failed write is told when standard output is closed
        return kExitOk;
    }
    // OUTPUT is written by its extension: a spreadsheet with a header row (.xlsx; .csv in UTF-8
    // with a byte-order mark; .tsv), anything else the sheet's text as standard output gets it.
    const std::filesystem::path path(*output);
    const bool spreadsheet = batch::isSpreadsheetName(path);
    const batch::ExportFormat format = batch::exportFormatOf(path);
    if (spreadsheet && format == batch::ExportFormat::Xlsx) {
        if (const Outcome<void> written = sheets::writeXlsx(path, batch::exportTable(sheet.grid()));
            !written) {
            std::cerr << "iitcalc-cli: " << oneLine(written.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        return kExitOk;
    }
    const std::string text =
        spreadsheet ? batch::exportText(sheet.grid(), format) : sheetText(sheet.grid());
    if (!writeOutput(path, text, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace iit::cli
