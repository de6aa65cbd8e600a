#include "app/cli_sheet.h"

#include "app/cli_util.h"

#include "batch/batch_file.h"
#include "batch/spreadsheet.h"
#include "database/format.h"

#include <cctype>
#include <fstream>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace iit::cli {
namespace {

// Why INPUT could not be read, for standard error.
std::string readProblemText(const std::string& input, ReadFailure failure, std::size_t maxBytes) {
    if (failure == ReadFailure::TooLarge)
        return input + ": more than " + std::to_string(maxBytes >> 20) + " MB" +
               (maxBytes == kMaxBatchInput ? "; no sheet of people is that large" : "");
    return input + ": " + readFailureText(failure);
}

bool holdsNothing(std::string_view bytes) {
    return bytes.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

void warn(const std::string& input, Text message) {
    std::string lines = message.toUtf8();
    std::erase(lines, '\r');
    std::cerr << "iitcalc-cli: " << input << ": " << lines << "\n";
}

// Rows of INPUT beyond the sheet: a failure unless --truncate keeps the first 10,000.
bool rowsLeftOut(const SheetArgs& args, std::int64_t rows) {
    if (rows <= 0) return false;
    std::cerr << "iitcalc-cli: " << args.input << ": " << rows
              << (rows == 1 ? " row does" : " rows do") << " not fit into the sheet of "
              << batch::kDataRows << " rows"
              << (args.truncate ? "; the first " + std::to_string(batch::kDataRows) + " were kept"
                                : " (--truncate keeps the first " +
                                      std::to_string(batch::kDataRows) + "); nothing was written")
              << "\n";
    return !args.truncate;
}

} // namespace

bool endsWithDat(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".dat";
}

int parseSheetArgs(const Context& ctx, SheetArgs& out) {
    if (ctx.operands.size() != 1) return ctx.usageError("exactly one INPUT is needed");
    out.input = ctx.operands.front();
    out.output = ctx.value("output");
    out.tableFile = ctx.value("table");
    out.employer = ctx.value("employer");
    const std::string kindWord = ctx.value("kind").value_or("wages");
    const std::string modeWord = ctx.value("mode").value_or("gross");
    const auto kind = parseKind(kindWord);
    if (!kind) return ctx.usageError("unknown KIND '" + kindWord + "'");
    const auto mode = parseMode(modeWord);
    if (!mode) return ctx.usageError("unknown MODE '" + modeWord + "'");
    out.kind = *kind;
    out.mode = *mode;
    out.truncate = ctx.flag("truncate");
    return kExitOk;
}

bool readSheetInput(const std::string& input, SheetInput& out, std::string& problem,
                    std::size_t maxBytes) {
    const std::filesystem::path path(input);
    Outcome<std::string> content = input == "-" ? readDescriptorBounded(STDIN_FILENO, maxBytes)
                                                : readFileBounded(path, maxBytes, true);
    std::error_code ec;
    if (input != "-" && std::filesystem::is_regular_file(path, ec)) out.file = path;
    if (!content) {
        problem = readProblemText(input, readFailureOf(content.problem()), maxBytes);
        return false;
    }
    // An input that gave nothing (an empty file, a writer that wrote nothing) is no sheet: an
    // empty sheet from it would replace OUTPUT with nothing.
    if (holdsNothing(*content)) {
        problem = input + ": the input is empty; nothing was written";
        return false;
    }
    out.bytes = std::move(*content);
    return true;
}

bool writeOutput(const std::filesystem::path& output, std::string_view text, std::string& problem) {
    const std::filesystem::path target = replacementTarget(output);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            problem = output.string() + ": is a directory";
            return false;
        }
        std::ofstream out(target, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out.flush()) {
            problem = "cannot write " + output.string();
            return false;
        }
        return true;
    }
    if (!mayReplace(target)) {
        problem = output.string() + ": not writable";
        return false;
    }
    if (Outcome<void> written = replaceFileAtomically(target, text); !written) {
        problem = "cannot write " + output.string() + ": " + written.problem().message.toUtf8();
        return false;
    }
    return true;
}

int computeSheet(const Context& ctx, const SheetArgs& args, const SheetInput& input,
                 batch::BatchSheet& sheet) {
    // The remembered paths go to the data directory, as the window keeps them there.
    if (args.tableFile) {
        Context data = ctx;
        data.dataDirArg.reset();
        if (!data.dataDirectory()) return kExitFailure;
    }
    if (const int usage = tableUsage(ctx, args.tableFile); usage != kExitOk) return usage;
    Outcome<engine::RateTableFile> table = openTable(ctx, args.tableFile);
    if (!table) return kExitFailure;

    sheet.setRateTable(std::make_shared<engine::RateTableFile>(std::move(*table)));
    // A batch file is told by its content, whatever its name; anything else is text.
    if (db::isTableFile(input.bytes)) {
        const Outcome<batch::BatchFileContent> read = batch::readBatchFileBytes(input.bytes);
        if (!read) {
            warn(args.input, oneLine(batch::openFailedMessage() + read.problem().message));
            return kExitFailure;
        }
        if (read->damaged()) {
            warn(args.input, read->damageText() + sysText("；没有写出任何结果"));
            return kExitFailure;
        }
        if (rowsLeftOut(args, read->beyondSheet)) return kExitFailure;
        const Text notice = sheet.applyBatchFile(*read, input.file);
        if (!notice.empty()) warn(args.input, notice);
    } else {
        // Anything else is a spreadsheet: .xlsx, .xls or delimited text, told by content.
        const Outcome<batch::SheetImport> read = batch::readSpreadsheetBytes(input.bytes);
        if (!read) {
            warn(args.input, read.problem().message + sysText("；没有写出任何结果"));
            return kExitFailure;
        }
        if (rowsLeftOut(args, read->beyondSheet)) return kExitFailure;
        sheet.applySpreadsheet(*read);
        // The rows beyond the sheet were told above.
        if (const Text notes = read->notes(false); !notes.empty()) warn(args.input, notes);
    }
    sheet.setKind(args.kind);
    sheet.setMode(args.mode);
    const Outcome<batch::CalculationReport> report = sheet.CalculateAll();
    if (!report) {
        std::cerr << "iitcalc-cli: " << oneLine(report.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    // Rows that could not be computed are named; the sheet was still computed as written.
    if (!report->empty()) warn(args.input, report->message());
    return kExitOk;
}

} // namespace iit::cli
