#pragma once
// Trading dates for tests and benchmarks: the weekdays from a date on (no holiday calendar).
#include <chrono>
#include <vector>

namespace tesmo::test {

// `count` weekdays yyyymmdd from `first` on (`first` included when it is a weekday).
inline std::vector<long long> tradingDays(long long first, size_t count) {
    namespace chr = std::chrono;
    chr::sys_days d = chr::year_month_day(chr::year(static_cast<int>(first / 10000)),
                                          chr::month(static_cast<unsigned>(first / 100 % 100)),
                                          chr::day(static_cast<unsigned>(first % 100)));
    std::vector<long long> out;
    for (; out.size() < count; d += chr::days(1)) {
        const chr::weekday wd(d);
        if (wd == chr::Saturday || wd == chr::Sunday)
            continue;
        const chr::year_month_day ymd(d);
        out.push_back(static_cast<int>(ymd.year()) * 10000LL +
                      static_cast<unsigned>(ymd.month()) * 100 + static_cast<unsigned>(ymd.day()));
    }
    return out;
}

} // namespace tesmo::test
