#pragma once
// How far a catch-up of several days is and how long the rest will take, as the caption shows
// it after the day ("12/41日 残り約25分"): the user sees a long run move and can judge whether
// to let it finish or stop it.
#include <functional>
#include <string>

namespace tesmo::acquire {

// "残り約25分", "残り約1時間5分", "残り1分未満": minutes rounded up, so that the last
// minute is never shown as nothing left.
std::string timeLeftText(double seconds);

class CatchUpProgress {
public:
    using Clock = std::function<double()>; // seconds on a steady clock

    // `perMinute`: the requests a minute that the source allows (0: no such limit), which
    // bounds the pace from below once the first requests of the minute are spent.
    CatchUpProgress(Clock clock, int perMinute = 0)
        : m_clock(std::move(clock)), m_perMinute(perMinute) {}

    // Days that turned out to be missing, before or during the run.
    void addDays(long long days) { m_total += days; }
    // The next day begins; its requests (pages) counted in dayEnded.
    void dayStarted();
    // The day ended, imported or not; `requests` it cost that every day costs.
    void dayEnded(int requests = 0);
    // Time the run spent once for all days (the names of the issues): no pace of the days.
    void setAside(double seconds) { m_setAside += seconds; }

    long long done() const { return m_done; }
    long long total() const { return m_total; }
    long long remaining() const { return m_total - m_done; }
    // Seconds the days not done yet will take at the pace so far; negative before the first
    // day has ended, when there is no pace yet.
    double secondsLeft() const;
    // "12/41日" for the day in progress (the 12th), then the time left when it is known.
    std::string text() const;

private:
    Clock m_clock;
    int m_perMinute;
    long long m_total = 0;
    long long m_done = 0;
    long long m_requests = 0;
    double m_started = -1; // when the first day began
    double m_setAside = 0;
};

} // namespace tesmo::acquire
