// iitcalc-cli batch INPUT [-o OUTPUT] [--kind KIND] [--mode MODE] [--table FILE]: the batch
// window's sheet on the command line. INPUT is a batch file or spreadsheet text ("-" for
// standard input); the kind and mode radios are set, then every row is computed.
#include "app/cli.h"
#include "app/cli_util.h"
#include "batch/sheet.h"
#include "engine/bracket_table.h"
#include "runtime/files.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace iit::cli {
namespace {

// Spreadsheet text beyond this holds more than 10,000 rows of 7 plausible fields.
constexpr std::size_t kMaxSheetText = 24u << 20;

bool EndsWithDat(const std::string& s) {
    if (s.size() < 4) return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".dat";
}

bool HasTableMagic(std::string_view bytes) {
    return bytes.substr(0, 4) == "QKDB" || bytes.substr(0, 4) == "QCDB";
}

// INPUT as it was read: a table file to open by name, or the bytes of a stream or a text file.
struct Input {
    bool table = false; // a batch file
    std::filesystem::path tableFile;
    std::string bytes;                   // spreadsheet text, or a table read from a stream
    std::unique_ptr<TemporaryFile> copy; // holds a table read from a stream
};

std::string Problem(const std::string& input, ReadStatus status) {
    if (status == ReadStatus::TooLarge)
        return input + ": more than 24 MB of text; a batch holds at most 10,000 rows of 7 fields";
    return input + ": " + ReadStatusText(status);
}

// Reads INPUT once. A regular file is looked at before it is read: a batch file (by its magic
// or its ".dat" name) is opened by name, anything else must be text of a bounded size. A pipe
// or standard input is read once, and a table that comes through it is kept in memory.
bool ReadInput(const std::string& input, Input& out, std::string& problem) {
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

// Writes text OUTPUT: a file is replaced atomically; a FIFO or a device (/dev/stdout) is
// written as it is.
bool WriteOutput(const std::filesystem::path& output, const std::string& text,
                 std::string& problem) {
    const std::filesystem::path target = ReplacementTarget(output);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            problem = output.string() + ": is a directory";
            return false;
        }
        std::ofstream out(target, std::ios::binary);
        out << text;
        if (!out.flush()) {
            problem = "cannot write " + output.string();
            return false;
        }
        return true;
    }
    if (!MayReplace(target)) {
        problem = output.string() + ": not writable";
        return false;
    }
    if (!ReplaceFileAtomically(target, text)) {
        problem = "cannot write " + output.string();
        return false;
    }
    return true;
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

    // The input is read before anything is written: an input that cannot be read never
    // replaces OUTPUT.
    const std::string& inputName = positional.front();
    Input input;
    std::string problem;
    if (!ReadInput(inputName, input, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }

    // The remembered paths go to the data directory, as the window keeps them there.
    if (tableFile) {
        Context data = ctx;
        data.dataDirArg.reset();
        if (!data.dataDirectory()) return kExitFailure;
    }
    const auto table = OpenTable(ctx, self, tableFile);
    if (!table.ok) return table.exitCode;

    batch::BatchSheet sheet;
    sheet.setRateTablePath(table.path);
    if (input.table) {
        if (auto message = sheet.OpenBatchFile(input.tableFile)) {
            std::cerr << "iitcalc-cli: " << inputName << ": " << OneLine(*message).toUtf8() << "\n";
            return kExitFailure;
        }
    } else {
        sheet.grid().setCurrentCell(1, 1);
        sheet.PasteAtCursor(Text::fromUtf8(input.bytes));
    }
    sheet.setKind(*kind);
    sheet.setMode(*mode);

    if (output && EndsWithDat(*output)) {
        if (auto message = sheet.CalculateAll()) {
            std::cerr << "iitcalc-cli: " << OneLine(*message).toUtf8() << "\n";
            return kExitFailure;
        }
        if (auto message = sheet.SaveBatchFile(std::filesystem::path(*output))) {
            std::cerr << "iitcalc-cli: " << *output << ": " << OneLine(*message).toUtf8() << "\n";
            return kExitFailure;
        }
        return kExitOk;
    }
    if (auto message = sheet.CalculateAll()) {
        std::cerr << "iitcalc-cli: " << OneLine(*message).toUtf8() << "\n";
        return kExitFailure;
    }
    const std::string text = SheetText(sheet.grid());
    if (!output) {
        std::cout << text << std::flush;
        return std::cout ? kExitOk : kExitFailure;
    }
    if (!WriteOutput(std::filesystem::path(*output), text, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace iit::cli
