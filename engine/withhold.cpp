#include "engine/withhold.h"

#include "engine/payroll_row.h"

#include "engine/amount.h"
#include "engine/cumulative.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

namespace iit::engine {
namespace {

// The fields withhold reads: the eight of its documented order first, then those a header may
// add (the employee's document and options for the year, the month's relief).
constexpr PayrollField kFields[] = {PayrollField::Name,
                                    PayrollField::IdNumber,
                                    PayrollField::Month,
                                    PayrollField::Income,
                                    PayrollField::TaxFree,
                                    PayrollField::Special,
                                    PayrollField::SpecialAdditional,
                                    PayrollField::Other,
                                    PayrollField::IdType,
                                    PayrollField::Resident,
                                    PayrollField::FromJanuary,
                                    PayrollField::AnnualDeduction,
                                    PayrollField::Relief};
constexpr std::size_t kFieldCount = std::size(kFields);
enum Field : std::size_t {
    kName,
    kId,
    kMonth,
    kIncome,
    kTaxFree,
    kSpecial,
    kSpecialAdditional,
    kOther,
    kIdType,
    kResident,
    kFromJanuary,
    kAnnualDeduction,
    kRelief
};
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The columns of the fields: a header's, by any of their names in any order, or without one
// the documented order of the eight.
struct Columns {
    std::array<std::size_t, kFieldCount> of{};
    std::vector<std::string> unread; // header texts of columns that name no field

