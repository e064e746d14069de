#pragma once
// Trading dates as the programs keep them (yyyymmdd integers) and the day counts behind the
// calendar arithmetic on them.
#include <ctime>
#include <optional>
#include <string>

namespace tesmo {

// Days since 1970-01-01 of a yyyymmdd date (proleptic Gregorian calendar), and back.
long long dayOrdinal(long long yyyymmdd);
long long dateOfOrdinal(long long ordinal);
// `yyyymmdd` moved by `days` calendar days.
long long addDays(long long yyyymmdd, long long days);
// A real calendar date (no 20240230, no month 13).
bool isValidDate(long long yyyymmdd);
// 0 Sunday .. 6 Saturday.
int weekdayOf(long long yyyymmdd);
// "YYYY-MM-DD", and back; nullopt for anything but a real date in that form.
std::string isoDate(long long yyyymmdd);
std::optional<long long> parseIsoDate(const std::string &text);
// "YYYY/MM/DD", as messages show a date.
std::string slashDate(long long yyyymmdd);
// The local date of `when`.
long long localDate(std::time_t when);

} // namespace tesmo
