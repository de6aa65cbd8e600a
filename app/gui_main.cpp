// iitcalc: the desktop program. Options: --data-dir DIR, --help, --version, and
// --exit-after-show[=MS] for scripts and tests, parsed as iitcalc-cli parses its own.
#include "app/options.h"
#include "base/fatal.h"
#include "base/files.h"
#include "gui/message_box.h"
#include "gui/window_runtime.h"
#include "mainwindow/main_window.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

using iit::cli::Option;

const std::vector<Option>& options() {
    static const std::vector<Option> options = {
        {"data-dir", 0, "DIR", "the data directory (default: $XDG_DATA_HOME/iitcalc)"},
        {"exit-after-show", 0, "MS",
         "print \"shown after N ms\" once the main window is on the screen, stay idle MS "
         "milliseconds (default 0), exit",
         false, true},
        {"help", 'h', nullptr, "this text"},
        {"version", 0, nullptr, "the program version"},
    };
    return options;
}

void printHelp() {
    std::cout << "iitcalc " IITCALC_VERSION " - PRC individual income tax calculator\n"
                 "\n"
                 "usage: iitcalc [--data-dir DIR]\n"
                 "       iitcalc --help | --version\n"
                 "\n"
                 "options:\n";
    iit::cli::printOptions(std::cout, options());
}

bool nonEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Qt ends the process with a long report when no display can be opened; the user gets one
// line instead. The platform's own warnings before it are held back until Qt is up.
bool g_starting = true;
void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_starting && type == QtFatalMsg) {
        std::fprintf(
            stderr,
            "iitcalc: cannot open the display (%s); start it on a desktop or under xvfb-run\n",
            nonEmpty("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY")
            : nonEmpty("DISPLAY")       ? std::getenv("DISPLAY")
                                        : "none");
        std::_Exit(1);
    }
    if (g_starting && context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// Reports the first paint of the main window, then leaves after `idleMs`.
class ShownReporter : public QObject {
public:
    ShownReporter(std::chrono::steady_clock::time_point start, int idleMs)
        : m_start(start), m_idleMs(idleMs) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            const double ms = std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - m_start)
                                  .count();
            std::printf("shown after %.1f ms\n", ms);
            std::fflush(stdout);
            QTimer::singleShot(m_idleMs, qApp, [] { iit::gui::endProgram(0); });
        }
        return false;
    }

private:
    std::chrono::steady_clock::time_point m_start;
    int m_idleMs;
    bool m_reported = false;
};

} // namespace

int main(int argc, char** argv) {
    // A write beyond the file size limit fails with EFBIG, as on a full disk, instead of
    // ending the program before it could clean up.
    std::signal(SIGXFSZ, SIG_IGN);
    const auto start = std::chrono::steady_clock::now();
    iit::cli::ParsedOptions parsed;
    if (const std::string problem = iit::cli::parseOptions(argc, argv, options(), false, parsed);
        !problem.empty() || !parsed.operands.empty()) {
        std::cerr << "iitcalc: "
                  << (problem.empty() ? "unexpected argument '" + parsed.operands.front() + "'"
                                      : problem)
                  << " (see --help)\n";
        return 2;
    }
    if (parsed.flags.count("help")) {
        printHelp();
        return std::cout.flush() ? 0 : 1;
    }
    if (parsed.flags.count("version")) {
        std::cout << "iitcalc " IITCALC_VERSION "\n";
        return std::cout.flush() ? 0 : 1;
    }
    std::optional<std::filesystem::path> dataDir;
    if (parsed.values.count("data-dir")) dataDir = parsed.values["data-dir"];
    std::optional<int> exitAfterShow;
    if (parsed.flags.count("exit-after-show")) exitAfterShow = 0;
    if (parsed.values.count("exit-after-show"))
        exitAfterShow = std::atoi(parsed.values["exit-after-show"].c_str());
    if (!nonEmpty("QT_QPA_PLATFORM") && !nonEmpty("DISPLAY") && !nonEmpty("WAYLAND_DISPLAY")) {
        std::cerr << "iitcalc: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it "
                     "on a desktop "
                     "or under xvfb-run\n";
        return 1;
    }

    std::string error, notice;
    const auto dir = iit::resolveDataDirectory(dataDir, &error, &notice);
    if (!dir) {
        std::cerr << "iitcalc: " << error << "\n";
        return 1;
    }
    if (!notice.empty()) std::cerr << "iitcalc: " << notice << "\n";
    iit::setProgramDirectory(*dir);
    // What writers killed in the middle left behind (a sheet of names and identity numbers).
    iit::removeStaleTemporariesIn(*dir);
    if (::chdir(dir->c_str()) != 0) {
        std::cerr << "iitcalc: cannot enter " << dir->string() << "\n";
        return 1;
    }

    qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    g_starting = false;
    qInstallMessageHandler(nullptr);
    // One look on every desktop, whatever style the platform would choose.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationName(QStringLiteral("iitcalc"));
    QApplication::setApplicationVersion(QStringLiteral(IITCALC_VERSION));
    // Ties the windows to the installed desktop entry and its icon (taskbar, window switcher).
    QApplication::setDesktopFileName(QStringLiteral("io.github.iitcalc.iitcalc"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.iitcalc.iitcalc")));

    iit::gui::initWindowRuntime();
    iit::gui::installFatalErrorBox();
    iit::gui::registerWindow(iit::mainwindow::MainWindow::name(),
                             [] { return new iit::mainwindow::MainWindow; });

    ShownReporter reporter(start, exitAfterShow.value_or(0));
    QWidget* window = iit::gui::loadWindow(iit::mainwindow::MainWindow::name());
    if (!window) iit::fatalError(0, iit::sysText("载入启动窗口失败"));
    if (exitAfterShow) window->installEventFilter(&reporter);
    return app.exec();
}
