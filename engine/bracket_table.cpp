#include "engine/bracket_table.h"

#include "database/database.h"
#include "resources/resources.h"
#include "runtime/convert.h"
#include "runtime/files.h"

#include <cstdio>
#include <string>

namespace iit::engine {

const Text& RateTableAlias() {
    static const Text alias = sysText("设置税率表");
    return alias;
}

const Text& RateTablePassword() {
    static const Text password = Text::fromBytes(kRateTablePassword);
    return password;
}

std::filesystem::path RateTablePath() {
    return JoinPath(ProgramDirectory(), kRateTableFileName);
}

bool EnsureRateTableFile(const std::filesystem::path& path) {
    if (FileExists(path)) return true;
    return WriteDefaultRateTable(path);
}

bool WriteDefaultRateTable(const std::filesystem::path& path) {
    return WriteFile(path, resources::DefaultRateTable());
}

bool OpenRateTable(const std::filesystem::path& path) {
    db::OpenOptions options;
    options.alias = RateTableAlias();
    options.password = RateTablePassword();
    return db::OpenDatabase(path, options);
}

namespace {

// Errors that say nothing about the file's content: it is locked, not permitted or gone.
bool isAccessError(int code) {
    switch (code) {
    case db::kErrNotFound:
    case db::kErrBadPath:
    case db::kErrTooManyFiles:
    case db::kErrAccess:
    case db::kErrSharing:
    case db::kErrLockViolation:
    case db::kErrLock:
        return true;
    default:
        return false;
    }
}

// Opens the table; 0 when it is open with all its fields, else the table engine's error code
// (kErrNoFields for a table with too few fields, which is closed again).
int openComplete(const std::filesystem::path& path) {
    if (!OpenRateTable(path)) {
        const int code = db::LastError();
        if (code != db::kErrAlreadyOpen) return code;
    }
    if (!db::SelectDatabase(RateTableAlias())) return db::LastError();
    if (db::Fields().size() < static_cast<std::size_t>(kRateTableFields)) {
        db::CloseDatabase(RateTableAlias());
        return db::kErrNoFields;
    }
    return db::kOk;
}

std::int32_t readThreshold() {
    TableSnapshot table;
    if (!table.load()) return 0;
    return table.integer(1, 1);
}

Text cannotOpenMessage(const std::filesystem::path& path, int code) {
    return sysText(" 税率表文件无法打开：\r\n ") + DisplayPath(path) + sysText("\r\n ") +
           db::ErrorMessage(code) + sysText("! . . . ");
}

} // namespace

std::filesystem::path SetAsideName(const std::filesystem::path& path, double now) {
    const CivilDateTime t = SplitDateTime(now);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, ".damaged-%04d%02u%02u-%02d%02d%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    const std::string base = path.native() + stamp;
    std::string name = base;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(name, ec)); ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

RateTableStart OpenRateTableAtStart(const std::filesystem::path& path, double now) {
    RateTableStart r;
    if (!EnsureRateTableFile(path)) {
        r.message =
            sysText(" 内置的默认税率表无法写入：\r\n ") + DisplayPath(path) + sysText("! . . . ");
        return r;
    }
    const int code = openComplete(path);
    if (code == db::kOk) {
        r.opened = true;
        r.threshold = readThreshold();
        return r;
    }
    if (isAccessError(code)) {
        r.message = cannotOpenMessage(path, code);
        return r;
    }
    // Damaged: keep it under a new name and put the built-in table in its place.
    const std::filesystem::path aside = SetAsideName(path, now);
    std::error_code ec;
    std::filesystem::rename(path, aside, ec);
    if (ec) {
        r.message = sysText(" 税率表文件已损坏，且无法改名保存：\r\n ") + DisplayPath(path) +
                    sysText("! . . . ");
        return r;
    }
    r.setAsidePath = aside;
    if (!WriteDefaultRateTable(path) || openComplete(path) != db::kOk) {
        r.message = sysText(" 税率表文件已损坏，已改名保存为：\r\n ") + DisplayPath(aside) +
                    sysText("\r\n 内置的默认税率表无法写入! . . . ");
        return r;
    }
    r.opened = true;
    r.threshold = readThreshold();
    r.message = sysText(" 税率表文件已损坏，无法打开。\r\n 原文件已改名保存为：\r\n ") +
                DisplayPath(aside) + sysText("\r\n 现已换用内置的默认税率表! . . . ");
    return r;
}

std::optional<Text> EnsureRateTableOpen(const std::filesystem::path& path) {
    const int code = openComplete(path);
    if (code == db::kOk) return std::nullopt;
    if (code == db::kErrNoFields)
        return sysText(" 税率表文件不完整：\r\n ") + DisplayPath(path) + sysText("! . . . ");
    return cannotOpenMessage(path, code);
}

bool TableSnapshot::load() {
    m_records.clear();
    m_read.clear();
    m_recordCount = 0;
    m_fieldCount = 0;
    m_position = 0;
    if (!db::SelectDatabase(RateTableAlias())) return false;
    m_fieldCount = static_cast<std::int32_t>(db::Fields().size());
    m_recordCount = db::RecordCount();
    db::GoFirst();
    m_position = 1;
    return true;
}

const Value& TableSnapshot::field(std::int32_t record, int fieldNo) {
    static const Value zero = Value::int32(0);
    if (record < 1 || record > m_recordCount || fieldNo < 1 || fieldNo > kRateTableFields ||
        fieldNo > m_fieldCount)
        return zero;
    const std::size_t r = static_cast<std::size_t>(record - 1);
    if (m_records.size() <= r) {
        m_records.resize(r + 1);
        m_read.resize(r + 1, 0);
    }
    const std::uint32_t bit = 1u << (fieldNo - 1);
    if (!(m_read[r] & bit)) {
        moveTo(record);
        m_records[r][static_cast<std::size_t>(fieldNo - 1)] = db::ReadField(Value::int32(fieldNo));
        m_read[r] |= bit;
    }
    return m_records[r][static_cast<std::size_t>(fieldNo - 1)];
}

double TableSnapshot::number(std::int32_t record, int fieldNo) {
    return ToNumber(field(record, fieldNo));
}

std::int32_t TableSnapshot::integer(std::int32_t record, int fieldNo) {
    return ToInteger(field(record, fieldNo));
}

void TableSnapshot::moveTo(std::int32_t record) {
    if (record == m_position) return;
    if (record < m_position) {
        db::GoFirst();
        m_position = 1;
    }
    db::Skip(record - m_position);
    m_position = record;
}

} // namespace iit::engine
