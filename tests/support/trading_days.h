#pragma once
// Runs of dates for tests and benchmarks; trading dates are the weekdays (no holiday calendar).
#include <chrono>
#include <vector>

namespace tesmo::test {

// `count` dates yyyymmdd from `first` on, every day or (`weekdaysOnly`) Monday to Friday.
inline std::vector<long long> calendarDays(long long first, size_t count, bool weekdaysOnly) {
    namespace chr = std::chrono;
    chr::sys_days d = chr::year_month_day(chr::year(static_cast<int>(first / 10000)),
                                          chr::month(static_cast<unsigned>(first / 100 % 100)),
                                          chr::day(static_cast<unsigned>(first % 100)));
    std::vector<long long> out;
    for (; out.size() < count; d += chr::days(1)) {
        const chr::weekday wd(d);
        if (weekdaysOnly && (wd == chr::Saturday || wd == chr::Sunday))
            continue;
        const chr::year_month_day ymd(d);
        out.push_back(static_cast<int>(ymd.year()) * 10000LL +
                      static_cast<unsigned>(ymd.month()) * 100 + static_cast<unsigned>(ymd.day()));
    }
    return out;
}

// `count` weekdays from `first` on (`first` included when it is a weekday).
inline std::vector<long long> tradingDays(long long first, size_t count) {
    return calendarDays(first, count, true);
}

} // namespace tesmo::test
