#include "ledger/pay_slips.h"

#include "ledger/month_cells.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <set>

namespace iit::ledger {
namespace {

using Value = std::function<std::optional<Exact>(const MonthLine&)>;

struct Candidate {
    const char* caption;
    Value value;
    bool always = false; // shown even where no employee of the month has it
};

// The year's wages received and the tax withheld on them through the month.
Exact withheldThrough(const MonthLine& l) {
    return l.withheldBefore + l.withholding;
}

} // namespace

Text slipTitle(const Text& employer, int year, int month) {
    const Text period = Text::fromBytes(std::to_string(year)) + sysText("年") +
                        Text::fromBytes(std::to_string(month)) + sysText("月工资条");
    return employer.empty() ? period : employer + sysText("　") + period;
}

PaySlips paySlips(const MonthView& view) {
    PaySlips slips;
    slips.year = view.year;
    slips.month = view.month;
    std::vector<Candidate> candidates = {
        {"本月收入", [](const MonthLine& l) { return l.entry.income; }, true},
        {"全年一次性奖金", [](const MonthLine& l) { return l.entry.bonus; }},
        {"免税收入", [](const MonthLine& l) { return l.entry.taxFree; }},
    };
    // Each item where it is itemised; a group's sum where it is given alone.
    const std::vector<Text> itemNames = itemColumns();
    for (std::size_t i = 0; i < kItems; ++i) {
        const ItemGroup group = kItemInfo[i].group;
        if (i == 0 || kItemInfo[i - 1].group != group) {
            const char* sum = group == ItemGroup::Special             ? "专项扣除"
                              : group == ItemGroup::SpecialAdditional ? "专项附加扣除"
                                                                      : "其他扣除";
            candidates.push_back({sum, [group](const MonthLine& l) -> std::optional<Exact> {
                                      if (l.entry.itemised & groupBit(group)) return std::nullopt;
                                      return group == ItemGroup::Special ? l.entry.special
                                             : group == ItemGroup::SpecialAdditional
                                                 ? l.entry.specialAdditional
                                                 : l.entry.other;
                                  }});
        }
        candidates.push_back(
            {kItemInfo[i].column, [i](const MonthLine& l) { return itemAmount(l, i); }});
    }
    candidates.push_back({"准予扣除的捐赠额", [](const MonthLine& l) { return l.entry.donation; }});
    candidates.push_back({"减免税额", [](const MonthLine& l) { return l.entry.relief; }});
    candidates.push_back(
        {"本月应预扣个税", [](const MonthLine& l) { return l.withholding; }, true});
    candidates.push_back({"奖金税额", [](const MonthLine& l) { return l.bonusTax; }});
    candidates.push_back({"实发", [](const MonthLine& l) { return l.afterTax; }, true});
    candidates.push_back(
        {"本年累计收入", [](const MonthLine& l) { return l.cumulativeIncome; }, true});
    candidates.push_back({"本年累计已预扣个税", withheldThrough, true});

    // The item captions are the sheets' names, the others the slip's own.
    std::vector<const Candidate*> shown;
    std::vector<Text> captions;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        const Candidate& k = candidates[c];
        bool any = k.always;
        for (const MonthLine& l : view.lines) {
            if (any) break;
            if (!l.entry.income) continue; // nothing computed yet
            const std::optional<Exact> v = k.value(l);
            any = v && !v->isZero();
        }
        if (!any) continue;
        Text caption = sysText(k.caption);
        for (std::size_t i = 0; i < kItems; ++i)
            if (std::string_view(k.caption) == kItemInfo[i].column) caption = itemNames[i];
        shown.push_back(&k);
        captions.push_back(std::move(caption));
    }
    const bool staffNumbers =
        std::any_of(view.lines.begin(), view.lines.end(),
                    [](const MonthLine& l) { return !l.employee.staffNumber.empty(); });
    slips.fields.push_back({sysText("姓名"), SlipField::Kind::Text});
    if (staffNumbers) slips.fields.push_back({sysText("工号"), SlipField::Kind::Text});
    for (Text& c : captions)
        slips.fields.push_back({std::move(c), SlipField::Kind::Amount});
    for (const MonthLine& l : view.lines) {
        std::vector<Text> row = {l.employee.name};
        if (staffNumbers) row.push_back(l.employee.staffNumber);
        for (const Candidate* k : shown) {
            const std::optional<Exact> v = l.entry.income ? k->value(l) : std::nullopt;
            row.push_back(v ? ToText(*v) : Text{});
        }
        slips.rows.push_back(std::move(row));
        slips.employees.push_back(l.employee);
    }
    return slips;
}

std::vector<std::filesystem::path> employeeFileNames(const std::vector<Employee>& employees,
                                                     std::string_view extension) {
    std::vector<std::filesystem::path> out;
    std::set<std::string> taken;
    for (const Employee& e : employees) {
        std::string stem = (e.staffNumber.empty() ? e.name : e.staffNumber).toUtf8();
        for (char& c : stem)
            if (c == '/' || (static_cast<unsigned char>(c) < 0x20)) c = '_';
        if (stem.find_first_not_of('.') == std::string::npos) stem.insert(0, "_");
        // A file name holds at most 255 bytes: a long name is cut at a character's start.
        constexpr std::size_t kMost = 200;
        if (stem.size() > kMost) {
            std::size_t cut = kMost;
            while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
                --cut;
            stem.resize(cut);
        }
        std::string name = stem + std::string(extension);
        for (int n = 2; !taken.insert(name).second; ++n)
            name = stem + "-" + std::to_string(n) + std::string(extension);
        out.emplace_back(name);
    }
    return out;
}

} // namespace iit::ledger
