#include "engine/payroll_row.h"

#include "base/cell_text.h"
#include "base/identity_card.h"
#include "engine/amount.h"

#include <algorithm>
#include <array>
#include <cstdio>

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
constexpr const char* kTaxFree[] = {"本月免税收入", "免税收入", "本期免税收入"};
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
constexpr const char* kPension[] = {"基本养老保险费", "基本养老保险", "养老保险"};
constexpr const char* kMedical[] = {"基本医疗保险费", "基本医疗保险", "医疗保险"};
constexpr const char* kUnemployment[] = {"失业保险费", "失业保险"};
constexpr const char* kHousingFund[] = {"住房公积金", "公积金"};
constexpr const char* kChildren[] = {"子女教育"};
constexpr const char* kEducation[] = {"继续教育"};
constexpr const char* kLoanInterest[] = {"住房贷款利息"};
constexpr const char* kRent[] = {"住房租金"};
constexpr const char* kElderly[] = {"赡养老人"};
constexpr const char* kInfants[] = {"3岁以下婴幼儿照护", "婴幼儿照护"};
constexpr const char* kPersonalPension[] = {"个人养老金"};
constexpr const char* kAnnuity[] = {"企业(职业)年金", "企业（职业）年金", "企业年金", "职业年金"};
constexpr const char* kHealthInsurance[] = {"商业健康保险"};
constexpr const char* kDeferredPension[] = {"税延养老保险"};
constexpr const char* kOtherItem[] = {"其他"};
constexpr const char* kDonation[] = {"准予扣除的捐赠额", "捐赠额"};
constexpr const char* kCumulativeChildren[] = {"累计子女教育"};
constexpr const char* kCumulativeEducation[] = {"累计继续教育"};
constexpr const char* kCumulativeLoanInterest[] = {"累计住房贷款利息"};
constexpr const char* kCumulativeRent[] = {"累计住房租金"};
constexpr const char* kCumulativeElderly[] = {"累计赡养老人"};
constexpr const char* kCumulativeInfants[] = {"累计3岁以下婴幼儿照护", "累计婴幼儿照护"};
constexpr const char* kCumulativePersonalPension[] = {"累计个人养老金"};
constexpr const char* kOfficialTransport[] = {"公务交通费用"};
constexpr const char* kCommunication[] = {"通讯费用"};
constexpr const char* kLawyerCosts[] = {"律师办案费用"};
constexpr const char* kTibetDeduction[] = {"西藏附加减除费用"};
constexpr const char* kTreatyRelief[] = {"协定减免"};
constexpr const char* kStaffNumber[] = {"工号"};
constexpr const char* kEmploymentType[] = {"任职受雇从业类型"};
constexpr const char* kPhone[] = {"手机号码", "手机号"};
constexpr const char* kEmployedSince[] = {"任职受雇从业日期", "入职日期"};
constexpr const char* kLeftOn[] = {"离职日期"};
constexpr const char* kFirstJob[] = {"入职年度就业情形"};
constexpr const char* kNationality[] = {"国籍(地区)", "国籍（地区）", "国籍"};
constexpr const char* kSex[] = {"性别"};
constexpr const char* kBirthDate[] = {"出生日期"};
constexpr const char* kHealthThroughPayroll[] = {"商业健康保险由工资代扣"};
constexpr const char* kDeferredPensionThroughPayroll[] = {"税延养老保险由工资代扣"};
constexpr const char* kInsuranceCity[] = {"社保城市", "参保城市"};
constexpr const char* kSocialBase[] = {"缴费基数", "社保基数", "社保缴费基数"};
constexpr const char* kFundBase[] = {"公积金基数", "住房公积金基数"};
constexpr const char* kFundRate[] = {"公积金比例", "住房公积金比例", "公积金缴存比例"};
constexpr const char* kFundExtraRate[] = {"补充公积金比例", "补充住房公积金比例"};

