#pragma once
// The 18-character number of a resident identity card: six digits of the region, the date of
// birth as yyyymmdd, three digits of order and the ISO 7064 MOD 11-2 check character (a digit
// or X). A number that fails is still a number the user typed: callers mark it, never refuse or
// change it.

#include "base/text.h"

#include <optional>
#include <string_view>

namespace iit {

// True when `number` is 18 characters whose last is the check character of the first 17 digits
// (a lower-case x taken as X).
bool identityCardCheckHolds(std::string_view number);

// Why an 18-character number of 17 digits and a check character is no identity-card number:
// "身份证号的出生日期不存在" (a date no calendar has, one before 1900 or after today) or
// "身份证号的校验位不符".
// Empty when it holds, and for any other text (a passport number, a number of another length
// is not judged).
Text identityCardProblem(std::string_view number);

// What an identity card's number holds of its bearer: the date of birth (yyyymmdd) and the sex
// (an odd order digit is a man's), from an 18-character number whose date exists or the old
// 15 digits (born 19yy). None for anything else, a number whose check fails included.
struct IdentityCardFacts {
    int birthDate = 0;
    bool male = false;
};
std::optional<IdentityCardFacts> identityCardFacts(std::string_view number);

} // namespace iit
