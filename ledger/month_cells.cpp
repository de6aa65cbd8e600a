#include "ledger/month_cells.h"

#include "base/cell_text.h"
#include "base/convert.h"
#include "engine/amount.h"

#include <array>
#include <iterator>
#include <type_traits>
#include <unordered_map>

namespace iit::ledger {
namespace {

constexpr PayrollField kFactFields[] = {PayrollField::StaffNumber,
                                        PayrollField::EmploymentType,
                                        PayrollField::Phone,
                                        PayrollField::EmployedSince,
                                        PayrollField::LeftOn,
                                        PayrollField::FirstJob,
                                        PayrollField::Nationality,
                                        PayrollField::Sex,
                                        PayrollField::BirthDate,
                                        PayrollField::HealthThroughPayroll,
                                        PayrollField::DeferredPensionThroughPayroll};

// In the order of MonthField.
constexpr std::array<MonthFieldLayout, 25> kFields = {{
    {MonthField::Name, "姓名", "姓名", false, true},
    {MonthField::IdNumber, "证件号码", "身份证号", false, true},
    {MonthField::IdType, "证件类型", "证件类型", false, true},
    {MonthField::Month, "月份", "月份", false, false},
    {MonthField::Income, "本月收入", "本月\r\n收入", true, true},
    {MonthField::TaxFree, "本月免税收入", "免税\r\n收入", true, true},
    {MonthField::Special, "本月专项扣除", "专项\r\n扣除", true, true},
    {MonthField::SpecialAdditional, "本月专项附加扣除", "专项附加\r\n扣除", true, true},
    {MonthField::Other, "本月其他扣除", "其他\r\n扣除", true, true},
    {MonthField::Relief, "减免税额", "减免\r\n税额", true, true},
    {MonthField::Bonus, "全年一次性奖金", "全年一次性\r\n奖金", true, true},
    {MonthField::BonusMethod, "奖金计税方式", "奖金\r\n计税方式", false, true},
    {MonthField::Remark, "备注", "备注", false, true},
    {MonthField::CumulativeIncome, "累计收入", "累计\r\n收入", true, false},
    {MonthField::CumulativeBasic, "累计减除费用", "累计减除\r\n费用", true, false},
    {MonthField::Taxable, "累计应纳税所得额", "累计应纳税\r\n所得额", true, false},
    {MonthField::Rate, "预扣率", "预扣率", false, false},
    {MonthField::QuickDeduction, "速算扣除数", "速算\r\n扣除数", false, false},
    {MonthField::CumulativeTax, "累计应纳税额", "累计应\r\n纳税额", true, false},
    {MonthField::WithheldBefore, "累计已预扣", "累计\r\n已预扣", true, false},
    {MonthField::Withholding, "本月应预扣", "本月\r\n应预扣", true, false},
    {MonthField::BonusTax, "奖金税额", "奖金\r\n税额", true, false},
    {MonthField::AfterTax, "实发", "实发", true, false},
    {MonthField::Method, "计税方法", "计税方法", false, false},
    {MonthField::IdCheck, "证件号码校验", "证件号码校验", false, false},
}};

constexpr bool inOrder() {
    for (std::size_t i = 0; i < kFields.size(); ++i)
        if (static_cast<std::size_t>(kFields[i].field) != i) return false;
    return true;
}
static_assert(inOrder(), "kFields follows MonthField");

// Fixed texts, converted once.
const Text& fixed(const char* utf8) {
    static std::unordered_map<const char*, Text> texts;
    auto it = texts.find(utf8);
    if (it == texts.end()) it = texts.emplace(utf8, sysText(utf8)).first;
    return it->second;
}

Text optional(const std::optional<Exact>& v) {
    return v ? ToText(*v) : Text{};
}

// An amount the clerk enters.
Text entered(const Exact& v, CellStyle style) {
    return style == CellStyle::Sheet && v.isZero() ? Text{} : ToText(v);
}

constexpr std::array kDataFields = {MonthField::Name,
                                    MonthField::IdNumber,
                                    MonthField::Month,
                                    MonthField::Income,
                                    MonthField::TaxFree,
                                    MonthField::Special,
                                    MonthField::SpecialAdditional,
                                    MonthField::Other,
                                    MonthField::CumulativeIncome,
                                    MonthField::CumulativeBasic,
                                    MonthField::Taxable,
                                    MonthField::Rate,
                                    MonthField::QuickDeduction,
                                    MonthField::CumulativeTax,
                                    MonthField::WithheldBefore,
                                    MonthField::Withholding,
                                    MonthField::AfterTax,
                                    MonthField::IdType,
                                    MonthField::Relief,
                                    MonthField::Bonus,
                                    MonthField::BonusMethod,
                                    MonthField::BonusTax,
                                    MonthField::Method,
                                    MonthField::IdCheck,
                                    MonthField::Remark};

std::vector<Text> textsOf(std::initializer_list<const char*> names) {
    std::vector<Text> out;
    for (const char* n : names)
        out.push_back(sysText(n));
    return out;
}

} // namespace

const MonthFieldLayout& monthFieldLayout(MonthField field) {
    return kFields[static_cast<std::size_t>(field)];
}

Text monthCell(const MonthLine& line, MonthField field, CellStyle style) {
    const Entry& e = line.entry;
    switch (field) {
    case MonthField::Name:
        return line.employee.name;
    case MonthField::IdNumber:
        return line.employee.key.idNumber;
    case MonthField::IdType:
        return line.employee.key.idType;
    case MonthField::Month:
        return ToText(line.month);
    case MonthField::Income:
        return optional(e.income);
    case MonthField::TaxFree:
        return entered(e.taxFree, style);
    case MonthField::Special:
        return entered(e.special, style);
    case MonthField::SpecialAdditional:
        return entered(e.specialAdditional, style);
    case MonthField::Other:
        return entered(e.other, style);
    case MonthField::Relief:
        return entered(e.relief, style);
    case MonthField::Bonus:
        return entered(e.bonus, style);
    case MonthField::BonusMethod:
        return e.bonus.isZero() ? Text{} : engine::bonusMethodText(e.bonusMethod);
    case MonthField::Remark:
        return e.remark;
    case MonthField::CumulativeIncome:
        return ToText(line.cumulativeIncome);
    case MonthField::CumulativeBasic:
        return ToText(line.cumulativeBasicDeduction);
    case MonthField::Taxable:
        return optional(line.taxable);
    case MonthField::Rate:
        if (style == CellStyle::Data) return optional(line.ratePercent);
        if (line.method == Method::Monthly) return fixed("按月");
        return line.ratePercent ? ToText(*line.ratePercent) + Text::fromBytes("%") : Text{};
    case MonthField::QuickDeduction:
        return optional(line.quickDeduction);
    case MonthField::CumulativeTax:
        return optional(line.cumulativeTax);
    case MonthField::WithheldBefore:
        return ToText(line.withheldBefore);
    case MonthField::Withholding:
        return ToText(line.withholding);
    case MonthField::BonusTax:
        return ToText(line.bonusTax);
    case MonthField::AfterTax:
        return ToText(line.afterTax);
    case MonthField::Method:
        return fixed(line.method == Method::Cumulative ? "累计预扣法" : "按月计税（非居民）");
    case MonthField::IdCheck:
        return idCheckText(line.employee);
    }
    return Text{};
}

std::optional<Exact> monthAmount(const MonthLine& line, MonthField field) {
    const Entry& e = line.entry;
    switch (field) {
    case MonthField::Income:
        return e.income;
    case MonthField::TaxFree:
        return e.taxFree;
    case MonthField::Special:
        return e.special;
    case MonthField::SpecialAdditional:
        return e.specialAdditional;
    case MonthField::Other:
        return e.other;
    case MonthField::Relief:
        return e.relief;
    case MonthField::Bonus:
        return e.bonus;
    case MonthField::CumulativeIncome:
        return line.cumulativeIncome;
    case MonthField::CumulativeBasic:
        return line.cumulativeBasicDeduction;
    case MonthField::Taxable:
        return line.taxable;
    case MonthField::CumulativeTax:
        return line.cumulativeTax;
    case MonthField::WithheldBefore:
        return line.withheldBefore;
    case MonthField::Withholding:
        return line.withholding;
    case MonthField::BonusTax:
        return line.bonusTax;
    case MonthField::AfterTax:
        return line.afterTax;
    default:
        return std::nullopt;
    }
}

std::span<const MonthField> monthDataFields() {
    return kDataFields;
}

std::vector<Text> itemColumns() {
    std::vector<Text> names;
    names.reserve(kItemColumns);
    for (const ItemInfo& item : kItemInfo)
        names.push_back(sysText(engine::fieldName(item.field)));
    names.push_back(sysText(engine::fieldName(PayrollField::Donation)));
    return names;
}

std::optional<Exact> itemAmount(const MonthLine& line, std::size_t column) {
    const Entry& e = line.entry;
    if (column >= kItems) return e.donation;
    if (!(e.itemised & groupBit(kItemInfo[column].group))) return std::nullopt;
    return e.items[column];
}

Text itemCell(const MonthLine& line, std::size_t column, CellStyle style) {
    const std::optional<Exact> v = itemAmount(line, column);
    return v ? entered(*v, style) : Text{};
}

std::vector<Text> insuranceColumns() {
    std::vector<Text> names;
    for (const PayrollField f :
         {PayrollField::InsuranceCity, PayrollField::SocialBase, PayrollField::FundBase,
          PayrollField::FundRate, PayrollField::FundExtraRate})
        names.push_back(sysText(engine::fieldName(f)));
    return names;
}

Text insuranceCell(const MonthLine& line, std::size_t column) {
    const Entry& e = line.entry;
    if (e.insuranceCity.empty()) return Text{};
    switch (column) {
    case 0:
        return e.insuranceCity;
    case 1:
        return ToText(e.socialBase);
    case 2:
        return ToText(e.fundBase);
    case 3:
        return ToText(e.fundRate);
    case 4:
        return ToText(e.fundExtraRate);
    default:
        return Text{};
    }
}

std::vector<Text> monthColumns() {
    std::vector<Text> names;
    for (MonthField f : kDataFields)
        names.push_back(sysText(monthFieldLayout(f).name));
    return names;
}

std::vector<Text> monthCells(const MonthLine& line) {
    std::vector<Text> cells;
    cells.reserve(kDataFields.size());
    for (MonthField f : kDataFields)
        cells.push_back(monthCell(line, f, CellStyle::Data));
    return cells;
}

Text idCheckText(const Employee& e) {
    if (!e.idCheckFailed) return Text{};
    const Text mark = engine::identityMark(e.key.idType, e.key.idNumber);
    return fixed(mark == sysText("身份证号的出生日期不存在") ? "出生日期不存在" : "校验位不符");
}

std::vector<Text> employeeColumns() {
    std::vector<Text> names =
        textsOf({"证件类型", "证件号码", "姓名", "银行卡号", "入职月份", "离职月份", "居民",
                 "减除费用从1月起算", "全年减除6万元", "证件号码校验", "证件类型检查"});
    // What the declaration knows of the employee, after the columns of the earlier lists.
    for (const PayrollField f : kFactFields)
        names.push_back(sysText(engine::fieldName(f)));
    return names;
}

std::span<const PayrollField> factFields() {
    return kFactFields;
}

Text factText(const Employee& e, PayrollField field) {
    auto date = [](const std::optional<int>& d) {
        return d ? Text::fromUtf8(engine::dateText(*d)) : Text{};
    };
    auto yes = [](bool b) { return fixed(b ? "是" : "否"); };
    switch (field) {
    case PayrollField::StaffNumber:
        return e.staffNumber;
    case PayrollField::EmploymentType:
        return sysText(kEmploymentTypeNames[static_cast<int>(e.type)]);
    case PayrollField::Phone:
        return e.phone;
    case PayrollField::EmployedSince:
        return date(e.employedSince);
    case PayrollField::LeftOn:
        return date(e.leftOn);
    case PayrollField::FirstJob:
        return sysText(kFirstJobNames[static_cast<int>(e.firstJob)]);
    case PayrollField::Nationality:
        return e.nationality;
    case PayrollField::Sex:
        return e.sex;
    case PayrollField::BirthDate:
        return date(e.birthDate);
    case PayrollField::HealthThroughPayroll:
        return yes(e.healthThroughPayroll);
    case PayrollField::DeferredPensionThroughPayroll:
        return yes(e.deferredPensionThroughPayroll);
    default:
        return Text{};
    }
}

Outcome<void> setFact(Employee& e, PayrollField field, std::string_view utf8, int year) {
    const std::string cell(engine::trimCell(utf8));
    const auto named = [&] {
        return sysText("“") + sysText(engine::fieldName(field)) + sysText("”");
    };
    const auto date = [&](std::optional<int>& to) -> Outcome<void> {
        if (cell.empty()) {
            to.reset();
        } else if (const std::optional<int> d = engine::dateFromText(cell)) {
            to = *d;
        } else {
            return fail(named() + sysText("应为日期，如2024-03-01"));
        }
        return {};
    };
    const auto choice = [&](const auto& names, auto& to) -> Outcome<void> {
        const std::string compact = compactName(cell);
        for (std::size_t i = 0; i < std::size(names); ++i)
            if (compact == compactName(names[i])) {
                to = static_cast<std::remove_reference_t<decltype(to)>>(i);
                return {};
            }
        Text allowed;
        for (const char* n : names)
            if (*n) allowed += (allowed.empty() ? Text() : sysText("、")) + sysText(n);
        return fail(named() + sysText("应为") + allowed + sysText("之一"));
    };
    const auto yesNo = [&](bool& to) -> Outcome<void> {
        if (cell.empty()) {
            to = false;
        } else if (const std::optional<bool> v = engine::yesNoFromText(cell)) {
            to = *v;
        } else {
            return fail(engine::yesNoRefusal(field));
        }
        return {};
    };
    switch (field) {
    case PayrollField::StaffNumber:
        e.staffNumber = Text::fromUtf8(cell);
        return {};
    case PayrollField::Phone:
        e.phone = Text::fromUtf8(cell);
        return {};
    case PayrollField::Nationality:
        e.nationality = Text::fromUtf8(cell);
        return {};
    case PayrollField::EmployedSince:
        return date(e.employedSince);
    case PayrollField::BirthDate:
        return date(e.birthDate);
    case PayrollField::LeftOn: {
        Outcome<void> r = date(e.leftOn);
        // The day the employee left sets the last month employed, in its year.
        if (r && e.leftOn && *e.leftOn / 10000 == year) e.leftMonth = *e.leftOn / 100 % 100;
        return r;
    }
    case PayrollField::Sex:
        if (!cell.empty() && cell != "男" && cell != "女") return fail(sysText("“性别”应填男或女"));
        e.sex = Text::fromUtf8(cell);
        return {};
    case PayrollField::EmploymentType:
        if (cell.empty()) {
            e.type = EmploymentType::Employee;
            return {};
        }
        return choice(kEmploymentTypeNames, e.type);
    case PayrollField::FirstJob: {
        Outcome<void> r = choice(kFirstJobNames, e.firstJob);
        // Either first job of the year counts the basic deduction from January.
        if (r && e.firstJob != FirstJob::None) e.options.fromJanuary = true;
        return r;
    }
    case PayrollField::HealthThroughPayroll:
        return yesNo(e.healthThroughPayroll);
    case PayrollField::DeferredPensionThroughPayroll:
        return yesNo(e.deferredPensionThroughPayroll);
    default:
        return fail(named() + sysText("不是职工信息"));
    }
}

std::vector<Text> employeeCells(const Employee& e, std::optional<int> countingMonth,
                                const Text& documentMark) {
    auto month = [](const std::optional<int>& m) { return m ? ToText(*m) : Text{}; };
    auto yes = [](bool b) { return fixed(b ? "是" : "否"); };
    std::vector<Text> cells{e.key.idType,
                            e.key.idNumber,
                            e.name,
                            e.bankCard,
                            month(countingMonth),
                            month(e.leftMonth),
                            yes(e.resident),
                            yes(e.options.fromJanuary),
                            yes(e.options.annualDeduction),
                            idCheckText(e),
                            documentMark};
    for (const PayrollField f : kFactFields)
        cells.push_back(factText(e, f));
    return cells;
}

std::vector<Text> documentMarks(const std::vector<Employee>& employees) {
    std::vector<Text> marks(employees.size());
    std::unordered_map<std::string, std::vector<std::size_t>> byNumber;
    for (std::size_t i = 0; i < employees.size(); ++i) {
        const Employee& e = employees[i];
        if (!engine::identityTypeOf(e.key.idType.toUtf8()) ||
            engine::identityTypeOf(e.key.idType.toUtf8())->bytes() != e.key.idType.bytes())
            marks[i] = fixed("不是扣缴申报的证件类型");
        byNumber[e.key.idNumber.bytes()].push_back(i);
    }
    for (const auto& [number, holders] : byNumber) {
        if (holders.size() < 2) continue;
        for (std::size_t i : holders)
            for (std::size_t j : holders) {
                if (i == j) continue;
                const Employee& other = employees[j];
                marks[i] += (marks[i].empty() ? Text{} : sysText("；")) + sysText("与") +
                            other.name + sysText("（") + other.key.idType +
                            sysText("）证件号码相同");
            }
    }
    return marks;
}

std::vector<Text> bonusChoiceColumns() {
    return textsOf(
        {"单独计税全年税额", "并入综合所得全年税额", "较低的计税方式", "少缴税额", "预测月数"});
}

namespace {

// The method that costs less, or "相同".
const Text& lowerText(const engine::BonusComparison& c) {
    using Lower = engine::BonusComparison::Lower;
    if (c.lower == Lower::Same) return fixed("相同");
    return engine::bonusMethodText(c.lower == Lower::Separate ? BonusMethod::Separate
                                                              : BonusMethod::Combined);
}

} // namespace

std::vector<Text> bonusChoiceCells(const BonusChoice* choice) {
    if (!choice) return std::vector<Text>(5);
    const engine::BonusComparison& c = choice->comparison;
    return {ToText(c.separate.total), ToText(c.combined.total), lowerText(c), ToText(c.saving),
            ToText(c.projectedMonths)};
}

Text bonusChoiceText(const BonusChoice& b) {
    const engine::BonusComparison& c = b.comparison;
    const Text& separate = engine::bonusMethodText(BonusMethod::Separate);
    const Text& combined = engine::bonusMethodText(BonusMethod::Combined);
    Text text = ToText(b.month) + sysText("月发放 ") + ToText(b.bonus) + sysText("，现按") +
                engine::bonusMethodText(b.entered) + sysText("。\n");
    text += separate + sysText("：全年税额 ") + ToText(c.separate.total) + sysText("\n（工资 ") +
            ToText(c.separate.wagesTax) + sysText(" + 奖金 ") + ToText(c.separate.bonusTax) +
            sysText("）\n");
    text += combined + sysText("：全年税额 ") + ToText(c.combined.total) + sysText("\n");
    if (c.lower == engine::BonusComparison::Lower::Same)
        text += sysText("两种方式税额相同。");
    else
        text += lowerText(c) + sysText("少缴 ") + ToText(c.saving) + sysText("。");
    if (c.projectedMonths > 0)
        text += sysText("\n（尚未填写的") + ToText(c.projectedMonths) +
                sysText("个月按最近一个月推算）");
    return text;
}

} // namespace iit::ledger
