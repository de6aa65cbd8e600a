#pragma once
// The window runtime: loading windows from their templates, modal loading, the program's
// clean-up and end, and the visual style.
//
// A window class builds itself from its template in its constructor and does its start-up work
// there (the window's created event), before loadWindow shows it. Each loaded window is
// deleted when it closes, so loading it again starts from its template.

#include <QString>

#include <functional>

class QApplication;
class QWidget;

namespace iit::gui {

// Compiles in the templates' pictures and sets the program's font. Call once after the
// QApplication exists.
void initWindowRuntime();

using WindowFactory = std::function<QWidget*()>;

// Loads the window `name`. If it is open it is only brought to the front (restored first when
// minimised) and `create` is not called. Otherwise `create` makes it (a window whose close was
// requested but not carried out yet is first destroyed), `owner` becomes its owner window and
// it is shown. Modal: `owner` is ignored; every other top-level window of the program is
// disabled until this one closes, then each gets its former enabled state back. Returns at
// once with the window, or nullptr when `create` gave none.
QWidget* loadWindow(const QString& name, const WindowFactory& create, QWidget* owner = nullptr,
                    bool modal = false);
// The windows of the program, registered by name at start; loading a name nobody registered
// does nothing and returns nullptr.
void registerWindow(const QString& name, WindowFactory create);
QWidget* loadWindow(const QString& name, QWidget* owner = nullptr, bool modal = false);
// The open window `name`, or nullptr.
QWidget* openWindow(const QString& name);
// The modal window that is open (the last opened, when one opened another), or nullptr.
QWidget* openModalWindow();

// The clean-up the program registers at start; runs once, at program end or after a fatal error.
void setProgramCleanup(std::function<void()> cleanup);
void runProgramCleanup();
// Runs the clean-up, closes every window and ends the message loop with `code` (when it runs).
void endProgram(int code);

} // namespace iit::gui
