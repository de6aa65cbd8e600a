#include "engine/withholding_table.h"

#include "base/files.h"
#include "engine/amount.h"
#include "engine/bracket_table.h"
#include "engine/text_table.h"
#include "resources/resources.h"

#include <algorithm>
#include <string>

namespace iit::engine {

const TaxBand* findBand(const std::vector<TaxBand>& bands, const Exact& v) {
    for (const TaxBand& band : bands)
        if (!band.upper || v <= *band.upper) return &band;
    return nullptr;
}

WithholdingTables::WithholdingTables(std::vector<WithholdingTable> tables)
    : m_tables(std::move(tables)) {
    std::sort(m_tables.begin(), m_tables.end(),
              [](const WithholdingTable& a, const WithholdingTable& b) {
                  return a.fromYear < b.fromYear;
              });
}

const WithholdingTable* WithholdingTables::forYear(int year) const {
    const WithholdingTable* found = nullptr;
    for (const WithholdingTable& t : m_tables)
        if (t.fromYear <= year) found = &t;
    return found;
}

namespace {

std::optional<int> parseYear(std::string_view s) {
    if (s.empty() || s.size() > 4) return std::nullopt;
    int y = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        y = y * 10 + (c - '0');
    }
    return y;
}

// Bands that start at 0, follow each other without a gap, rise, and keep the rate below 100 %.
const char* checkBands(const std::vector<TaxBand>& bands) {
    if (bands.empty()) return "没有税率级距";
    if (!bands.front().lower.isZero()) return "第一级下限应为0";
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const TaxBand& b = bands[i];
        if (!(b.ratePercent < Exact(100))) return "税率应小于100";
        if (b.upper && !(*b.upper > b.lower)) return "上限应大于下限";
        if (i + 1 < bands.size()) {
            if (!b.upper) return "只有最后一级可以没有上限";
            if (!(bands[i + 1].lower == *b.upper)) return "级距应首尾相接";
        }
    }
    return nullptr;
}

} // namespace

Outcome<WithholdingTables> parseWithholdingTables(std::string_view text) {
    std::vector<WithholdingTable> tables;
    int tableLine = 0;
    auto finish = [&]() -> std::optional<Problem> {
        if (tables.empty()) return std::nullopt;
        const WithholdingTable& t = tables.back();
        if (const char* why = checkBands(t.bands)) return lineProblem(tableLine, why);
        if (t.basicDeduction.isZero()) return lineProblem(tableLine, "缺少每月减除费用");
        return std::nullopt;
    };
    for (const TextTableLine& l : textTableLines(text)) {
        const int lineNo = l.number;
        const std::vector<std::string_view>& w = l.words;
        if (w[0] == "table") {
            if (std::optional<Problem> p = finish()) return *p;
            const std::optional<int> year = w.size() == 2 ? parseYear(w[1]) : std::nullopt;
            if (!year || *year < 1980) return lineProblem(lineNo, "年份不对");
            for (const WithholdingTable& t : tables)
                if (t.fromYear == *year) return lineProblem(lineNo, "年份重复");
            tables.push_back(WithholdingTable{});
            tables.back().fromYear = *year;
            tableLine = lineNo;
            continue;
        }
        if (tables.empty()) return lineProblem(lineNo, "应先写 table 年份");
        WithholdingTable& t = tables.back();
        if (w[0] == "basic-deduction" || w[0] == "annual-deduction") {
            const std::optional<Exact> v = w.size() == 2 ? nonNegativeFigure(w[1]) : std::nullopt;
            if (!v) return lineProblem(lineNo, "金额不对");
            (w[0] == "basic-deduction" ? t.basicDeduction : t.annualDeduction) = *v;
        } else if (w[0] == "bonus-separate-until") {
            const std::optional<int> year = w.size() == 2 ? parseYear(w[1]) : std::nullopt;
            if (!year) return lineProblem(lineNo, "年份不对");
            t.bonusSeparateUntil = *year;
        } else if (w[0] == "band") {
            if (w.size() != 5) return lineProblem(lineNo, "级距应有下限、上限、税率和速算扣除数");
            const std::optional<Exact> lower = nonNegativeFigure(w[1]);
            const std::optional<Exact> rate = nonNegativeFigure(w[3]);
            const std::optional<Exact> quick = nonNegativeFigure(w[4]);
            std::optional<Exact> upper;
            if (w[2] != "-") {
                upper = nonNegativeFigure(w[2]);
                if (!upper) return lineProblem(lineNo, "上限不对");
            }
            if (!lower || !rate || !quick) return lineProblem(lineNo, "数字不对");
            t.bands.emplace_back(*lower, upper, *rate, *quick);
        } else {
            return lineProblem(lineNo, "无法识别");
        }
    }
    if (std::optional<Problem> p = finish()) return *p;
    if (tables.empty()) return fail(sysText("预扣率表是空的"));
    return WithholdingTables(std::move(tables));
}

