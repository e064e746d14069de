#include "core/net/http_client.h"

#include "core/net/charset.h"

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <mutex>

namespace tesmo::net {
namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL *c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
struct MultiDeleter {
    void operator()(CURLM *m) const { curl_multi_cleanup(m); }
};

// What the write callback shares with openUrl(): curl is C, so nothing may be thrown
// through it; an exception is parked here and rethrown once curl has returned.
struct Transfer {
    const HttpClient::Sink *sink = nullptr;
    long long received = 0;
    long long limit = 0;
    bool overLimit = false;
    std::exception_ptr error;
};

size_t onBody(char *data, size_t size, size_t count, void *user) {
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    if (t->received + static_cast<long long>(n) > t->limit) {
        t->overLimit = true;
        return 0;
    }
    t->received += static_cast<long long>(n);
    try {
        (*t->sink)(data, n);
    } catch (...) {
        t->error = std::current_exception();
        return 0;
    }
    return n;
}

} // namespace

void HttpClient::openUrl(const std::string &url, UiPort &port, const Sink &sink) {
    initCurlOnce();
    m_lastStatus = 0;
    m_lastContentType.clear();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        throw HttpError("HTTP クライアントを初期化できません");
    CURL *c = easy.get();

    Transfer transfer;
    transfer.sink = &sink;
    transfer.limit = maxBytes;
    char errbuf[CURL_ERROR_SIZE] = {0};
    // A stalled or trickling transfer must end: connecting and every slow stretch of the
    // transfer are bounded by the time-out, the whole of it by the total time-out. A time-out
    // of 0 would mean "wait for ever", so it falls back to the default.
    const long timeout = requestTimeout > 0 ? requestTimeout : 60;
    const long total = totalTimeout > 0 ? totalTimeout : timeout * kDeadlineTimeouts;

    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, acceptEncoding.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Tesmo");
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, kMinBytesPerSecond);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, total);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    for (const std::string &h : headers) {
        curl_slist *grown = curl_slist_append(headerList.get(), h.c_str());
        if (!grown)
            throw HttpError("HTTP クライアントを初期化できません");
        // The list that curl_slist_append returns holds the old one: it takes over.
        (void)headerList.release();
        headerList.reset(grown);
    }
    if (headerList)
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());

    const bool viaProxy = accessType == AccessType::Preconfig ||
                          (accessType == AccessType::NamedProxy && !proxy.empty());
    if (accessType != AccessType::Preconfig)
        curl_easy_setopt(c, CURLOPT_PROXY, accessType == AccessType::Direct ? "" : proxy.c_str());
    // The credentials belong to the proxy when there is one; otherwise the server gets them,
    // but only when it asks for them.
    if (!userName.empty() || !password.empty()) {
        if (viaProxy) {
            curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, userName.c_str());
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, password.c_str());
        } else {
            curl_easy_setopt(c, CURLOPT_USERNAME, userName.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
            curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
        }
    }

    // The multi interface lets us come back every 100 ms to keep the window alive, instead of
    // sitting inside curl until the transfer ends.
    curl_multi_add_handle(multi.get(), c);
    const ProgressScope progress(port);
    int running = 1;
    CURLcode result = CURLE_OK;
    while (running) {
        const CURLMcode mc = curl_multi_perform(multi.get(), &running);
        if (mc != CURLM_OK) {
            curl_multi_remove_handle(multi.get(), c);
            throw HttpError(curl_multi_strerror(mc));
        }
        if (!running)
            break;
        curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
        curl_off_t got = 0;
        curl_off_t size = -1;
        curl_easy_getinfo(c, CURLINFO_SIZE_DOWNLOAD_T, &got);
        curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        port.progress(got, size);
        port.processEvents();
    }
    int queued = 0;
    while (CURLMsg *msg = curl_multi_info_read(multi.get(), &queued))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == c)
            result = msg->data.result;
    curl_multi_remove_handle(multi.get(), c);

    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    m_lastStatus = status;
    char *type = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        m_lastContentType = type;

    if (transfer.error)
        std::rethrow_exception(transfer.error);
    if (transfer.overLimit)
        throw BodyTooLarge("受信データが上限(" + std::to_string(maxBytes / 1000000) +
                           "MB)を超えたため中止しました: " + url);
    if (result != CURLE_OK) {
        std::string text = curl_easy_strerror(result);
        if (errbuf[0])
            text += std::string(" (") + errbuf + ")";
        throw HttpError(text + ": " + url);
    }
}

std::string HttpClient::openUrlText(const std::string &url, UiPort &port) {
    std::string body;
    openUrl(url, port, [&body](const char *data, size_t n) { body.append(data, n); });
    return bodyToUtf8(body, m_lastContentType);
}

} // namespace tesmo::net
