#include "acquire/jquants_client.h"

#include "acquire/http_fetch.h"
#include "common/dates.h"
#include "common/text.h"
#include "storage/settings_keys.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <regex>
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
// A run of pages that never ends is a broken server, not a big answer.
constexpr int kMaxPages = 10000;

int settingOr(const storage::SettingKey &key, int fallback) {
    try {
        return static_cast<int>(storage::readSettingInt(key));
    } catch (const std::exception &) {
        return fallback;
    }
}

// The "message" of an error answer, or a short printable excerpt of a body that is no JSON
// (the API does not promise either).
std::string answerMessage(const std::string &body) {
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_object()) {
        const auto it = answer.find("message");
        if (it != answer.end() && it->is_string())
            return it->get<std::string>();
    }
    std::string excerpt;
    for (char c : body.substr(0, 200))
        if (c >= 0x20 && c < 0x7F)
            excerpt += c;
    return excerpt;
}

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

void RequestPacer::admit(int perMinute, UiPort &port) {
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
    const std::string detail = e.what();
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
        m_port.setCaption(caption + " " + what + "(あと" + std::to_string(left) + "秒)");
        m_port.repaint();
        waitOneSecond(m_port, [this] { return m_pacer.now(); });
    }
    m_port.setCaption(caption);
}

nlohmann::json Client::get(const std::string &path, const Query &query) {
    std::string url = m_settings.base + path;
    for (size_t i = 0; i < query.size(); ++i)
        url += (i ? "&" : "?") + percentEncoded(query[i].first) + "=" +
               percentEncoded(query[i].second);

    HttpClient http;
    applyMainSettings(http);
    http.headers = {"x-api-key: " + m_settings.key, "Accept: application/json"};
    http.followRedirects = false;
    http.acceptEncoding = "gzip"; // the API compresses its answers with gzip

    // The file fetch's rules for answers that never came: retimes retries, resec apart.
    const int retimes = std::max(0, settingOr(storage::keys::retimes, 2));
    const int resec = std::max(0, settingOr(storage::keys::resec, 15));
    int faults = 0;
    int limited = 0;
    for (;;) {
        m_pacer.admit(m_settings.rate, m_port);
        ++m_requests;
        std::string body;
        std::string fault;
        try {
            http.openUrl(url, m_port,
                         [&body](const char *data, size_t n) { body.append(data, n); });
        } catch (const std::exception &e) {
            fault = redact(e.what());
        }
        const long status = fault.empty() ? http.lastStatus() : 0;
        if (!fault.empty() || status >= 500) {
            if (m_retrying && faults < retimes) {
                ++faults;
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
            throw ApiError(ApiError::Kind::Server, redact(answerMessage(body)),
                           static_cast<int>(status));
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
            throw ApiError(ApiError::Kind::RateLimited, redact(answerMessage(body)), 429);
        }
        if (status >= 200 && status < 300) {
            nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
            if (!answer.is_object())
                throw ApiError(ApiError::Kind::BadAnswer,
                               "JSON のオブジェクトではありません: " + path,
                               static_cast<int>(status));
            return answer;
        }
        const std::string message = redact(answerMessage(body));
        if (status == 403)
            throw ApiError(ApiError::Kind::Forbidden, message, 403);
        if (status == 400 && mentionsPlan(message))
            throw ApiError(ApiError::Kind::OutOfPlan, message, 400, coveredRange(message));
        throw ApiError(ApiError::Kind::Rejected, message, static_cast<int>(status));
    }
}

nlohmann::json Client::getAll(const std::string &path, const Query &query) {
    nlohmann::json rows = nlohmann::json::array();
    std::string key;
    for (int page = 0; page < kMaxPages; ++page) {
        Query paged = query;
        if (!key.empty())
            paged.emplace_back("pagination_key", key);
        nlohmann::json answer = get(path, paged);
        const auto data = answer.find("data");
        if (data == answer.end() || !data->is_array())
            throw ApiError(ApiError::Kind::BadAnswer, "data がありません: " + path);
        for (nlohmann::json &row : *data)
            rows.push_back(std::move(row));
        const auto next = answer.find("pagination_key");
        if (next == answer.end() || !next->is_string() || next->get<std::string>().empty())
            return rows;
        if (next->get<std::string>() == key)
            throw ApiError(ApiError::Kind::BadAnswer, "pagination_key が変わりません: " + path);
        key = next->get<std::string>();
    }
    throw ApiError(ApiError::Kind::BadAnswer, "ページが終わりません: " + path);
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
        client.get("/equities/bars/daily", {{"code", "13010"}, {"date", apiDate(today)}});
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
