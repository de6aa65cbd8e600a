#include "base/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace iit {
namespace {

TEST(DateTime, Texts) {
    struct Case {
        double days;
        const char* want;
    };
    const Case cases[] = {
        {0.0, "1899年12月30日"},
        {1.0, "1899年12月31日"},
        {2.0, "1900年1月1日"},
        {-1.0, "1899年12月29日"},
        {-1.25, "1899年12月29日6时"}, // the time counts forward from the day
        {0.25, "1899年12月30日6时"},
        {0.5 + 30.0 / 1440, "1899年12月30日12时30分"},
        {45000.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0, "2023年3月15日13时5分9秒"},
        {45000.0 + 59.0 / 86400.0, "2023年3月15日0时0分59秒"},
        {45000.0 + 1.0 / 86400.0 / 3, "2023年3月15日"}, // a third of a second rounds to midnight
        {45000.999999999, "2023年3月16日"},             // rounds up into the next day
        {44999.999999, "2023年3月15日"},
        {36526.0, "2000年1月1日"},
        {36585.0, "2000年2月29日"},
        {-657434.0, "100年1月1日"},
        {-1e9, "100年1月1日"}, // clamped
        {2958465.0, "9999年12月31日"},
        {2958465.75, "9999年12月31日"}, // clamped to the bound first
        {1e300, "9999年12月31日"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toTextDateTime(c.days).toUtf8(), c.want) << c.days;
}

TEST(DateTime, PartsAndMake) {
    EXPECT_EQ(DatePart(45000.75), 45000.0);
    EXPECT_EQ(DatePart(-1.25), -1.0);
    EXPECT_EQ(DatePart(std::nan("")), 0.0);
    EXPECT_EQ(YearOf(45000.75), 2023);
    EXPECT_EQ(YearOf(-1e9), 100);
    EXPECT_EQ(YearOf(1e9), 9999);
    EXPECT_EQ(makeDateTime(2023, 3, 15), 45000.0);
    EXPECT_EQ(makeDateTime(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(makeDateTime(100, 1, 1), kMinDateTime);
    EXPECT_EQ(makeDateTime(9999, 12, 31), kMaxDateTime);
}

TEST(DateTime, NowFollowsTheLocalClock) {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    const double now = Now();
    EXPECT_EQ(YearOf(now), local.tm_year + 1900);
    const CivilDateTime c = splitDateTime(now);
    EXPECT_EQ(c.month, static_cast<unsigned>(local.tm_mon + 1));
    EXPECT_NEAR(c.hour * 3600 + c.minute * 60 + c.second,
                local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec, 5);
}

} // namespace
} // namespace iit
