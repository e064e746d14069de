#include "support/jquants_stand_in.h"

#include "support/loopback_server.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace tesmo::test {

struct JQuantsStandIn::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
};

JQuantsStandIn::JQuantsStandIn(sample_site::JQuantsOptions options, FakeClock &clock)
    : m(std::make_unique<Impl>()) {
    if (!options.clock)
        options.clock = [&clock] { return clock.now(); };
    m_site = std::make_unique<sample_site::JQuantsSite>(std::move(options));
    sample_site::mountJQuants(m->server, *m_site);
    m->port = startOnLoopback(m->server, m->thread, "J-Quants stand-in");
}

JQuantsStandIn::~JQuantsStandIn() {
    stopOnLoopback(m->server, m->thread);
}

std::string JQuantsStandIn::base() const {
    return "http://127.0.0.1:" + std::to_string(m->port) + sample_site::JQuantsSite::basePath();
}

} // namespace tesmo::test
