#pragma once
// A payroll row as clerks write it, in one grammar for every reader: the batch sheet, withhold,
// the ledger's import, opening balances and cell edits, and the command line.
//
// - The fields a sheet may hold, each with its own name (the ledger's column name) and the other
//   names payroll sheets commonly give it; a header cell is matched to a field among those a
//   reader takes, names compared as compactName compares them.
// - The identity document: the number as it is keyed (trimmed, its letters in capitals), the
//   default type, and the mark of an identity-card number whose check fails.
// - Amounts: parseAmount (engine/amount.h) reads a cell with its bounds; checkAmount holds an
//   amount that came another way to the same bounds.
// - The words of the bonus's taxation and of residence.

#include "base/outcome.h"
#include "base/text.h"
#include "engine/exact.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace iit::engine {

enum class PayrollField {
    IdType,
    IdNumber,
    Name,
    BankCard,
    Resident,
    Month,
    ThroughMonth,
    Income,
    TaxFree,
    Special,
    SpecialAdditional,
    Other,
    Relief,
    Bonus,
    BonusMethod,
    Remark,
    FromJanuary,     // 减除费用从1月起算
    AnnualDeduction, // 全年减除6万元
    Tax,             // the batch sheet's computed tax
    AfterTax,        // and its after-tax amount
    // Year-to-date figures of opening balances.
    CumulativeIncome,
    CumulativeTaxFree,
    CumulativeBasic,
    CumulativeSpecial,
    CumulativeSpecialAdditional,
    CumulativeOther,
    CumulativeRelief,
    CumulativeWithheld,
    // Deductions item by item (专项扣除, 专项附加扣除, 其他扣除 in the declaration's order), and
    // the donation.
    Pension,
    Medical,
    Unemployment,
    HousingFund,
    Children,
    Education,
    LoanInterest,
    Rent,
    Elderly,
    Infants,
    PersonalPension,
    Annuity,
    HealthInsurance,
    DeferredPension,
    OtherItem,
    Donation,
    // The declaration's year-to-date special additional deductions and personal pension.
    CumulativeChildren,
    CumulativeEducation,
    CumulativeLoanInterest,
    CumulativeRent,
    CumulativeElderly,
    CumulativeInfants,
    CumulativePersonalPension,
    // The declaration's special cases, which a payroll leaves empty.
    OfficialTransport,
    Communication,
    LawyerCosts,
    TibetDeduction,
    TreatyRelief,
    // What the declaration knows of the employee.
    StaffNumber,
    EmploymentType,
    Phone,
    EmployedSince,
    LeftOn,
    FirstJob,
    Nationality,
    Sex,
    BirthDate,
    HealthThroughPayroll,
    DeferredPensionThroughPayroll,
    // Social insurance and the housing fund through this employer: the city whose rules apply,
    // the bases and the housing fund's rates (percent).
    InsuranceCity,
    SocialBase,
    FundBase,
    FundRate,
    FundExtraRate,
};
constexpr std::size_t kPayrollFields = static_cast<std::size_t>(PayrollField::FundExtraRate) + 1;

// The field's own name ("本月收入"), UTF-8.
const char* fieldName(PayrollField field);
// Every name the field is read by, its own first.
std::span<const char* const> fieldNames(PayrollField field);
// The field among `fields` that a header cell names; none when it names none of them. The
// declaration template's mark of a required column, a leading "*", is not part of the name.
std::optional<PayrollField> fieldNamed(std::string_view utf8, std::span<const PayrollField> fields);

// The default 证件类型, "居民身份证".
const Text& identityCardType();
// The 证件类型 of the withholding declaration, the identity card's first.
std::span<const char* const> identityTypes();
// The type a cell names: one of identityTypes(); 身份证 and an empty cell mean 居民身份证. The
// problem names the cell's text.
Outcome<Text> identityTypeOf(std::string_view utf8);
// Whether the number may be one of the type: a 居民身份证 number is 18 characters (17 digits and
// a digit or X) or the old 15 digits; any other type's number is not empty.
Outcome<void> checkIdentityNumber(const Text& idType, const Text& idNumber);
// An identity document's number as it is keyed: without the spaces around it, its ASCII letters
// (an identity card's X, a passport's) in capitals. UTF-8 in, UTF-8 out.
std::string identityKey(std::string_view utf8);
// The same into `key`, whose room is kept from one row to the next.
void identityKey(std::string_view utf8, std::string& key);
// True when the 18-character number of a 居民身份证 has a date of birth no calendar has or a
// check character that fails: the number is kept and marked, never refused.
bool identityCheckFails(const Text& idType, const Text& idNumber);
// What the mark says ("身份证号的校验位不符"); empty for a number that is not marked.
Text identityMark(const Text& idType, const Text& idNumber);

// An amount that did not come from a cell held to parseAmount's bounds: whole fen, 0 to
// kLargestAmount. The problem is "金额应为0到10^12之间的两位小数".
Outcome<void> checkAmount(const Exact& amount);

// How a resident's annual bonus is taxed: on its own, or added to the month's wages.
enum class BonusMethod { Separate, Combined };
const Text& bonusMethodText(BonusMethod method); // "单独计税", "并入综合所得"
// "单独计税", "并入综合所得" or "并入", spaces ignored; none for anything else.
std::optional<BonusMethod> bonusMethodFromText(std::string_view utf8);
// Why a cell is no bonus method.
const Text& bonusMethodRefusal();

// 是, 居民 or 居民个人 (true); 否, 非居民 or 非居民个人 (false); none for anything else.
std::optional<bool> residentFromText(std::string_view utf8);
const Text& residentRefusal(); // "“居民”应填是或否"
// 是 (true) or 否 (false) of an option's column; none for anything else. The refusal names the
// column.
std::optional<bool> yesNoFromText(std::string_view utf8);
// A date as the declaration's sheets write it (2024-03-01, 20240301, 2024/3/1, 2024.3.1,
// 2024年3月1日) as the number yyyymmdd; none when it is no day of the calendar (1900 to 2199).
std::optional<int> dateFromText(std::string_view utf8);
// yyyymmdd as "2024-03-01".
std::string dateText(int yyyymmdd);
Text yesNoRefusal(PayrollField field); // "“全年减除6万元”应填是或否"

} // namespace iit::engine
