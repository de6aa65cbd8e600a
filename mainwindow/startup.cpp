#include "mainwindow/startup.h"

#include "base/config.h"
#include "base/convert.h"
#include "base/files.h"

namespace iit::mainwindow {

const Text& employerPlaceholder() {
    static const Text text = sysText("在这里输入使用单位名称");
    return text;
}

Text employerOf(const Text& box) {
    return box == employerPlaceholder() ? Text{} : box;
}

std::filesystem::path configJsPath() {
    return joinPath(programDirectory(), "configJS.inf");
}

Outcome<std::optional<Text>> readEmployerName() {
    const std::filesystem::path path = configJsPath();
    if (!fileExists(path)) return std::optional<Text>();
    Outcome<Text> name = readConfigItem(path, sysText("单位"), sysText("名称"));
    if (!name) return name.problem();
    return std::optional<Text>(std::move(*name));
}

Outcome<void> saveEmployerName(const Text& name) {
    return writeConfigItem(configJsPath(), sysText("单位"), sysText("名称"), name);
}

Text descriptionText(double now) {
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
