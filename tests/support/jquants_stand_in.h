#pragma once
// The sample site's J-Quants stand-in on a loopback server of the test's own, with a clock that
// only the test moves: the client's pacer, the port's waits and the stand-in's rate count all
// read it, so minutes of waiting pass at once and the request times can be checked.
#include "support/recording_port.h"

#include "jquants_site.h"

#include <atomic>
#include <memory>
#include <string>

namespace tesmo::test {

class FakeClock {
public:
    double now() const { return m_now; }
    void advance(double seconds) { m_now = m_now + seconds; }

private:
    std::atomic<double> m_now{1000.0};
};

// A recording port whose waits move the clock.
class ClockPort : public RecordingPort {
public:
    explicit ClockPort(FakeClock &clock) : m_clock(clock) {}
    void wait(int seconds) override {
        RecordingPort::wait(seconds);
        m_clock.advance(seconds);
    }

private:
    FakeClock &m_clock;
};

class JQuantsStandIn {
public:
    // `options.clock` is set to `clock` unless the test gave one.
    JQuantsStandIn(sample_site::JQuantsOptions options, FakeClock &clock);
    ~JQuantsStandIn();
    JQuantsStandIn(const JQuantsStandIn &) = delete;
    JQuantsStandIn &operator=(const JQuantsStandIn &) = delete;

    // "http://127.0.0.1:<port>/v2": what jquantsapi holds.
    std::string base() const;
    sample_site::JQuantsSite &site() { return *m_site; }

private:
    struct Impl;
    std::unique_ptr<sample_site::JQuantsSite> m_site;
    std::unique_ptr<Impl> m;
};

} // namespace tesmo::test
