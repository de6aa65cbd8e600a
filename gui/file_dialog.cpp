#include "gui/file_dialog.h"

#include <QFile>

namespace iit::gui {

void setUpFileDialog(QFileDialog& dialog, const QString& objectName, bool save,
                     const std::filesystem::path& directory) {
    dialog.setObjectName(objectName);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDirectory(QFile::decodeName(directory.c_str()));
}

std::optional<std::filesystem::path> runFileDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return std::filesystem::path(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

} // namespace iit::gui
