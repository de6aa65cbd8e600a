#include "ledger/declaration.h"

#include "base/convert.h"
#include "base/identity_card.h"
#include "engine/amount.h"
#include "ledger/book.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;

namespace {

constexpr DeclarationColumn kWages[] = {{"工号", false},
                                        {"*姓名", false},
                                        {"*证件类型", false},
                                        {"*证件号码", false},
                                        {"本期收入", true},
                                        {"本期免税收入", true},
                                        {"基本养老保险费", true},
                                        {"基本医疗保险费", true},
                                        {"失业保险费", true},
                                        {"住房公积金", true},
                                        {"累计子女教育", true},
                                        {"累计继续教育", true},
                                        {"累计住房贷款利息", true},
                                        {"累计住房租金", true},
                                        {"累计赡养老人", true},
                                        {"累计3岁以下婴幼儿照护", true},
                                        {"累计个人养老金", true},
                                        {"企业(职业)年金", true},
                                        {"商业健康保险", true},
                                        {"税延养老保险", true},
                                        {"公务交通费用", true},
                                        {"通讯费用", true},
                                        {"律师办案费用", true},
                                        {"西藏附加减除费用", true},
                                        {"其他", true},
                                        {"准予扣除的捐赠额", true},
                                        {"减免税额", true},
                                        {"协定减免", true},
                                        {"备注", false}};

constexpr DeclarationColumn kBonuses[] = {{"工号", false},
                                          {"*姓名", false},
                                          {"*证件类型", false},
                                          {"*证件号码", false},
                                          {"*全年一次性奖金额", true},
                                          {"免税收入", true},
                                          {"其他", true},
                                          {"准予扣除的捐赠额", true},
                                          {"减免税额", true},
                                          {"协定减免", true},
                                          {"备注", false}};

constexpr DeclarationColumn kDetails[] = {{"工号", false},
                                          {"*姓名", false},
                                          {"*证件类型", false},
                                          {"*证件号码", false},
                                          {"*国籍(地区)", false},
                                          {"*性别", false},
                                          {"*出生日期", false},
                                          {"是否高级专家", false},
                                          {"*任职受雇从业类型", false},
                                          {"其他情况说明", false},
                                          {"入职年度就业情形", false},
                                          {"手机号码", false},
                                          {"任职受雇从业日期", false},
                                          {"离职日期", false},
                                          {"是否离职后补发工资", false},
                                          {"实际补发工资的月份", false},
                                          {"是否残疾", false},
                                          {"是否烈属", false},
                                          {"是否孤老", false},
                                          {"残疾证件类型", false},
                                          {"残疾证号", false},
                                          {"烈属证号", false},
                                          {"是否扣除减除费用", false},
                                          {"个人投资额", true},
                                          {"个人投资比例(%)", false},
                                          {"备注", false},
                                          {"中文名", false},
                                          {"涉税事由", false},
                                          {"出生国家(地区)", false},
                                          {"首次入境时间", false},
                                          {"预计离境时间", false},
                                          {"其他证件类型", false},
                                          {"其他证件号码", false},
                                          {"户籍所在地（省）", false},
                                          {"户籍所在地（市）", false},
                                          {"户籍所在地（区县）", false},
                                          {"户籍所在地（详细地址）", false},
                                          {"经常居住地（省）", false},
                                          {"经常居住地（市）", false},
                                          {"经常居住地（区县）", false},
                                          {"经常居住地（详细地址）", false},
                                          {"联系地址（省）", false},
                                          {"联系地址（市）", false},
                                          {"联系地址（区县）", false},
                                          {"联系地址（详细地址）", false},
                                          {"电子邮箱", false},
                                          {"学历", false},
                                          {"开户银行", false},
                                          {"银行账号", false},
                                          {"开户行省份", false},
                                          {"职务", false}};

// The column's position, by its name without the mark.
template <std::size_t N>
std::size_t columnOf(const DeclarationColumn (&columns)[N], std::string_view name) {
    for (std::size_t i = 0; i < N; ++i) {
        std::string_view n = columns[i].name;
        if (n.front() == '*') n.remove_prefix(1);
        if (n == name) return i;
    }
    std::abort(); // a name of this file's own lists
}

Text fen(std::int64_t v) {
    return ToText(engine::fromFen(v));
}

Text date(int yyyymmdd) {
    return Text::fromUtf8(engine::dateText(yyyymmdd));
}

int lastDay(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The words the files repeat in every row, converted once.
struct Words {
    std::array<Text, std::size(kEmploymentTypeNames)> types;
    std::array<Text, std::size(kFirstJobNames)> firstJobs;
    Text china = sysText("中国"), male = sysText("男"), female = sysText("女"), yes = sysText("是");
};
const Words& words() {
    static const Words w = [] {
        Words out;
        for (std::size_t i = 0; i < out.types.size(); ++i)
            out.types[i] = sysText(kEmploymentTypeNames[i]);
        for (std::size_t i = 0; i < out.firstJobs.size(); ++i)
            out.firstJobs[i] = sysText(kFirstJobNames[i]);
        return out;
    }();
    return w;
}

// The details whose change the client is told of by the people's file, as one text.
Text declaredDetails(const Employee& e) {
    const Text tab = Text::fromBytes("\t");
    return e.phone + tab + words().types[static_cast<std::size_t>(e.type)] + tab + e.key.idType +
           tab + e.key.idNumber;
}

// A row ends at its last cell with something in it.
void trim(std::vector<Text>& row) {
    while (!row.empty() && row.back().empty())
        row.pop_back();
}

// The first columns of every file: 工号, 姓名, 证件类型, 证件号码.
template <class Row> void identify(Row& row, const Employee& e) {
    row[0] = e.staffNumber;
    row[1] = e.name;
    row[2] = e.key.idType;
    row[3] = e.key.idNumber;
}

// The employee's row of 人员信息采集; what the client requires and the ledger lacks is noted.
std::vector<Text> detailRow(const Employee& e, int year, std::optional<int> countingMonth,
                            std::vector<Text>& notes) {
    // 是否扣除减除费用 is the last cell given but for 银行账号.
    std::vector<Text> row(columnOf(kDetails, e.bankCard.empty() ? "是否扣除减除费用" : "银行账号") +
                          1);
    identify(row, e);
    const auto put = [&](std::string_view name, Text value) {
        row.at(columnOf(kDetails, name)) = std::move(value);
    };
    Text nationality = e.nationality, sex = e.sex;
    std::optional<int> birth = e.birthDate;
    if (e.key.idType == identityCardType()) {
        nationality = words().china;
        if (const std::optional<IdentityCardFacts> card =
                identityCardFacts(e.key.idNumber.view())) {
            sex = card->male ? words().male : words().female;
            birth = card->birthDate;
        } else {
            // A number that fails its check is kept as typed and marked: it holds nothing sure.
            notes.push_back(whom(e) + sysText("的身份证号码不成立，得不出性别和出生日期：") +
                            sysText("请核对证件号码"));
        }
    }
    Text missing;
    const auto need = [&](bool has, const char* name) {
        if (!has) missing += (missing.empty() ? Text{} : sysText("、")) + sysText(name);
    };
    need(!nationality.empty(), "国籍(地区)");
    need(!sex.empty(), "性别");
    need(birth.has_value(), "出生日期");
    if (!missing.empty() && e.key.idType != identityCardType())
        notes.push_back(whom(e) + sysText("的") + missing +
                        sysText("未填，扣缴客户端要求填写：请在台账窗口职工栏的“申报信息”中填写"));
    put("国籍(地区)", nationality);
    put("性别", sex);
    if (birth) put("出生日期", date(*birth));
    put("任职受雇从业类型", words().types[static_cast<std::size_t>(e.type)]);
    put("入职年度就业情形", words().firstJobs[static_cast<std::size_t>(e.firstJob)]);
    put("手机号码", e.phone);
    // The day the employment began; for one who joined in the year without it, the first day
    // of the month they joined.
    if (e.employedSince)
        put("任职受雇从业日期", date(*e.employedSince));
    else if (e.joinMonth)
        put("任职受雇从业日期", date(year * 10000 + *e.joinMonth * 100 + 1));
    else if (countingMonth && *countingMonth > 1)
        put("任职受雇从业日期", date(year * 10000 + *countingMonth * 100 + 1));
    // The day they left; without it, the last day of the month they left.
    if (e.leftOn)
        put("离职日期", date(*e.leftOn));
    else if (e.leftMonth)
        put("离职日期", date(year * 10000 + *e.leftMonth * 100 + lastDay(year, *e.leftMonth)));
    put("是否扣除减除费用", words().yes);
    if (!e.bankCard.empty()) put("银行账号", e.bankCard);
    return row;
}

} // namespace

std::span<const DeclarationColumn> wageColumns() {
    return kWages;
}
std::span<const DeclarationColumn> bonusColumns() {
    return kBonuses;
}
std::span<const DeclarationColumn> detailColumns() {
    return kDetails;
}

Outcome<Declaration> declareFiles(Ledger& ledger, int year, int month) {
    LedgerStore& store = ledger.store();
    Declaration out;
    out.year = year;
    out.month = month;
    // The items of the months through this one are read while the employees and the month are.
    store.readItemsAhead(year, month + 1);
    Outcome<std::vector<StoredEmployee>> employees = store.employees(year);
    if (!employees) return employees.problem();
    if (employees->empty()) return out;
    const auto [first, last] = idRange(*employees);
    Outcome<std::vector<EmployeeEntry>> lines = store.monthEntries(month, first, last);
    if (!lines) return lines.problem();
    std::unordered_map<EmployeeId, const StoredEntry*> entries;
    entries.reserve(lines->size());
    for (const EmployeeEntry& l : *lines)
        entries.emplace(l.employee, &l.entry);
    // Everything through the month: its items, and the year-to-date items.
    std::unordered_map<EmployeeId, EarlierItems> through;
    if (Outcome<void> r = earlierItems(store, year, month + 1, *employees, through); !r)
        return r.problem();
    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings = store.openings(year);
    if (!openings) return openings.problem();
    Outcome<std::vector<int>> declared = store.declaredMonths(year);
    if (!declared) return declared.problem();
    const bool firstDeclared =
        std::none_of(declared->begin(), declared->end(), [&](int m) { return m < month; });
    Outcome<LedgerStore::DeclaredDetails> before = store.detailsDeclaredBefore(year, month);
    if (!before) return before.problem();
    std::unordered_map<EmployeeId, const Text*> declaredBefore;
    for (const auto& [id, text] : *before)
        declaredBefore.emplace(id, &text);

    DeclarationFile wages{"正常工资薪金所得.xlsx", kWages, {}};
    DeclarationFile bonuses{"全年一次性奖金收入.xlsx", kBonuses, {}};
    DeclarationFile details{"人员信息采集.xlsx", kDetails, {}};
    std::vector<Text> notItemised, notEntered;
    for (const StoredEmployee& se : *employees) {
        const Employee& e = se.employee;
        const auto x = through.find(se.id);
        const EarlierItems* items = x != through.end() ? &x->second : nullptr;
        // The month from which they are employed: joined, or from their opening balances, or
        // their first entry.
        std::optional<int> counting = e.joinMonth;
        if (!counting && openings->count(se.id)) counting = 1;
        if (!counting && items && items->firstMonth <= 12) counting = items->firstMonth;
        const bool employed =
            counting && *counting <= month && (!e.leftMonth || *e.leftMonth >= month);
        if (!employed) continue;
        const auto at = entries.find(se.id);
        const StoredEntry* entry = at != entries.end() ? at->second : nullptr;

        const Text now = declaredDetails(e);
        const auto was = declaredBefore.find(se.id);
        const bool changed = was != declaredBefore.end() && *was->second != now;
        if (firstDeclared || *counting == month || e.leftMonth == month || changed) {
            details.rows.push_back(detailRow(e, year, counting, out.notes));
            out.details.emplace_back(se.id, now);
        }
        if (!e.resident) {
            out.nonResidents.push_back(e);
            continue;
        }
        // The months of the opening balances were declared before the ledger.
        if (const auto o = openings->find(se.id);
            o != openings->end() && month <= o->second.throughMonth)
            continue;
        // The year-to-date groups must be known item by item through the month, and the
        // month's insurances.
        if (entry && !entry->income) {
            notEntered.push_back(whom(e));
            continue;
        }
        const int unknown = items ? items->unknown : 0;
        if ((unknown & (groupBit(ItemGroup::SpecialAdditional) | groupBit(ItemGroup::Other))) ||
            (entry && !(entry->itemised & groupBit(ItemGroup::Special)) && entry->special != 0)) {
            notItemised.push_back(whom(e));
            continue;
        }
        std::vector<Text> row(std::size(kWages));
        identify(row, e);
        // An amount of 0 is an empty cell, as the client's template leaves it; 本期收入 is
        // always given (0 in a zero declaration).
        const auto put = [&](std::string_view name, std::int64_t v) {
            if (v != 0) row[columnOf(kWages, name)] = fen(v);
        };
        if (!entry) ++out.zeroDeclarations;
        const std::int64_t income =
            entry ? *entry->income + (entry->bonusSeparate() ? 0 : entry->bonus) : 0;
        row[columnOf(kWages, "本期收入")] = fen(income);
        put("本期免税收入", entry ? entry->taxFree : 0);
        for (std::size_t i = 0; i < kItems; ++i) {
            const ItemInfo& info = kItemInfo[i];
            if (info.yearToDate)
                put(engine::fieldName(*info.yearToDate), items ? items->sums[i] : 0);
            else
                put(engine::fieldName(info.field), entry ? entry->items[i] : 0);
        }
        put("准予扣除的捐赠额", entry ? entry->donation : 0);
        put("减免税额", entry ? entry->relief : 0);
        if (entry) row[columnOf(kWages, "备注")] = entry->remark;
        trim(row);
        wages.rows.push_back(std::move(row));

        if (entry && entry->bonusSeparate()) {
            std::vector<Text> b(std::size(kBonuses));
            identify(b, e);
            b[columnOf(kBonuses, "全年一次性奖金额")] = fen(entry->bonus);
            bonuses.rows.push_back(std::move(b));
        }
    }
    const auto names = [](const std::vector<Text>& people) {
        Text t;
        for (std::size_t i = 0; i < people.size() && i < 10; ++i)
            t += (i ? sysText("、") : Text{}) + people[i];
        if (people.size() > 10)
            t += sysText("等") + ToText(static_cast<int>(people.size())) + sysText("人");
        return t;
    };
    if (!notEntered.empty())
        return fail(sysText("本月收入还没有填写：") + names(notEntered) +
                    sysText("。\n请先填写他们的本月收入（没有工资的填0），或删除他们本月的记录。"));
    if (!notItemised.empty())
        return fail(
            sysText("扣缴申报按项目填写扣除，以下职工的扣除只有合计、没有分项：") +
            names(notItemised) +
            sysText("。\n请在台账窗口职工栏的“本月分项扣除”中填写各项，或导入含各项的表格"
                    "（如扣缴客户端模板的列）；年度累计的各项需要本年此前各月和期初数也分项。"));
    for (DeclarationFile* f : {&wages, &bonuses, &details})
        if (!f->rows.empty()) out.files.push_back(std::move(*f));
    return out;
}

} // namespace iit::ledger
