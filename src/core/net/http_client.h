#pragma once
// The HTTP client of the programs: one GET at a time through libcurl, bounded in size and time,
// that blocks the caller until the transfer ends but keeps the window alive by pumping its
// events through the UI port.
#include "core/common/ui_port.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tesmo::net {

class HttpError : public std::runtime_error {
public:
    explicit HttpError(const std::string &what) : std::runtime_error(what) {}
};

// A body that passed the client's maxBytes: the server is broken or hostile, and asking again
// would only bring the same bytes.
class BodyTooLarge : public HttpError {
public:
    using HttpError::HttpError;
};

// How the client reaches the server.
enum class AccessType {
    Preconfig = 0,  // whatever the system says (http_proxy and friends)
    Direct = 1,     // no proxy at all, whatever the environment says
    NamedProxy = 2, // through `proxy`
};

// No single download or page may bring more than this: a broken or hostile server must not
// be able to fill the disk or the memory.
inline constexpr long long kMaxTransferBytes = 200LL * 1000 * 1000;
// A server that trickles its answer must not hold the window for ever: a transfer that brings
// less than kMinBytesPerSecond over a whole time-out (the setting tosec), or that is still
// running after kDeadlineTimeouts time-outs, ends as a time-out. 1 KB/s over 60 s still lets
// the slowest modem through; 20 × 60 s is the updater's own patience.
inline constexpr long kMinBytesPerSecond = 1024;
inline constexpr int kDeadlineTimeouts = 20;

// The HTTP client: properties that each fetch sets before it asks for a URL, and one GET.
// Any HTTP status counts as an answer (an error page's body arrives like any other body);
// only a failed or stalled transfer raises.
class HttpClient {
public:
    AccessType accessType = AccessType::Direct;
    std::string proxy;
    std::string userName;
    std::string password;
    int requestTimeout = 60; // seconds; also the window of the rate check
    // Seconds the whole transfer may take; 0: kDeadlineTimeouts × requestTimeout.
    int totalTimeout = 0;
    long long maxBytes = kMaxTransferBytes;
    // Extra request headers ("Name: value"), sent with every request of this client.
    std::vector<std::string> headers;
    // Off: a redirect is an answer of its own. A client that sends a key in its headers must
    // not hand it on to whatever host a redirect names.
    bool followRedirects = true;
    // The encodings offered in Accept-Encoding; empty: every one the library can decode.
    std::string acceptEncoding;

    using Sink = std::function<void(const char *data, size_t size)>;

    // GET `url` and hand the body to `sink` piece by piece. An exception thrown by the sink
    // ends the transfer and reaches the caller unchanged. Raises HttpError when the request
    // fails, brings less than kMinBytesPerSecond for `requestTimeout` seconds, runs past its
    // total time-out, or BodyTooLarge when the body passes `maxBytes`.
    void openUrl(const std::string &url, UiPort &port, const Sink &sink);

    // GET `url` and return the body as UTF-8, converted from the charset that the server
    // names in its Content-Type (see bodyToUtf8).
    std::string openUrlText(const std::string &url, UiPort &port);

    // Status code and Content-Type of the last answer (0 and empty before the first one).
    long lastStatus() const { return m_lastStatus; }
    const std::string &lastContentType() const { return m_lastContentType; }

private:
    long m_lastStatus = 0;
    std::string m_lastContentType;
};

} // namespace tesmo::net
