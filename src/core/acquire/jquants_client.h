#pragma once
// The client of J-Quants API V2, the second source of the data update: requests with the API
// key, paced below the plan's rate, pages followed to the last one, and the API's refusals
// turned into texts the user can read. The answers are JSON, read with nlohmann-json one row at
// a time, so that no answer is ever held as a whole JSON document.
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"

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

// Runs before each second of a wait of the client (the pacing, a 429, a retry) with the seconds
// still ahead of it: what it raises ends the request, so that a stop need not sit the wait out.
using WaitHook = std::function<void(double secondsAhead)>;

// The requests of the last minute. Before each request the pacer waits, showing the seconds
// left in the caption, until one more fits into the allowed number per minute. The program
// keeps one pacer, so that a connection test and a data update right after it share the
// plan's budget.
class RequestPacer {
public:
    explicit RequestPacer(Clock clock = steadySeconds) : m_clock(std::move(clock)) {}
    void admit(int perMinute, UiPort &port, const WaitHook &beforeWait = {});
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
        TooLarge,    // an answer beyond the size cap; not asked again
    };
    ApiError(Kind errorKind, const std::string &detail, int httpStatus = 0,
             std::optional<PlanRange> coveredPlan = std::nullopt)
        : std::runtime_error(detail), kind(errorKind), status(httpStatus), plan(coveredPlan) {}
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
    // The most one answer may bring: the cap of every download unless a test lowers it.
    long long maxBytes = net::kMaxTransferBytes;
    // jquantsapi, jquantskey and jquantsrate; raises SettingsError for a rate that is no number.
    static Settings fromStore();
};

using Query = std::vector<std::pair<std::string, std::string>>;
// The body of one answer as it arrived, in pieces, so that a large one never has to be moved to
// a bigger block while it grows.
using Body = std::deque<char>;
// Receives each row of an answer's "data" while the page is read.
using RowHandler = std::function<void(const nlohmann::json &row)>;

// Pages of one query: the API has no fixed page size, but a day of the exchange lists some
// 4,400 issues, and even pages of 50 rows would hold them in 90. A query that has not ended by
// then is a server that hands out pages for ever; at the Free plan's 5 requests a minute the
// cap already costs 20 minutes.
inline constexpr int kMaxPages = 100;
// A pagination key is an opaque token of a few dozen characters; one of kilobytes is no key.
inline constexpr size_t kMaxKeyLength = 4096;

// Reads one page of the API: a JSON object whose "data" array holds the rows and whose
// "pagination_key", when present, names the next page. Each row goes to `onRow` as soon as it
// has been read; other members are passed over; a string or number of more than 64 KB refuses
// the page before any row is read. Returns the key, empty on the last page.
// Raises ApiError(BadAnswer) for a body that is not such an object; what `onRow` raises
// passes through, and the rows before it have been handed over.
std::string readPage(const Body &body, const RowHandler &onRow);

class Client {
public:
    Client(Settings settings, UiPort &port, RequestPacer &pacer = processPacer());

    // One page of GET base + `path` with the query: its rows to `onRow`, its pagination key
    // returned (empty on the last page). Paced; waits a minute and tries again after a 429
    // (three times at most); retries network faults and 5xx answers as the file fetch does
    // (retimes, resec). Raises ApiError.
    std::string page(const std::string &path, const Query &query, const RowHandler &onRow);
    // Every page of the query: the same query again with each pagination_key, until an answer
    // carries none; `pageDone` runs after each page has been read whole. A key that comes back
    // a second time, or more than kMaxPages pages, raise ApiError(BadAnswer).
    void forEachRow(const std::string &path, const Query &query, const RowHandler &onRow,
                    const std::function<void()> &pageDone = {});

    // Off: one request per page() whatever the answer, for the connection test.
    void setRetrying(bool on) { m_retrying = on; }
    void setWaitHook(WaitHook hook) { m_beforeWait = std::move(hook); }
    int requestCount() const { return m_requests; }
    // `text` with every occurrence of the key masked: for texts that come from outside.
    std::string redact(std::string text) const;

private:
    void waitCounting(int seconds, const std::string &what);
    // The body of a 2xx answer; every other outcome raises ApiError.
    Body fetch(const std::string &path, const Query &query);
    // The message of a refusal, as the user may see it: one line, the key masked, short.
    std::string refusalText(const Body &body) const;

    Settings m_settings;
    UiPort &m_port;
    RequestPacer &m_pacer;
    int m_requests = 0;
    bool m_retrying = true;
    WaitHook m_beforeWait;
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
