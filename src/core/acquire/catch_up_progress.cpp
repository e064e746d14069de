#include "core/acquire/catch_up_progress.h"

#include <algorithm>
#include <cmath>

namespace tesmo::acquire {

std::string timeLeftText(double seconds) {
    if (seconds < 60)
        return "残り1分未満";
    const long long minutes = static_cast<long long>(std::ceil(seconds / 60));
    if (minutes < 60)
        return "残り約" + std::to_string(minutes) + "分";
    return "残り約" + std::to_string(minutes / 60) + "時間" +
           (minutes % 60 ? std::to_string(minutes % 60) + "分" : std::string());
}

void CatchUpProgress::dayStarted() {
    if (m_started < 0)
        m_started = m_clock();
}

void CatchUpProgress::dayEnded(int requests) {
    ++m_done;
    m_requests += requests;
}

double CatchUpProgress::secondsLeft() const {
    if (m_done == 0 || m_started < 0)
        return -1;
    double perDay = std::max(0.0, m_clock() - m_started - m_setAside) / static_cast<double>(m_done);
    // A source that allows a few requests a minute lets the first ones through at once: the
    // first days go faster than the rest will, whose pace the allowance sets.
    if (m_perMinute > 0)
        perDay = std::max(perDay, static_cast<double>(m_requests) / static_cast<double>(m_done) *
                                      60.0 / m_perMinute);
    return perDay * static_cast<double>(remaining());
}

std::string CatchUpProgress::text() const {
    std::string out =
        std::to_string(std::min(m_done + 1, m_total)) + "/" + std::to_string(m_total) + "日";
    if (const double left = secondsLeft(); left >= 0)
        out += " " + timeLeftText(left);
    return out;
}

} // namespace tesmo::acquire