// In the order of PayrollField.
constexpr std::array<FieldNames, kPayrollFields> kFields = {{
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
    {PayrollField::Pension, kPension},
    {PayrollField::Medical, kMedical},
    {PayrollField::Unemployment, kUnemployment},
    {PayrollField::HousingFund, kHousingFund},
    {PayrollField::Children, kChildren},
    {PayrollField::Education, kEducation},
    {PayrollField::LoanInterest, kLoanInterest},
    {PayrollField::Rent, kRent},
    {PayrollField::Elderly, kElderly},
    {PayrollField::Infants, kInfants},
    {PayrollField::PersonalPension, kPersonalPension},
    {PayrollField::Annuity, kAnnuity},
    {PayrollField::HealthInsurance, kHealthInsurance},
    {PayrollField::DeferredPension, kDeferredPension},
    {PayrollField::OtherItem, kOtherItem},
    {PayrollField::Donation, kDonation},
    {PayrollField::CumulativeChildren, kCumulativeChildren},
    {PayrollField::CumulativeEducation, kCumulativeEducation},
    {PayrollField::CumulativeLoanInterest, kCumulativeLoanInterest},
    {PayrollField::CumulativeRent, kCumulativeRent},
    {PayrollField::CumulativeElderly, kCumulativeElderly},
    {PayrollField::CumulativeInfants, kCumulativeInfants},
    {PayrollField::CumulativePersonalPension, kCumulativePersonalPension},
    {PayrollField::OfficialTransport, kOfficialTransport},
    {PayrollField::Communication, kCommunication},
    {PayrollField::LawyerCosts, kLawyerCosts},
    {PayrollField::TibetDeduction, kTibetDeduction},
    {PayrollField::TreatyRelief, kTreatyRelief},
    {PayrollField::StaffNumber, kStaffNumber},
    {PayrollField::EmploymentType, kEmploymentType},
    {PayrollField::Phone, kPhone},
    {PayrollField::EmployedSince, kEmployedSince},
    {PayrollField::LeftOn, kLeftOn},
    {PayrollField::FirstJob, kFirstJob},
    {PayrollField::Nationality, kNationality},
    {PayrollField::Sex, kSex},
    {PayrollField::BirthDate, kBirthDate},
    {PayrollField::HealthThroughPayroll, kHealthThroughPayroll},
    {PayrollField::DeferredPensionThroughPayroll, kDeferredPensionThroughPayroll},
    {PayrollField::InsuranceCity, kInsuranceCity},
    {PayrollField::SocialBase, kSocialBase},
    {PayrollField::FundBase, kFundBase},
    {PayrollField::FundRate, kFundRate},
    {PayrollField::FundExtraRate, kFundExtraRate},
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
    const std::string name = headerName(utf8);
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

std::optional<int> dateFromText(std::string_view utf8) {
    const std::string s = compactName(utf8);
    int parts[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    std::size_t part = 0;
    const bool compact = s.size() == 8 && allDigits(s);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            if (compact && (i == 4 || i == 6)) ++part;
            if (part > 2 || ++digits[part] > (part == 0 ? 4 : 2)) return std::nullopt;
            parts[part] = parts[part] * 10 + (c - '0');
            continue;
        }
        // One separator between the parts: - / . or 年 月, and 日 at the end.
        std::size_t length = 1;
        const std::string_view rest = std::string_view(s).substr(i);
        const bool ideographic =
            rest.starts_with("年") || rest.starts_with("月") || rest.starts_with("日");
        if (ideographic)
            length = std::string_view("年").size();
        else if (c != '-' && c != '/' && c != '.')
            return std::nullopt;
        if (rest.starts_with("日")) {
            if (part != 2 || i + length != s.size()) return std::nullopt;
        } else if (++part > 2) {
            return std::nullopt;
        }
        i += length - 1;
    }
    if (digits[0] != 4 || digits[1] == 0 || digits[2] == 0) return std::nullopt;
    const int y = parts[0], m = parts[1], d = parts[2];
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1900 || y > 2199 || m < 1 || m > 12 || d < 1 ||
        d > (m == 2 && !leap ? 28 : kDays[m - 1]))
        return std::nullopt;
    return y * 10000 + m * 100 + d;
}

std::string dateText(int yyyymmdd) {
    char out[16];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d", yyyymmdd / 10000, yyyymmdd / 100 % 100,
                  yyyymmdd % 100);
    return out;
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
