#include "core/net/http_fetch.h"

#include "core/common/cp932.h"
#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"

#include <curl/curl.h>
#include <iconv.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>

namespace fs = std::filesystem;

namespace tesmo::net {
namespace {

const char *const kFailPhrase = "時にエラー発生 詳細:";

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

// The charset parameter of a Content-Type value, lower case; empty when there is none.
std::string charsetOf(const std::string &contentType) {
    const std::string lower = lowerAscii(contentType);
    const auto at = lower.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string v = lower.substr(at + 8);
    const auto end = v.find_first_of("; \t");
    if (end != std::string::npos)
        v.resize(end);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\''))
        v = v.substr(1, v.size() - 2);
    return v;
}

bool isCp932Name(const std::string &cs) {
    return cs.empty() || cs == "shift_jis" || cs == "shift-jis" || cs == "sjis" || cs == "x-sjis" ||
           cs == "windows-31j" || cs == "cp932" || cs == "ms932" || cs == "csshiftjis" ||
           cs == "ms_kanji";
}

// Converts from a charset other than code page 932 and UTF-8; a byte that the charset does
// not define becomes U+FFFD. Unknown charsets are read as code page 932.
std::string otherCharsetToUtf8(const std::string &body, const std::string &charset) {
    iconv_t cd = ::iconv_open("UTF-8", charset.c_str());
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
    if (cd == reinterpret_cast<iconv_t>(-1))
        return cp932ToUtf8(body);
    std::string out;
    char *in = const_cast<char *>(body.data());
    size_t left = body.size();
    char buf[4096];
    while (left > 0) {
        char *dst = buf;
        size_t room = sizeof buf;
        const size_t rc = ::iconv(cd, &in, &left, &dst, &room);
        const int err = errno;
        out.append(buf, static_cast<size_t>(dst - buf));
        if (rc == static_cast<size_t>(-1) && err != E2BIG) {
            out += "\xEF\xBF\xBD";
            ++in;
            --left;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(cd);
    return out;
}

std::string bodyToUtf8(const std::string &body, const std::string &contentType) {
    const std::string cs = charsetOf(contentType);
    if (cs == "utf-8" || cs == "utf8")
        return body;
    if (isCp932Name(cs))
        return cp932ToUtf8(body);
    return otherCharsetToUtf8(body, cs);
}

// A setting read as a whole number, with the reader's own default.
int settingInt(const storage::SettingKey &key, const std::string &defaultValue) {
    const std::string text = storage::readSetting(key, defaultValue);
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    while (end && (*end == ' ' || *end == '\t'))
        ++end;
    if (text.empty() || errno != 0 || !end || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        throw storage::SettingsError(std::string("設定 ") + key.key +
                                     " の値が数値ではありません: \"" + text + "\"");
    return static_cast<int>(v);
}

int settingInt(const storage::SettingKey &key) {
    return settingInt(key, storage::defaultOf(key));
}

void applyMainProxy(HttpClient &client) {
    using namespace storage;
    if (settingInt(keys::proxychk) == 0) {
        client.accessType = AccessType::Direct;
        client.proxy.clear();
    } else {
        client.accessType = AccessType::NamedProxy;
        client.proxy = readSetting(keys::proxysv);
    }
    client.userName = readSetting(keys::proxyid);
    client.password = readSetting(keys::proxypd);
}

void applyUpdaterProxy(HttpClient &client) {
    using namespace storage;
    const int proxy = settingInt(keys::auto_proxy);
    if (proxy == 0) {
        client.proxy.clear();
        client.accessType = AccessType::Direct;
    } else if (proxy == 1) {
        client.proxy.clear();
        client.accessType = AccessType::Preconfig;
    } else {
        client.proxy = readSetting(keys::auto_setproxy);
        client.accessType = AccessType::NamedProxy;
    }
}

} // namespace

void applyMainSettings(HttpClient &client) {
    applyMainProxy(client);
    client.requestTimeout = settingInt(storage::keys::tosec);
}

namespace {

void removeQuietly(const std::string &path) {
    std::error_code ec;
    fs::remove(path, ec);
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

std::string tempDownloadName(std::time_t when, int number) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char stamp[32];
    (void)std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d_", tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec);
    return std::string(stamp) + std::to_string(number) + ".tmp";
}

std::string FetchToFile(const std::string &url, UiPort &port, HttpClient &client,
                        const std::string &outPath, FetchSettings settings) {
    using namespace storage;
    const bool updater = settings == FetchSettings::Updater;
    std::string step;
    std::string caption;
    std::string temp;
    bool captionTaken = false;
    try {
        step = "前処理";
        caption = port.caption();
        captionTaken = true;

        step = "tmpﾌｧｲﾙID作成(乱数)";
        std::mt19937 random(static_cast<unsigned>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count()));
        const int number = std::uniform_int_distribution<int>(1, 512)(random);
        step = "tmpﾌｧｲﾙID作成(日時)";
        temp = pathFor(FileKind::Download, tempDownloadName(std::time(nullptr), number));

        step = "ReTry情報取得";
        const int retimes = settingInt(updater ? keys::auto_retimes : keys::retimes);
        const int resec = settingInt(updater ? keys::auto_resec : keys::resec);

        step = "proxy設定";
        if (updater)
            applyUpdaterProxy(client);
        else
            applyMainProxy(client);

        step = "Time Out設定";
        client.requestTimeout = settingInt(updater ? keys::auto_tosec : keys::tosec);

        step = "URL設定";
        if (updater) {
            step = "UserID設定";
            client.userName = readSetting(keys::auto_userid);
            step = "UserPS設定";
            client.password = readSetting(keys::auto_userps);
            step = "URL設定";
        }

        bool fetched = false;
        for (int i = 0; i <= retimes && !fetched; ++i) {
            if (i > 0) {
                step = "ReTry スリープ";
                port.setCaption(caption + " 再試行中です(" + std::to_string(i) + "/" +
                                std::to_string(retimes) + ")");
                port.repaint();
                port.wait(resec);
            }

            step = "HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行";
            // The body goes straight into the temporary file; it is created even when the
            // body is empty, so that the checks below see what arrived.
            std::ofstream out;
            auto openTemp = [&] {
                out.open(temp, std::ios::binary | std::ios::trunc);
                if (!out)
                    throw std::runtime_error("一時ファイルを作成できません: " + temp);
            };
            client.openUrl(url, port, [&](const char *data, size_t n) {
                if (!out.is_open())
                    openTemp();
                if (!out.write(data, static_cast<std::streamsize>(n)))
                    throw std::runtime_error("一時ファイルに書き込めません: " + temp);
            });

            step = "tmpﾌｧｲﾙ出力";
            if (!out.is_open())
                openTemp();
            out.close();
            if (out.fail())
                throw std::runtime_error("一時ファイルに書き込めません: " + temp);

            step = "tmpﾌｧｲﾙﾁｪｯｸ(1)";
            bool failed = false;
            if (!fileExists(temp)) {
                step = "ﾌｧｲﾙが取得出来ませんでした(1)";
                failed = true;
            }
            // The length check follows a failed existence check too; a missing file then
            // ends the fetch as an error of this step.
            step = "tmpﾌｧｲﾙﾁｪｯｸ(2)";
            const long long length = fileLength(temp);
            if (length < 0)
                throw std::runtime_error("ファイルが見つかりません: " + temp);
            if (length < 1) {
                step = "ﾌｧｲﾙが取得出来ませんでした(2)";
                removeQuietly(temp);
                failed = true;
            }
            fetched = !failed;
        }

        port.setCaption(caption + "処理中。。");
        port.repaint();
        if (!fetched) {
            port.setCaption(caption);
            return step;
        }
        if (!outPath.empty()) {
            step = "tempからコピー";
            fs::copy_file(temp, outPath, fs::copy_options::overwrite_existing);
        }
        step = "tmpクリア";
        fs::remove(temp);
        step = "後処理";
        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        if (captionTaken)
            port.setCaption(caption);
        // A half-written temporary file is of no use to anybody.
        if (!temp.empty())
            removeQuietly(temp);
        return step + kFailPhrase + e.what();
    }
}

std::string FetchToText(const std::string &url, UiPort &port, HttpClient &client,
                        std::string &text) {
    using namespace storage;
    std::string step;
    try {
        step = "前処理";
        step = "ReTry情報取得";
        const int retimes = settingInt(keys::retimes);
        settingInt(keys::resec, "60"); // read for its check; one request never waits
        step = "proxy設定";
        applyMainProxy(client);
        step = "Time Out設定";
        client.requestTimeout = settingInt(keys::tosec);
        step = "URL設定";
        if (retimes < 0)
            return "ReTry ｵｰﾊﾞｰ";
        step = "HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行";
        text = client.openUrlText(url, port);
        return {};
    } catch (const std::exception &e) {
        return step + kFailPhrase + e.what();
    }
}

} // namespace tesmo::net
