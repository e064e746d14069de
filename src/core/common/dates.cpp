#include "core/common/dates.h"

#include <cstdio>

namespace tesmo {

// Howard Hinnant's days_from_civil and civil_from_days.
long long dayOrdinal(long long yyyymmdd) {
    long long y = yyyymmdd / 10000;
    const long long m = yyyymmdd / 100 % 100;
    const long long d = yyyymmdd % 100;
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

long long dateOfOrdinal(long long ordinal) {
    const long long z = ordinal + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    return (yoe + era * 400 + (m <= 2)) * 10000 + m * 100 + d;
}

long long addDays(long long yyyymmdd, long long days) {
    return dateOfOrdinal(dayOrdinal(yyyymmdd) + days);
}

bool isValidDate(long long yyyymmdd) {
    return yyyymmdd > 0 && dateOfOrdinal(dayOrdinal(yyyymmdd)) == yyyymmdd;
}

int weekdayOf(long long yyyymmdd) {
    // 1970-01-01 was a Thursday.
    return static_cast<int>(((dayOrdinal(yyyymmdd) % 7) + 7 + 4) % 7);
}

std::string isoDate(long long yyyymmdd) {
    char text[32];
    (void)std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", yyyymmdd / 10000,
                        yyyymmdd / 100 % 100, yyyymmdd % 100);
    return text;
}

std::optional<long long> parseIsoDate(const std::string &text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    long long v = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 4 || i == 7)
            continue;
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        v = v * 10 + (text[i] - '0');
    }
    if (!isValidDate(v))
        return std::nullopt;
    return v;
}

std::string slashDate(long long yyyymmdd) {
    std::string text = isoDate(yyyymmdd);
    text[4] = text[7] = '/';
    return text;
}

long long localDate(std::time_t when) {
    std::tm t{};
    localtime_r(&when, &t);
    return (t.tm_year + 1900) * 10000LL + (t.tm_mon + 1) * 100LL + t.tm_mday;
}

} // namespace tesmo
