#include "engine/withhold.h"

#include "engine/payroll_row.h"

#include "engine/amount.h"
#include "engine/cumulative.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string_view>
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
    const CellRow& names = withholdInputHeader();
    if (row.size() < names.size()) return false;
    for (std::size_t c = 0; c < names.size(); ++c)
        if (withoutSpaces(row[c]) != names[c]) return false;
    return true;
}

bool isBlank(const CellRow& row) {
    for (const std::string& cell : row)
        if (!trimCell(cell).empty()) return false;
    return true;
}

std::optional<int> parseMonth(std::string_view cell) {
    cell = trimCell(cell);
    if (cell.empty() || cell.size() > 2) return std::nullopt;
    int m = 0;
    for (char c : cell) {
        if (c < '0' || c > '9') return std::nullopt;
        m = m * 10 + (c - '0');
    }
    if (m < 1 || m > 12) return std::nullopt;
    return m;
}

std::string text(const Exact& v) {
    return std::move(ToText(v).bytes()); // digits, sign and point: the same bytes in UTF-8
}

struct Employee {
    YearToDate sums;
    int lastMonth = 0;
    std::size_t lastRow = 0;
};

// The employees met so far, each found by the key of its number: the number without spaces
// around it, its letters (the check letter X, a passport's) in capitals. A year's sheet looks an
// employee up once a row, among memory that the rows themselves fill by the hundred megabytes:
// the index is a flat table of open addressing over keys kept side by side, a few hundred
// kilobytes for 10,000 employees, so that a lookup stays in the processor's cache.
class Employees {
public:
    // The employee of the id cell, added when new; null when the cell holds no number.
    Employee* find(std::string_view cell) {
        identityKey(cell, m_key);
        if (m_key.empty()) return nullptr;
        const std::size_t hash = std::hash<std::string_view>{}(m_key);
        if ((m_keys.size() + 1) * 2 > m_slots.size()) grow();
        for (std::size_t i = hash & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            const std::uint32_t slot = m_slots[i];
            if (slot == 0) {
                m_keys.push_back(Key{hash, m_arena.size(), m_key.size()});
                m_arena += m_key;
                m_employees.emplace_back();
                m_slots[i] = static_cast<std::uint32_t>(m_keys.size());
                return &m_employees.back();
            }
            const Key& k = m_keys[slot - 1];
            if (k.hash == hash && std::string_view(m_arena).substr(k.offset, k.size) == m_key)
                return &m_employees[slot - 1];
        }
    }

private:
    struct Key {
        std::size_t hash, offset, size;
    };
    void grow() {
        std::vector<std::uint32_t> slots(std::max<std::size_t>(m_slots.size() * 2, 1024));
        for (std::size_t n = 0; n < m_keys.size(); ++n) {
            std::size_t i = m_keys[n].hash & (slots.size() - 1);
            while (slots[i] != 0)
                i = (i + 1) & (slots.size() - 1);
            slots[i] = static_cast<std::uint32_t>(n + 1);
        }
        m_slots = std::move(slots);
    }

    std::vector<std::uint32_t> m_slots; // 1 + the index of a key, 0 for none; at most half full
    std::vector<Key> m_keys;
    std::string m_arena;              // the keys' bytes, one after another
    std::deque<Employee> m_employees; // by the index of their key; stable addresses
    std::string m_key;                // the key looked up, kept for its buffer
};

} // namespace

const CellRow& withholdInputHeader() {
    static const CellRow names = {
        "姓名",         "身份证号",         "月份",        "本月收入", "本月免税收入",
        "本月专项扣除", "本月专项附加扣除", "本月其他扣除"};
    return names;
}

CellRow withholdOutputHeader(TaxMode mode) {
    CellRow names = withholdInputHeader();
    for (const char* name : {"累计收入", "累计减除费用", "累计应纳税所得额", "预扣率", "速算扣除数",
                             "累计应纳税额", "累计已预扣", "本月应预扣", "实发"})
        names.emplace_back(name);
    if (mode == TaxMode::Net) names.emplace_back("本月税前收入");
    return names;
}

struct WithholdPass::State {
    TaxMode mode;
    const WithholdingTable& table;
    Employees employees;
    Text errors;
    bool failed = false;
    bool first = true; // no row with any text yet
};

WithholdPass::WithholdPass(TaxMode mode, const WithholdingTable& table)
    : m_state(std::make_unique<State>(State{mode, table, {}, {}, false, true})) {}
