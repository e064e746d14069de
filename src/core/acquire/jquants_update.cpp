#include "core/acquire/jquants_update.h"

#include "core/acquire/catch_up_progress.h"
#include "core/acquire/day_ohlc.h"
#include "core/acquire/jquants_answers.h"
#include "core/acquire/site_scan.h"
#include "core/acquire/step_label.h"
#include "core/common/dates.h"
#include "core/common/text.h"
#include "core/storage/own_transaction.h"
#include "core/storage/settings_keys.h"
#include "core/watch/watch_evaluation.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>
#include <set>

namespace tesmo::acquire {
namespace {

using jquants::apiDate;
using jquants::ApiError;
using jquants::badAnswer;
using jquants::Client;
using jquants::Master;
using nlohmann::json;
using storage::Database;
using storage::OwnTransaction;
using storage::Value;

constexpr const char *kBarsPath = "/equities/bars/daily";
constexpr const char *kMasterPath = "/equities/master";
constexpr const char *kCalendarPath = "/markets/calendar";
// Each learned end of the plan starts the catch-up again with an earlier window; a server
// that keeps moving it is not followed for ever.
constexpr int kMaxRounds = 5;

// A value of a staging row: null when there is none.
template <class T> Value valueOr(const std::optional<T> &v) {
    return v ? Value(*v) : Value();
}

Master readMaster(Client &client, long long day) {
    Master master;
    client.forEachRow(kMasterPath, {{"date", apiDate(day)}},
                      [&](const json &row) { jquants::addMasterRow(master, row); });
    return master;
}

// The trading days from `from` to `to`, from a calendar that lists every day of the range.
std::vector<long long> readCalendar(Client &client, long long from, long long to) {
    jquants::CalendarCheck calendar(from, to);
    client.forEachRow(kCalendarPath, {{"from", apiDate(from)}, {"to", apiDate(to)}},
                      [&](const json &row) { calendar.add(row); });
    return calendar.businessDays();
}

// Business days from `from` to `to`. A plan whose calendar covers less answers 400 with its
// range: the request is made again inside it, and `planEnd` takes the range's end when that
// falls before `to`.
std::vector<long long> calendarDays(Client &client, long long from, long long to,
                                    long long &planEnd) {
    for (int tries = 0;; ++tries) {
        if (from > to)
            return {};
        try {
            return readCalendar(client, from, to);
        } catch (const ApiError &e) {
            if (tries > 0 || e.kind != ApiError::Kind::OutOfPlan || !e.plan)
                throw;
            if (e.plan->to && e.plan->to < to)
                planEnd = to = e.plan->to;
            from = std::max(from, e.plan->from);
        }
    }
}

// The last business day before `refused` that the plan covers, for a refusal that names no
// range: probed backwards over the calendar, one day, two, four and so on, then halved
// between the last refused and the first answered day, so that a plan twelve weeks behind
// costs a dozen requests rather than sixty. 0 when no day of the last three years answers.
long long probePlanEnd(Client &client, long long refused) {
    long long unused = 0;
    const std::vector<long long> days =
        calendarDays(client, addDays(refused, -3LL * 365), addDays(refused, -1), unused);
    const auto covered = [&](long long day) {
        try {
            client.page(kBarsPath, {{"date", apiDate(day)}}, [](const json &) {});
            return true;
        } catch (const ApiError &e) {
            if (e.kind != ApiError::Kind::OutOfPlan)
                throw;
            return false;
        }
    };
    const long long n = static_cast<long long>(days.size());
    long long good = -1;
    long long bad = n;
    for (long long back = 1; bad > 0; back *= 2) {
        const long long i = std::max(0LL, n - back);
        if (covered(days[static_cast<size_t>(i)])) {
            good = i;
            break;
        }
        bad = i;
    }
    if (good < 0)
        return 0;
    while (bad - good > 1) {
        const long long mid = (good + bad) / 2;
        (covered(days[static_cast<size_t>(mid)]) ? good : bad) = mid;
    }
    return days[static_cast<size_t>(good)];
}

// What became of one asked day.
enum class DayOutcome { Imported, Empty, Failed };

// A day's bars refused as beyond the plan: the catch-up starts again up to the plan's end.
struct PlanRefusal {
    ApiError error;
    long long day;
};

// The user's stop, raised at a wait of the client where the run may end: before the day's first
// page has come (nothing of the day is there yet), or within the day when finishing it would
// keep the user waiting longer than kStopGrace. No std::exception, so that no catch of the
// client or the import takes it for a failure.
struct StopAtWait {
    bool dayGivenUp;
};

// How long a day under way may still wait for the rate once the user stopped the run. The rest
// of a day is a few pages (the stand-in serves 3,800 issues in four), which at 5 requests a
// minute mostly fit in the minute; a full wait of the pacer's window, or a server of small
// pages (up to the page cap, 20 minutes), would keep the user waiting for a stop he asked for,
// so the day is given up instead and costs those few requests again at the next run.
constexpr double kStopGrace = 60;

// The days of one data update: which ones the kept window lacks, each fetched page by page
// into the staging table, checked, named from the master and imported; a day that fails is
// passed over and named in the run state.
class CatchUp {
public:
    CatchUp(Database &db, UiPort &port, Client &client, ImportRunState &state,
            const std::string &caption, const std::function<void()> &setLaterDate, long long keep,
            long long complete, const jquants::Clock &clock, int perMinute)
        : m_db(db), m_port(port), m_client(client), m_state(state), m_caption(caption),
          m_setLaterDate(setLaterDate), m_keep(keep), m_complete(complete), m_clock(clock),
          m_progress(clock, perMinute) {
        m_client.setWaitHook([this](double ahead) { beforeWait(ahead); });
    }

