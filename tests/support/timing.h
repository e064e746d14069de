#pragma once
// Wall and CPU time of a piece of work, for the benchmarks: on a machine that others share, the
// CPU time tells the work apart from the waits for the processor.
#include <chrono>
#include <ctime>

namespace tesmo::test {

struct Timing {
    double wall = 0; // milliseconds
    double cpu = 0;  // milliseconds of the process
};

template <class F> Timing timingOf(F &&work) {
    auto cpuNow = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpuNow();
    work();
    return {
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(),
        cpuNow() - c0};
}

} // namespace tesmo::test
