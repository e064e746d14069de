#pragma once
// Starting and stopping a cpp-httplib server on loopback for a test, on a thread of its own.
#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace tesmo::test {

// Binds `server` to a free port of 127.0.0.1, serves on `thread` and returns once it answers.
inline int startOnLoopback(httplib::Server &server, std::thread &thread, const std::string &who) {
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error(who + ": cannot bind 127.0.0.1");
    thread = std::thread([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return port;
}

inline void stopOnLoopback(httplib::Server &server, std::thread &thread) {
    server.stop();
    if (thread.joinable())
        thread.join();
}

} // namespace tesmo::test
