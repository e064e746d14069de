#pragma once
// Loopback HTTP servers for tests: 127.0.0.1 on a free port, a thread of their own, stopped by
// the destructor. HttpTestServer answers from a table of paths; RawTestServer writes fixed
// bytes (or nothing) and drops the connection, for the answers no real server would give.
#include <functional>
#include <memory>
#include <string>

namespace tesmo::test {

struct HttpReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/html";
    // Waits this long before answering (ends early when the server stops).
    int delayMs = 0;
    // Sends the body, then neither more data nor the end of the answer until the server stops.
    bool stallAfterBody = false;
    // Sends the body `dripBytes` at a time, waiting `dripMs` before each piece.
    int dripMs = 0;
    size_t dripBytes = 1;
};

class HttpTestServer {
public:
    using Handler = std::function<HttpReply(const std::string &pathAndQuery)>;

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer &) = delete;
    HttpTestServer &operator=(const HttpTestServer &) = delete;

    int port() const;
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string &path = "") const;

    // Answers GET `path` (the query is not part of the match) with the handler's reply;
    // unknown paths get 404 with an empty body.
    void on(const std::string &path, Handler handler);
    void serve(const std::string &path, const std::string &body, int status = 200,
               const std::string &contentType = "text/html");
    // Number of GET requests that `path` has received.
    int hits(const std::string &path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

class RawTestServer {
public:
    // Every connection: read the request, write `reply`, then close it; with an empty reply
    // the connection is reset instead of closed.
    explicit RawTestServer(std::string reply = {});
    ~RawTestServer();
    RawTestServer(const RawTestServer &) = delete;
    RawTestServer &operator=(const RawTestServer &) = delete;

    std::string url(const std::string &path = "") const;
    int connections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace tesmo::test
