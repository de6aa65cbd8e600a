#include "insurance/rules.h"

#include "base/convert.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/unicode.h"
#include "engine/text_table.h"
#include "resources/resources.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace iit::insurance {
namespace {

using engine::lineProblem;
using engine::nonNegativeFigure;
using engine::TextTableLine;

constexpr std::array<const char*, kColumns> kColumnNames = {"基本养老保险费", "基本医疗保险费",
                                                            "失业保险费", "住房公积金"};

std::optional<Rounding> roundingNamed(std::string_view word) {
    if (word == "fen") return Rounding::Fen;
    if (word == "yuan") return Rounding::Yuan;
    return std::nullopt;
}

const char* roundingWord(Rounding r) {
    return r == Rounding::Yuan ? "yuan" : "fen";
}

// "-" is a rate the notice at hand does not give.
std::optional<std::optional<Exact>> optionalRate(std::string_view word) {
    if (word == "-") return std::optional<Exact>();
    if (std::optional<Exact> v = nonNegativeFigure(word)) return std::optional<Exact>(*v);
    return std::nullopt;
}

std::optional<std::pair<int, int>> yearMonth(std::string_view word) {
    if (word.size() != 7 || word[4] != '-') return std::nullopt;
    int year = 0, month = 0;
    for (std::size_t i = 0; i < 7; ++i) {
        if (i == 4) continue;
        if (word[i] < '0' || word[i] > '9') return std::nullopt;
        (i < 4 ? year : month) = (i < 4 ? year : month) * 10 + (word[i] - '0');
    }
    if (month < 1 || month > 12) return std::nullopt;
    return std::pair(year, month);
}

// A rate in percent, from 0 to below 100, with at most four decimals (notices give two).
bool isRate(const Exact& rate) {
    return rate.sign() >= 0 && rate < Exact(100) && Round(rate, 4) == rate;
}

// An amount of whole fen.
bool isAmount(const Exact& amount) {
    return amount.sign() >= 0 && toFen(amount).has_value();
}

// A name the file can hold as one word.
bool isWord(const Text& name) {
    const std::string& b = name.bytes();
    return !b.empty() && std::none_of(b.begin(), b.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '#';
    });
}

Text sectionName(const CityRules& r) {
    char month[16];
    std::snprintf(month, sizeof month, "%04d年%d月起", r.fromYear, r.fromMonth);
    return r.city + sysText(month);
}

std::string figure(const Exact& v) {
    return ToText(v).bytes(); // ASCII digits
}

std::string optionalFigure(const std::optional<Exact>& v) {
    return v ? figure(*v) : "-";
}

// What the built-in file says before its first section: the explanation every saved file keeps.
std::string_view explanation() {
    const std::string_view text = resources::defaultInsuranceRules();
    const std::size_t first = text.find("\ncity ");
    return first == std::string_view::npos ? std::string_view{} : text.substr(0, first + 1);
}

} // namespace

const char* columnName(Column column) {
    return kColumnNames[static_cast<std::size_t>(column)];
}

std::optional<Column> columnNamed(std::string_view utf8) {
    for (std::size_t i = 0; i < kColumnNames.size(); ++i)
        if (utf8 == kColumnNames[i]) return static_cast<Column>(i);
    return std::nullopt;
}

int placesOf(Rounding rounding) {
    return rounding == Rounding::Yuan ? 0 : 2;
}

const CityRules* Rules::inForce(const Text& city, int year, int month) const {
    const CityRules* found = nullptr;
    for (const CityRules& r : m_sections)
        if (r.city == city && r.from() <= year * 100 + month &&
            (!found || r.from() > found->from()))
            found = &r;
    return found;
}

std::vector<Text> Rules::cities() const {
    std::vector<Text> out;
    for (const CityRules& r : m_sections)
        if (std::find(out.begin(), out.end(), r.city) == out.end()) out.push_back(r.city);
    return out;
}

