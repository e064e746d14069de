#include "support/http_test_server.h"

#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tesmo::test {
namespace {

// Sleeps in short steps so that a stopping server is not held up by a slow handler.
void sleepUnlessStopping(int ms, const std::atomic<bool> &stopping) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

struct HttpTestServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::map<std::string, Handler> handlers;
    std::map<std::string, int> hits;
};

HttpTestServer::HttpTestServer() : m(std::make_unique<Impl>()) {
    m->server.set_keep_alive_max_count(1);
    m->server.set_keep_alive_timeout(1);
    m->server.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(m->mutex);
            ++m->hits[req.path];
            const auto it = m->handlers.find(req.path);
            if (it != m->handlers.end())
                handler = it->second;
        }
        if (!handler) {
            res.status = 404;
            return;
        }
        std::string target = req.path;
        if (!req.params.empty()) {
            target += "?";
            bool first = true;
            for (const auto &[k, v] : req.params) {
                target += (first ? "" : "&") + k + (v.empty() ? "" : "=" + v);
                first = false;
            }
        }
        const HttpReply reply = handler(target);
        if (reply.delayMs > 0)
            sleepUnlessStopping(reply.delayMs, m->stopping);
        res.status = reply.status;
        if (reply.dripMs > 0 && !reply.stallAfterBody) {
            // A trickle of a body whose length is announced, as a file download has.
            std::atomic<bool> *stopping = &m->stopping;
            res.set_content_provider(
                reply.body.size(), reply.contentType,
                [reply, stopping](size_t offset, size_t, httplib::DataSink &sink) {
                    sleepUnlessStopping(reply.dripMs, *stopping);
                    const size_t n =
                        std::min(reply.body.size() - offset, std::max<size_t>(reply.dripBytes, 1));
                    return !*stopping && sink.write(reply.body.data() + offset, n);
                });
        } else if (reply.stallAfterBody || reply.dripMs > 0) {
            std::atomic<bool> *stopping = &m->stopping;
            res.set_chunked_content_provider(
                reply.contentType,
                [reply, stopping, sent = size_t(0)](size_t, httplib::DataSink &sink) mutable {
                    if (sent < reply.body.size()) {
                        size_t n = reply.body.size() - sent;
                        if (reply.dripMs > 0) {
                            sleepUnlessStopping(reply.dripMs, *stopping);
                            n = std::min(n, std::max<size_t>(reply.dripBytes, 1));
                        }
                        if (*stopping || !sink.write(reply.body.data() + sent, n))
                            return false;
                        sent += n;
                        return true;
                    }
                    if (reply.stallAfterBody) {
                        sleepUnlessStopping(60000, *stopping);
                        return false;
                    }
                    sink.done();
                    return true;
                });
        } else {
            res.set_content(reply.body, reply.contentType);
        }
    });
    m->port = startOnLoopback(m->server, m->thread, "test server");
}

HttpTestServer::~HttpTestServer() {
    m->stopping = true;
    stopOnLoopback(m->server, m->thread);
}

int HttpTestServer::port() const {
    return m->port;
}

std::string HttpTestServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(m->port) + path;
}

void HttpTestServer::on(const std::string &path, Handler handler) {
    std::lock_guard<std::mutex> lock(m->mutex);
    m->handlers[path] = std::move(handler);
}

void HttpTestServer::serve(const std::string &path, const std::string &body, int status,
                           const std::string &contentType) {
    on(path, [=](const std::string &) {
        HttpReply r;
        r.status = status;
        r.body = body;
        r.contentType = contentType;
        return r;
    });
}

int HttpTestServer::hits(const std::string &path) const {
    std::lock_guard<std::mutex> lock(m->mutex);
    const auto it = m->hits.find(path);
    return it == m->hits.end() ? 0 : it->second;
}

struct RawTestServer::Impl {
    int fd = -1;
    int port = 0;
    std::string reply;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<int> connections{0};
};

RawTestServer::RawTestServer(std::string reply) : m(std::make_unique<Impl>()) {
    m->reply = std::move(reply);
    m->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (m->fd < 0 || ::bind(m->fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(m->fd, 8) != 0 ||
        ::getsockname(m->fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        throw std::runtime_error("raw test server: cannot bind 127.0.0.1");
    m->port = ntohs(addr.sin_port);
    m->thread = std::thread([impl = m.get()] {
        while (!impl->stopping) {
            pollfd p{impl->fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int c = ::accept4(impl->fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            ++impl->connections;
            // Read what the client sends first (the request head), briefly.
            char buf[4096];
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 1000) > 0) [[maybe_unused]]
                auto n = ::recv(c, buf, sizeof buf, 0);
            if (!impl->reply.empty()) [[maybe_unused]]
                auto n = ::send(c, impl->reply.data(), impl->reply.size(), MSG_NOSIGNAL);
            if (impl->reply.empty()) {
                linger lg{1, 0}; // a reset, not an orderly end
                ::setsockopt(c, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
            } else {
                ::shutdown(c, SHUT_WR);
            }
            ::close(c);
        }
    });
}

RawTestServer::~RawTestServer() {
    m->stopping = true;
    if (m->thread.joinable())
        m->thread.join();
    if (m->fd >= 0)
        ::close(m->fd);
}

std::string RawTestServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(m->port) + path;
}

int RawTestServer::connections() const {
    return m->connections;
}

} // namespace tesmo::test