    // Every day of the kept window that the database lacks, oldest first, from the business
    // days `days` (ascending, up to the window's end). Returns the empty text or the import's
    // failure text; raises PlanRefusal or ApiError.
    std::string run(const std::vector<long long> &days, StepLabel &step) {
        if (days.empty())
            return {};
        if (!m_published)
            m_published = newestStoredUpTo(days.back());
        long long end = days.back();
        // A second pass only when the newest days turned out unpublished: the window then ends
        // before them, and the days that fall into it at its old end are fetched too, so that
        // the database keeps its maxdtc + 1 days.
        const ProgressScope bar(m_port);
        for (int pass = 0; pass < 2; ++pass) {
            const std::vector<long long> wanted = missingDays(days, end);
            if (wanted.empty())
                break;
            m_newest = std::max(m_newest, wanted.back());
            m_progress.addDays(static_cast<long long>(wanted.size()));
            for (size_t i = 0; i < wanted.size(); ++i) {
                const long long day = wanted[i];
                const long long left = static_cast<long long>(wanted.size() - i);
                throwIfStopRequested(m_port);
                if (m_port.stopAfterDayRequested()) {
                    m_state.stop(left);
                    return {};
                }
                m_tried.insert(day);
                step = "J-Quants[" + std::to_string(day) + "]取得";
                m_progress.dayStarted();
                m_dayCaption = m_caption + " [" + std::to_string(day) + "] " + m_progress.text();
                m_port.setCaption(m_dayCaption);
                m_port.progress(m_progress.done() + 1, m_progress.total());
                m_port.repaint();
                std::string failure;
                DayOutcome outcome = DayOutcome::Failed;
                const int before = m_client.requestCount();
                try {
                    outcome = fetchDay(day, step, failure);
                } catch (const StopAtWait &stop) {
                    m_db.execute("Delete from wonton_dat01 ");
                    m_port.setCaption(m_caption);
                    m_state.stop(left, stop.dayGivenUp ? day : 0);
                    return {};
                }
                m_progress.dayEnded(m_client.requestCount() - before - m_onceOnly);
                m_onceOnly = 0;
                m_port.setCaption(m_caption);
                if (!failure.empty())
                    return failure;
                if (outcome == DayOutcome::Empty)
                    m_empty.push_back(day);
                else
                    m_published = std::max(m_published, day);
            }
            const auto unpublished = std::find_if(m_empty.begin(), m_empty.end(),
                                                  [&](long long d) { return d > m_published; });
            if (!m_published || unpublished == m_empty.end())
                break;
            const long long firstUnpublished = *std::min_element(unpublished, m_empty.end());
            end = 0;
            for (const long long d : days)
                if (d < firstUnpublished)
                    end = d;
        }
        return {};
    }