std::string formatWithholdingTables(const WithholdingTables& tables) {
    const auto figure = [](const Exact& v) { return ToText(v).bytes(); }; // ASCII digits
    std::string out;
    for (const WithholdingTable& t : tables.tables()) {
        out += "table " + std::to_string(t.fromYear) + "\nbasic-deduction " +
               figure(t.basicDeduction) + "\nannual-deduction " + figure(t.annualDeduction) +
               "\nbonus-separate-until " + std::to_string(t.bonusSeparateUntil) + "\n";
        for (const TaxBand& b : t.bands)
            out += "band " + figure(b.lower) + " " + (b.upper ? figure(*b.upper) : "-") + " " +
                   figure(b.ratePercent) + " " + figure(b.quickDeduction) + "\n";
    }
    return out;
}

const WithholdingTables& defaultWithholdingTables() {
    static const WithholdingTables tables = [] {
        Outcome<WithholdingTables> t = parseWithholdingTables(resources::defaultWithholdingTable());
        return t ? std::move(*t) : WithholdingTables{};
    }();
    return tables;
}

std::filesystem::path withholdingTablePath() {
    return joinPath(programDirectory(), kWithholdingTableFileName);
}

Outcome<WithholdingTables> loadWithholdingTables(const std::filesystem::path& path) {
    if (!fileExists(path)) {
        if (const Outcome<void> written =
                replaceFileAtomically(path, resources::defaultWithholdingTable());
            !written)
            return fail(sysText("预扣率表文件无法写入：") + displayPath(path) + sysText("，") +
                        written.problem().message);
    }
    const Outcome<std::string> content = readFileBounded(path, 1 << 20);
    if (!content)
        return fail(sysText("预扣率表文件无法读取：") + displayPath(path) + sysText("，") +
                    content.problem().message);
    Outcome<WithholdingTables> tables = parseWithholdingTables(*content);
    if (!tables)
        return fail(sysText("预扣率表文件有误：") + displayPath(path) + sysText("，") +
                    tables.problem().message);
    return tables;
}

Outcome<std::vector<TaxBand>> monthlyWageBands(const BracketTable& table) {
    std::vector<TaxBand> bands;
    for (std::int32_t r = 1; r <= table.recordCount(); ++r) {
        const std::optional<Exact>& lower = table.exact(r, 2);
        const std::optional<Exact>& upper = table.exact(r, 3);
        const std::optional<Exact>& rate = table.exact(r, 4);
        const std::optional<Exact>& quick = table.exact(r, 5);
        if (!lower || !upper || !rate || !quick) return fail(sysText("税率表的薪金级距不是数字"));
        if (lower->isZero() && upper->isZero()) continue; // a record not in use
        auto inFen = [](const Exact& v) {
            const std::optional<std::int64_t> fen = toFen(v);
            return fen ? fromFen(*fen) : v;
        };
        bands.emplace_back(inFen(*lower), inFen(*upper), *rate, inFen(*quick));
    }
    if (const char* why = checkBands(bands))
        return fail(sysText("税率表的薪金级距有误：") + sysText(why));
    return bands;
}

} // namespace iit::engine
