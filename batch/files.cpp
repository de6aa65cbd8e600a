// Batch files: the sheet saved to and opened from a table file of seven fields, and the
// remembered paths ("config.inf" after a save, "configJS.inf" after an open).
//
// A save never touches the old file until the new one is complete: the records are written
// into a new table beside the target, which is then renamed over it.
#include "batch/sheet.h"

#include "runtime/config.h"
#include "runtime/convert.h"
#include "runtime/files.h"

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace iit::batch {
namespace {

const Text& FileAlias() {
    static const Text alias = sysText("打开的文件名");
    return alias;
}

const Text& DirectorySection() {
    static const Text section = sysText("目录");
    return section;
}

const Text& PathKey() {
    static const Text key = sysText("子目录");
    return key;
}

Text SaveConfigPath() {
    return JoinPath(ProgramDirectory(), "config.inf");
}
Text OpenConfigPath() {
    return JoinPath(ProgramDirectory(), "configJS.inf");
}

// A name beside `target` that no other file has: ".NAME-XXXXXXXX.tmp".
std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
    static std::mt19937_64 random{std::random_device{}()};
    std::filesystem::path candidate;
    do {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "-%08llx.tmp",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
        candidate = target.parent_path() / ("." + target.stem().string() + suffix);
    } while (std::filesystem::exists(candidate) ||
             std::filesystem::exists(db::AuxiliaryPath(candidate)));
    return candidate;
}

bool SyncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Errors of a single field that the record loop passes over, as the file's own field list
// may not take every value (a text into a number field, a seventh field that is missing).
bool IsFieldMismatch(int code) {
    return code == db::kErrTypeMismatch || code == db::kErrNoField;
}

} // namespace

const Text& SaveFailedMessage() {
    static const Text message = sysText("文件保存失败！ . . .   ");
    return message;
}

const Text& OpenFailedMessage() {
    static const Text message = sysText("文件打开失败，请选择正确的文件！ . . .   ");
    return message;
}

Text DefaultBatchFileName() {
    return JoinPath(ProgramDirectory(), "个人所得税扣税表.dat");
}

Text ProposedSaveName() {
    const Text config = SaveConfigPath();
    if (!FileExists(config)) return DefaultBatchFileName();
    return ReadConfigItem(config, DirectorySection(), PathKey());
}

Text ProposedOpenName() {
    const Text config = OpenConfigPath();
    if (!FileExists(config)) return DefaultBatchFileName();
    return ReadConfigItem(config, DirectorySection(), PathKey());
}

Text BatchSheet::BeginSave() {
    CalculateAll();
    return ProposedSaveName();
}

std::optional<Text> BatchSheet::SaveBatchFile(const Text& path) {
    m_currentFile = path;
    const std::filesystem::path target = toPath(db::DatabaseFilePath(path));
    std::vector<db::FieldSpec> fields = BatchFileFields();
    if (FileExists(fromPath(target))) {
        // An existing table keeps its own fields, which are written by number.
        db::OpenOptions options;
        options.alias = FileAlias();
        options.readOnly = true;
        if (!db::OpenDatabase(fromPath(target), options)) return SaveFailedMessage();
        fields = db::Fields();
        db::CloseDatabase(FileAlias());
    }

    const std::filesystem::path temporary = TemporaryBeside(target);
    auto discard = [&] {
        db::CloseDatabase(FileAlias());
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        std::filesystem::remove(db::AuxiliaryPath(temporary), ec);
        return SaveFailedMessage();
    };
    if (!db::CreateDatabase(fromPath(temporary), fields)) return discard();
    db::OpenOptions options;
    options.alias = FileAlias();
    options.shareMode = db::kExclusive;
    if (!db::OpenDatabase(fromPath(temporary), options) || !db::SelectDatabase(FileAlias()))
        return discard();

    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == TotalsMarker()) continue;
        if (!db::AppendBlankRecord()) return discard();
        const std::array<Value, 7> values = {
            Value::text(m_grid.text(row, kNameColumn)),
            Value::text(m_grid.text(row, kIdColumn)),
            Value::number(ToNumber(m_grid.text(row, kIncomeColumn))),
            Value::number(ToNumber(m_grid.text(row, kTaxColumn))),
            Value::number(ToNumber(m_grid.text(row, kAfterTaxColumn))),
            Value::text(m_grid.text(row, kCardColumn)),
            Value::text(m_grid.text(row, kRemarkColumn)),
        };
        for (int field = 1; field <= 7; ++field) {
            if (!db::WriteField(Value::int32(field), values[static_cast<std::size_t>(field - 1)]) &&
                !IsFieldMismatch(db::LastError()))
                return discard(); // a full disk or a failing file: keep the old file
        }
    }
    db::CloseDatabase(FileAlias()); // writes the last record, which the table still holds
    if (db::LastError() != db::kOk) return discard();

    std::error_code ec;
    const std::filesystem::path temporaryAux = db::AuxiliaryPath(temporary);
    const bool hasAux = std::filesystem::exists(temporaryAux, ec);
    if (!SyncFile(temporary) || (hasAux && !SyncFile(temporaryAux))) return discard();
    if (hasAux) std::filesystem::rename(temporaryAux, db::AuxiliaryPath(target), ec);
    if (!ec) std::filesystem::rename(temporary, target, ec);
    if (ec) return discard();

    WriteConfigItem(SaveConfigPath(), DirectorySection(), PathKey(), m_currentFile);
    return std::nullopt;
}

std::optional<Text> BatchSheet::OpenBatchFile(const Text& path) {
    static const std::array<Text, 5> names = {sysText("姓名"), sysText("身份证号"), sysText("收入"),
                                              sysText("应缴税"), sysText("所得合计")};
    m_currentFile = path;
    db::OpenOptions options;
    options.alias = FileAlias();
    // Nobody may change the file while its records are read: the grid gets one consistent
    // state of it, and the reads need no locks.
    options.shareMode = db::kExclusive;
    if (!db::OpenDatabase(path, options)) return OpenFailedMessage();
    db::SelectDatabase(FileAlias());
    db::GoFirst();
    for (int j = 1; j <= 5; ++j) {
        if (CompareText(db::FieldName(Value::int32(j)), names[static_cast<std::size_t>(j - 1)]) !=
            0) {
            db::CloseDatabase(FileAlias());
            return OpenFailedMessage();
        }
    }
    const int fieldCount = static_cast<int>(db::Fields().size());
    // Records beyond the grid's rows have nowhere to go and are not read.
    const int records = std::min(db::RecordCount(), kDataRows);
    {
        Grid::UpdateScope batchOfChanges(m_grid);
        for (int i = 1; i <= records; ++i) {
            for (int j = 1; j <= 7; ++j)
                m_grid.setText(i, j,
                               j <= fieldCount ? ToText(db::ReadField(Value::int32(j))) : Text{});
            db::Skip();
        }
    }
    db::CloseDatabase(FileAlias());
    WriteConfigItem(OpenConfigPath(), DirectorySection(), PathKey(), m_currentFile);
    return std::nullopt;
}

} // namespace iit::batch