    // After the last pass: a business day without bars before a day with bars is a hole, no
    // day waiting for its publication, and is named; the days after the newest published one
    // wait quietly for the next run.
    void reportHoles() {
        for (const long long day : m_empty)
            if (day < m_published)
                m_state.skip(day, "J-Quants APIにこの日のデータがありません"
                                  "(後の営業日のデータは公開されています)");
        std::stable_sort(m_state.skippedDays.begin(), m_state.skippedDays.end(),
                         [](const SkippedDay &a, const SkippedDay &b) { return a.day < b.day; });
    }

private:
    // Before each second of a wait of the client. Once the user asked to stop, between days the
    // run ends at once; a day under way finishes unless its waits would run past kStopGrace, and
    // is given up then.
    void beforeWait(double ahead) {
        // Each request's download takes the bar for its bytes; a wait shows the days again.
        m_port.progress(m_progress.done() + 1, m_progress.total());
        if (!m_port.stopAfterDayRequested())
            return;
        if (!m_dayUnderWay)
            throw StopAtWait{false};
        const double now = m_clock();
        if (m_stopSeen < 0)
            m_stopSeen = now;
        if (now - m_stopSeen + ahead > kStopGrace)
            throw StopAtWait{true};
    }

    // The newest date of T_NEARLY up to `end`: a date after it (a row of the future that an
    // earlier version stored) proves nothing about what is published.
    long long newestStoredUpTo(long long end) {
        const Value v = m_db.openRecordset("Select Max(IDATE) from T_NEARLY where IDATE <= ? ;",
                                           {Value(static_cast<std::int64_t>(end))})
                            .field(0);
        return v.isNull() ? 0 : v.toInt();
    }

    // The business days up to `end` that belong to the kept window and that T_NEARLY holds
    // with fewer than compyc rows, not asked yet in this run. The window is the newest
    // maxdtc + 1 dates of the stored ones and the business days together, as the import's
    // retention will count them, so that no day is fetched only to be dropped again.
    std::vector<long long> missingDays(const std::vector<long long> &days, long long end) {
        std::vector<long long> candidates;
        for (const long long d : days)
            if (d <= end)
                candidates.push_back(d);
        if (candidates.empty())
            return {};
        std::map<long long, long long> stored; // date -> rows
        m_db.forEachRow(
            "select IDATE, count(IDATE) from T_NEARLY where IDATE >= ? group by IDATE ;",
            {Value(static_cast<std::int64_t>(candidates.front()))},
            [&](const storage::RowView &row) { stored[row.integer(0)] = row.integer(1); });
        std::set<long long> all(candidates.begin(), candidates.end());
        for (const auto &[date, rows] : stored)
            all.insert(date);
        std::set<long long> window;
        for (auto it = all.rbegin();
             it != all.rend() && static_cast<long long>(window.size()) < m_keep; ++it)
            window.insert(*it);
        std::vector<long long> wanted;
        for (const long long d : candidates) {
            const auto s = stored.find(d);
            if (window.count(d) && !m_tried.count(d) &&
                (s == stored.end() || s->second < m_complete))
                wanted.push_back(d);
        }
        return wanted;
    }

