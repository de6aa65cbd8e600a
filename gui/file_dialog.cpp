#include "gui/file_dialog.h"

#include "base/guarded_files.h"
#include "base/paths.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QMimeDatabase>
#include <QSortFilterProxyModel>
#include <QStandardPaths>

namespace iit::gui {
namespace {

// Icons and types by the file's name: a folder, or a file of the type its extension names.
class IconsByName : public QFileIconProvider {
public:
    IconsByName() { setOptions(DontUseCustomDirectoryIcons); }

    QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) return QFileIconProvider::icon(Drive);
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return QStringLiteral("文件夹");
        const QMimeType mime =
            m_types.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
        return mime.isDefault() ? QStringLiteral("文件") : mime.comment();
    }

private:
    QMimeDatabase m_types;
};

IconsByName& iconsByName() {
    static IconsByName provider;
    return provider;
}

// The files the ledger holds open, anywhere, and the program's own files in the data directory
// (the rate table, the print template, the configuration files) are not listed.
class OwnFilesHidden : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) return true;
        const QModelIndex index = files->index(row, 0, parent);
        if (files->isDir(index)) return true;
        const std::filesystem::path path(QFile::encodeName(files->filePath(index)).toStdString());
        if (isGuardedFile(path)) return false;
        static const char* const own[] = {"设置税率表A.dat", "print.dbf", "config.inf",
                                          "configJS.inf"};
        const std::string name = path.filename().native();
        for (const char* o : own) {
            std::error_code ec;
            if (name == o &&
                std::filesystem::equivalent(path.parent_path(), programDirectory(), ec))
                return false;
        }
        return true;
    }
};

} // namespace

void setUpFileDialog(QFileDialog& dialog, const QString& objectName, bool save,
                     const std::filesystem::path& directory) {
    dialog.setObjectName(objectName);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontUseCustomDirectoryIcons);
    // Before the folder is listed: the dialog's own provider guesses types by content.
    dialog.setIconProvider(&iconsByName());
    dialog.setProxyModel(new OwnFilesHidden(&dialog));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDirectory(QFile::decodeName(directory.c_str()));
    dialog.resize(760, 460); // the type and date columns in view
}

std::optional<std::filesystem::path> runFileDialog(QFileDialog& dialog) {
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        std::filesystem::path chosen(
            QFile::encodeName(dialog.selectedFiles().front()).toStdString());
        if (!isGuardedFile(chosen)) return chosen;
        messageBox(
            displayPath(chosen) +
                sysText("是正在使用的工资台账的文件，不能在这里打开或覆盖。请选择别的文件。"),
            {.icon = Icon::Exclamation}, &dialog);
    }
}

std::filesystem::path documentsDirectory() {
    for (const auto location : {QStandardPaths::DocumentsLocation, QStandardPaths::HomeLocation}) {
        const QString dir = QStandardPaths::writableLocation(location);
        if (!dir.isEmpty() && QDir(dir).exists())
            return std::filesystem::path(QFile::encodeName(dir).toStdString());
    }
    return std::filesystem::current_path();
}

} // namespace iit::gui
