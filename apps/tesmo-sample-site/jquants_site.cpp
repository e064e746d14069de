#include "jquants_site.h"

#include "core/common/dates.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace sample_site {
namespace {

using nlohmann::json;
using tesmo::isoDate;

// The exchange's fixed holidays of the series (month * 100 + day). The year-end days close
// everything; on the others the derivatives market trades (HolDiv 3), stocks do not.
const int kYearEnd[] = {101, 102, 103, 1231};
const int kHolidays[] = {211, 223, 429, 503, 504, 505, 811, 1103, 1123};

// Issues beyond the regular series: the codes a client must map with care, the kinds of
// product it must tell apart, and one issue the master does not list.
struct Extra {
    const char *code;
    const char *name;
    const char *category; // ProdCat
    const char *market;   // Mkt
    const char *marketName;
};
const Extra kExtras[] = {
    {"130A0", "サンプル新興テック", "011", "0113", "グロース"},       // alphanumeric code
    {"25935", "サンプル飲料 第1種優先株", "011", "0111", "プライム"}, // preferred share
    {"89520", "サンプル不動産投資法人", "013", "0109", "その他"},     // REIT
    {"13060", "サンプルTOPIX連動ETF", "014", "0109", "その他"},       // ETF
    {"14160", "サンプル別種商品", "099", "0109", "その他"},           // another kind of product
    {"77780", "", "", "", ""},                                        // listed, not in the master
};
constexpr int kExtraCount = sizeof kExtras / sizeof *kExtras;

struct MarketOf {
    const char *code;
    const char *name;
};
MarketOf apiMarket(const std::string &sampleMarket) {
    if (sampleMarket == "東証プライム")
        return {"0111", "プライム"};
    if (sampleMarket == "東証スタンダード")
        return {"0112", "スタンダード"};
    if (sampleMarket == "東証グロース")
        return {"0113", "グロース"};
    return {"0105", "TOKYO PRO MARKET"};
}

std::optional<long long> dateParam(const std::map<std::string, std::string> &params,
                                   const char *name) {
    const auto it = params.find(name);
    if (it == params.end())
        return std::nullopt;
    const std::string &v = it->second;
    if (v.size() == 8 && v.find_first_not_of("0123456789") == std::string::npos) {
        const long long d = std::stoll(v);
        if (tesmo::isValidDate(d))
            return d;
    }
    if (const auto d = tesmo::parseIsoDate(v))
        return *d;
    return -1; // present but no real date
}

Reply jsonReply(int status, const json &body) {
    return {status, "application/json", body.dump()};
}

Reply message(int status, const std::string &text) {
    return jsonReply(status, json{{"message", text}});
}

std::string textParam(const std::map<std::string, std::string> &params, const char *name) {
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

// One page of `rows`: the page that the pagination_key names (the first without one), and the
// key of the next page while there is one. The key carries the offset and a check of the
// query, so a key of another query is refused like a made-up one.
Reply page(const json &rows, const std::map<std::string, std::string> &params, int pageSize) {
    std::string signature;
    for (const auto &[k, v] : params)
        if (k != "pagination_key")
            signature += k + "=" + v + "&";
    const auto check = [&](size_t offset) {
        return std::to_string(std::hash<std::string>{}(signature + std::to_string(offset)) % 99991);
    };
    size_t offset = 0;
    if (const std::string key = textParam(params, "pagination_key"); !key.empty()) {
        const size_t dot = key.find('.');
        bool ok = dot != std::string::npos && dot > 0 && key.find_first_not_of("0123456789") == dot;
        if (ok) {
            offset = std::stoul(key.substr(0, dot));
            ok = key == std::to_string(offset) + "." + check(offset) + "." && offset < rows.size();
        }
        if (!ok)
            return message(400, "Invalid pagination_key.");
    }
    const size_t size = static_cast<size_t>(std::max(1, pageSize));
    json out = {{"data", json::array()}};
    for (size_t i = offset; i < rows.size() && i < offset + size; ++i)
        out["data"].push_back(rows[i]);
    if (offset + size < rows.size())
        out["pagination_key"] = std::to_string(offset + size) + "." + check(offset + size) + ".";
    return jsonReply(200, out);
}

int holDiv(long long date) {
    const int wd = tesmo::weekdayOf(date);
    if (wd == 0 || wd == 6)
        return 0;
    const int md = static_cast<int>(date % 10000);
    for (int d : kYearEnd)
        if (d == md)
            return 0;
    for (int d : kHolidays)
        if (d == md)
            return 3;
    return 1;
}

long long nextBusinessDay(long long date) {
    while (!JQuantsSite::businessDay(date))
        date = tesmo::addDays(date, 1);
    return date;
}

json number(double v) {
    return std::isfinite(v) ? json(v) : json(nullptr);
}

// The issue of the series that splits (see JQuantsOptions::splitDate).
constexpr int kSplitStock = 2;

// A day's prices around the series' close: an open a little off it (now and then the same, a
// doji) and shadows of up to about one percent above and below the body.
struct Candle {
    double open, high, low, close;
};
Candle candleOf(int stock, long long ordinal, double close) {
    const double phase = static_cast<double>(ordinal * 7 + static_cast<long long>(stock) * 13);
    const double open =
        (ordinal + stock) % 17 == 0 ? close : std::round(close * (1.0 + 0.012 * std::sin(phase)));
    const double up = std::round(close * 0.006 * (1.0 + std::sin(phase * 0.37)));
    const double down = std::round(close * 0.006 * (1.0 + std::cos(phase * 0.53)));
    return {open, std::max(open, close) + up, std::min(open, close) - down, close};
}

const std::pair<JQuantsFault, const char *> kFaultNames[] = {
    {JQuantsFault::None, "none"},
    {JQuantsFault::FutureRow, "future-row"},
    {JQuantsFault::OtherDayRow, "other-day-row"},
    {JQuantsFault::LooseRow, "loose-row"},
    {JQuantsFault::NumberCode, "number-code"},
    {JQuantsFault::TextClose, "text-close"},
    {JQuantsFault::TextVolume, "text-volume"},
    {JQuantsFault::RepeatedRow, "repeated-row"},
    {JQuantsFault::Hole, "hole"},
    {JQuantsFault::KeyLoop, "key-loop"},
    {JQuantsFault::EndlessPages, "endless-pages"},
    {JQuantsFault::ManyPages, "many-pages"},
    {JQuantsFault::HugePage, "huge-page"},
    {JQuantsFault::LongMessage, "long-message"},
    {JQuantsFault::ControlNames, "control-names"},
    {JQuantsFault::EmptyCalendar, "empty-calendar"},
    {JQuantsFault::FullWidthHolDiv, "full-width-holdiv"},
    {JQuantsFault::NumberHolDiv, "number-holdiv"},
    {JQuantsFault::BlankHolDiv, "blank-holdiv"},
};

// `rows` made `bytes` long or a little longer: copies of them, or (`repeat` off) each row
// padded with an unknown member, so that no single value is long.
json paddedRows(const json &rows, long long bytes, bool repeat) {
    json out = json::array();
    long long size = 0;
    do {
        for (const json &row : rows) {
            out.push_back(row);
            size += static_cast<long long>(row.dump().size()) + 1;
        }
    } while (repeat && size < bytes && !rows.empty());
    if (size < bytes && !out.empty()) {
        const auto each = static_cast<size_t>((bytes - size) / static_cast<long long>(out.size()));
        for (json &row : out)
            row["Pad"] = std::string(each + 1, 'x');
    }
    return out;
}

} // namespace

std::optional<JQuantsFault> faultNamed(const std::string &name) {
    for (const auto &[fault, n] : kFaultNames)
        if (name == n)
            return fault;
    return std::nullopt;
}

std::string faultName(JQuantsFault fault) {
    for (const auto &[f, n] : kFaultNames)
        if (f == fault)
            return n;
    return "?";
}

JQuantsSite::JQuantsSite(JQuantsOptions options) : m_options(std::move(options)) {
    if (m_options.stocks < 1 || m_options.pageSize < 1 || !tesmo::isValidDate(m_options.endDate))
        throw std::invalid_argument("J-Quants stand-in: stocks and page size must be 1 or more "
                                    "and the end a real date");
    if (m_options.splitDate > 0 && !tesmo::isValidDate(m_options.splitDate))
        throw std::invalid_argument("J-Quants stand-in: the split's ex-date must be a real date");
    m_splitDate = m_options.splitDate;
    if (m_splitDate == 0) {
        m_splitDate = m_options.endDate;
        for (int n = 0; n < 10 || !businessDay(m_splitDate); n += businessDay(m_splitDate))
            m_splitDate = tesmo::addDays(m_splitDate, -1);
    }
    if (m_splitDate < 0 || m_options.stocks <= kSplitStock)
        m_splitDate = 0;
}

bool JQuantsSite::businessDay(long long date) {
    return holDiv(date) == 1;
}

double JQuantsSite::now() const {
    if (m_options.clock)
        return m_options.clock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long long JQuantsSite::spoiledDay() const {
    long long day = tesmo::addDays(m_options.endDate, -1);
    while (!businessDay(day))
        day = tesmo::addDays(day, -1);
    return day;
}

std::vector<JQuantsRequest> JQuantsSite::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::string JQuantsSite::noTradeCode(long long date) const {
    const int i = static_cast<int>(tesmo::dayOrdinal(date) % m_options.stocks);
    return sampleStock(i, date).code + "0";
}

std::vector<std::string> JQuantsSite::barCodes() const {
    std::vector<std::string> codes;
    codes.reserve(m_options.stocks + std::size(kExtras));
    for (int i = 0; i < m_options.stocks; ++i)
        codes.push_back(std::to_string(1301 + 2 * i) + "0");
    for (const Extra &e : kExtras)
        codes.emplace_back(e.code);
    return codes;
}

bool JQuantsSite::outsidePlan(long long date, Reply &refusal) const {
    if (!m_options.planEnd)
        return false;
    // A delayed plan covers the two years up to its end.
    const long long start = tesmo::addDays(m_options.planEnd, -730);
    if (date >= start && date <= m_options.planEnd)
        return false;
    refusal = message(400, m_options.rangeInRefusal
                               ? "Your subscription covers the following dates: " + isoDate(start) +
                                     " ~ " + isoDate(m_options.planEnd) +
                                     ". If you want more data, please check other "
                                     "plans:https://jpx-jquants.com/#dataset"
                               : std::string("This date is not covered by your subscription."));
    return true;
}

Reply JQuantsSite::calendar(const std::map<std::string, std::string> &params) const {
    const auto from = dateParam(params, "from");
    const auto to = dateParam(params, "to");
    if ((from && *from < 0) || (to && *to < 0))
        return message(400, "Invalid date.");
    const long long last = to ? *to : (m_options.endDate / 10000 + 1) * 10000 + 1231;
    const long long first = from ? *from : tesmo::addDays(m_options.endDate, -730);
    Reply refusal;
    if (m_options.planCoversCalendar && first <= last &&
        (outsidePlan(first, refusal) || outsidePlan(last, refusal)))
        return refusal;
    const std::string division = textParam(params, "hol_div");
    json rows = json::array();
    for (long long d = first; d <= last && rows.size() < 40000; d = tesmo::addDays(d, 1)) {
        const std::string div = std::to_string(holDiv(d));
        if (!division.empty() && division != div)
            continue;
        json row = {{"Date", isoDate(d)}, {"HolDiv", div}};
        if (div == "1") {
            if (m_options.fault == JQuantsFault::FullWidthHolDiv)
                row["HolDiv"] = "１";
            else if (m_options.fault == JQuantsFault::NumberHolDiv)
                row["HolDiv"] = 1;
            else if (m_options.fault == JQuantsFault::BlankHolDiv)
                row["HolDiv"] = " 1";
        }
        rows.push_back(std::move(row));
    }
    if (m_options.fault == JQuantsFault::EmptyCalendar)
        rows = json::array();
    return page(rows, params, m_options.pageSize);
}

Reply JQuantsSite::bars(const std::map<std::string, std::string> &params) const {
    const auto date = dateParam(params, "date");
    std::string code = textParam(params, "code");
    if (!date && code.empty())
        return message(400, "This API requires at least 1 parameter as follows; date, code");
    if (!date || *date < 0)
        return message(400, "Invalid date.");
    Reply refusal;
    if (outsidePlan(*date, refusal))
        return refusal;
    if (code.size() == 4)
        code += "0";
    json rows = json::array();
    if (businessDay(*date) && *date <= m_options.endDate) {
        const long long ordinal = tesmo::dayOrdinal(*date);
        const int noTrade = static_cast<int>(ordinal % m_options.stocks);
        const int total = m_options.stocks + kExtraCount;
        for (int i = 0; i < total; ++i) {
            const tesmo::acquire::DayRecord r = sampleStock(i, *date);
            const std::string apiCode =
                i < m_options.stocks ? r.code + "0" : kExtras[i - m_options.stocks].code;
            if (!code.empty() && code != apiCode)
                continue;
            json row = {{"Date", isoDate(*date)}, {"Code", apiCode}};
            const bool traded = i != noTrade;
            const Candle c = traded ? candleOf(i, ordinal, *r.prc) : Candle{NAN, NAN, NAN, NAN};
            const double volume = traded ? *r.dval : NAN;
            // Before the ex-date the split issue trades at twice the price and half the volume;
            // the adjusted values, as of today, are those of the series.
            const double split = i == kSplitStock && *date < m_splitDate ? 2.0 : 1.0;
            row["O"] = number(c.open * split);
            row["H"] = number(c.high * split);
            row["L"] = number(c.low * split);
            row["C"] = number(c.close * split);
            row["UL"] = "0";
            row["LL"] = "0";
            row["Vo"] = number(volume / split);
            row["Va"] = number(c.close * volume);
            row["AdjFactor"] = i == kSplitStock && *date == m_splitDate ? 0.5 : 1.0;
            const double adjusted = m_splitDate && m_splitDate <= m_options.endDate ? split : 1.0;
            for (const char *k : {"O", "H", "L", "C"})
                row[std::string("Adj") + k] =
                    number(row[k].is_null() ? NAN : row[k].get<double>() / adjusted);
            row["AdjVo"] = number(volume / split * adjusted);
            // Newer answers carry fields the documentation does not list yet.
            row["MktCap"] = nullptr;
            rows.push_back(std::move(row));
        }
    }
    if (*date != spoiledDay() || rows.empty() || !code.empty())
        return page(rows, params, m_options.pageSize);
    switch (m_options.fault) {
    case JQuantsFault::FutureRow:
        rows[1]["Date"] = "2099-12-31";
        break;
    case JQuantsFault::OtherDayRow:
        rows[1]["Date"] = isoDate(tesmo::addDays(*date, -1));
        break;
    case JQuantsFault::LooseRow:
        rows.push_back({{"code", rows[1]["Code"]}, {"close", 5}});
        break;
    case JQuantsFault::NumberCode:
        rows[1]["Code"] = std::stoi(rows[1]["Code"].get<std::string>());
        break;
    case JQuantsFault::TextClose:
        rows[1]["C"] = "1234";
        break;
    case JQuantsFault::TextVolume:
        rows[1]["Vo"] = "5000";
        break;
    case JQuantsFault::RepeatedRow:
        rows.push_back(rows[1]);
        break;
    case JQuantsFault::Hole:
        rows = json::array();
        break;
    case JQuantsFault::LongMessage: {
        const long long bytes = m_options.faultBytes ? m_options.faultBytes : 7000000;
        std::string text;
        while (static_cast<long long>(text.size()) < bytes)
            text += "\x1b[2J\x1b[31m\x07\r\n";
        return message(400, text);
    }
    default:
        if (std::optional<Reply> spoiled = spoiledPages(rows, params))
            return *spoiled;
        break;
    }
    return page(rows, params, m_options.pageSize);
}

std::optional<Reply>
JQuantsSite::spoiledPages(const json &rows,
                          const std::map<std::string, std::string> &params) const {
    const std::string key = textParam(params, "pagination_key");
    const auto number = [&](const char *prefix) {
        return key.rfind(prefix, 0) == 0 ? std::atoll(key.c_str() + std::strlen(prefix)) : 0LL;
    };
    json out = {{"data", json::array()}};
    for (size_t i = 0; i < rows.size() && i < static_cast<size_t>(m_options.pageSize); ++i)
        out["data"].push_back(rows[i]);
    switch (m_options.fault) {
    case JQuantsFault::KeyLoop:
        out["pagination_key"] = key == "loop-a." ? "loop-b." : "loop-a.";
        break;
    case JQuantsFault::EndlessPages:
        out["pagination_key"] = "endless-" + std::to_string(number("endless-") + 1) + ".";
        break;
    case JQuantsFault::ManyPages: {
        const long long n = number("many-");
        out["data"] = paddedRows(rows, m_options.faultBytes ? m_options.faultBytes : 500000, false);
        if (n + 1 < m_options.faultPages)
            out["pagination_key"] = "many-" + std::to_string(n + 1) + ".";
        break;
    }
    case JQuantsFault::HugePage:
        out["data"] =
            paddedRows(rows, m_options.faultBytes ? m_options.faultBytes : 190000000, true);
        break;
    default:
        return std::nullopt;
    }
    return jsonReply(200, out);
}

Reply JQuantsSite::master(const std::map<std::string, std::string> &params) const {
    const auto asked = dateParam(params, "date");
    if (asked && *asked < 0)
        return message(400, "Invalid date.");
    // A day without trading gets the next business day's master.
    const long long date = nextBusinessDay(asked ? *asked : m_options.endDate);
    Reply refusal;
    if (outsidePlan(date, refusal))
        return refusal;
    std::string code = textParam(params, "code");
    if (code.size() == 4)
        code += "0";
    json rows = json::array();
    const auto add = [&](const std::string &apiCode, const std::string &name,
                         const std::string &category, const MarketOf &market) {
        if (!code.empty() && code != apiCode)
            return;
        rows.push_back({{"Date", isoDate(date)},
                        {"Code", apiCode},
                        {"CoName", name},
                        {"CoNameEn", "SAMPLE " + apiCode},
                        {"S17", "99"},
                        {"S17Nm", "その他"},
                        {"S33", "9999"},
                        {"S33Nm", "その他"},
                        {"ScaleCat", "-"},
                        {"Mkt", market.code},
                        {"MktNm", market.name},
                        {"Mrgn", "1"},
                        {"MrgnNm", "信用"},
                        {"ProdCat", category}});
    };
    // Names as a careless or hostile source might write them.
    static const std::string kSpoiledNames[] = {std::string("NUL\0入り", sizeof "NUL\0入り" - 1),
                                                "改行\r\n入り", "\tタブ入り", "ベル\x07入り",
                                                "\xE2\x80\xAE逆向き"};
    for (int i = 0; i < m_options.stocks; ++i) {
        const tesmo::acquire::DayRecord r = sampleStock(i, date);
        std::string name = r.name;
        if (m_options.fault == JQuantsFault::ControlNames &&
            i < static_cast<int>(std::size(kSpoiledNames)))
            name = kSpoiledNames[i] + name;
        add(r.code + "0", name, "011", apiMarket(r.market));
    }
    for (const Extra &e : kExtras)
        if (std::string(e.code) != missingFromMaster())
            add(e.code, e.name, e.category, {e.market, e.marketName});
    return page(rows, params, m_options.pageSize);
}

Reply JQuantsSite::get(const std::string &path, const std::map<std::string, std::string> &params,
                       const std::string &apiKey, const std::string &acceptEncoding) {
    std::string target = path;
    for (const auto &[k, v] : params)
        target += (target == path ? "?" : "&") + k + "=" + v;
    const double t = now();
    Reply reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int lastMinute = 0;
        for (const JQuantsRequest &r : m_requests)
            lastMinute += r.status != 429 && r.time > t - 60.0;
        if (apiKey != m_options.key) {
            // The API names no reason beyond this, whether the key is wrong, expired or absent.
            reply = message(403, "The incoming api key is invalid or expired.");
        } else if (m_options.rate > 0 && lastMinute >= m_options.rate) {
            reply = {429, "text/plain", "Too Many Requests"};
        }
        if (reply.status != 200)
            m_requests.push_back({t, target, reply.status, acceptEncoding});
    }
    if (reply.status != 200)
        return reply;
    const std::string base = basePath();
    if (path == base + "/markets/calendar")
        reply = calendar(params);
    else if (path == base + "/equities/bars/daily")
        reply = bars(params);
    else if (path == base + "/equities/master")
        reply = master(params);
    else
        reply = message(403, "Missing Authentication Token");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back({t, target, reply.status, acceptEncoding});
    return reply;
}

void mountJQuants(httplib::Server &server, JQuantsSite &site) {
    server.Get(".*", [&site](const httplib::Request &req, httplib::Response &res) {
        std::map<std::string, std::string> params;
        for (const auto &[k, v] : req.params)
            params[k] = v;
        const Reply reply = site.get(req.path, params, req.get_header_value("x-api-key"),
                                     req.get_header_value("Accept-Encoding"));
        res.status = reply.status;
        res.set_content(reply.body, reply.contentType);
    });
}

} // namespace sample_site