    // The day's bars, page by page into the staging table, each row checked as it comes; then
    // the names, and the import. A day whose answer fails a check is passed over whole and
    // recorded; `failure` takes the import's failure text.
    DayOutcome fetchDay(long long day, StepLabel &step, std::string &failure) {
        m_db.execute("Delete from wonton_dat01 ");
        m_ohlc.clear();
        long long rows = 0;
        // From the first page on the day is under way, and a stop lets it finish.
        struct DayUnderWay {
            CatchUp &c;
            ~DayUnderWay() {
                c.m_dayUnderWay = false;
                c.m_stopSeen = -1;
            }
        } underWay{*this};
        try {
            try {
                // One transaction around the rows of each page, so that they go in at disk
                // speed and no write lock is held while the next page is on its way.
                std::optional<OwnTransaction> page;
                m_client.forEachRow(
                    kBarsPath, {{"date", apiDate(day)}},
                    [&](const json &bar) {
                        if (++rows > jquants::kMaxIssues)
                            badAnswer("行数が多すぎます(" + std::to_string(jquants::kMaxIssues) +
                                      "行を超えました)");
                        if (!page)
                            page.emplace(m_db);
                        stageBar(day, bar);
                    },
                    [&] {
                        m_dayUnderWay = true;
                        if (page)
                            page->commit();
                        page.reset();
                    });
            } catch (const ApiError &e) {
                if (e.kind == ApiError::Kind::OutOfPlan)
                    throw PlanRefusal{e, day};
                throw;
            }
            if (rows == 0)
                return DayOutcome::Empty;
            // Two rows of one code would leave whichever came last.
            const long long twice =
                m_db.scalar("select count(CODE) - count(distinct CODE) from wonton_dat01 ;")
                    .toInt();
            if (twice > 0)
                badAnswer("同じ銘柄コードの行が" + std::to_string(twice) + "件重複しています");

            step = "J-Quants[" + std::to_string(day) + "]銘柄情報取得";
            const std::vector<std::string> codes = stagedCodes();
            knowNames(day, codes);
        } catch (const ApiError &e) {
            if (!failsTheDay(e))
                throw;
            m_db.execute("Delete from wonton_dat01 ");
            m_state.skip(day, jquants::describe(e));
            return DayOutcome::Failed;
        }

        step = "[" + std::to_string(day) + "]";
        bool usable = false;
        {
            // Committed whatever the import returns: its failure text says what ran.
            OwnTransaction transaction(m_db);
            m_port.setCaption(m_dayCaption + " ﾃﾞｰﾀ更新1処理中");
            nameStagedRows();
            usable = m_db.scalar("select count(*) from wonton_dat01 ;").toInt() > 0;
            if (usable) {
                storeDayOhlc(m_db, day, m_ohlc);
                failure = importStagedDay(m_db, m_port, m_dayCaption, day, m_state);
                transaction.commit();
            }
        }
        if (!usable) {
            m_db.execute("Delete from wonton_dat01 ");
            m_state.skip(day, "J-Quants APIの応答に取り込める銘柄がありません");
            return DayOutcome::Failed;
        }
        if (!failure.empty()) {
            failure = step.text() + failure;
            return DayOutcome::Failed;
        }
        if (m_setLaterDate)
            m_setLaterDate();
        return DayOutcome::Imported;
    }

    // Refusals and broken answers end the day; a lost connection, a refused key, the rate
    // limit or the server's own error end the run, and a plan's end starts it again.
    static bool failsTheDay(const ApiError &e) {
        return e.kind == ApiError::Kind::BadAnswer || e.kind == ApiError::Kind::TooLarge ||
               e.kind == ApiError::Kind::Rejected;
    }

    // One bar as a staging row, TALK null (the API counts no web topics); NAME and MARKET
    // follow from the master once the day is complete. A row that fails the checks is no row
    // of the API, and the day is not imported.
    void stageBar(long long day, const json &bar) {
        const jquants::StagedBar row = jquants::stagedBar(day, bar);
        m_db.execute("Insert into wonton_dat01([DATE],CODE,NAME,PRC,DVAL,TALK,MARKET) "
                     "Values(?,?,?,?,?,?,?) ;",
                     {Value(static_cast<std::int64_t>(row.date)), row.code, Value(),
                      valueOr(row.close), valueOr(row.volume), Value(), Value()});
        m_ohlc.add(row);
    }

