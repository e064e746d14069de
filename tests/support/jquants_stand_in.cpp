#include "support/jquants_stand_in.h"

#include <httplib.h>

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
    m->port = m->server.bind_to_any_port("127.0.0.1");
    if (m->port <= 0)
        throw std::runtime_error("J-Quants stand-in: cannot bind 127.0.0.1");
    m->thread = std::thread([this] { m->server.listen_after_bind(); });
    while (!m->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

JQuantsStandIn::~JQuantsStandIn() {
    m->server.stop();
    if (m->thread.joinable())
        m->thread.join();
}

std::string JQuantsStandIn::base() const {
    return "http://127.0.0.1:" + std::to_string(m->port) + sample_site::JQuantsSite::basePath();
}

} // namespace tesmo::test
