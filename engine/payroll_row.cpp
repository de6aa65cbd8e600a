#include "engine/payroll_row.h"

#include "base/cell_text.h"
#include "base/identity_card.h"
#include "engine/amount.h"

#include <algorithm>
#include <array>

namespace iit::engine {
namespace {

struct FieldNames {
    PayrollField field;
    std::span<const char* const> names;
};

constexpr const char* kIdType[] = {"证件类型"};
constexpr const char* kIdNumber[] = {"证件号码", "身份证号", "身份证号码", "证照号码", "身份证"};
constexpr const char* kName[] = {"姓名"};
constexpr const char* kBankCard[] = {"银行卡号", "账号", "卡号"};
constexpr const char* kResident[] = {"居民"};
constexpr const char* kMonth[] = {"月份"};
constexpr const char* kThroughMonth[] = {"截至月份"};
constexpr const char* kIncome[] = {"本月收入",     "收入",     "收入额",         "应发工资",
                                   "工资薪金收入", "本期收入", "用于报税的收入", "金额"};
constexpr const char* kTaxFree[] = {"本月免税收入", "免税收入"};
constexpr const char* kSpecial[] = {"本月专项扣除", "专项扣除"};
constexpr const char* kSpecialAdditional[] = {"本月专项附加扣除", "专项附加扣除"};
constexpr const char* kOther[] = {"本月其他扣除", "其他扣除"};
constexpr const char* kRelief[] = {"减免税额"};
constexpr const char* kBonus[] = {"全年一次性奖金", "年终奖", "年终一次性奖金"};
constexpr const char* kBonusMethod[] = {"奖金计税方式"};
constexpr const char* kRemark[] = {"备注"};
constexpr const char* kFromJanuary[] = {"减除费用从1月起算"};
constexpr const char* kAnnualDeduction[] = {"全年减除6万元"};
constexpr const char* kTax[] = {"应缴税额", "应纳税额"};
constexpr const char* kAfterTax[] = {"计税后所得额", "税后所得", "实发金额"};
constexpr const char* kCumulativeIncome[] = {"累计收入"};
constexpr const char* kCumulativeTaxFree[] = {"累计免税收入"};
constexpr const char* kCumulativeBasic[] = {"累计减除费用"};
constexpr const char* kCumulativeSpecial[] = {"累计专项扣除"};
constexpr const char* kCumulativeSpecialAdditional[] = {"累计专项附加扣除"};
constexpr const char* kCumulativeOther[] = {"累计其他扣除"};
constexpr const char* kCumulativeRelief[] = {"累计减免税额"};
constexpr const char* kCumulativeWithheld[] = {"累计已预扣"};

// In the order of PayrollField.
constexpr std::array<FieldNames, 28> kFields = {{
    {PayrollField::IdType, kIdType},
    {PayrollField::IdNumber, kIdNumber},
    {PayrollField::Name, kName},
    {PayrollField::BankCard, kBankCard},
    {PayrollField::Resident, kResident},
    {PayrollField::Month, kMonth},
    {PayrollField::ThroughMonth, kThroughMonth},
    {PayrollField::Income, kIncome},
    {PayrollField::TaxFree, kTaxFree},
    {PayrollField::Special, kSpecial},
    {PayrollField::SpecialAdditional, kSpecialAdditional},
    {PayrollField::Other, kOther},
    {PayrollField::Relief, kRelief},
    {PayrollField::Bonus, kBonus},
    {PayrollField::BonusMethod, kBonusMethod},
    {PayrollField::Remark, kRemark},
    {PayrollField::FromJanuary, kFromJanuary},
    {PayrollField::AnnualDeduction, kAnnualDeduction},
    {PayrollField::Tax, kTax},
    {PayrollField::AfterTax, kAfterTax},
    {PayrollField::CumulativeIncome, kCumulativeIncome},
    {PayrollField::CumulativeTaxFree, kCumulativeTaxFree},
    {PayrollField::CumulativeBasic, kCumulativeBasic},
    {PayrollField::CumulativeSpecial, kCumulativeSpecial},
    {PayrollField::CumulativeSpecialAdditional, kCumulativeSpecialAdditional},
    {PayrollField::CumulativeOther, kCumulativeOther},
    {PayrollField::CumulativeRelief, kCumulativeRelief},
    {PayrollField::CumulativeWithheld, kCumulativeWithheld},
}};

constexpr bool inOrder() {
    for (std::size_t i = 0; i < kFields.size(); ++i)
        if (static_cast<std::size_t>(kFields[i].field) != i) return false;
    return true;
}
static_assert(inOrder(), "kFields follows PayrollField");

} // namespace

std::span<const char* const> fieldNames(PayrollField field) {
    return kFields[static_cast<std::size_t>(field)].names;
}

const char* fieldName(PayrollField field) {
    return fieldNames(field).front();
}

std::optional<PayrollField> fieldNamed(std::string_view utf8,
                                       std::span<const PayrollField> fields) {
    const std::string name = compactName(utf8);
    if (name.empty()) return std::nullopt;
    for (PayrollField f : fields)
        for (const char* n : fieldNames(f))
            if (name == compactName(n)) return f;
    return std::nullopt;
}

const Text& identityCardType() {
    static const Text type = sysText("居民身份证");
    return type;
}

void identityKey(std::string_view utf8, std::string& key) {
    key.assign(trimCell(utf8));
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

std::string identityKey(std::string_view utf8) {
    std::string key;
    identityKey(utf8, key);
    return key;
}

namespace {

constexpr const char* kIdentityTypes[] = {"居民身份证",
                                          "中国护照",
                                          "港澳居民来往内地通行证",
                                          "港澳居民居住证",
                                          "台湾居民来往大陆通行证",
                                          "台湾居民居住证",
                                          "外国护照",
                                          "外国人永久居留身份证",
                                          "外国人工作许可证（A类）",
                                          "外国人工作许可证（B类）",
                                          "外国人工作许可证（C类）",
                                          "其他个人证件"};

bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::span<const char* const> identityTypes() {
    return kIdentityTypes;
}

Outcome<Text> identityTypeOf(std::string_view utf8) {
    const std::string name = compactName(utf8);
    if (name.empty() || name == "身份证") return identityCardType();
    for (const char* t : kIdentityTypes)
        if (name == compactName(t)) return sysText(t);
    return fail(sysText("证件类型“") + Text::fromUtf8(trimCell(utf8)) +
                sysText("”不是扣缴申报的证件类型"));
}

Outcome<void> checkIdentityNumber(const Text& idType, const Text& idNumber) {
    if (idNumber.empty()) return fail(sysText("证件号码为空"));
    if (idType != identityCardType()) return {};
    // The number of an identity card is ASCII: its bytes are the same in either encoding.
    const std::string_view n = idNumber.view();
    const bool eighteen = n.size() == 18 && allDigits(n.substr(0, 17)) &&
                          ((n[17] >= '0' && n[17] <= '9') || n[17] == 'X');
    if (eighteen || (n.size() == 15 && allDigits(n))) return {};
    return fail(sysText("居民身份证号码应为18位（末位可为X）或旧的15位数字：") + idNumber);
}

Text identityMark(const Text& idType, const Text& idNumber) {
    if (idType != identityCardType()) return {};
    return identityCardProblem(idNumber.view());
}

bool identityCheckFails(const Text& idType, const Text& idNumber) {
    return !identityMark(idType, idNumber).empty();
}

Outcome<void> checkAmount(const Exact& amount) {
    if (!toFen(amount) || amount.sign() < 0 || amount > Exact(kLargestAmount))
        return fail(sysText("金额应为0到10^12之间的两位小数"));
    return {};
}

const Text& bonusMethodText(BonusMethod method) {
    static const Text separate = sysText("单独计税"), combined = sysText("并入综合所得");
    return method == BonusMethod::Separate ? separate : combined;
}

std::optional<BonusMethod> bonusMethodFromText(std::string_view utf8) {
    const std::string s = compactName(utf8);
    if (s == "单独计税") return BonusMethod::Separate;
    if (s == "并入综合所得" || s == "并入") return BonusMethod::Combined;
    return std::nullopt;
}

const Text& bonusMethodRefusal() {
    static const Text text = sysText("奖金计税方式应为“单独计税”或“并入综合所得”");
    return text;
}

std::optional<bool> residentFromText(std::string_view utf8) {
    const std::string s = compactName(utf8);
    if (s == "是" || s == "居民" || s == "居民个人") return true;
    if (s == "否" || s == "非居民" || s == "非居民个人") return false;
    return std::nullopt;
}

const Text& residentRefusal() {
    static const Text text = sysText("“居民”应填是或否");
    return text;
}

std::optional<bool> yesNoFromText(std::string_view utf8) {
    const std::string s = compactName(utf8);
    if (s == "是") return true;
    if (s == "否") return false;
    return std::nullopt;
}

Text yesNoRefusal(PayrollField field) {
    return sysText("“") + sysText(fieldName(field)) + sysText("”应填是或否");
}

} // namespace iit::engine
