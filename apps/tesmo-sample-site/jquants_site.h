#pragma once
// The sample site as a stand-in for J-Quants API V2: the same deterministic series as the data
// site, served as the API serves it (trading calendar, issue master, daily bars, pages), with
// the API's refusals: 403 for a wrong key, 429 past a rate, 400 for dates after the plan's end.
// Tests serve it on their own loopback servers with a clock of their own.
#include "sample_site.h"

#include <nlohmann/json_fwd.hpp>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace sample_site {

// Answers no sound server gives, each spoiling one thing of the healthy ones: for the tests and
// for trying a client by hand. The bars faults spoil one day, spoiledDay(); the others every
// answer of their kind.
enum class JQuantsFault {
    None,
    FutureRow,       // one bar dated 2099-12-31
    OtherDayRow,     // one bar dated the business day before
    LooseRow,        // one more row without the API's fields: {"code":"13030","close":5}
    NumberCode,      // one bar's Code a number
    TextClose,       // one bar's C a string
    TextVolume,      // one bar's Vo a string
    RepeatedRow,     // one bar twice
    Hole,            // no bars, while the days before and after have them
    KeyLoop,         // pages that lead from one pagination key to another and back
    EndlessPages,    // pages that never end, each with a new key
    ManyPages,       // faultPages pages of faultBytes each (default 1,100 of 0.5 MB)
    HugePage,        // one page of faultBytes (default 190 MB)
    LongMessage,     // 400 whose message is faultBytes of escape codes and CR LF (default 7 MB)
    ControlNames,    // master names with NUL, CR, LF, TAB, BEL and U+202E
    EmptyCalendar,   // a calendar without days
    FullWidthHolDiv, // the calendar's HolDiv "１" for business days
    NumberHolDiv,    // ... 1, a number
    BlankHolDiv,     // ... " 1"
};
// "future-row" and so on, as the command line names the faults; nullopt for an unknown name.
std::optional<JQuantsFault> faultNamed(const std::string &name);
std::string faultName(JQuantsFault fault);

struct JQuantsOptions {
    long long endDate = 0; // newest business day with bars; later days are not published yet
    int stocks = 3800;
    int pageSize = 1000; // rows per page of bars, master and calendar
    std::string key = "tesmo-sample-key";
    int rate = 120;                 // requests per minute before 429 answers; 0: no limit
    long long planEnd = 0;          // later dates answer 400, as on a delayed plan; 0: none
    bool rangeInRefusal = true;     // that 400 names the dates the plan covers
    bool planCoversCalendar = true; // the calendar is refused beyond the plan too (Free)
    std::function<double()> clock;  // seconds; a steady clock when empty
    JQuantsFault fault = JQuantsFault::None;
    int faultPages = 1100;    // ManyPages
    long long faultBytes = 0; // ManyPages, HugePage, LongMessage; 0: the fault's default
    // The ex-date of the 1:2 split of splitCode(): its bars before that day carry twice the
    // price and half the volume, and the day itself AdjFactor 0.5. 0: the tenth business day
    // before endDate; -1: no split.
    long long splitDate = 0;
};

struct JQuantsRequest {
    double time = 0;
    std::string target; // path and query
    int status = 0;
    std::string acceptEncoding;
};

class JQuantsSite {
public:
    explicit JQuantsSite(JQuantsOptions options);

    // The answer to GET `path` (under basePath()) with its query and the x-api-key header.
    Reply get(const std::string &path, const std::map<std::string, std::string> &params,
              const std::string &apiKey, const std::string &acceptEncoding = {});

    // Every request so far, in order.
    std::vector<JQuantsRequest> requests() const;
    const JQuantsOptions &options() const { return m_options; }

    // Facts of the series, for the tests that check what arrived.
    static bool businessDay(long long date);
    // The issue without trades on a business day (null prices and volume).
    std::string noTradeCode(long long date) const;
    // The codes the bars list, and the issue that the master lacks.
    std::vector<std::string> barCodes() const;
    static const char *missingFromMaster() { return "77780"; }
    // The day that the bars faults spoil: the business day before endDate.
    long long spoiledDay() const;
    // The issue that splits one share into two (the third of the series), and the ex-date of
    // the split (0 when there is none).
    static const char *splitCode() { return "13050"; }
    long long splitDate() const { return m_splitDate; }

    static const char *basePath() { return "/v2"; }

private:
    Reply calendar(const std::map<std::string, std::string> &params) const;
    Reply bars(const std::map<std::string, std::string> &params) const;
    Reply master(const std::map<std::string, std::string> &params) const;
    // The spoiled day's answer under a paging or size fault; nullopt for the other faults.
    std::optional<Reply> spoiledPages(const nlohmann::json &rows,
                                      const std::map<std::string, std::string> &params) const;
    // The 400 for a date outside the plan, or nothing.
    bool outsidePlan(long long date, Reply &refusal) const;
    double now() const;

    JQuantsOptions m_options;
    long long m_splitDate = 0;
    mutable std::mutex m_mutex;
    std::vector<JQuantsRequest> m_requests;
};

// Serves `site` on `server`: every GET under basePath() (the API answers unknown paths with
// 403 too).
void mountJQuants(httplib::Server &server, JQuantsSite &site);

} // namespace sample_site
