// Batch files: the sheet saved to and opened from a table file of seven fields, and the
// remembered paths ("config.inf" after a save, "configJS.inf" after an open).
//
// A save never touches the old file until the new one is complete: the records are written
// into a new table beside the target, which is then renamed over it.
#include "batch/sheet.h"

#include "base/config.h"
#include "base/convert.h"
#include "base/files.h"
#include "database/format.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <set>
#include <unistd.h>

namespace iit::batch {
namespace {

const Text& fileAlias() {
    static const Text alias = sysText("打开的文件名");
    return alias;
}

const Text& directorySection() {
    static const Text section = sysText("目录");
    return section;
}

const Text& pathKey() {
    static const Text key = sysText("子目录");
    return key;
}

std::filesystem::path saveConfigPath() {
    return joinPath(programDirectory(), "config.inf");
}
std::filesystem::path openConfigPath() {
    return joinPath(programDirectory(), "configJS.inf");
}

// The path a configuration file remembers; none when the file cannot be read, and the dialog
// then proposes no name, as for a file that remembers none.
std::filesystem::path rememberedPath(const std::filesystem::path& config) {
    const Outcome<Text> stored = readConfigItem(config, directorySection(), pathKey());
    return stored ? pathFromStoredText(*stored) : std::filesystem::path{};
}

// The written message of a failed open or save, then why and which file.
Problem fileProblem(const Text& message, const Text& reason, const std::filesystem::path& path,
                    int code) {
    return fail(message + sysText("\r\n ") + reason + sysText("：") + displayPath(path), code);
}

// Remembers a batch file's path in a configuration file; what to tell the user when the
// configuration file cannot take it (it is then left as it is), once for each such file.
Text rememberPath(const std::filesystem::path& config, const std::filesystem::path& file) {
    static std::set<std::filesystem::path> told;
    const Outcome<void> written =
        writeConfigItem(config, directorySection(), pathKey(), storedPathText(file));
    if (written || !told.insert(config).second) return {};
    return sysText("文件的位置未能记入配置文件 ") + displayPath(config) + sysText("：") +
           written.problem().message;
}

bool syncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Puts a new table and its auxiliary file in the place of the old pair, so that either the old
// pair or the new one is in place whatever fails: the old auxiliary file is kept under a
// temporary name until the new data file is in place, and put back when that fails.
bool replaceTablePair(TemporaryFile& data, const std::filesystem::path& newAux,
                      const std::filesystem::path& target) {
    std::error_code ec;
    const std::filesystem::path targetAux = db::auxiliaryPath(target);
    if (!std::filesystem::exists(newAux, ec)) return data.commit();
    if (!syncFile(newAux)) return false;
    TemporaryFile keep(targetAux);
    if (!keep.valid()) return false;
    const bool hadAux = std::filesystem::exists(targetAux, ec);
    if (hadAux && renameFile(targetAux, keep.path()) != 0) return false;
    auto restore = [&] {
        if (hadAux)
            renameFile(keep.path(), targetAux);
        else
            ::unlink(targetAux.c_str());
    };
    if (renameFile(newAux, targetAux) != 0) {
        restore();
        return false;
    }
    if (!data.commit()) {
        restore();
        return false;
    }
    return true; // the old auxiliary file goes with `keep`
}

// Errors of a single field that the record loop passes over, as the file's own field list
// may not take every value (a text into a number field, a seventh field that is missing).
bool isFieldMismatch(int code) {
    return code == db::kErrTypeMismatch || code == db::kErrNoField;
}

} // namespace

const Text& saveFailedMessage() {
    static const Text message = sysText("文件保存失败！ . . .   ");
    return message;
}

const Text& openFailedMessage() {
    static const Text message = sysText("文件打开失败，请选择正确的文件！ . . .   ");
    return message;
}

std::filesystem::path defaultBatchFileName() {
    return joinPath(programDirectory(), "个人所得税扣税表.dat");
}

std::filesystem::path proposedSaveName() {
    const std::filesystem::path config = saveConfigPath();
    if (!fileExists(config)) return defaultBatchFileName();
    return rememberedPath(config);
}

std::filesystem::path proposedOpenName() {
    // The batch file used last, saved or opened: the configuration file written last names it.
    std::filesystem::path config = openConfigPath();
    std::error_code opened, saved;
    const auto openedAt = std::filesystem::last_write_time(config, opened);
    const auto savedAt = std::filesystem::last_write_time(saveConfigPath(), saved);
    if (!saved && (opened || savedAt > openedAt)) config = saveConfigPath();
    if (!fileExists(config)) return defaultBatchFileName();
    return rememberedPath(config);
}

Outcome<Text> BatchSheet::SaveBatchFile(const std::filesystem::path& path) {
    std::error_code ec;
    m_currentFile = std::filesystem::absolute(path, ec);
    // A link keeps pointing where it did: the file it names is replaced.
    const std::filesystem::path target = replacementTarget(db::databaseFilePath(path));
    const auto failed = [&](const Text& reason, int code = 0) {
        return fileProblem(saveFailedMessage(), reason, target, code);
    };
    const auto engineFailed = [&](const Problem& problem) {
        return failed(problem.message, problem.code);
    };
    // A file the user may not write (mode 0444), a directory or a device is never replaced.
    if (!mayReplace(target)) return failed(writeFailureReason(target, EACCES));
    std::vector<db::FieldSpec> fields = BatchFileFields();
    if (fileExists(target)) {
        // An existing table keeps its own fields, which are written by number. The open only
        // reads the file.
        db::OpenOptions options;
        options.alias = fileAlias();
        const Outcome<db::Table> existing = db::OpenDatabase(target, options);
        if (!existing) return engineFailed(existing.problem());
        fields = existing->fields();
    } // and closed again

    // The new table is written beside the target and takes its place once it is complete.
    // Leftovers of an earlier save that was killed go first.
    removeStaleTemporaries(target);
    errno = 0;
    TemporaryFile temporary(target);
    if (!temporary.valid()) return failed(writeFailureReason(target, errno));
    const std::filesystem::path temporaryAux = db::auxiliaryPath(temporary.path());
    // The table is closed and its auxiliary file removed; the engine's problem, or else why the
    // file system refused.
    std::optional<db::Table> table;
    auto discard = [&](const Problem* problem) {
        const int error = errno;
        table.reset();
        std::error_code removeError;
        std::filesystem::remove(temporaryAux, removeError);
        return problem ? engineFailed(*problem) : failed(writeFailureReason(target, error));
    };
    if (Outcome<void> created = db::CreateDatabase(temporary.path(), fields); !created)
        return discard(&created.problem());
    db::OpenOptions options;
    options.alias = fileAlias();
    options.shareMode = db::kExclusive;
    Outcome<db::Table> opened = db::OpenDatabase(temporary.path(), options);
    if (!opened) return discard(&opened.problem());
    table.emplace(std::move(*opened));
    // Texts longer than their field are cut between characters, never inside one.
    std::array<int, 8> widths{};
    for (int field = 1; field <= 7 && field <= static_cast<int>(fields.size()); ++field)
        if (fields[static_cast<std::size_t>(field - 1)].type == db::kText)
            widths[static_cast<std::size_t>(field)] =
                fields[static_cast<std::size_t>(field - 1)].width;
    auto text = [&](int row, int column) {
        const int width = widths[static_cast<std::size_t>(column)];
        return Value::text(
            width > 0 ? cutToWidth(m_grid.text(row, column), static_cast<std::size_t>(width))
                      : m_grid.text(row, column));
    };

    // An amount field holds the cell's amount; a cell that is no amount is saved as 0 (the
    // window asks first, cellsCutBySave), never as an infinity or NaN.
    auto amount = [&](int row, int column) {
        const Income value = readIncome(m_grid.text(row, column));
        return Value::number(value.kind == Income::Kind::Amount ? value.amount.toDouble() : 0.0);
    };
    for (int row = 1; row <= kDataRows; ++row) {
        if (m_grid.text(row, kNameColumn) == totalsMarker()) continue;
        if (Outcome<void> appended = table->AppendBlankRecord(); !appended)
            return discard(&appended.problem());
        const std::array<Value, 7> values = {
            text(row, kNameColumn),   text(row, kIdColumn),         amount(row, kIncomeColumn),
            amount(row, kTaxColumn),  amount(row, kAfterTaxColumn), text(row, kCardColumn),
            text(row, kRemarkColumn),
        };
        for (int field = 1; field <= 7; ++field) {
            const Outcome<void> written =
                table->WriteField(Value::int32(field), values[static_cast<std::size_t>(field - 1)]);
            if (!written && !isFieldMismatch(written.problem().code))
                return discard(&written.problem()); // a full disk or a failing file: keep the old
        }
    }
    // The close writes the last record, which the table still holds.
    if (Outcome<void> closed = table->close(); !closed) return discard(&closed.problem());
    if (!replaceTablePair(temporary, temporaryAux, target)) return discard(nullptr);

    m_savedDigest = peopleDigest();
    return rememberPath(saveConfigPath(), m_currentFile);
}

Outcome<BatchFileContent> readBatchFile(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(path, ec);
    // A batch file of the sheet's 10,000 rows is about 1.2 MB; one of 64 MB is no batch file.
    const Outcome<std::string> content = readFileBounded(file, 64u << 20);
    if (!content) return fileProblem(openFailedMessage(), content.problem().message, file, 0);
    Outcome<BatchFileContent> read = readBatchFileBytes(*content);
    if (!read) return fileProblem(openFailedMessage(), read.problem().message, file, 0);
    return read;
}

Outcome<PeopleFile> readPeopleFile(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(path, ec);
    const Outcome<std::string> content = readFileBounded(file, sheets::kMaxInputBytes);
    if (!content) return fileProblem(openFailedMessage(), content.problem().message, file, 0);
    if (db::isTableFile(*content)) {
        Outcome<BatchFileContent> read = readBatchFileBytes(*content);
        if (!read) return fileProblem(openFailedMessage(), read.problem().message, file, 0);
        return PeopleFile(std::move(*read));
    }
    // FreeXL reads an .xls workbook from its path only.
    Outcome<SheetImport> read = sheets::detectFormat(*content) == sheets::Format::Xls
                                    ? readSpreadsheet(file)
                                    : readSpreadsheetBytes(*content);
    if (!read) return fileProblem(openFailedMessage(), read.problem().message, file, 0);
    return PeopleFile(std::move(*read));
}

Outcome<void> BatchSheet::exportSpreadsheet(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(path, ec);
    if (const Outcome<void> written = writeExport(file, m_grid); !written) {
        // The workbook writer names the file itself; a text file's reason does not.
        if (exportFormatOf(file) == ExportFormat::Xlsx)
            return fail(saveFailedMessage() + sysText("\r\n ") + written.problem().message);
        return fileProblem(saveFailedMessage(), written.problem().message, file,
                           written.problem().code);
    }
    m_savedDigest = peopleDigest();
    return {};
}

void BatchSheet::fillRecords(const std::vector<BatchRecord>& records) {
    Grid::UpdateScope batchOfChanges(m_grid);
    // The file replaces the whole sheet: no person of another payroll stays below it.
    m_grid.clearCells(1, 1, kDataRows, kGridColumns - 1);
    for (std::size_t i = 0; i < records.size() && i < static_cast<std::size_t>(kDataRows); ++i)
        for (int j = 1; j < kGridColumns; ++j)
            m_grid.setText(static_cast<int>(i) + 1, j, records[i][static_cast<std::size_t>(j - 1)]);
}

void BatchSheet::applySpreadsheet(const SheetImport& import) {
    fillRecords(import.records);
    // What the spreadsheet holds is not lost when the sheet is closed unsaved.
    m_savedDigest = peopleDigest();
}

Text BatchSheet::applyBatchFile(const BatchFileContent& content,
                                const std::optional<std::filesystem::path>& path) {
    fillRecords(content.records);
    m_savedDigest = peopleDigest();
    if (!path) return {};
    std::error_code ec;
    m_currentFile = std::filesystem::absolute(*path, ec);
    return rememberPath(openConfigPath(), m_currentFile);
}

Outcome<Text> BatchSheet::OpenBatchFile(const std::filesystem::path& path) {
    Outcome<BatchFileContent> read = readBatchFile(path);
    if (!read) return read.problem();
    if (read->damaged()) {
        std::error_code ec;
        return fileProblem(openFailedMessage(), read->damageText(),
                           std::filesystem::absolute(path, ec), 0);
    }
    return applyBatchFile(*read, path);
}

} // namespace iit::batch
