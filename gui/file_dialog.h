#pragma once
// The program's own file dialog, the same on every desktop (and one the tests can answer): to
// open an existing file or to save under any name. File names cross to Qt and back as the file
// system's bytes, never as texts.
//
// Listing a folder never opens a file: the type and icon of a file come from its name alone
// (Qt's own guess reads the first bytes of files it cannot tell by name, and closing such a
// read drops the locks the ledger holds on its files: base/guarded_files.h). The files the
// ledger holds open and the program's own files in the data directory are not listed, and a
// guarded file typed by name is refused.

#include <QFileDialog>
#include <QString>

#include <filesystem>
#include <optional>

namespace iit::gui {

// Sets up `dialog` to open or to save, starting in `directory`. Call it right after the dialog
// is made, before anything runs the event loop.
void setUpFileDialog(QFileDialog& dialog, const QString& objectName, bool save,
                     const std::filesystem::path& directory);
// Runs the dialog: the file chosen, or none when the user cancelled.
std::optional<std::filesystem::path> runFileDialog(QFileDialog& dialog);

// Where exports and PDFs are proposed: the user's documents folder (the home folder when it
// does not exist), never the data directory, which the clerk may delete to start afresh.
std::filesystem::path documentsDirectory();

} // namespace iit::gui