    std::vector<std::string> stagedCodes() {
        std::vector<std::string> codes;
        m_db.forEachRow("select distinct CODE from wonton_dat01 ;", {},
                        [&](const storage::RowView &row) { codes.emplace_back(row.text(0)); });
        return codes;
    }

    // The master for the day's codes: the one as of the newest day of the catch-up, so that
    // names and markets are today's; for codes it lacks (issues that left the market since),
    // the master as of the day itself, once per day and only for codes not looked up before.
    void knowNames(long long day, const std::vector<std::string> &codes) {
        // Each master is read once for the run or once for a code: its pages are no pace of
        // the days still to come.
        struct SetAside {
            CatchUp &c;
            int requests;
            double started;
            ~SetAside() {
                c.m_onceOnly += c.m_client.requestCount() - requests;
                c.m_progress.setAside(c.m_clock() - started);
            }
        } once{*this, m_client.requestCount(), m_clock()};
        if (!m_master) {
            Master newest;
            try {
                newest = readMaster(m_client, m_newest);
            } catch (const ApiError &e) {
                // A plan may reach the day's bars but not the newest day's master.
                if (e.kind != ApiError::Kind::OutOfPlan || m_newest == day)
                    throw;
            }
            if (newest.empty() && m_newest != day)
                newest = readMaster(m_client, day);
            if (newest.empty())
                badAnswer("銘柄情報が空です");
            m_master = std::move(newest);
            m_absent.clear();
        }
        std::vector<std::string> lacking;
        for (const std::string &code : codes)
            if (!m_master->count(jquants::apiCode(code)) && !m_absent.count(jquants::apiCode(code)))
                lacking.push_back(jquants::apiCode(code));
        if (lacking.empty())
            return;
        const Master asOfDay = day == m_newest ? Master() : readMaster(m_client, day);
        for (const std::string &code : lacking) {
            const auto issue = asOfDay.find(code);
            if (issue != asOfDay.end())
                (*m_master)[code] = issue->second;
            else
                m_absent.insert(code);
        }
    }

    // NAME and MARKET of the staging rows from the master; issues of categories that are not
    // kept leave the staging table.
    void nameStagedRows() {
        for (const std::string &code : stagedCodes()) {
            const std::optional<jquants::StagedNames> names =
                jquants::stagedNames(*m_master, code, [&] {
                    const storage::ResultSet known =
                        m_db.openRecordset("Select NAME from master where CODE = ? ;", {code});
                    return known.eof() ? std::string() : known.field(0).textOr("");
                });
            if (!names) {
                m_db.execute("Delete from wonton_dat01 where CODE = ? ;", {code});
                continue;
            }
            m_db.execute("Update wonton_dat01 set NAME = ?, MARKET = ? where CODE = ? ;",
                         {names->name, valueOr(names->market), code});
        }
    }

    Database &m_db;
    UiPort &m_port;
    Client &m_client;
    ImportRunState &m_state;
    const std::string &m_caption;
    const std::function<void()> &m_setLaterDate;
    long long m_keep;
    long long m_complete;
    const jquants::Clock &m_clock;

    CatchUpProgress m_progress;
    std::string m_dayCaption;   // the caption of the day in progress, with the count
    int m_onceOnly = 0;         // requests of the day that no other day makes
    bool m_dayUnderWay = false; // the day's first page has come
    double m_stopSeen = -1;     // when a wait of the day first saw the user's stop

