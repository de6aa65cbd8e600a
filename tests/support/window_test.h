#pragma once
// What the tests of the windows share: a fresh data directory per test with the dialog
// watchdog, and the user's gestures on a grid view (a click on a cell, typing into it as an
// input method delivers characters) and on a unit.

#include "base/files.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "tests/support/modal_watchdog.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace iit::testing {

// A fresh data directory, made the program directory and the current directory, and a
// watchdog for the dialogs.
class WindowTestEnvironment {
public:
    WindowTestEnvironment() {
        setProgramDirectory(m_dir.path());
        // The user's settings (column widths) of this test only.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString((m_dir.path() / "config").string()));
        m_entered = ::chdir(m_dir.path().c_str()) == 0;
    }
    ~WindowTestEnvironment() {
        if (::chdir("/") != 0) return;
    }
    WindowTestEnvironment(const WindowTestEnvironment&) = delete;
    WindowTestEnvironment& operator=(const WindowTestEnvironment&) = delete;

    bool ready() const { return m_entered; }
    const TempDir& dir() const { return m_dir; }
    ModalWatchdog& watchdog() { return *m_watchdog; }

    // What went wrong with the dialogs: unexpected ones, expected ones that never came. Empty
    // when all went well. Call once the test's windows are gone.
    QString problems() {
        QString found;
        if (!m_watchdog->unexpected().isEmpty())
            found = "unexpected dialog: " + m_watchdog->unexpected().join(" | ");
        if (m_watchdog->pending() != 0)
            found += QStringLiteral(" %1 expected dialog(s) never came").arg(m_watchdog->pending());
        m_watchdog->reset();
        return found;
    }

private:
    TempDir m_dir;
    std::unique_ptr<ModalWatchdog> m_watchdog = std::make_unique<ModalWatchdog>();
    bool m_entered = false;
};

// Gives `window` the focus back: the offscreen platform has no window manager to do it after a
// message box.
inline void reactivate(QWidget* window, QWidget* focus) {
    if (QApplication::activeWindow() == window) return;
    QApplication::setActiveWindow(window);
    focus->setFocus();
}

inline void clickCell(gui::GridView* view, int row, int column) {
    const QRect rect = view->visualRect(view->gridModel()->indexOf(row, column));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

// The grid's open editor, or the grid.
inline QWidget* typingTarget(gui::GridView* view) {
    QWidget* focus = QApplication::focusWidget();
    if (view->isEditing() && qobject_cast<QLineEdit*>(focus)) return focus;
    return view;
}

// Clicks a cell and types into it as an input method delivers characters outside ASCII (key
// events that carry them); Enter commits unless `commit` is false.
inline void typeIntoCell(QWidget* window, gui::GridView* view, int row, int column,
                         const QString& text, bool commit = true) {
    reactivate(window, view);
    clickCell(view, row, column);
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, typingTarget(view), Qt::Key_unknown, QString(c),
                            Qt::NoModifier);
    if (commit) QTest::keyClick(typingTarget(view), Qt::Key_Return);
}

// A left click in the middle of the unit `name`; a missing unit ends the test program.
inline void clickUnit(QWidget* window, const char* name) {
    auto* unit = window->findChild<QWidget*>(QString::fromUtf8(name));
    if (!unit) qFatal("no unit %s", name);
    QTest::mouseClick(unit, Qt::LeftButton, {}, unit->rect().center());
}

} // namespace iit::testing