Outcome<void> checkRules(const Rules& rules) {
    const std::vector<CityRules>& sections = rules.sections();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const CityRules& r = sections[i];
        const auto wrong = [&](const char* why) {
            return fail(sectionName(r) + sysText("的规则：") + sysText(why));
        };
        if (!isWord(r.city)) return fail(sysText("城市名称不能为空，也不能含空格或#"));
        if (r.fromYear < 1990 || r.fromYear > 9999 || r.fromMonth < 1 || r.fromMonth > 12)
            return wrong("起始年月不对");
        for (std::size_t j = 0; j < i; ++j)
            if (sections[j].city == r.city && sections[j].from() >= r.from())
                return wrong("同一城市的起始年月应逐段递增");
        if (r.source.empty() || r.source.bytes().find_first_of("#\r\n") != std::string::npos)
            return wrong("应注明依据的文件（不含#和换行）");
        for (const Exact* amount : {&r.baseFloor, &r.baseCeiling, &r.fundFloor, &r.fundCeiling})
            if (!isAmount(*amount)) return wrong("金额应为不小于0的整分数");
        if (!(r.baseFloor < r.baseCeiling)) return wrong("社保基数下限应低于上限");
        if (!(r.fundFloor < r.fundCeiling)) return wrong("公积金基数下限应低于上限");
        if (r.items.empty()) return wrong("没有险种");
        for (std::size_t k = 0; k < r.items.size(); ++k) {
            const InsuranceItem& item = r.items[k];
            if (!isWord(item.name)) return wrong("险种名称不能为空，也不能含空格或#");
            for (std::size_t m = 0; m < k; ++m)
                if (r.items[m].name == item.name) return wrong("险种名称重复");
            if (item.column == Column::HousingFund) return wrong("险种应计入三项社会保险之一");
            if ((item.employeeRate && !isRate(*item.employeeRate)) ||
                (item.employerRate && !isRate(*item.employerRate)))
                return wrong("费率应不小于0且小于100，至多四位小数");
            if (!isAmount(item.fixed)) return wrong("固定金额应为不小于0的整分数");
        }
        if (r.injuryRate && !isRate(*r.injuryRate))
            return wrong("工伤保险费率应不小于0且小于100，至多四位小数");
        if (!isRate(r.fundRateLowest) || !isRate(r.fundRateHighest) || !isRate(r.fundExtraLowest) ||
            !isRate(r.fundExtraHighest))
            return wrong("公积金比例应不小于0且小于100，至多四位小数");
        if (r.fundRateHighest < r.fundRateLowest || r.fundExtraHighest < r.fundExtraLowest)
            return wrong("公积金比例的下限应不高于上限");
    }
    return {};
}

Outcome<Rules> parseRules(std::string_view utf8) {
    if (!isValidUtf8(utf8)) return fail(sysText("文件不是UTF-8文字"));
    std::vector<CityRules> sections;
    std::vector<int> sectionLines;
    struct Seen {
        bool source = false, base = false, fundBase = false, fundRate = false;
    } seen;
    const auto finish = [&]() -> std::optional<Problem> {
        if (sections.empty()) return std::nullopt;
        if (!seen.source || !seen.base || !seen.fundBase || !seen.fundRate)
            return lineProblem(sectionLines.back(),
                               "城市的规则应有 source、base、fund-base 和 fund-rate 各一行");
        return std::nullopt;
    };
    for (const TextTableLine& l : engine::textTableLines(utf8)) {
        const std::vector<std::string_view>& w = l.words;
        const std::string_view key = w[0];
        const auto wrong = [&](std::string_view why) { return lineProblem(l.number, why); };
        if (key == "city") {
            if (std::optional<Problem> p = finish()) return *p;
            const auto from = w.size() == 3 ? yearMonth(w[2]) : std::nullopt;
            if (!from) return wrong("应为 city 城市 年-月（如 2026-07）");
            sections.push_back(CityRules{});
            sections.back().city = Text::fromUtf8(w[1]);
            sections.back().fromYear = from->first;
            sections.back().fromMonth = from->second;
            sectionLines.push_back(l.number);
            seen = {};
            continue;
        }
        if (sections.empty()) return wrong("应先写 city 城市 年-月");
        CityRules& r = sections.back();
        const auto pair = [&](Exact& low, Exact& high) -> std::optional<Problem> {
            if (w.size() != 3) return wrong("应有下限和上限");
            const std::optional<Exact> a = nonNegativeFigure(w[1]), b = nonNegativeFigure(w[2]);
            if (!a || !b) return wrong("数字不对");
            low = *a;
            high = *b;
            return std::nullopt;
        };
        if (key == "source") {
            if (w.size() < 2) return wrong("应注明依据的文件");
            r.source = Text::fromUtf8(l.from(1));
            seen.source = true;
        } else if (key == "base") {
            if (std::optional<Problem> p = pair(r.baseFloor, r.baseCeiling)) return *p;
            seen.base = true;
        } else if (key == "fund-base") {
            if (std::optional<Problem> p = pair(r.fundFloor, r.fundCeiling)) return *p;
            seen.fundBase = true;
        } else if (key == "fund-rate") {
            if (w.size() != 4) return wrong("应有最低比例、最高比例和取整方式");
            const std::optional<Exact> a = nonNegativeFigure(w[1]), b = nonNegativeFigure(w[2]);
            const std::optional<Rounding> rounding = roundingNamed(w[3]);
            if (!a || !b) return wrong("数字不对");
            if (!rounding) return wrong("取整方式应为 fen 或 yuan");
            r.fundRateLowest = *a;
            r.fundRateHighest = *b;
            r.fundRounding = *rounding;
            seen.fundRate = true;
        } else if (key == "fund-extra-rate") {
            if (std::optional<Problem> p = pair(r.fundExtraLowest, r.fundExtraHighest)) return *p;
        } else if (key == "injury") {
            const auto rate = w.size() == 2 ? optionalRate(w[1]) : std::nullopt;
            if (!rate) return wrong("应为 injury 费率（或 -）");
            r.injuryRate = *rate;
        } else if (key == "item") {
            if (w.size() != 7)
                return wrong(
                    "险种应有名称、计入的申报项目、个人费率、单位费率、固定金额和取整方式");
            InsuranceItem item;
            item.name = Text::fromUtf8(w[1]);
            const std::optional<Column> column = columnNamed(w[2]);
            if (!column || *column == Column::HousingFund)
                return wrong("计入的申报项目应为基本养老保险费、基本医疗保险费或失业保险费");
            item.column = *column;
            const auto employee = optionalRate(w[3]), employer = optionalRate(w[4]);
            const std::optional<Exact> fixed = nonNegativeFigure(w[5]);
            const std::optional<Rounding> rounding = roundingNamed(w[6]);
            if (!employee || !employer || !fixed) return wrong("数字不对");
            if (!rounding) return wrong("取整方式应为 fen 或 yuan");
            item.employeeRate = *employee;
            item.employerRate = *employer;
            item.fixed = *fixed;
            item.rounding = *rounding;
            r.items.push_back(std::move(item));
        } else {
            return wrong("无法识别");
        }
    }
    if (std::optional<Problem> p = finish()) return *p;
    if (sections.empty()) return fail(sysText("没有任何城市的规则"));
    Rules rules(std::move(sections));
    if (Outcome<void> checked = checkRules(rules); !checked) return checked.problem();
    return rules;
}

