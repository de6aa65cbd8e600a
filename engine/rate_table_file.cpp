#include "engine/rate_table_file.h"

#include "base/convert.h"
#include "base/files.h"
#include "engine/rate_table_check.h"
#include "resources/resources.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <system_error>

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

Outcome<db::Table> openRateTable(const std::filesystem::path& path) {
    db::OpenOptions options;
    options.alias = rateTableAlias();
    options.password = rateTablePassword();
    return db::OpenDatabase(path, options);
}

Outcome<BracketTable> readBracketTable(db::Table& table) {
    const int fields = static_cast<int>(
        std::min<std::size_t>(table.fields().size(), static_cast<std::size_t>(kRateTableFields)));
    const Outcome<std::int32_t> count = table.RecordCount();
    if (!count) return count.problem();
    std::vector<BracketTable::Record> records(static_cast<std::size_t>(*count));
    if (Outcome<void> first = table.GoFirst(); !first) return first.problem();
    for (std::size_t r = 0; r < records.size(); ++r) {
        BracketTable::Record& record = records[r];
        for (int f = 1; f <= kRateTableFields; ++f) {
            if (f > fields) {
                record[static_cast<std::size_t>(f - 1)] = Value::int32(0);
                continue;
            }
            Outcome<Value> v = table.ReadField(Value::int32(f));
            if (!v) return v.problem();
            record[static_cast<std::size_t>(f - 1)] = std::move(*v);
        }
        if (r + 1 < records.size()) {
            if (Outcome<void> next = table.Skip(); !next) return next.problem();
        }
    }
    return BracketTable(std::move(records));
}

Outcome<BracketTable> checkRateTable(db::Table& table) {
    const Outcome<bool> whole = table.fileIsWhole();
    if (!whole) return whole.problem();
    if (!*whole) return fail(sysText("文件不完整，记录数与文件长度不符"), db::kErrFileSize);
    // The fields a calculation reads hold numbers as wide as the window stores them.
    const std::vector<db::FieldSpec>& fields = table.fields();
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
    Outcome<BracketTable> read = readBracketTable(table);
    if (!read) return read.problem();
    if (Outcome<void> sound = checkBracketTable(*read); !sound) return sound.problem();
    return read;
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

// Opens the table with all its 24 fields; a table with fewer is closed again and refused with
// kErrNoFields. The problem carries the table engine's error code.
Outcome<db::Table> openComplete(const std::filesystem::path& path) {
    Outcome<db::Table> table = openRateTable(path);
    if (!table) return table.problem();
    if (table->fields().size() < static_cast<std::size_t>(kRateTableFields))
        return db::engineProblem(db::kErrNoFields);
    return table;
}

std::int32_t thresholdOf(const BracketTable& table) {
    return table.integer(1, fieldOf(SubTable::Wages, Field::Threshold));
}

Text cannotOpenMessage(const std::filesystem::path& path, int code) {
    return sysText(" 税率表文件无法打开：\r\n ") + displayPath(path) + sysText("\r\n ") +
           db::errorMessage(code) + sysText("! . . . ");
}

// Why a file that failed to open with `code` cannot serve as the rate table.
Text damageOf(int code) {
    if (code == db::kErrNoFields) return sysText("字段不足 24 个");
    return db::errorMessage(code);
}

} // namespace

RateTableFile::RateTableFile(std::filesystem::path path) : m_path(std::move(path)) {}

RateTableFile::RateTableFile(std::filesystem::path path, db::Table table)
    : m_path(std::move(path)), m_table(std::move(table)) {}

