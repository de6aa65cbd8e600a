#include "engine/bracket_table.h"

#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "engine/rate_table_check.h"
#include "resources/resources.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace iit::engine {

const Text& rateTableAlias() {
    static const Text alias = sysText("设置税率表");
    return alias;
}

const Text& rateTablePassword() {
    static const Text password = Text::fromBytes(kRateTablePassword);
    return password;
}

std::filesystem::path rateTablePath() {
    return joinPath(programDirectory(), kRateTableFileName);
}

Outcome<void> ensureRateTableFile(const std::filesystem::path& path) {
    if (fileExists(path)) return {};
    return writeDefaultRateTable(path);
}

Outcome<void> writeDefaultRateTable(const std::filesystem::path& path) {
    return writeWholeFile(path, resources::defaultRateTable());
}

bool openRateTable(const std::filesystem::path& path) {
    db::OpenOptions options;
    options.alias = rateTableAlias();
    options.password = rateTablePassword();
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
// (kErrNoFields for a table with too few fields, which is closed again). `opened` tells whether
// this call opened it (rather than finding it open).
int openComplete(const std::filesystem::path& path, bool* opened = nullptr) {
    if (opened) *opened = false;
    if (!openRateTable(path)) {
        const int code = db::lastError();
        if (code != db::kErrAlreadyOpen) return code;
    } else if (opened) {
        *opened = true;
    }
    if (!db::SelectDatabase(rateTableAlias())) return db::lastError();
    if (db::Fields().size() < static_cast<std::size_t>(kRateTableFields)) {
        db::CloseDatabase(rateTableAlias());
        return db::kErrNoFields;
    }
    return db::kOk;
}

std::int32_t readThreshold() {
    const Outcome<BracketTable> table = readBracketTable();
    return table ? table->integer(1, fieldOf(SubTable::Wages, Field::Threshold)) : 0;
}

Text cannotOpenMessage(const std::filesystem::path& path, int code) {
    return sysText(" 税率表文件无法打开：\r\n ") + displayPath(path) + sysText("\r\n ") +
           db::errorMessage(code) + sysText("! . . . ");
}

// Why a file that opened, or failed to open with `code`, cannot serve as the rate table.
Text damageOf(int code) {
    if (code == db::kErrNoFields) return sysText("字段不足 24 个");
    return db::errorMessage(code);
}

// Checks a table this call opened; a damaged one is closed again. Returns the check.
Outcome<void> checkOpened(bool opened) {
    if (!opened) return {};
    Outcome<void> sound = checkOpenRateTable();
    if (!sound) db::CloseDatabase(rateTableAlias());
    return sound;
}

} // namespace

