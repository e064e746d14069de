#include "core/common/dates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using namespace tesmo;

namespace {

long long asDate(const std::chrono::year_month_day &ymd) {
    return static_cast<int>(ymd.year()) * 10000LL + static_cast<unsigned>(ymd.month()) * 100 +
           static_cast<unsigned>(ymd.day());
}

// Every day from 1899 to 2101, against the standard library's calendar: the day count, its
// way back, the weekday and validity.
TEST(Dates, DayCountsFollowTheCalendarDayByDay) {
    using namespace std::chrono;
    const sys_days first = year{1899} / January / 1;
    const sys_days last = year{2101} / December / 31;
    for (sys_days d = first; d <= last; d += days{1}) {
        const long long date = asDate(year_month_day{d});
        const long long ordinal = d.time_since_epoch().count();
        ASSERT_EQ(dayOrdinal(date), ordinal) << date;
        ASSERT_EQ(dateOfOrdinal(ordinal), date) << date;
        ASSERT_EQ(weekdayOf(date), static_cast<int>(weekday{d}.c_encoding())) << date;
        ASSERT_TRUE(isValidDate(date)) << date;
    }
}

TEST(Dates, AddDaysCrossesMonthsYearsAndLeapDays) {
    const struct {
        long long date, days, expected;
    } cases[] = {
        {20240131, 1, 20240201},  {20240228, 1, 20240229},   {20240229, 1, 20240301},
        {20230228, 1, 20230301},  {19000228, 1, 19000301},   {20000228, 1, 20000229},
        {20240301, -1, 20240229}, {20250101, -1, 20241231},  {19700101, -1, 19691231},
        {20240105, 0, 20240105},  {20240229, 366, 20250301}, {20240229, -365 * 4 - 1, 20200229},
    };
    for (const auto &c : cases)
        EXPECT_EQ(addDays(c.date, c.days), c.expected) << c.date << " + " << c.days;
}

TEST(Dates, OnlyRealCalendarDatesAreValid) {
    const struct {
        long long date;
        bool valid;
    } cases[] = {
        {20240229, true},  {20230229, false}, {19000229, false}, {20000229, true},
        {20240230, false}, {20240431, false}, {20241231, true},  {20241301, false},
        {20240001, false}, {20240100, false}, {0, false},        {-20240105, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isValidDate(c.date), c.valid) << c.date;
}

TEST(Dates, IsoAndSlashTextsAndOnlyRealDatesReadBack) {
    EXPECT_EQ(isoDate(20240105), "2024-01-05");
    EXPECT_EQ(slashDate(20240105), "2024/01/05");
    EXPECT_EQ(isoDate(19991231), "1999-12-31");
    const std::pair<const char *, std::optional<long long>> cases[] = {
        {"2024-01-05", 20240105},     {"2024-02-29", 20240229},
        {"2023-02-29", std::nullopt}, {"2024-13-01", std::nullopt},
        {"2024/01/05", std::nullopt}, {"2024-1-05", std::nullopt},
        {"20240105", std::nullopt},   {" 2024-01-05", std::nullopt},
        {"2024-01-0a", std::nullopt}, {"2024-01-05 ", std::nullopt},
        {"", std::nullopt},           {"+024-01-05", std::nullopt},
    };
    for (const auto &[text, date] : cases)
        EXPECT_EQ(parseIsoDate(text), date) << text;
}

// The local date is the date in the user's time zone, not in UTC.
TEST(Dates, LocalDateFollowsTheTimeZone) {
    const char *saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    const std::time_t midnightInTokyo = 1704380400; // 2024-01-04 15:00 UTC
    EXPECT_EQ(localDate(midnightInTokyo), 20240105);
    EXPECT_EQ(localDate(midnightInTokyo - 1), 20240104);
    EXPECT_EQ(localDate(0), 19700101);
    if (saved)
        ::setenv("TZ", before.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

} // namespace
