// iitcalc-cli print INPUT -o OUT.pdf [--kind KIND] [--mode MODE] [--employer NAME]
// [--table FILE]: the batch window's "打印" without a window. The sheet is filled and computed
// as `batch` does it, the tax payment table is filled from the print template of the data
// directory and printed to a PDF file on the offscreen platform.
//
// This is the Qt side of the command line, built into its own program (iitcalc-cli-print)
// that iitcalc-cli runs for `print` only, so that the other commands never load Qt.
#include "app/cli.h"
#include "app/cli_ledger.h"
#include "app/cli_rows.h"
#include "app/cli_sheet.h"
#include "app/cli_util.h"
#include "base/convert.h"
#include "gui/qt_text.h"
#include "ledger/window/ledger_pages.h"
#include "printing/print_engine.h"
#include "printing/tax_payment_table.h"
#include "printing/template_file.h"

#include <QGuiApplication>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace iit::cli {
namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void rememberSignal(int signal) {
    g_signal = signal;
}

// A signal that arrives once the input is read cancels the print at its next step or page, so
// that the temporary file is removed before the program ends as the signal wants. A reader of
// the output that went away makes the write fail instead of ending the program.
void catchSignals() {
    struct sigaction action {};
    action.sa_handler = rememberSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] void endBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

