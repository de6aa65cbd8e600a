#include "app/cli_sheet.h"

#include "app/cli_util.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace iit::cli {
namespace {

// Spreadsheet text beyond this holds more than 10,000 rows of 7 plausible fields.
constexpr std::size_t kMaxSheetText = 24u << 20;

bool HasTableMagic(std::string_view bytes) {
    return bytes.substr(0, 4) == "QKDB" || bytes.substr(0, 4) == "QCDB";
}

std::string Problem(const std::string& input, ReadStatus status) {
    if (status == ReadStatus::TooLarge)
        return input + ": more than 24 MB of text; a batch holds at most 10,000 rows of 7 fields";
    return input + ": " + ReadStatusText(status);
}

} // namespace

bool EndsWithDat(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".dat";
}

int ParseSheetArgs(const Context& ctx, SheetArgs& out) {
    if (ctx.operands.size() != 1) return ctx.usageError("exactly one INPUT is needed");
    out.input = ctx.operands.front();
    out.output = ctx.value("output");
    out.tableFile = ctx.value("table");
    out.employer = ctx.value("employer");
    const std::string kindWord = ctx.value("kind").value_or("wages");
    const std::string modeWord = ctx.value("mode").value_or("gross");
    const auto kind = ParseKind(kindWord);
    if (!kind) return ctx.usageError("unknown KIND '" + kindWord + "'");
    const auto mode = ParseMode(modeWord);
    if (!mode) return ctx.usageError("unknown MODE '" + modeWord + "'");
    out.kind = *kind;
    out.mode = *mode;
    return kExitOk;
}

// A regular file is looked at before it is read: a batch file (by its magic or its ".dat"
// name) is opened by name, anything else must be text of a bounded size. A pipe or standard
// input is read once, and a table that comes through it is kept in memory.
bool ReadSheetInput(const std::string& input, SheetInput& out, std::string& problem) {
    const bool dat = input != "-" && EndsWithDat(input);
    FileContent content;
    if (input == "-") {
        content = ReadDescriptorBounded(STDIN_FILENO, kMaxSheetText);
    } else {
        const std::filesystem::path path(input);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            problem = input + ": " + (errno == ENOENT ? "no such file" : std::strerror(errno));
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            problem = Problem(input, ReadStatus::Directory);
            return false;
        }
        if (S_ISREG(st.st_mode)) {
            char magic[4] = {};
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) {
                problem = input + ": " + std::strerror(errno);
                return false;
            }
            const ssize_t got = ::pread(fd, magic, sizeof magic, 0);
            ::close(fd);
            if (dat || (got == 4 && HasTableMagic(std::string_view(magic, 4)))) {
                out.table = true;
                out.tableFile = path;
                return true;
            }
        }
        content = ReadFileBounded(path, kMaxSheetText, true);
    }
    if (!content.ok()) {
        problem = Problem(input, content.status);
        return false;
    }
    out.bytes = std::move(content.bytes);
    if (dat || HasTableMagic(out.bytes)) {
        // A table that came through a pipe: the table engine reads a temporary copy of it,
        // removed when the command ends.
        std::error_code ec;
        out.copy = std::make_unique<TemporaryFile>(std::filesystem::temp_directory_path(ec) /
                                                   "iitcalc-input.dat");
        if (!out.copy->valid() || ::write(out.copy->fd(), out.bytes.data(), out.bytes.size()) !=
                                      static_cast<ssize_t>(out.bytes.size())) {
            problem = input + ": cannot keep a copy of the table";
            return false;
        }
        out.table = true;
        out.tableFile = out.copy->path();
    }
    return true;
}

int ComputeSheet(const Context& ctx, const SheetArgs& args, const SheetInput& input,
                 batch::BatchSheet& sheet) {
    // The remembered paths go to the data directory, as the window keeps them there.
    if (args.tableFile) {
        Context data = ctx;
        data.dataDirArg.reset();
        if (!data.dataDirectory()) return kExitFailure;
    }
    const auto table = OpenTable(ctx, args.tableFile);
    if (!table.ok) return table.exitCode;

    sheet.setRateTablePath(table.path);
    if (input.table) {
        const Outcome<Text> opened = sheet.OpenBatchFile(input.tableFile);
        if (!opened) {
            std::cerr << "iitcalc-cli: " << args.input << ": "
                      << OneLine(opened.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        if (!opened->empty()) std::cerr << "iitcalc-cli: " << OneLine(*opened).toUtf8() << "\n";
    } else {
        sheet.grid().setCurrentCell(1, 1);
        sheet.PasteAtCursor(Text::fromUtf8(input.bytes));
    }
    sheet.setKind(args.kind);
    sheet.setMode(args.mode);
    const Outcome<batch::CalculationReport> report = sheet.CalculateAll();
    if (!report) {
        std::cerr << "iitcalc-cli: " << OneLine(report.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    // Rows that could not be computed are named; the sheet was still computed as written.
    if (!report->empty()) {
        std::string lines = report->message().toUtf8();
        std::erase(lines, '\r');
        std::cerr << "iitcalc-cli: " << args.input << ": " << lines << "\n";
    }
    return kExitOk;
}

} // namespace iit::cli