    std::set<long long> m_tried;
    std::vector<long long> m_empty; // asked days that answered no bars
    long long m_published = 0;      // the newest day known to have bars
    long long m_newest = 0;         // the newest day asked for
    std::optional<Master> m_master;
    std::set<std::string> m_absent; // codes that no master of this run lists
    DayOhlc m_ohlc;                 // the open, high, low and split factor of the day's bars
};

// The final message says how far the plan reaches when the window had to end before today.
std::string planNote(long long planEnd) {
    return planEnd ? "J-Quants: ご契約のプランで取得できるのは" + slashDate(planEnd) +
                         "までのデータです。"
                   : std::string();
}

} // namespace

std::string updateFromJQuants(Database &db, UiPort &port, const std::function<void()> &setLaterDate,
                              ImportRunState &state, const JQuantsRunOptions &options) {
    StepLabel step;
    std::string caption;
    std::string &note = options.note ? *options.note : sourceNote();
    try {
        step = "初期";
        caption = port.caption();
        state.reset();
        note.clear();

        step = "J-Quants設定取得";
        jquants::Settings settings = jquants::Settings::fromStore();
        if (settings.key.empty())
            return jquants::kNoKeyMessage;
        if (options.maxBytes)
            settings.maxBytes = options.maxBytes;
        const long long keep = storage::readSettingInt(storage::keys::maxdtc) + 1;
        if (keep < 1)
            throw std::out_of_range("maxdtc が負の値です: " + std::to_string(keep - 1));
        const long long complete = storage::readSettingInt(storage::keys::compyc);
        const long long today = options.today ? options.today : localDate(std::time(nullptr));
        jquants::RequestPacer &pacer = options.pacer ? *options.pacer : jquants::processPacer();
        Client client(settings, port, pacer);
        const jquants::Clock clock = [&pacer] { return pacer.now(); };
        CatchUp catchUp(db, port, client, state, caption, setLaterDate, keep, complete, clock,
                        settings.rate);

        long long upTo = today;
        long long planEnd = 0;
        try {
            for (int round = 0; round < kMaxRounds; ++round) {
                step = "J-Quants営業日取得";
                port.setCaption(caption + " 営業日取得中");
                // Calendar days enough to hold `keep` business days, holidays included, and
                // a few more for a window that ends before unpublished days.
                const long long from = addDays(upTo, -(keep * 3 / 2 + 40));
                std::vector<long long> days = calendarDays(client, from, upTo, planEnd);
                port.setCaption(caption);
                if (planEnd && planEnd < upTo) {
                    upTo = planEnd; // the window is counted back from the plan's end
                    continue;
                }
                try {
                    if (std::string failure = catchUp.run(days, step); !failure.empty()) {
                        note = planNote(planEnd);
                        return failure;
                    }
                    break;
                } catch (const PlanRefusal &refusal) {
                    step = "J-Quantsプラン期間確認";
                    const ApiError &e = refusal.error;
                    const long long end =
                        e.plan && e.plan->to ? e.plan->to : probePlanEnd(client, refusal.day);
                    if (end == 0 || end >= refusal.day)
                        throw e; // a refusal that no earlier end of the plan explains
                    planEnd = upTo = end;
                }
            }
        } catch (const ApiError &e) {
            note = planNote(planEnd);
            port.setCaption(caption);
            catchUp.reportHoles();
            return jquants::describe(e);
        } catch (const StopAtWait &) {
            // Stopped while the calendar was asked for: which days are missing is not known.
            state.stop(-1);
        }
        catchUp.reportHoles();
        note = planNote(planEnd);
        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        if (!caption.empty())
            port.setCaption(caption);
        return step.failure(kStepFailedPhrase, e.what());
    }
}

std::string &sourceNote() {
    static std::string note;
    return note;
}

std::string scanSelectedSource(Database &db, UiPort &port, net::HttpClient &client,
                               const std::function<void()> &setLaterDate, ImportRunState &state) {
    std::string failure;
    if (storage::jquantsSource()) {
        failure = updateFromJQuants(db, port, setLaterDate, state);
    } else {
        sourceNote().clear();
        failure = scanDataSite(db, port, client, setLaterDate, state);
    }
    // Every completed update, of either source and from either program, ends here.
    if (failure.empty() && !state.stopped)
        state.watch = watch::evaluateNewestDay(db);
    return failure;
}

} // namespace tesmo::acquire
