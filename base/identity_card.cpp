#include "base/identity_card.h"

#include <chrono>

namespace iit {
namespace {

bool seventeenDigitsAndCheck(std::string_view n) {
    if (n.size() != 18) return false;
    for (std::size_t i = 0; i < 17; ++i)
        if (n[i] < '0' || n[i] > '9') return false;
    return (n[17] >= '0' && n[17] <= '9') || n[17] == 'X' || n[17] == 'x';
}

int numberAt(std::string_view n, std::size_t from, std::size_t count) {
    int v = 0;
    for (std::size_t i = from; i < from + count; ++i)
        v = v * 10 + (n[i] - '0');
    return v;
}

bool birthDateExists(std::string_view n) {
    using namespace std::chrono;
    const year_month_day birth{year(numberAt(n, 6, 4)),
                               month(static_cast<unsigned>(numberAt(n, 10, 2))),
                               day(static_cast<unsigned>(numberAt(n, 12, 2)))};
    if (!birth.ok() || birth.year() < year(1900)) return false;
    return sys_days(birth) <= floor<days>(system_clock::now());
}

} // namespace

bool identityCardCheckHolds(std::string_view n) {
    if (!seventeenDigitsAndCheck(n)) return false;
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (std::size_t i = 0; i < 17; ++i)
        sum += (n[i] - '0') * weights[i];
    const int check = (12 - sum % 11) % 11;
    const char expected = check == 10 ? 'X' : static_cast<char>('0' + check);
    return n[17] == expected || (expected == 'X' && n[17] == 'x');
}

Text identityCardProblem(std::string_view n) {
    if (!seventeenDigitsAndCheck(n)) return {};
    if (!birthDateExists(n)) return sysText("身份证号的出生日期不存在");
    if (!identityCardCheckHolds(n)) return sysText("身份证号的校验位不符");
    return {};
}

std::optional<IdentityCardFacts> identityCardFacts(std::string_view n) {
    if (n.size() == 15) {
        for (char c : n)
            if (c < '0' || c > '9') return std::nullopt;
        using namespace std::chrono;
        const int y = 1900 + numberAt(n, 6, 2), m = numberAt(n, 8, 2), d = numberAt(n, 10, 2);
        if (!year_month_day{year(y), month(static_cast<unsigned>(m)), day(static_cast<unsigned>(d))}
                 .ok())
            return std::nullopt;
        return IdentityCardFacts{y * 10000 + m * 100 + d, (n[14] - '0') % 2 == 1};
    }
    if (!identityCardCheckHolds(n) || !birthDateExists(n)) return std::nullopt;
    return IdentityCardFacts{numberAt(n, 6, 8), (n[16] - '0') % 2 == 1};
}

} // namespace iit
