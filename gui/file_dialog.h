#pragma once
// The program's own file dialog, the same on every desktop (and one the tests can answer): to
// open an existing file or to save under any name. File names cross to Qt and back as the file
// system's bytes, never as texts.

#include <QFileDialog>
#include <QString>

#include <filesystem>
#include <optional>

namespace iit::gui {

// Sets up `dialog` to open or to save, starting in `directory`.
void setUpFileDialog(QFileDialog& dialog, const QString& objectName, bool save,
                     const std::filesystem::path& directory);
// Runs the dialog: the file chosen, or none when the user cancelled.
std::optional<std::filesystem::path> runFileDialog(QFileDialog& dialog);

} // namespace iit::gui