// Where the PDF goes: a temporary file beside a regular OUT, renamed over it at the end; for a
// FIFO or a device (/dev/stdout), a temporary file whose bytes are then written to it.
struct PdfOutput {
    std::filesystem::path target;
    bool stream = false;
    std::unique_ptr<TemporaryFile> file;
};

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Checks OUT before anything is computed: it must be a file that may be replaced (or a new
// one in a directory that can be written), not a directory and not the INPUT itself.
bool prepareOutput(const std::string& output, const std::string& input, PdfOutput& out,
                   std::string& problem) {
    out.target = replacementTarget(std::filesystem::path(output));
    struct stat st {};
    const bool exists = ::stat(out.target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        problem = "cannot write " + output + ": " + std::strerror(errno);
        return false;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        problem = output + ": is a directory";
        return false;
    }
    if (exists && input != "-" && sameFile(out.target, std::filesystem::path(input))) {
        problem = output + ": is the INPUT; the PDF would replace it";
        return false;
    }
    out.stream = exists && !S_ISREG(st.st_mode);
    if (!out.stream && !mayReplace(out.target)) {
        problem = output + ": not writable";
        return false;
    }
    std::filesystem::path beside = out.target;
    if (out.stream) {
        std::error_code ec;
        beside = std::filesystem::temp_directory_path(ec) / "iitcalc-print.pdf";
    } else {
        removeStaleTemporaries(out.target);
    }
    errno = 0;
    out.file = std::make_unique<TemporaryFile>(beside);
    if (!out.file->valid()) {
        problem =
            "cannot write " + output + (errno ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Puts the printed file in place.
bool finishOutput(PdfOutput& out) {
    if (!out.stream) return out.file->commit();
    const int to = ::open(out.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (to < 0) return false;
    bool ok = ::lseek(out.file->fd(), 0, SEEK_SET) == 0;
    char buf[1 << 16];
    for (ssize_t n; ok && (n = ::read(out.file->fd(), buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && writeAll(to, buf, static_cast<std::size_t>(n));
    }
    return ::close(to) == 0 && ok;
}

// Qt's warnings about the session (no XDG_RUNTIME_DIR under cron, say) are none of the
// user's business; its critical messages are.
void qtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << "iitcalc-cli: " << message.toStdString() << "\n";
}

// The QGuiApplication of the print: on the offscreen platform, whatever display there is.
class OffscreenApplication {
public:
    OffscreenApplication() {
        qInstallMessageHandler(qtMessage);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        m_app = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }

private:
    char m_name[12] = "iitcalc-cli";
    char* m_argv[2] = {m_name, nullptr};
    int m_argc = 1;
    std::unique_ptr<QGuiApplication> m_app;
};

} // namespace

int runPrint(Context& ctx) {
    SheetArgs args;
    if (const int usage = parseSheetArgs(ctx, args); usage != kExitOk) return usage;
    if (!args.output) return ctx.usageError("-o OUT.pdf is needed");

    // The input is read and the output checked before anything is computed; neither a
    // failure nor a signal leaves OUT changed.
    SheetInput input;
    std::string problem;
    if (!readSheetInput(args.input, input, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    catchSignals();
    PdfOutput output;
    const auto endIfSignalled = [&] {
        if (g_signal == 0) return;
        output.file.reset();
        endBySignal(g_signal);
    };
    if (!prepareOutput(*args.output, args.input, output, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }

    batch::BatchSheet sheet;
    if (const int failed = computeSheet(ctx, args, input, sheet); failed != kExitOk) return failed;
    endIfSignalled();

    // The template of the data directory, written from the built-in copy when missing.
    const std::filesystem::path layout = printing::printTemplatePath();
    if (!printing::ensurePrintTemplateFile(layout)) {
        std::cerr << "iitcalc-cli: cannot write the print template " << layout.string() << "\n";
        return kExitFailure;
    }
    printing::PrintTable table;
    if (!table.load(layout)) {
        std::cerr << "iitcalc-cli: " << layout.string()
                  << ": not a print template (remove it to have the built-in one written "
                     "again)\n";
        return kExitFailure;
    }
    printing::TaxTableInput fill;
    fill.employer = Text::fromUtf8(args.employer.value_or(""));
    fill.mode = sheet.mode();
    fill.today = Now();
    const batch::SheetPeople people = batch::peopleOf(sheet.grid());
    printing::fillTaxPaymentTable(table, sheet.grid(), people.forPrint(), fill);

    OffscreenApplication app;
    endIfSignalled();
    const Outcome<printing::Finished> printed = printing::printToPdf(
        table, output.file->path(), [](const printing::PrintProgress&) { return g_signal == 0; });
    endIfSignalled();
    if (!printed || *printed != printing::Finished::Done) {
        // The PDF engine tells a failed write as a failed page: a full disk is named as such.
        const int error = printed ? 0 : writeTrialError(output.file->path());
        const std::string why = printed      ? "cancelled"
                                : error != 0 ? writeFailureReason(output.target, error).toUtf8()
                                             : printed.problem().message.toUtf8();
        std::cerr << "iitcalc-cli: " << *args.output << ": " << why << "\n";
        return kExitFailure;
    }
    if (!finishOutput(output)) {
        endIfSignalled(); // a FIFO that nobody read
        std::cerr << "iitcalc-cli: cannot write " << *args.output << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

namespace {

// The folder of --each, made when it is not there (its parent must be).
bool prepareFolder(const std::string& output, std::string& problem) {
    std::error_code ec;
    const std::filesystem::path folder(output);
    if (std::filesystem::is_directory(folder, ec)) return true;
    if (std::filesystem::exists(folder, ec)) {
        problem = output + ": not a folder (--each writes one PDF an employee into a folder)";
        return false;
    }
    if (!std::filesystem::create_directory(folder, ec)) {
        problem = "cannot make the folder " + output + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace

// The ledger's PDFs: the month's pay slips and employees' years, into one file or, with --each,
// one file an employee in a folder. Each file is written beside its place and renamed over it
// once whole; a signal stops at the next page and leaves no file half-written.
int runLedgerPdf(Context& ctx) {
    const std::string action = ctx.operands.front();
    const std::string output = ctx.value("output").value_or("");
    const bool each = ctx.flag("each");
    if (!each && lowerExtension(output) != ".pdf")
        return ctx.usageError("ledger " + action +
                              " -o writes a PDF (FILE.pdf), or a folder of them with --each");
    std::string problem;
    if (each && !prepareFolder(output, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return kExitFailure;
    }
    const bool slips = action == "slips";
    MonthSlips month;
    std::vector<ledger::Statement> statements;
    if (const int r = slips ? monthSlips(ctx, month) : yearStatements(ctx, statements);
        r != kExitOk)
        return r;
    catchSignals();
    OffscreenApplication app;
    const printing::PdfSettings settings =
        slips ? ledger::slipPdfSettings() : ledger::statementPdfSettings();
    int written = 0;
    const auto save = [&](const printing::PageSource& pages, const QString& name,
                          const std::filesystem::path& target) {
        const Outcome<printing::Finished> saved =
            printing::savePdf(pages, name, target, settings,
                              [](const printing::PrintProgress&) { return g_signal == 0; });
        if (g_signal != 0) endBySignal(g_signal); // the temporary file is gone with the cancel
        if (!saved) {
            std::cerr << "iitcalc-cli: " << oneLine(saved.problem().message).toUtf8() << "\n";
            if (written > 0)
                std::cerr << "iitcalc-cli: " << written << " of the files were written before\n";
            return false;
        }
        ++written;
        return true;
    };
    const Text employer = employerName(ctx);
    if (slips) {
        const QString name = toQString(month.title);
        if (!each) {
            if (!save(ledger::SlipPages(month.slips, month.title, ctx.flag("one-per-page")), name,
                      output))
                return kExitFailure;
        } else {
            const std::vector<std::filesystem::path> names =
                ledger::employeeFileNames(month.slips.employees, ".pdf");
            for (std::size_t i = 0; i < names.size(); ++i)
                if (!save(ledger::SlipPages(month.slips, month.title, true, {i}), name,
                          std::filesystem::path(output) / names[i]))
                    return kExitFailure;
        }
        std::cout << output << "\t" << month.slips.rows.size() << "\n";
        return kExitOk;
    }
    if (!each) {
        const QString name =
            statements.size() == 1
                ? toQString(ledger::statementTitle(statements.front()))
                : QString::fromStdString(ctx.operands[1]) + QStringLiteral("年收入和个人所得税");
        if (!save(ledger::StatementPages(statements, employer), name, output)) return kExitFailure;
    } else {
        std::vector<ledger::Employee> employees;
        for (const ledger::Statement& s : statements)
            employees.push_back(s.employee);
        const std::vector<std::filesystem::path> names =
            ledger::employeeFileNames(employees, ".pdf");
        for (std::size_t i = 0; i < names.size(); ++i)
            if (!save(ledger::StatementPages({statements[i]}, employer),
                      toQString(ledger::statementTitle(statements[i])),
                      std::filesystem::path(output) / names[i]))
                return kExitFailure;
    }
    std::cout << output << "\t" << statements.size() << "\n";
    return kExitOk;
}

} // namespace iit::cli
