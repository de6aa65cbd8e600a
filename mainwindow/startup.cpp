#include "mainwindow/startup.h"

#include "database/database.h"
#include "engine/bracket_table.h"
#include "runtime/config.h"
#include "runtime/convert.h"
#include "runtime/files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace iit::mainwindow {
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
int openComplete(const Text& path) {
    if (!engine::OpenRateTable(path)) {
        const int code = db::LastError();
        if (code != db::kErrAlreadyOpen) return code;
    }
    if (!db::SelectDatabase(engine::RateTableAlias())) return db::LastError();
    if (db::Fields().size() < static_cast<std::size_t>(engine::kRateTableFields)) {
        db::CloseDatabase(engine::RateTableAlias());
        return db::kErrNoFields;
    }
    return db::kOk;
}

std::int32_t readThreshold() {
    engine::TableSnapshot table;
    if (!table.load()) return 0;
    return table.integer(1, 1);
}

} // namespace

const Text& EmployerPlaceholder() {
    static const Text text = sysText("在这里输入使用单位名称");
    return text;
}

Text ConfigJsPath() {
    return JoinPath(ProgramDirectory(), "configJS.inf");
}

std::optional<Text> ReadEmployerName() {
    const Text path = ConfigJsPath();
    if (!FileExists(path)) return std::nullopt;
    return ReadConfigItem(path, sysText("单位"), sysText("名称"));
}

bool SaveEmployerName(const Text& name) {
    return WriteConfigItem(ConfigJsPath(), sysText("单位"), sysText("名称"), name);
}

Text SetAsideName(const Text& path, double now) {
    const CivilDateTime t = SplitDateTime(now);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, ".damaged-%04d%02u%02u-%02d%02d%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    const Text base = path + Text::fromBytes(stamp);
    Text name = base;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(toPath(name), ec); ++n)
        name = base + Text::fromBytes("-" + std::to_string(n));
    return name;
}

RateTableStart OpenRateTableAtStart(const Text& path, double now) {
    RateTableStart r;
    const int code = openComplete(path);
    if (code == db::kOk) {
        r.opened = true;
        r.threshold = readThreshold();
        return r;
    }
    if (isAccessError(code)) {
        r.message = sysText(" 税率表文件无法打开：\r\n ") + path + sysText("\r\n ") +
                    db::ErrorMessage(code) + sysText("! . . . ");
        return r;
    }
    // Damaged: keep it under a new name and put the built-in table in its place.
    const Text aside = SetAsideName(path, now);
    std::error_code ec;
    std::filesystem::rename(toPath(path), toPath(aside), ec);
    if (ec) {
        r.message =
            sysText(" 税率表文件已损坏，且无法改名保存：\r\n ") + path + sysText("! . . . ");
        return r;
    }
    r.setAsidePath = aside;
    if (!engine::WriteDefaultRateTable(path) || openComplete(path) != db::kOk) {
        r.message = sysText(" 税率表文件已损坏，已改名保存为：\r\n ") + aside +
                    sysText("\r\n 内置的默认税率表无法写入! . . . ");
        return r;
    }
    r.opened = true;
    r.threshold = readThreshold();
    r.message = sysText(" 税率表文件已损坏，无法打开。\r\n 原文件已改名保存为：\r\n ") + aside +
                sysText("\r\n 现已换用内置的默认税率表! . . . ");
    return r;
}

Text DescriptionText(double now) {
    static const char* const lines[] = {
        "◆  该计算器可对不同类型的收入进行个税计算：",
        "◆  1、工资薪金收入；",
        "◆  2、劳务费收入；",
        "◆  3、稿酬收入。",
        "◆  计算方式，可以进行税金‘自行负担’计算",
        "　  或‘雇主全额负担’计算，即根据收入反推",
        "　  个税。",
        "◆  支持批量操作，最大计算人数：10,000人",
        "◆  或作为简易计算器进行加减乘除计算。",
        "◆  自行负担：税金由自己负担，",
        "◆  雇主全额负担：税金由用人单位负担。",
    };
    static const Text gap = Text::fromBytes("\r\n\r\n");
    Text text = ToText(YearOf(now)) + sysText("年度个人所得税计算器说明：");
    for (const char* line : lines)
        text += gap + sysText(line);
    text += gap + sysText("  个税计算器 iitcalc · 结果仅供参考，以税务机关核定为准");
    return text;
}

} // namespace iit::mainwindow