std::filesystem::path setAsideName(const std::filesystem::path& path, double now) {
    const CivilDateTime t = splitDateTime(now);
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

Outcome<RateTableStart> openRateTableAtStart(const std::filesystem::path& path, double now) {
    RateTableStart r;
    if (const Outcome<void> written = ensureRateTableFile(path); !written)
        return fail(sysText(" 内置的默认税率表无法写入：\r\n ") + displayPath(path) +
                    sysText("\r\n ") + written.problem().message + sysText("! . . . "));
    bool opened = false;
    const int code = openComplete(path, &opened);
    Text damage;
    if (code == db::kOk) {
        const Outcome<void> sound = checkOpened(opened);
        if (sound) {
            r.threshold = readThreshold();
            return r;
        }
        if (isAccessError(sound.problem().code))
            return fail(cannotOpenMessage(path, sound.problem().code), sound.problem().code);
        damage = sound.problem().message;
    } else if (isAccessError(code)) {
        return fail(cannotOpenMessage(path, code), code);
    } else {
        damage = damageOf(code);
    }
    // Damaged: keep it under a new name and put the built-in table in its place.
    const std::filesystem::path aside = setAsideName(path, now);
    std::error_code ec;
    std::filesystem::rename(path, aside, ec);
    if (ec)
        return fail(sysText(" 税率表文件已损坏，且无法改名保存：\r\n ") + displayPath(path) +
                        sysText("! . . . "),
                    code);
    r.setAsidePath = aside;
    if (!writeDefaultRateTable(path) || openComplete(path) != db::kOk)
        return fail(sysText(" 税率表文件已损坏，已改名保存为：\r\n ") + displayPath(aside) +
                        sysText("\r\n 内置的默认税率表无法写入! . . . "),
                    code);
    r.threshold = readThreshold();
    r.notice = sysText(" 税率表文件已损坏：") + damage +
               sysText("。\r\n 原文件已改名保存为：\r\n ") + displayPath(aside) +
               sysText("\r\n 现已换用内置的默认税率表! . . . ");
    return r;
}

Outcome<void> checkOpenRateTable() {
    if (!db::SelectDatabase(rateTableAlias()))
        return fail(db::errorMessage(db::lastError()), db::lastError());
    if (!db::fileIsWhole()) {
        if (const int code = db::lastError(); code != db::kOk)
            return fail(db::errorMessage(code), code);
        return fail(sysText("文件不完整，记录数与文件长度不符"), db::kErrFileSize);
    }
    // The fields a calculation reads hold numbers as wide as the window stores them.
    const std::vector<db::FieldSpec> fields = db::Fields();
    if (fields.size() < static_cast<std::size_t>(kRateTableFields))
        return fail(sysText("字段不足 24 个"), db::kErrNoFields);
    for (SubTable t : kSubTables) {
        for (int f = firstField(t); f < fieldOf(t, Field::Spare); ++f) {
            const std::int32_t type = fields[static_cast<std::size_t>(f - 1)].type;
            if (type != db::kInt && type != db::kInt64 && type != db::kFloat && type != db::kDouble)
                return fail(sysText("第 ") + ToText(static_cast<std::int32_t>(f)) +
                                sysText(" 个字段不是整数型、长整数型、小数型或双精度小数型"),
                            db::kErrFieldType);
        }
    }
    const Outcome<BracketTable> table = readBracketTable();
    if (!table) return table.problem();
    return checkBracketTable(*table);
}

Outcome<void> ensureRateTableOpen(const std::filesystem::path& path) {
    bool opened = false;
    const int code = openComplete(path, &opened);
    if (code == db::kOk) {
        const Outcome<void> sound = checkOpened(opened);
        if (sound) return {};
        if (isAccessError(sound.problem().code))
            return fail(cannotOpenMessage(path, sound.problem().code), sound.problem().code);
        return fail(sysText(" 税率表文件已损坏：\r\n ") + displayPath(path) + sysText("\r\n ") +
                        sound.problem().message +
                        sysText("。\r\n 重新启动程序即换用内置的默认税率表! . . . "),
                    sound.problem().code);
    }
    if (code == db::kErrNoFields)
        return fail(sysText(" 税率表文件不完整：\r\n ") + displayPath(path) + sysText("! . . . "),
                    code);
    return fail(cannotOpenMessage(path, code), code);
}

BracketTable::BracketTable(std::vector<Record> records) : m_records(std::move(records)) {
    m_numbers.resize(m_records.size() * kRateTableFields);
    m_integers.resize(m_records.size() * kRateTableFields);
    m_exacts.resize(m_records.size() * kRateTableFields);
    for (std::int32_t r = 1; r <= recordCount(); ++r)
        for (int f = 1; f <= kRateTableFields; ++f)
            convert(r, f);
}

const Value& BracketTable::field(std::int32_t record, int fieldNo) const {
    static const Value zero = Value::int32(0);
    if (!inRange(record, fieldNo)) return zero;
    return m_records[static_cast<std::size_t>(record - 1)][static_cast<std::size_t>(fieldNo - 1)];
}

void BracketTable::setField(std::int32_t record, int fieldNo, Value value) {
    if (record < 1 || fieldNo < 1 || fieldNo > kRateTableFields) return;
    if (record > recordCount()) {
        Record zeros;
        zeros.fill(Value::int32(0));
        m_records.resize(static_cast<std::size_t>(record), zeros);
        m_numbers.resize(m_records.size() * kRateTableFields, 0.0);
        m_integers.resize(m_records.size() * kRateTableFields, 0);
        const std::int32_t first =
            static_cast<std::int32_t>(m_exacts.size()) / kRateTableFields + 1;
        m_exacts.resize(m_records.size() * kRateTableFields);
        for (std::int32_t r = first; r <= recordCount(); ++r)
            for (int f = 1; f <= kRateTableFields; ++f)
                convert(r, f);
    }
    m_records[static_cast<std::size_t>(record - 1)][static_cast<std::size_t>(fieldNo - 1)] =
        std::move(value);
    convert(record, fieldNo);
}

void BracketTable::convert(std::int32_t record, int fieldNo) {
    const Value& v = field(record, fieldNo);
    m_numbers[index(record, fieldNo)] = ToNumber(v);
    m_integers[index(record, fieldNo)] = ToInteger(v);
    m_exacts[index(record, fieldNo)] = Exact::fromDouble(m_numbers[index(record, fieldNo)]);
}

Outcome<BracketTable> readBracketTable() {
    if (!db::SelectDatabase(rateTableAlias()))
        return fail(db::errorMessage(db::lastError()), db::lastError());
    const int fields = static_cast<int>(
        std::min<std::size_t>(db::Fields().size(), static_cast<std::size_t>(kRateTableFields)));
    const std::int32_t count = db::RecordCount();
    std::vector<BracketTable::Record> records(static_cast<std::size_t>(count));
    db::GoFirst();
    for (BracketTable::Record& record : records) {
        for (int f = 1; f <= kRateTableFields; ++f)
            record[static_cast<std::size_t>(f - 1)] =
                f <= fields ? db::ReadField(Value::int32(f)) : Value::int32(0);
        db::Skip();
    }
    return BracketTable(std::move(records));
}

Outcome<BracketTable> loadBracketTable(const std::filesystem::path& path) {
    if (Outcome<void> open = ensureRateTableOpen(path); !open) return open.problem();
    Outcome<BracketTable> table = readBracketTable();
    if (!table) return fail(cannotOpenMessage(path, table.problem().code), table.problem().code);
    return table;
}

std::vector<FieldWriteError> writeBracketFields(const BracketTable& table, int firstField,
                                                int lastField, std::int32_t records) {
    std::vector<FieldWriteError> refused;
    if (!db::SelectDatabase(rateTableAlias())) {
        refused.push_back({0, 0, db::lastError()});
        return refused;
    }
    std::vector<std::int32_t> types;
    for (const db::FieldSpec& f : db::Fields())
        types.push_back(f.type);
    db::GoFirst();
    for (std::int32_t r = 1; r <= records; ++r) {
        for (int f = firstField; f <= lastField; ++f) {
            Value v = table.field(r, f);
            const bool textField = f >= 1 && static_cast<std::size_t>(f) <= types.size() &&
                                   (types[static_cast<std::size_t>(f - 1)] == db::kText ||
                                    types[static_cast<std::size_t>(f - 1)] == db::kMemo);
            if (v.isText() && !textField) v = Value::number(ToNumber(v));
            if (!db::WriteField(Value::int32(f), v)) refused.push_back({r, f, db::lastError()});
        }
        db::Skip();
    }
    return refused;
}

Outcome<void> restoreDefaultRateTable(const std::filesystem::path& path) {
    if (const Outcome<void> written = writeDefaultRateTable(path); !written)
        return fail(sysText(" 默认税率表无法写入：\r\n ") + displayPath(path) + sysText("\r\n ") +
                    written.problem().message + sysText("，原税率表未作改动! . . . "));
    // The alias still holds the replaced file: close it (only it) and open the new one. A
    // database found only because its file name is spelt like the alias is left alone.
    if (db::SelectDatabase(rateTableAlias())) {
        std::error_code ec;
        const std::filesystem::path file =
            std::filesystem::absolute(db::databaseFilePath(path), ec).lexically_normal();
        if (db::currentPath() == file) db::CloseDatabase();
    }
    const int code = openComplete(path);
    if (code != db::kOk) return fail(cannotOpenMessage(path, code), code);
    return {};
}

} // namespace iit::engine
