#pragma once
// The batch sheet of the command line, shared by `batch` and `print`: their arguments, INPUT
// read once and bounded (a batch file or spreadsheet text, "-" for standard input), and the
// sheet filled from it and computed as the batch window's "计算" computes it.

#include "app/cli.h"
#include "base/files.h"
#include "batch/sheet.h"
#include "engine/tax.h"
#include "sheets/sheet.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace iit::cli {

struct SheetArgs {
    std::string input; // INPUT as given
    std::optional<std::string> output;
    std::optional<std::string> tableFile;
    std::optional<std::string> employer; // only where the command takes --employer
    engine::TaxKind kind = engine::TaxKind::Wages;
    engine::TaxMode mode = engine::TaxMode::Gross;
    bool truncate = false; // --truncate: rows beyond the sheet's 10,000 are a warning
};

// Reads INPUT and the options -o OUTPUT, --kind KIND, --mode MODE, --table FILE, --truncate and
// --employer NAME where the command has them. kExitOk, or the exit code of the usage error it
// printed.
int parseSheetArgs(const Context& ctx, SheetArgs& out);

// INPUT as it was read: its bytes, whatever it is (a batch file or spreadsheet text), and the
// path of a regular file (which a batch file's open remembers; standard input and pipes are
// never remembered).
struct SheetInput {
    std::string bytes;
    std::optional<std::filesystem::path> file;
};

// The most a batch INPUT holds, as for any spreadsheet file: a sheet of many more rows than the
// batch holds is still read, so that the rows beyond it are counted and told.
constexpr std::size_t kMaxBatchInput = sheets::kMaxInputBytes;

// Reads INPUT once, bounded by `maxBytes`, without a copy on the disk: a FIFO is read once its
// writer has come. False, with the problem, when it cannot be read or holds nothing.
bool readSheetInput(const std::string& input, SheetInput& out, std::string& problem,
                    std::size_t maxBytes = kMaxBatchInput);

// Writes text OUTPUT: a file is replaced atomically; a FIFO or a device (/dev/stdout) is
// written as it is. False, with the problem, when it could not be written whole.
bool writeOutput(const std::filesystem::path& output, std::string_view text, std::string& problem);

// Opens the rate table, fills the sheet from the input, sets the kind and the mode and
// computes every row with the totals. kExitOk, or the exit code of the failure it printed.
int computeSheet(const Context& ctx, const SheetArgs& args, const SheetInput& input,
                 batch::BatchSheet& sheet);

// True for a name ending in ".dat", in any case.
bool endsWithDat(const std::string& name);

} // namespace iit::cli