WithholdPass::~WithholdPass() = default;

bool WithholdPass::failed() const {
    return m_state->failed;
}

const Text& WithholdPass::problems() const {
    return m_state->errors;
}

bool WithholdPass::next(std::size_t number, const CellRow& row, CellRow& out) {
    static const Text kRow = sysText("第"), kRowEnd = sysText("行："), kSep = sysText("；");
    State& st = *m_state;
    const CellRow& names = withholdInputHeader();
    if (isBlank(row)) return false;
    // The first row with any text may be the header (blank rows may stand above it).
    if (std::exchange(st.first, false) && isHeader(row)) return false;
    static const std::string empty;
    auto cell = [&](std::size_t c) -> const std::string& {
        return c < row.size() ? row[c] : empty;
    };
    Text why;
    auto problem = [&](const Text& reason) {
        if (!why.empty()) why += kSep;
        why += reason;
    };
    Employee* const e = st.employees.find(cell(kId));
    if (!e) problem(sysText("身份证号为空"));
    const std::optional<int> month = parseMonth(cell(kMonth));
    if (!month) problem(sysText("月份应为1到12的整数"));
    MonthAmounts a;
    Exact* const fields[] = {&a.income, &a.taxFree, &a.special, &a.specialAdditional, &a.other};
    for (std::size_t c = kIncome; c <= kOther; ++c) {
        Outcome<Exact> v = parseAmount(cell(c));
        if (v)
            *fields[c - kIncome] = *v;
        else
            problem(Text::fromUtf8(names[c]) + sysText("：") + v.problem().message);
    }
    if (e && month && e->lastMonth >= *month)
        problem(sysText("月份应逐行递增，此人第") + Text::fromBytes(std::to_string(e->lastRow)) +
                sysText("行已是") + Text::fromBytes(std::to_string(e->lastMonth)) + sysText("月"));
    auto refuse = [&](const Text& reason) {
        if (!st.errors.empty()) st.errors += Text::fromBytes("\n");
        st.errors += kRow + Text::fromBytes(std::to_string(number)) + kRowEnd + reason;
        st.failed = true;
    };
    if (!why.empty()) {
        refuse(why);
        if (e && month && *month > e->lastMonth) {
            e->lastMonth = *month;
            e->lastRow = number;
        }
        return false;
    }
    const int m = *month;
    e->lastMonth = m;
    e->lastRow = number;
    if (st.failed) return false; // rows after a refusal are only checked
    Outcome<CumulativeFigures> f =
        computeCumulative(st.table, e->sums, m, m, DeductionOptions{}, a, st.mode);
    if (!f) {
        refuse(f.problem().message);
        return false;
    }
    out.resize(st.mode == TaxMode::Net ? 18 : 17);
    for (std::size_t c = 0; c < kWithholdInputColumns; ++c)
        out[c].assign(cell(c)); // into the storage the cell had
    const Exact* const figures[] = {&f->after.income,   &f->after.basicDeduction, &f->taxable,
                                    &f->ratePercent,    &f->quickDeduction,       &f->tax,
                                    &f->withheldBefore, &f->withholding,          &f->afterTax,
                                    &f->grossIncome};
    for (std::size_t i = kWithholdInputColumns; i < out.size(); ++i)
        out[i] = text(*figures[i - kWithholdInputColumns]);
    e->sums = std::move(f->after);
    return true;
}

Outcome<std::vector<CellRow>> withhold(const std::vector<CellRow>& rows, TaxMode mode,
                                       const WithholdingTable& table) {
    WithholdPass pass(mode, table);
    std::vector<CellRow> out;
    out.reserve(rows.size());
    CellRow o;
    for (std::size_t r = 0; r < rows.size(); ++r)
        if (pass.next(r + 1, rows[r], o)) out.push_back(std::move(o));
    if (pass.failed()) return fail(pass.problems());
    return out;
}

Outcome<BonusFigures> bonusForText(const BracketTable& table, std::string_view utf8Amount) {
    Outcome<Exact> bonus = parseAmount(utf8Amount);
    if (!bonus) return fail(sysText("奖金") + sysText("：") + bonus.problem().message);
    Outcome<std::vector<TaxBand>> bands = monthlyWageBands(table);
    if (!bands) return bands.problem();
    return computeSeparateBonus(*bands, *bonus);
}

} // namespace iit::engine
