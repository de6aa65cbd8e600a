#include "engine/withhold.h"

#include "engine/amount.h"
#include "engine/cumulative.h"

#include <unordered_map>
#include <utility>

namespace iit::engine {
namespace {

enum Column { kName, kId, kMonth, kIncome, kTaxFree, kSpecial, kSpecialAdditional, kOther };

std::string withoutSpaces(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::string_view rest = s.substr(i);
        if (rest[0] == ' ' || rest[0] == '\t' || rest[0] == '\r' || rest[0] == '\n') {
            ++i;
        } else if (rest.substr(0, 2) == "\xC2\xA0") {
            i += 2;
        } else if (rest.substr(0, 3) == "\xE3\x80\x80") {
            i += 3;
        } else {
            out.push_back(rest[0]);
            ++i;
        }
    }
    return out;
}

bool isHeader(const CellRow& row) {
    const CellRow& names = WithholdInputHeader();
    if (row.size() < names.size()) return false;
    for (std::size_t c = 0; c < names.size(); ++c)
        if (withoutSpaces(row[c]) != names[c]) return false;
    return true;
}

bool isBlank(const CellRow& row) {
    for (const std::string& cell : row)
        if (!TrimCell(cell).empty()) return false;
    return true;
}

std::optional<int> parseMonth(std::string_view cell) {
    cell = TrimCell(cell);
    if (cell.empty() || cell.size() > 2) return std::nullopt;
    int m = 0;
    for (char c : cell) {
        if (c < '0' || c > '9') return std::nullopt;
        m = m * 10 + (c - '0');
    }
    if (m < 1 || m > 12) return std::nullopt;
    return m;
}

// The employee's key: the number without spaces around it, its letters (the check letter X,
// a passport's) in capitals.
std::string idKey(std::string_view cell) {
    std::string key(TrimCell(cell));
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

std::string text(const Exact& v) {
    return std::move(ToText(v).bytes()); // digits, sign and point: the same bytes in UTF-8
}

struct Employee {
    YearToDate sums;
    int lastMonth = 0;
    std::size_t lastRow = 0;
};

} // namespace

const CellRow& WithholdInputHeader() {
    static const CellRow names = {
        "姓名",         "身份证号",         "月份",        "本月收入", "本月免税收入",
        "本月专项扣除", "本月专项附加扣除", "本月其他扣除"};
    return names;
}

CellRow WithholdOutputHeader(TaxMode mode) {
    CellRow names = WithholdInputHeader();
    for (const char* name : {"累计收入", "累计减除费用", "累计应纳税所得额", "预扣率", "速算扣除数",
                             "累计应纳税额", "累计已预扣", "本月应预扣", "实发"})
        names.emplace_back(name);
    if (mode == TaxMode::Net) names.emplace_back("本月税前收入");
    return names;
}

Outcome<std::vector<CellRow>> Withhold(const std::vector<CellRow>& rows, TaxMode mode,
                                       const WithholdingTable& table) {
    static const Text kRow = sysText("第"), kRowEnd = sysText("行："), kSep = sysText("；");
    const CellRow& names = WithholdInputHeader();
    std::vector<CellRow> out;
    out.reserve(rows.size());
    std::unordered_map<std::string, Employee> employees;
    Text errors;
    bool failed = false;
    const std::string empty;

    bool first = true;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const CellRow& row = rows[r];
        if (isBlank(row)) continue;
        // The first row with any text may be the header (blank rows may stand above it).
        if (std::exchange(first, false) && isHeader(row)) continue;
        auto cell = [&](std::size_t c) -> const std::string& {
            return c < row.size() ? row[c] : empty;
        };
        Text why;
        auto problem = [&](const Text& reason) {
            if (!why.empty()) why += kSep;
            why += reason;
        };
        const std::string key = idKey(cell(kId));
        if (key.empty()) problem(sysText("身份证号为空"));
        const std::optional<int> month = parseMonth(cell(kMonth));
        if (!month) problem(sysText("月份应为1到12的整数"));
        MonthAmounts a;
        Exact* const fields[] = {&a.income, &a.taxFree, &a.special, &a.specialAdditional, &a.other};
        for (std::size_t c = kIncome; c <= kOther; ++c) {
            Outcome<Exact> v = ParseAmount(cell(c));
            if (v)
                *fields[c - kIncome] = *v;
            else
                problem(Text::fromUtf8(names[c]) + sysText("：") + v.problem().message);
        }
        Employee* e = nullptr;
        if (!key.empty()) {
            e = &employees[key];
            if (month && e->lastMonth >= *month)
                problem(sysText("月份应逐行递增，此人第") +
                        Text::fromBytes(std::to_string(e->lastRow)) + sysText("行已是") +
                        Text::fromBytes(std::to_string(e->lastMonth)) + sysText("月"));
        }
        if (!why.empty()) {
            if (!errors.empty()) errors += Text::fromBytes("\n");
            errors += kRow + Text::fromBytes(std::to_string(r + 1)) + kRowEnd + why;
            failed = true;
            if (e && month && *month > e->lastMonth) {
                e->lastMonth = *month;
                e->lastRow = r + 1;
            }
            continue;
        }
        const int m = *month;
        if (!failed) {
            Outcome<CumulativeFigures> f =
                ComputeCumulative(table, e->sums, m, m, DeductionOptions{}, a, mode);
            if (!f) {
                if (!errors.empty()) errors += Text::fromBytes("\n");
                errors +=
                    kRow + Text::fromBytes(std::to_string(r + 1)) + kRowEnd + f.problem().message;
                failed = true;
            } else {
                CellRow o;
                o.reserve(mode == TaxMode::Net ? 18 : 17);
                for (std::size_t c = 0; c < kWithholdInputColumns; ++c)
                    o.push_back(cell(c));
                o.push_back(text(f->after.income));
                o.push_back(text(f->after.basicDeduction));
                o.push_back(text(f->taxable));
                o.push_back(text(f->ratePercent));
                o.push_back(text(f->quickDeduction));
                o.push_back(text(f->tax));
                o.push_back(text(f->withheldBefore));
                o.push_back(text(f->withholding));
                o.push_back(text(f->afterTax));
                if (mode == TaxMode::Net) o.push_back(text(f->grossIncome));
                out.push_back(std::move(o));
                e->sums = std::move(f->after);
            }
        }
        e->lastMonth = m;
        e->lastRow = r + 1;
    }
    if (failed) return fail(std::move(errors));
    return out;
}

Outcome<BonusFigures> BonusForText(const BracketTable& table, std::string_view utf8Amount) {
    Outcome<Exact> bonus = ParseAmount(utf8Amount);
    if (!bonus) return fail(sysText("奖金") + sysText("：") + bonus.problem().message);
    Outcome<std::vector<TaxBand>> bands = MonthlyWageBands(table);
    if (!bands) return bands.problem();
    return ComputeSeparateBonus(*bands, *bonus);
}

} // namespace iit::engine
