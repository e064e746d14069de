#pragma once
// The client of J-Quants API V2, the second source of the data update: requests with the API
// key, paced below the plan's rate, pages followed to the last one, and the API's refusals
// turned into texts the user can read. The answers are JSON, read with nlohmann-json.
#include "common/ui_port.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tesmo::acquire::jquants {

// Seconds on a steady clock. Tests hand the pacer a clock that their port's waits advance.
using Clock = std::function<double()>;
double steadySeconds();

// The requests of the last minute. Before each request the pacer waits, showing the seconds
// left in the caption, until one more fits into the allowed number per minute. The program
// keeps one pacer, so that a connection test and a data update right after it share the
// plan's budget.
class RequestPacer {
public:
    explicit RequestPacer(Clock clock = steadySeconds) : m_clock(std::move(clock)) {}
    void admit(int perMinute, UiPort &port);
    double now() const { return m_clock(); }

private:
    Clock m_clock;
    std::deque<double> m_sent;
};
RequestPacer &processPacer();

// The dates a plan covers, as a refusal names them; 0 stands for an open end.
struct PlanRange {
    long long from = 0;
    long long to = 0;
};

class ApiError : public std::runtime_error {
public:
    enum class Kind {
        Network,     // no answer, after the retries
        Server,      // 5xx, after the retries
        Forbidden,   // 403: the key, or a plan without this data
        RateLimited, // 429, after three waits
        OutOfPlan,   // 400 for a date the subscription does not cover
        Rejected,    // any other refusal
        BadAnswer,   // an answer that is not the JSON the API sends
    };
    ApiError(Kind kind, const std::string &detail, int status = 0,
             std::optional<PlanRange> plan = std::nullopt)
        : std::runtime_error(detail), kind(kind), status(status), plan(plan) {}
    Kind kind;
    int status;
    // OutOfPlan: the covered dates when the refusal names them.
    std::optional<PlanRange> plan;
};

// What the user reads about a failed request (Japanese; the key never appears in it).
std::string describe(const ApiError &error);

// The text shown when no key has been entered.
inline constexpr const char *kNoKeyMessage =
    "J-Quants APIのAPIキーが設定されていません。\r\n"
    "[ｵﾌﾟｼｮﾝ]の[データ取得元]でAPIキーを入力してください。";

struct Settings {
    std::string base;
    std::string key;
    int rate = 5; // requests per minute, at least 1
    // jquantsapi, jquantskey and jquantsrate; raises SettingsError for a rate that is no number.
    static Settings fromStore();
};

using Query = std::vector<std::pair<std::string, std::string>>;

class Client {
public:
    Client(Settings settings, UiPort &port, RequestPacer &pacer = processPacer());

    // One answer of GET base + `path` with the query: a JSON object. Paced; waits a minute and
    // tries again after a 429 (three times at most); retries network faults and 5xx answers
    // as the file fetch does (retimes, resec). Raises ApiError.
    nlohmann::json get(const std::string &path, const Query &query);
    // The rows of "data" over every page: the same query again with each pagination_key,
    // until an answer carries none.
    nlohmann::json getAll(const std::string &path, const Query &query);

    // Off: one request per get() whatever the answer, for the connection test.
    void setRetrying(bool on) { m_retrying = on; }
    int requestCount() const { return m_requests; }
    // `text` with every occurrence of the key masked: for texts that come from outside.
    std::string redact(std::string text) const;

private:
    void waitCounting(int seconds, const std::string &what);

    Settings m_settings;
    UiPort &m_port;
    RequestPacer &m_pacer;
    int m_requests = 0;
    bool m_retrying = true;
};

// The code the database keeps for an API code: the 4-character code when the fifth
// character is "0" ("13010" -> "1301", "130A0" -> "130A"), else all five ("25935").
std::string databaseCode(const std::string &apiCode);

// The range in a refusal such as "Your subscription covers the following dates: 2024-05-24 ~
// 2026-05-24. ..." ("~ ." leaves the end open); nullopt when the text names none.
std::optional<PlanRange> coveredRange(const std::string &message);

// "YYYYMMDD", as the API takes a date.
std::string apiDate(long long yyyymmdd);

// The connection test of the options window and tesmoctl: one cheap request (one issue's bar
// for today) with the given settings. `ok` tells whether the key works; the text says so and
// which dates the plan seems to cover.
struct ConnectionReport {
    bool ok = false;
    std::string text;
};
ConnectionReport testConnection(const Settings &settings, UiPort &port, long long today,
                                RequestPacer &pacer = processPacer());

} // namespace tesmo::acquire::jquants
