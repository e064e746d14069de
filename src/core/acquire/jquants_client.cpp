#include "core/acquire/jquants_client.h"

#include "core/common/dates.h"
#include "core/common/text.h"
#include "core/net/http_fetch.h"
#include "core/storage/settings_keys.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <regex>
#include <set>
#include <thread>

namespace tesmo::acquire::jquants {
namespace {

// Waits after a 429 before the request is tried again, and how often.
constexpr int kRateLimitWait = 60;
constexpr int kRateLimitRetries = 3;
// A request stamped at t may be followed by the request that fills its place at t + 60 s;
// the second on top covers the time the request takes to reach the server, whose own count
// starts when it arrives.
constexpr double kPacingWindow = 61.0;
// Refusals are read for their "message" up to this size (seven megabytes of escape codes
// written as JSON escapes take twenty); beyond it only their first bytes.
constexpr size_t kMaxRefusalBytes = size_t{32} * 1000 * 1000;
// Rows are flat objects; nesting beyond this is no row of the API.
constexpr size_t kMaxRowDepth = 8;
// No value of the API (a name, a code, a key of at most kMaxKeyLength) comes near this.
constexpr size_t kMaxValueBytes = size_t{64} * 1024;

int settingOr(const storage::SettingKey &key, int fallback) {
    try {
        return static_cast<int>(storage::readSettingInt(key));
    } catch (const std::exception &) {
        return fallback;
    }
}

// The "message" of a refusal, or the printable start of a body that is no JSON (the API
// promises neither), unchanged: the caller makes it fit for the user.
std::string answerMessage(const Body &body) {
    if (body.size() <= kMaxRefusalBytes) {
        const nlohmann::json answer =
            nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
        if (answer.is_object()) {
            const auto it = answer.find("message");
            if (it != answer.end() && it->is_string())
                return it->get<std::string>();
        }
    }
    std::string excerpt;
    for (size_t i = 0; i < body.size() && i < kServerTextLimit; ++i)
        if (body[i] >= 0x20 && body[i] < 0x7F)
            excerpt += body[i];
    return excerpt;
}

// The JSON reader gathers each string and number whole before it hands it on, however long:
// a page of one 190 MB string would cost that much again, and more while its buffer grows. So
// a page with a longer value is refused before it is parsed, by one pass over its bytes.
void checkValueLengths(const Body &body) {
    size_t run = 0; // bytes of the string or the number so far
    bool inString = false;
    bool escaped = false;
    for (const char c : body) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
                run = 0;
                continue;
            }
        } else if (c == '"') {
            inString = true;
            run = 0;
            continue;
        } else if (c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == ':' ||
                   c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            run = 0;
            continue;
        }
        if (++run > kMaxValueBytes)
            throw ApiError(ApiError::Kind::BadAnswer, "長すぎる値があります(" +
                                                          std::to_string(kMaxValueBytes) +
                                                          "バイトを超えます)");
    }
}

// The SAX reader of one page: the top object, its "data" array and "pagination_key", every
// row built as a small JSON value of its own and handed over at its end.
class PageReader {
public:
    using json = nlohmann::json;

    explicit PageReader(const RowHandler &onRow) : m_onRow(onRow) {}

