#include "gui/window_runtime.h"

#include "gui/accessibility.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QHash>
#include <QLibraryInfo>
#include <QPointer>
#include <QThread>
#include <QTranslator>
#include <QWidget>

#include <utility>
#include <vector>

// Outside any namespace, as Q_INIT_RESOURCE requires: the pictures every window shares.
static void initTemplateResources() {
    Q_INIT_RESOURCE(gui);
}

namespace iit::gui {
namespace {

QHash<QString, QPointer<QWidget>>& openWindows() {
    static QHash<QString, QPointer<QWidget>> windows;
    return windows;
}

QHash<QString, WindowFactory>& factories() {
    static QHash<QString, WindowFactory> registered;
    return registered;
}

// The modal windows in the order they opened: one can open another (the ledger over the batch
// window).
std::vector<QPointer<QWidget>>& modalWindows() {
    static std::vector<QPointer<QWidget>> windows;
    return windows;
}

std::function<void()>& cleanupSlot() {
    static std::function<void()> cleanup;
    return cleanup;
}

// Disables the other top-level windows while a modal window is open and gives each its former
// state back when it closes (hidden by the program or destroyed).
class ModalGuard : public QObject {
public:
    explicit ModalGuard(QWidget* modal) : QObject(modal) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == modal || !w->isWindow() || w->windowType() == Qt::ToolTip ||
                w->windowType() == Qt::Popup)
                continue;
            m_disabled.emplace_back(w, w->isEnabled());
            w->setEnabled(false);
        }
        modal->installEventFilter(this);
    }
    ~ModalGuard() override { restore(); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide && !event->spontaneous()) restore();
        return false;
    }

private:
    void restore() {
        for (auto& [window, enabled] : m_disabled)
            if (window) window->setEnabled(enabled);
        m_disabled.clear();
    }

    std::vector<std::pair<QPointer<QWidget>, bool>> m_disabled;
};

void bringToFront(QWidget* w) {
    if (w->isMinimized()) w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

void initWindowRuntime() {
    initTemplateResources();
    installAccessibleInterfaces();
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(10);
    QApplication::setFont(font);
    // The windows speak Chinese, and so do the platform's dialogs they open (files, printing,
    // the print preview), whatever the desktop's language.
    static QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
}

QWidget* loadWindow(const QString& name, const WindowFactory& create, QWidget* owner, bool modal) {
    QPointer<QWidget>& slot = openWindows()[name];
    if (slot) {
        if (slot->isVisible()) {
            bringToFront(slot);
            return slot;
        }
        delete slot.data(); // closed but not yet destroyed
    }
    QWidget* window = create();
    if (!window) return nullptr;
    slot = window;
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (modal) {
        new ModalGuard(window);
        std::vector<QPointer<QWidget>>& modals = modalWindows();
        std::erase_if(modals, [](const QPointer<QWidget>& w) { return w.isNull(); });
        modals.emplace_back(window);
    } else if (owner && window->parentWidget() != owner) {
        window->setParent(owner, window->windowFlags() | Qt::Window);
    }
    window->show();
    return window;
}

void registerWindow(const QString& name, WindowFactory create) {
    factories()[name] = std::move(create);
}

QWidget* loadWindow(const QString& name, QWidget* owner, bool modal) {
    const WindowFactory create = factories().value(name);
    if (!create) return nullptr;
    return loadWindow(name, create, owner, modal);
}

QWidget* openWindow(const QString& name) {
    const QPointer<QWidget> w = openWindows().value(name);
    return w && w->isVisible() ? w.data() : nullptr;
}

QWidget* openModalWindow() {
    const std::vector<QPointer<QWidget>>& modals = modalWindows();
    for (auto w = modals.rbegin(); w != modals.rend(); ++w)
        if (*w && (*w)->isVisible()) return w->data();
    return nullptr;
}

void setProgramCleanup(std::function<void()> cleanup) {
    cleanupSlot() = std::move(cleanup);
}

void runProgramCleanup() {
    std::function<void()> cleanup = std::exchange(cleanupSlot(), nullptr);
    if (cleanup) cleanup();
}

void endProgram(int code) {
    runProgramCleanup();
    QApplication::closeAllWindows();
    // Outside the message loop (a window driven directly) there is no loop to end, and ending
    // it would stop every later nested loop (message boxes) from running.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(code);
}

} // namespace iit::gui