    static Columns documented() {
        Columns c;
        c.of.fill(kNone);
        for (std::size_t f = 0; f < kWithholdInputColumns; ++f)
            c.of[f] = f;
        return c;
    }
    // A header: a row naming at least two of the fields.
    static std::optional<Columns> header(const CellRow& row) {
        Columns c;
        c.of.fill(kNone);
        std::size_t named = 0;
        for (std::size_t col = 0; col < row.size(); ++col) {
            const std::optional<PayrollField> field = fieldNamed(row[col], kFields);
            if (!field) {
                if (!trimCell(row[col]).empty())
                    c.unread.push_back(std::string(trimCell(row[col])));
                continue;
            }
            const std::size_t f = static_cast<std::size_t>(
                std::find(std::begin(kFields), std::end(kFields), *field) - std::begin(kFields));
            if (c.of[f] != kNone) {
                c.unread.push_back(std::string(trimCell(row[col])));
                continue;
            }
            c.of[f] = col;
            ++named;
        }
        if (named < 2) return std::nullopt;
        return c;
    }
};

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
    // The options of the year, from the employee's first row.
    std::size_t firstRow = 0;
    bool resident = true;
    DeductionOptions options;
};

// The employees met so far, each found by the key of its number (identityKey, behind the type of
// a document other than an identity card). A year's sheet looks an
// employee up once a row, among memory that the rows themselves fill by the hundred megabytes:
// the index is a flat table of open addressing over keys kept side by side, a few hundred
// kilobytes for 10,000 employees, so that a lookup stays in the processor's cache.
class Employees {
public:
    // The employee of the key, added when new.
    Employee* find(std::string_view key) {
        m_key.assign(key);
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
    const BracketTable* bracket; // for non-residents
    Employees employees;
    Text errors;
    bool failed = false;
    bool first = true; // no row with any text yet
    Columns columns = Columns::documented();
    std::string key; // the employee's key, its room kept from row to row
};

WithholdPass::WithholdPass(TaxMode mode, const WithholdingTable& table, const BracketTable* bracket)
    : m_state(std::make_unique<State>(
          State{mode, table, bracket, {}, {}, false, true, Columns::documented(), {}})) {}
WithholdPass::~WithholdPass() = default;

bool WithholdPass::failed() const {
    return m_state->failed;
}

const Text& WithholdPass::problems() const {
    return m_state->errors;
}

const std::vector<std::string>& WithholdPass::unreadColumns() const {
    return m_state->columns.unread;
}

bool WithholdPass::takeHeader(const CellRow& row) {
    State& st = *m_state;
    if (!st.first || isBlank(row)) return false;
    st.first = false;
    std::optional<Columns> header = Columns::header(row);
    if (!header) return false;
    st.columns = std::move(*header);
    return true;
}

std::size_t WithholdPass::idColumn() const {
    return m_state->columns.of[kId];
}

bool WithholdPass::next(std::size_t number, const CellRow& row, CellRow& out) {
    static const Text kRow = sysText("第"), kRowEnd = sysText("行："), kSep = sysText("；");
    State& st = *m_state;
    if (isBlank(row)) return false;
    // The first row with any text may be the header (blank rows may stand above it).
    if (st.first && takeHeader(row)) return false;
    static const std::string empty;
    auto cell = [&](std::size_t f) -> const std::string& {
        const std::size_t c = st.columns.of[f];
        return c < row.size() ? row[c] : empty;
    };
    Text why;
    auto problem = [&](const Text& reason) {
        if (!why.empty()) why += kSep;
        why += reason;
    };
    // The employee: the number, under its document's type where the sheet gives one.
    identityKey(cell(kId), st.key);
    if (st.key.empty()) problem(sysText("身份证号为空"));
    const bool typed = !trimCell(cell(kIdType)).empty();
    if (typed) {
        Outcome<Text> type = identityTypeOf(cell(kIdType));
        if (!type)
            problem(type.problem().message);
        else if (*type != identityCardType())
            st.key = type->bytes() + '\x1f' + st.key;
    }
    Employee* const e = st.key.empty() ? nullptr : st.employees.find(st.key);
    const std::optional<int> month = parseMonth(cell(kMonth));
    if (!month) problem(sysText("月份应为1到12的整数"));
    MonthAmounts a;
    const std::pair<std::size_t, Exact*> fields[] = {
        {kIncome, &a.income},   {kTaxFree, &a.taxFree},
        {kSpecial, &a.special}, {kSpecialAdditional, &a.specialAdditional},
        {kOther, &a.other},     {kRelief, &a.relief}};
    for (const auto& [f, to] : fields) {
        Outcome<Exact> v = parseAmount(cell(f));
        if (v)
            *to = *v;
        else
            problem(sysText(fieldName(kFields[f])) + sysText("：") + v.problem().message);
    }
    // The options of the year: the employee's first row says them, a later one may repeat them.
    bool resident = true;
    DeductionOptions options;
    const auto yesNo = [&](std::size_t f, bool fallback) {
        const std::string_view text = trimCell(cell(f));
        if (text.empty()) return fallback;
        const std::optional<bool> v = f == kResident ? residentFromText(text) : yesNoFromText(text);
        if (!v) problem(f == kResident ? residentRefusal() : yesNoRefusal(kFields[f]));
        return v.value_or(fallback);
    };
    const bool known = e && e->firstRow != 0;
    resident = yesNo(kResident, known ? e->resident : true);
    options.fromJanuary = yesNo(kFromJanuary, known && e->options.fromJanuary);
    options.annualDeduction = yesNo(kAnnualDeduction, known && e->options.annualDeduction);
    if (known && (resident != e->resident || options.fromJanuary != e->options.fromJanuary ||
                  options.annualDeduction != e->options.annualDeduction))
        problem(sysText("居民身份和减除费用选项一年只有一个，此人第") +
                Text::fromBytes(std::to_string(e->firstRow)) + sysText("行已定"));
    if (!known && month)
        if (Outcome<void> ok = checkDeductionOptions(options, *month); !ok)
            problem(ok.problem().message);
    if (!resident && !st.bracket) problem(sysText("非居民个人需要税率表"));
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
    if (!known) {
        e->firstRow = number;
        e->resident = resident;
        e->options = options;
    }
    e->lastMonth = m;
    e->lastRow = number;
    if (st.failed) return false; // rows after a refusal are only checked
    out.resize(st.mode == TaxMode::Net ? 18 : 17);
    for (std::size_t c = 0; c < kWithholdInputColumns; ++c)
        out[c].assign(cell(c)); // into the storage the cell had
    if (!resident) {
        // Non-residents: the monthly method of the bracket table, without the cumulative figures.
        Outcome<MonthlyFigures> f = computeMonthly(*st.bracket, e->sums, m, a, st.mode);
        if (!f) {
            refuse(f.problem().message);
            return false;
        }
        const Exact before = e->sums.withheld;
        const Exact* const figures[] = {&f->after.income, nullptr,        nullptr, nullptr,
                                        nullptr,          nullptr,        &before, &f->withholding,
                                        &f->afterTax,     &f->grossIncome};
        for (std::size_t i = kWithholdInputColumns; i < out.size(); ++i) {
            const Exact* v = figures[i - kWithholdInputColumns];
            out[i] = v ? text(*v) : std::string();
        }
        e->sums = std::move(f->after);
        return true;
    }
    Outcome<CumulativeFigures> f = computeCumulative(st.table, e->sums, m, m, options, a, st.mode);
    if (!f) {
        refuse(f.problem().message);
        return false;
    }
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
                                       const WithholdingTable& table, const BracketTable* bracket) {
    WithholdPass pass(mode, table, bracket);
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
