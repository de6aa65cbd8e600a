// Date-times: OLE automation dates on the proleptic Gregorian calendar (day 0 = 1899-12-30).
#include "base/convert.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <string>

namespace iit {
namespace {

using namespace std::chrono;

// 1899-12-30 counted in days from 1970-01-01.
constexpr int kEpochOffset = -25569;

year_month_day civilFromDay(long day) {
    return year_month_day{sys_days{days{day + kEpochOffset}}};
}

} // namespace

double clampDateTime(double d) {
    if (std::isnan(d)) return 0.0;
    if (d < kMinDateTime) return kMinDateTime;
    if (d > kMaxDateTime) return kMaxDateTime;
    return d;
}

CivilDateTime splitDateTime(double value) {
    const double d = clampDateTime(value);
    long day = static_cast<long>(std::trunc(d));
    long seconds = std::lround(std::fabs(d - std::trunc(d)) * 86400.0);
    if (seconds >= 86400) { // the time of day rounds up into the next day
        seconds -= 86400;
        ++day;
    }
    const year_month_day ymd = civilFromDay(day);
    return CivilDateTime{static_cast<int>(ymd.year()),        static_cast<unsigned>(ymd.month()),
                         static_cast<unsigned>(ymd.day()),    static_cast<int>(seconds / 3600),
                         static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60)};
}

double makeDateTime(int y, unsigned m, unsigned d, int hour, int minute, int second) {
    const sys_days sd{year_month_day{year{y}, month{m}, day{d}}};
    const double dayNumber = static_cast<double>(sd.time_since_epoch().count() - kEpochOffset);
    const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    // Before day 0 the time of day is still counted forward from the day's start.
    return dayNumber < 0 ? dayNumber - fraction : dayNumber + fraction;
}

double DatePart(double value) {
    const CivilDateTime c = splitDateTime(value);
    return makeDateTime(c.year, c.month, c.day);
}

std::int32_t YearOf(double value) {
    return splitDateTime(value).year;
}

double Now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return makeDateTime(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                        static_cast<unsigned>(local.tm_mday), local.tm_hour, local.tm_min,
                        local.tm_sec);
}

Text toTextDateTime(double value) {
    const CivilDateTime c = splitDateTime(value);
    std::string s = std::to_string(c.year) + "年" + std::to_string(c.month) + "月" +
                    std::to_string(c.day) + "日";
    if (c.second != 0) {
        s += std::to_string(c.hour) + "时" + std::to_string(c.minute) + "分" +
             std::to_string(c.second) + "秒";
    } else if (c.minute != 0) {
        s += std::to_string(c.hour) + "时" + std::to_string(c.minute) + "分";
    } else if (c.hour != 0) {
        s += std::to_string(c.hour) + "时";
    }
    return Text::fromUtf8(s);
}

} // namespace iit