std::string formatRules(const Rules& rules) {
    std::string out(explanation());
    for (const CityRules& r : rules.sections()) {
        char month[16];
        std::snprintf(month, sizeof month, "%04d-%02d", r.fromYear, r.fromMonth);
        out += "\ncity " + r.city.toUtf8() + " " + month + "\n";
        out += "source " + r.source.toUtf8() + "\n";
        out += "base " + figure(r.baseFloor) + " " + figure(r.baseCeiling) + "\n";
        for (const InsuranceItem& item : r.items)
            out += "item " + item.name.toUtf8() + " " + columnName(item.column) + " " +
                   optionalFigure(item.employeeRate) + " " + optionalFigure(item.employerRate) +
                   " " + figure(item.fixed) + " " + roundingWord(item.rounding) + "\n";
        out += "injury " + optionalFigure(r.injuryRate) + "\n";
        out += "fund-base " + figure(r.fundFloor) + " " + figure(r.fundCeiling) + "\n";
        out += "fund-rate " + figure(r.fundRateLowest) + " " + figure(r.fundRateHighest) + " " +
               roundingWord(r.fundRounding) + "\n";
        out += "fund-extra-rate " + figure(r.fundExtraLowest) + " " + figure(r.fundExtraHighest) +
               "\n";
    }
    return out;
}

const Rules& defaultRules() {
    static const Rules rules = [] {
        Outcome<Rules> r = parseRules(resources::defaultInsuranceRules());
        return r ? std::move(*r) : Rules{};
    }();
    return rules;
}

std::filesystem::path rulesPath() {
    return joinPath(programDirectory(), kRulesFileName);
}

Outcome<LoadedRules> loadRules(const std::filesystem::path& path) {
    const auto writeDefault = [&]() -> Outcome<void> {
        if (Outcome<void> written = replaceFileAtomically(path, resources::defaultInsuranceRules());
            !written)
            return fail(sysText("社保公积金规则文件无法写入：") + displayPath(path) +
                        sysText("，") + written.problem().message);
        return {};
    };
    if (!fileExists(path))
        if (Outcome<void> w = writeDefault(); !w) return w.problem();
    const Outcome<std::string> content = readFileBounded(path, 1 << 20);
    if (!content && readFailureOf(content.problem()) != ReadFailure::TooLarge)
        return fail(sysText("社保公积金规则文件无法读取：") + displayPath(path) + sysText("，") +
                    content.problem().message);
    Outcome<Rules> rules = content ? parseRules(*content) : Outcome<Rules>(content.problem());
    if (rules) return LoadedRules{std::move(*rules), {}};
    // Not rules: kept under a new name, the built-in ones in its place.
    const std::filesystem::path aside = setAsideName(path, Now());
    std::error_code error;
    std::filesystem::rename(path, aside, error);
    if (error)
        return fail(sysText("社保公积金规则文件有误（") + rules.problem().message +
                    sysText("），且无法改名保存：") + displayPath(path));
    if (Outcome<void> w = writeDefault(); !w) return w.problem();
    return LoadedRules{defaultRules(), sysText("社保公积金规则文件有误（") +
                                           rules.problem().message + sysText("），已改名保存为") +
                                           displayPath(aside) + sysText("，并换用内置的规则。")};
}

Outcome<void> saveRules(const std::filesystem::path& path, const Rules& rules) {
    if (Outcome<void> checked = checkRules(rules); !checked) return checked;
    if (Outcome<void> written = replaceFileAtomically(path, formatRules(rules)); !written)
        return fail(sysText("社保公积金规则文件无法写入：") + displayPath(path) + sysText("，") +
                    written.problem().message);
    return {};
}

} // namespace iit::insurance