Outcome<RateTableStart> RateTableFile::start(double now) {
    RateTableStart r;
    if (m_table) {
        const Outcome<BracketTable> table = readBracketTable(*m_table);
        if (!table)
            return fail(cannotOpenMessage(m_path, table.problem().code), table.problem().code);
        r.threshold = thresholdOf(*table);
        return r;
    }
    if (const Outcome<void> written = ensureRateTableFile(m_path); !written)
        return fail(sysText(" 内置的默认税率表无法写入：\r\n ") + displayPath(m_path) +
                    sysText("\r\n ") + written.problem().message + sysText("! . . . "));
    // Opened and checked; a damaged file is closed again before it is set aside.
    Text damage;
    int code = db::kOk;
    {
        Outcome<db::Table> opened = openComplete(m_path);
        if (opened) {
            const Outcome<BracketTable> sound = checkRateTable(*opened);
            if (sound) {
                m_table.emplace(std::move(*opened));
                r.threshold = thresholdOf(*sound);
                return r;
            }
            code = sound.problem().code;
            damage = sound.problem().message;
        } else {
            code = opened.problem().code;
            damage = damageOf(code);
        }
    }
    if (isAccessError(code)) return fail(cannotOpenMessage(m_path, code), code);
    // Damaged: keep it under a new name and put the built-in table in its place.
    const std::filesystem::path aside = setAsideName(m_path, now);
    std::error_code ec;
    std::filesystem::rename(m_path, aside, ec);
    if (ec)
        return fail(sysText(" 税率表文件已损坏，且无法改名保存：\r\n ") + displayPath(m_path) +
                        sysText("! . . . "),
                    code);
    r.setAsidePath = aside;
    const Problem notWritten{sysText(" 税率表文件已损坏，已改名保存为：\r\n ") +
                                 displayPath(aside) +
                                 sysText("\r\n 内置的默认税率表无法写入! . . . "),
                             code};
    if (!writeDefaultRateTable(m_path)) return notWritten;
    Outcome<db::Table> fresh = openComplete(m_path);
    if (!fresh) return notWritten;
    const Outcome<BracketTable> table = readBracketTable(*fresh);
    if (!table) return notWritten;
    m_table.emplace(std::move(*fresh));
    r.threshold = thresholdOf(*table);
    r.notice = sysText(" 税率表文件已损坏：") + damage +
               sysText("。\r\n 原文件已改名保存为：\r\n ") + displayPath(aside) +
               sysText("\r\n 现已换用内置的默认税率表! . . . ");
    return r;
}

Outcome<BracketTable> RateTableFile::load() {
    if (!m_table) {
        Outcome<db::Table> opened = openComplete(m_path);
        if (!opened) {
            const int code = opened.problem().code;
            if (code == db::kErrNoFields)
                return fail(sysText(" 税率表文件不完整：\r\n ") + displayPath(m_path) +
                                sysText("! . . . "),
                            code);
            return fail(cannotOpenMessage(m_path, code), code);
        }
        Outcome<BracketTable> sound = checkRateTable(*opened);
        if (!sound) {
            const Problem& p = sound.problem();
            if (isAccessError(p.code)) return fail(cannotOpenMessage(m_path, p.code), p.code);
            return fail(sysText(" 税率表文件已损坏：\r\n ") + displayPath(m_path) +
                            sysText("\r\n ") + p.message +
                            sysText("。\r\n 重新启动程序即换用内置的默认税率表! . . . "),
                        p.code);
        }
        m_table.emplace(std::move(*opened));
        return sound;
    }
    Outcome<BracketTable> table = readBracketTable(*m_table);
    if (!table) return fail(cannotOpenMessage(m_path, table.problem().code), table.problem().code);
    return table;
}

std::vector<FieldWriteError> RateTableFile::writeFields(const BracketTable& table, int firstField,
                                                        int lastField, std::int32_t records) {
    std::vector<FieldWriteError> refused;
    if (!m_table) {
        refused.push_back({0, 0, db::kErrNotOpen});
        return refused;
    }
    const std::vector<db::FieldSpec>& fields = m_table->fields();
    if (Outcome<void> first = m_table->GoFirst(); !first) {
        refused.push_back({0, 0, first.problem().code});
        return refused;
    }
    for (std::int32_t r = 1; r <= records; ++r) {
        for (int f = firstField; f <= lastField; ++f) {
            Value v = table.field(r, f);
            const bool textField = f >= 1 && static_cast<std::size_t>(f) <= fields.size() &&
                                   (fields[static_cast<std::size_t>(f - 1)].type == db::kText ||
                                    fields[static_cast<std::size_t>(f - 1)].type == db::kMemo);
            if (v.isText() && !textField) v = Value::number(ToNumber(v));
            if (Outcome<void> written = m_table->WriteField(Value::int32(f), v); !written)
                refused.push_back({r, f, written.problem().code});
        }
        // Past the last record the cursor stays after it, and the writes that follow are
        // refused one by one (-60), as the records they name are not in the file.
        (void)m_table->Skip();
    }
    return refused;
}

Outcome<void> RateTableFile::restoreDefault() {
    if (const Outcome<void> written = writeDefaultRateTable(m_path); !written)
        return fail(sysText(" 默认税率表无法写入：\r\n ") + displayPath(m_path) + sysText("\r\n ") +
                    written.problem().message + sysText("，原税率表未作改动! . . . "));
    // The handle still reads the replaced file: the new one is opened in its place.
    m_table.reset();
    Outcome<db::Table> opened = openComplete(m_path);
    if (!opened)
        return fail(cannotOpenMessage(m_path, opened.problem().code), opened.problem().code);
    m_table.emplace(std::move(*opened));
    return {};
}

Outcome<BracketTable> loadBracketTable(const std::filesystem::path& path) {
    RateTableFile file(path);
    return file.load();
}

} // namespace iit::engine