    bool null() { return scalar(nullptr); }
    bool boolean(bool v) { return scalar(v); }
    bool number_integer(json::number_integer_t v) { return scalar(v); }
    bool number_unsigned(json::number_unsigned_t v) { return scalar(v); }
    bool number_float(json::number_float_t v, const std::string &) { return scalar(v); }
    bool string(std::string &v) {
        if (m_rows.empty() && m_skip == 0 && m_depth == 1 && m_member == Member::Key) {
            if (v.size() > kMaxKeyLength)
                return fail("pagination_key が長すぎます");
            m_key = std::move(v);
            return true;
        }
        return scalar(std::move(v));
    }
    bool binary(json::binary_t &) { return fail("JSON ではありません"); }
    bool key(std::string &k) {
        if (!m_rows.empty())
            m_rowKey = std::move(k);
        else if (m_skip == 0 && m_depth == 1)
            m_member = k == "data"             ? Member::Data
                       : k == "pagination_key" ? Member::Key
                                               : Member::Other;
        return true;
    }
    bool start_object(size_t) { return open(json::object()); }
    bool start_array(size_t) { return open(json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool parse_error(size_t position, const std::string &, const json::exception &) {
        return fail("JSON として読めません(" + std::to_string(position) + "バイト目)");
    }

    // After the parse: the key, or the failure raised.
    std::string finish(bool parsed) {
        if (m_thrown)
            std::rethrow_exception(m_thrown);
        if (!parsed || !m_error.empty())
            throw ApiError(ApiError::Kind::BadAnswer,
                           m_error.empty() ? "JSON として読めません" : m_error);
        if (!m_sawData)
            throw ApiError(ApiError::Kind::BadAnswer, "data がありません");
        return m_key;
    }

private:
    enum class Member { Data, Key, Other };

    bool fail(const std::string &error) {
        if (m_error.empty())
            m_error = error;
        return false;
    }
    // A value inside a row, a row that is no object, or a member of the top object.
    template <class V> bool scalar(V &&v) {
        if (!m_rows.empty())
            return put(json(std::forward<V>(v))) != nullptr;
        if (m_skip > 0)
            return true;
        if (m_depth == 0)
            return fail("JSON のオブジェクトではありません");
        if (m_depth == 2)
            return handOver(json(std::forward<V>(v)));
        if (m_member == Member::Data)
            return fail("data が配列ではありません");
        if (m_member == Member::Key && !std::is_same_v<std::decay_t<V>, std::nullptr_t>)
            return fail("pagination_key が文字列ではありません");
        return true;
    }
    // Puts `v` into the row being built; the place of a container for its own members.
    json *put(json v) {
        json &parent = *m_rows.back();
        if (parent.is_array()) {
            parent.push_back(std::move(v));
            return &parent.back();
        }
        json &slot = parent[m_rowKey];
        slot = std::move(v);
        return &slot;
    }
    bool open(json container) {
        if (!m_rows.empty()) {
            if (m_rows.size() >= kMaxRowDepth)
                return fail("行の入れ子が深すぎます");
            m_rows.push_back(put(std::move(container)));
            return true;
        }
        if (m_skip > 0 || (m_depth == 1 && m_member == Member::Other)) {
            ++m_skip;
            return true;
        }
        if (m_depth == 0) {
            if (!container.is_object())
                return fail("JSON のオブジェクトではありません");
            m_depth = 1;
            return true;
        }
        if (m_depth == 2) { // a row
            m_row = std::move(container);
            m_rows.push_back(&m_row);
            return true;
        }
        if (m_member == Member::Key)
            return fail("pagination_key が文字列ではありません");
        if (!container.is_array())
            return fail("data が配列ではありません");
        if (m_sawData)
            return fail("data が2つあります");
        m_sawData = true;
        m_depth = 2;
        return true;
    }
    bool close() {
        if (!m_rows.empty()) {
            m_rows.pop_back();
            return m_rows.empty() ? handOver(m_row) : true;
        }
        if (m_skip > 0) {
            --m_skip;
            return true;
        }
        --m_depth; // the end of data, or of the top object
        return true;
    }
    bool handOver(const json &row) {
        try {
            m_onRow(row);
            return true;
        } catch (...) {
            m_thrown = std::current_exception();
            return false;
        }
    }

    const RowHandler &m_onRow;
    int m_depth = 0;   // 1: in the top object, 2: in its data array
    size_t m_skip = 0; // containers open inside a member that is passed over
    Member m_member = Member::Other;
    bool m_sawData = false;
    std::string m_key;
    json m_row;                 // the row being built
    std::vector<json *> m_rows; // its open containers, innermost last
    std::string m_rowKey;
    std::string m_error;
    std::exception_ptr m_thrown;
};

// One second of a wait that the server demands: through the port, which keeps the window
// alive, and made up by sleeping when the port let less time pass (a console that skips its
// waits), since a request sent early only earns another refusal.
void waitOneSecond(UiPort &port, const Clock &clock) {
    const double start = clock();
    port.wait(1);
    const double left = 1.0 - (clock() - start);
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

bool mentionsPlan(const std::string &message) {
    const std::string lower = lowerAscii(message);
    return lower.find("subscription") != std::string::npos ||
           lower.find("plan") != std::string::npos;
}

} // namespace

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void RequestPacer::admit(int perMinute, UiPort &port, const WaitHook &beforeWait) {
    perMinute = std::max(1, perMinute);
    const std::string caption = port.caption();
    bool waited = false;
    for (;;) {
        const double now = m_clock();
        while (!m_sent.empty() && m_sent.front() + kPacingWindow <= now)
            m_sent.pop_front();
        if (static_cast<int>(m_sent.size()) < perMinute)
            break;
        const int left = static_cast<int>(std::ceil(m_sent.front() + kPacingWindow - now));
        if (beforeWait)
            beforeWait(left);
        port.setCaption(caption + " 取得間隔の調整中(あと" + std::to_string(left) + "秒)");
        port.repaint();
        waitOneSecond(port, m_clock);
        waited = true;
    }
    if (waited)
        port.setCaption(caption);
    m_sent.push_back(m_clock());
}

RequestPacer &processPacer() {
    static RequestPacer pacer;
    return pacer;
}

std::string describe(const ApiError &e) {
    std::string detail = e.what();
    switch (e.kind) {
    case ApiError::Kind::Network:
        return "J-Quants APIに接続できません\r\nしばらくしてからやり直してみるか、あるいは\r\n"
               "インターネットへの接続を再確認してみてください。\r\n詳細:" +
               detail;
    case ApiError::Kind::Server:
        return "J-Quants APIでエラーが発生しました(HTTP " + std::to_string(e.status) +
               ")\r\nしばらくしてからやり直してください。";
    case ApiError::Kind::Forbidden:
        return "J-Quants APIがアクセスを拒否しました(HTTP 403)。\r\n"
               "APIキーが無効か期限切れか、ご契約のプランではこのデータを利用できません。\r\n"
               "[ｵﾌﾟｼｮﾝ]のAPIキーとJ-Quantsのご契約内容を確認してください。";
    case ApiError::Kind::RateLimited:
        return "J-Quants APIの利用制限(1分あたりのリクエスト数)を超えたため中止しました。\r\n"
               "しばらくしてからやり直すか、[ｵﾌﾟｼｮﾝ]の[ﾘｸｴｽﾄ数/分]をご契約のプランに合わせて"
               "ください。";
    case ApiError::Kind::OutOfPlan: {
        std::string text = "ご契約のプランではこの日付のデータを取得できません(HTTP 400)。";
        if (e.plan)
            text += "\r\n取得できる期間: " + (e.plan->from ? slashDate(e.plan->from) : "") +
                    " ～ " + (e.plan->to ? slashDate(e.plan->to) : "");
        return text + "\r\n詳細:" + detail;
    }
    case ApiError::Kind::Rejected:
        return "J-Quants APIが要求を受け付けませんでした(HTTP " + std::to_string(e.status) +
               ")\r\n詳細:" + detail;
    case ApiError::Kind::BadAnswer:
        return "J-Quants APIの応答を読み取れません\r\n詳細:" + detail;
    case ApiError::Kind::TooLarge:
        return "J-Quants APIの応答が大きすぎるため中止しました\r\n詳細:" + detail;
    }
    return detail;
}

Settings Settings::fromStore() {
    Settings s;
    s.base = storage::readSetting(storage::keys::jquantsapi);
    s.key = storage::readSetting(storage::keys::jquantskey);
    s.rate = static_cast<int>(
        std::clamp<long long>(storage::readSettingInt(storage::keys::jquantsrate), 1, 100000));
    return s;
}

Client::Client(Settings settings, UiPort &port, RequestPacer &pacer)
    : m_settings(std::move(settings)), m_port(port), m_pacer(pacer) {
    while (!m_settings.base.empty() && m_settings.base.back() == '/')
        m_settings.base.pop_back();
    // Keys hold neither blanks nor control characters: one pasted with a line end or blanks is
    // still the key, and a line break inside could end the header and add one of its own.
    std::string key;
    for (char c : m_settings.key)
        if (static_cast<unsigned char>(c) > 0x20 && c != 0x7F)
            key += c;
    m_settings.key = key;
    m_settings.rate = std::max(1, m_settings.rate);
}

std::string Client::redact(std::string text) const {
    if (!m_settings.key.empty())
        replaceAll(text, m_settings.key, "********");
    return text;
}

void Client::waitCounting(int seconds, const std::string &what) {
    const std::string caption = m_port.caption();
    for (int left = seconds; left > 0; --left) {
        if (m_beforeWait)
            m_beforeWait(left);
        m_port.setCaption(caption + " " + what + "(あと" + std::to_string(left) + "秒)");
        m_port.repaint();
        waitOneSecond(m_port, [this] { return m_pacer.now(); });
    }
    m_port.setCaption(caption);
}

std::string Client::refusalText(const Body &body) const {
    // Cleaned before the key is masked, so that control characters cannot hide it, and cut
    // only after.
    return singleLine(redact(singleLine(answerMessage(body))), kServerTextLimit);
}

Body Client::fetch(const std::string &path, const Query &query) {
    std::string url = m_settings.base + path;
    for (size_t i = 0; i < query.size(); ++i)
        url += (i ? "&" : "?") + percentEncoded(query[i].first) + "=" +
               percentEncoded(query[i].second);

    net::HttpClient http;
    net::applyMainSettings(http);
    http.headers = {"x-api-key: " + m_settings.key, "Accept: application/json"};
    http.followRedirects = false;
    http.acceptEncoding = "gzip"; // the API compresses its answers with gzip
    http.maxBytes = m_settings.maxBytes;

    // The file fetch's rules for answers that never came: retimes retries, resec apart.
    const int retimes = std::max(0, settingOr(storage::keys::retimes, 2));
    const int resec = std::max(0, settingOr(storage::keys::resec, 15));
    int faults = 0;
    int limited = 0;
    for (;;) {
        m_pacer.admit(m_settings.rate, m_port, m_beforeWait);
        ++m_requests;
        Body body;
        std::string fault;
        try {
            http.openUrl(url, m_port, [&body](const char *data, size_t n) {
                body.insert(body.end(), data, data + n);
            });
        } catch (const StopRequested &) {
            throw;
        } catch (const net::BodyTooLarge &e) {
            throw ApiError(ApiError::Kind::TooLarge, redact(e.what()));
        } catch (const std::exception &e) {
            fault = redact(e.what());
        }
        const long status = fault.empty() ? http.lastStatus() : 0;
        if (!fault.empty() || status >= 500) {
            if (m_retrying && faults < retimes) {
                ++faults;
                if (m_beforeWait)
                    m_beforeWait(resec);
                const std::string caption = m_port.caption();
                m_port.setCaption(caption + " 再試行中です(" + std::to_string(faults) + "/" +
                                  std::to_string(retimes) + ")");
                m_port.repaint();
                m_port.wait(resec);
                m_port.setCaption(caption);
                continue;
            }
            if (!fault.empty())
                throw ApiError(ApiError::Kind::Network, fault);
            throw ApiError(ApiError::Kind::Server, refusalText(body), static_cast<int>(status));
        }
        if (status == 429) {
            // No Retry-After comes with it; the API asks for at least a minute.
            if (m_retrying && limited < kRateLimitRetries) {
                ++limited;
                waitCounting(kRateLimitWait, "利用制限のため待機中 再試行" +
                                                 std::to_string(limited) + "/" +
                                                 std::to_string(kRateLimitRetries));
                continue;
            }
            throw ApiError(ApiError::Kind::RateLimited, refusalText(body), 429);
        }
        if (status >= 200 && status < 300)
            return body;
        const std::string message = refusalText(body);
        if (status == 403)
            throw ApiError(ApiError::Kind::Forbidden, message, 403);
        if (status == 400 && mentionsPlan(message))
            throw ApiError(ApiError::Kind::OutOfPlan, message, 400, coveredRange(message));
        throw ApiError(ApiError::Kind::Rejected, message, static_cast<int>(status));
    }
}

std::string Client::page(const std::string &path, const Query &query, const RowHandler &onRow) {
    const Body body = fetch(path, query);
    try {
        return readPage(body, onRow);
    } catch (const ApiError &e) {
        if (e.kind != ApiError::Kind::BadAnswer)
            throw;
        throw ApiError(ApiError::Kind::BadAnswer, std::string(e.what()) + ": " + path);
    }
}

void Client::forEachRow(const std::string &path, const Query &query, const RowHandler &onRow,
                        const std::function<void()> &pageDone) {
    std::set<std::string> seen;
    std::string key;
    for (int pages = 1;; ++pages) {
        Query paged = query;
        if (!key.empty())
            paged.emplace_back("pagination_key", key);
        key = page(path, paged, onRow);
        if (pageDone)
            pageDone();
        if (key.empty())
            return;
        // A key met before leads round the same pages again, however many keys the loop has.
        if (!seen.insert(key).second)
            throw ApiError(ApiError::Kind::BadAnswer, "同じ pagination_key が再び返されました(" +
                                                          std::to_string(pages) +
                                                          "ページ目): " + path);
        if (pages >= kMaxPages)
            throw ApiError(ApiError::Kind::BadAnswer, "ページ数が上限(" +
                                                          std::to_string(kMaxPages) +
                                                          ")を超えました: " + path);
    }
}

std::string readPage(const Body &body, const RowHandler &onRow) {
    checkValueLengths(body);
    PageReader reader(onRow);
    const bool parsed = nlohmann::json::sax_parse(body.begin(), body.end(), &reader);
    return reader.finish(parsed);
}

std::string databaseCode(const std::string &apiCode) {
    if (apiCode.size() == 5 && apiCode[4] == '0')
        return apiCode.substr(0, 4);
    return apiCode;
}

std::optional<PlanRange> coveredRange(const std::string &message) {
    static const std::regex range(R"((\d{4}-\d{2}-\d{2})\s*~\s*(\d{4}-\d{2}-\d{2}|\.))");
    std::smatch m;
    if (!std::regex_search(message, m, range))
        return std::nullopt;
    PlanRange r;
    r.from = parseIsoDate(m[1].str()).value_or(0);
    r.to = parseIsoDate(m[2].str()).value_or(0);
    if (!r.from && !r.to)
        return std::nullopt;
    return r;
}

std::string apiDate(long long yyyymmdd) {
    return std::to_string(yyyymmdd);
}

ConnectionReport testConnection(const Settings &settings, UiPort &port, long long today,
                                RequestPacer &pacer) {
    if (settings.key.empty())
        return {false, kNoKeyMessage};
    Client client(settings, port, pacer);
    client.setRetrying(false);
    try {
        // One issue on one day: the smallest answer there is, and it tells whether the plan
        // reaches today.
        client.page("/equities/bars/daily", {{"code", "13010"}, {"date", apiDate(today)}},
                    [](const nlohmann::json &) {});
        return {true, "J-Quants APIに接続しました。APIキーは有効です。\r\n"
                      "本日までのデータを取得できるプランです(Light以上)。"};
    } catch (const ApiError &e) {
        if (e.kind != ApiError::Kind::OutOfPlan)
            return {false, describe(e)};
        std::string text = "J-Quants APIに接続しました。APIキーは有効です。\r\n";
        if (!e.plan || !e.plan->to)
            return {true, text + "ご契約のプランでは本日のデータを取得できません"
                                 "(取得できる期間は応答に示されていません)。"};
        text += "ご契約のプランで取得できる期間: " +
                (e.plan->from ? slashDate(e.plan->from) : std::string()) + " ～ " +
                slashDate(e.plan->to);
        const long long behind = dayOrdinal(today) - dayOrdinal(e.plan->to);
        if (behind >= 7)
            text += "\r\n(約" + std::to_string((behind + 3) / 7) +
                    "週間遅れのデータです。Freeプランは12週間遅れです)";
        return {true, text};
    } catch (const std::exception &e) {
        return {false, e.what()}; // a proxy or time-out setting that is no number
    }
}

} // namespace tesmo::acquire::jquants
