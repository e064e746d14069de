// The J-Quants source of the data update against the sample site's stand-in on loopback: the
// catch-up into the database, the code and market mapping, pages, the rate, the refusals of
// the API and the plan window. The stand-in's clock moves only with the port's waits.
#include "core/acquire/acquire_test_env.h"

#include "core/acquire/catch_up_progress.h"
#include "core/acquire/jquants_client.h"
#include "core/acquire/jquants_update.h"
#include "core/common/dates.h"
#include "core/common/text.h"
#include "core/storage/settings_store.h"
#include "support/http_test_server.h"
#include "support/jquants_stand_in.h"
#include "support/trading_days.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace tesmo::test {
namespace {

using acquire::ImportRunState;
using acquire::jquants::databaseCode;
using sample_site::JQuantsFault;
using sample_site::JQuantsOptions;
namespace keys = storage::keys;

class JQuants : public AcquireTest {
protected:
    void SetUp() override {
        AcquireTest::SetUp();
        setting(keys::datasource, "jquants");
        setting(keys::jquantskey, "tesmo-sample-key");
        setting(keys::jquantsrate, "500");
        setting(keys::maxdtc, "4");
        setting(keys::compyc, "30"); // a day of the stand-in lists 35 kept issues
        cport.setCaption("Tesmo");
    }
    // A stand-in of 30 stocks ending on Friday 2024-01-05, `o` filling in the rest.
    JQuantsStandIn &serve(JQuantsOptions o = {}) {
        o.endDate = o.endDate ? o.endDate : 20240105;
        o.stocks = 30;
        stand = std::make_unique<JQuantsStandIn>(o, clock);
        setting(keys::jquantsapi, stand->base());
        return *stand;
    }
    std::string update(long long today, long long maxBytes = 0) {
        acquire::JQuantsRunOptions o;
        o.today = today;
        o.maxBytes = maxBytes;
        o.pacer = &pacer;
        o.note = &note;
        return acquire::updateFromJQuants(*db, cport, {}, state, o);
    }
    int answered(int status) {
        const auto log = stand->site().requests();
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [&](const auto &r) { return r.status == status; }));
    }
    // Requests whose path and query start with `target`.
    int asked(const std::string &target) {
        const auto log = stand->site().requests();
        return static_cast<int>(std::count_if(
            log.begin(), log.end(), [&](const auto &r) { return r.target.rfind(target, 0) == 0; }));
    }
    std::vector<std::string> rowsPerDay() {
        return rows("select IDATE, count(*) from T_NEARLY group by IDATE");
    }
    bool captionSeen(const std::string &part) {
        return std::any_of(cport.captions.begin(), cport.captions.end(),
                           [&](const std::string &c) { return c.find(part) != std::string::npos; });
    }

    FakeClock clock;
    ClockPort cport{clock};
    acquire::jquants::RequestPacer pacer{[this] { return clock.now(); }};
    std::unique_ptr<JQuantsStandIn> stand;
    ImportRunState state;
    std::string note;
};

TEST(JQuantsCodes, FifthCharacterZeroIsDropped) {
    const std::pair<const char *, const char *> cases[] = {{"13010", "1301"},
                                                           {"130A0", "130A"},
                                                           {"25935", "25935"},
                                                           {"72030", "7203"},
                                                           {"1301", "1301"}};
    for (const auto &[api, code] : cases)
        EXPECT_EQ(databaseCode(api), code) << api;
}

// A week across the year end (31 Dec to 3 Jan closed) into an empty database: the newest
// maxdtc + 1 business days, every page of each, the codes and markets mapped, the issue of
// another kind left out, the no-trade issue without price, and a code the master lacks
// keeping the name the database has. Then a Monday whose bars are not out yet: nothing more.
TEST_F(JQuants, CatchUpFillsAnEmptyDatabase) {
    JQuantsOptions o;
    o.pageSize = 7; // 36 bars a day: six pages
    JQuantsStandIn &s = serve(o);
    db->execute("Insert into master(CODE,NAME) Values('7778','既存銘柄') ;");

    ASSERT_EQ(update(20240107), "");
    EXPECT_EQ(state.importedList, "20231227\r\n20231228\r\n20231229\r\n20240104\r\n20240105\r\n");
    const std::vector<std::string> perDay = {"20231227|35|34|0", "20231228|35|34|0",
                                             "20231229|35|34|0", "20240104|35|34|0",
                                             "20240105|35|34|0"};
    EXPECT_EQ(rows("select IDATE, count(*), count(PRC), count(TALK) from T_NEARLY group by IDATE"),
              perDay);
    for (long long day : {20231227LL, 20240105LL})
        EXPECT_EQ(rows("select PRC, DVAL from T_NEARLY where IDATE=" + std::to_string(day) +
                       " and CODE='" + databaseCode(s.site().noTradeCode(day)) + "'"),
                  std::vector<std::string>{"NULL|NULL"});
    const std::vector<std::string> extras = {
        "1306|サンプルTOPIX連動ETF|その他", "130A|サンプル新興テック|東証グロース",
        "25935|サンプル飲料 第1種優先株|東証プライム", "7778|既存銘柄|NULL",
        "8952|サンプル不動産投資法人|その他"};
    EXPECT_EQ(rows("select CODE, NAME, MARKET from master where CODE in "
                   "('1306','130A','1416','25935','7778','8952') order by CODE"),
              extras);
    const acquire::DayRecord first = sample_site::sampleStock(0, 20240105);
    EXPECT_EQ(rows("select NAME, PRC from T_NEARLY inner join master on master.CODE = "
                   "T_NEARLY.CODE where IDATE=20240105 and master.CODE='1301'"),
              std::vector<std::string>{first.name + "|" + storage::formatDouble(*first.prc)});
    EXPECT_EQ(count("T_NEARLY", "CODE='7778'"), 5);
    // Names and markets as of the newest day; the oldest day's master only for the code that
    // the newest one lacks, and only once.
    std::vector<std::string> masters;
    for (const auto &r : s.site().requests())
        if (r.target.rfind("/v2/equities/master?date=", 0) == 0 &&
            r.target.find("pagination_key") == std::string::npos)
            masters.push_back(r.target.substr(25, 8));
    EXPECT_EQ(masters, (std::vector<std::string>{"20240105", "20231227"}));
    EXPECT_EQ(count("master", "length(CODE) <> 4"), 1); // 25935 alone
    for (const auto &r : s.site().requests())
        EXPECT_NE(r.acceptEncoding.find("gzip"), std::string::npos) << r.target;

    const size_t before = s.site().requests().size();
    ASSERT_EQ(update(20240108), "");
    EXPECT_EQ(state.importedCount, 0);
    EXPECT_EQ(count("T_NEARLY", "IDATE > 20240105"), 0);
    // Besides the calendar's pages, only the empty day.
    const auto log = s.site().requests();
    std::vector<std::string> other;
    for (size_t i = before; i < log.size(); ++i)
        if (log[i].target.rfind("/v2/markets/calendar?", 0) != 0)
            other.push_back(log[i].target);
    EXPECT_EQ(other, std::vector<std::string>{"/v2/equities/bars/daily?date=20240108"});
}

// An empty database on a day whose bars are not out yet still gets maxdtc + 1 days: the window
// reaches back over the unpublished day, which is not named as missing.
TEST_F(JQuants, UnpublishedDaysMoveTheWindowBack) {
    serve();
    ASSERT_EQ(update(20240109), "");
    EXPECT_EQ(rowsPerDay(), (std::vector<std::string>{"20231227|35", "20231228|35", "20231229|35",
                                                      "20240104|35", "20240105|35"}));
    EXPECT_EQ(state.importedCount, 5);
    EXPECT_TRUE(state.skippedDays.empty());
    EXPECT_EQ(asked("/v2/equities/bars/daily?date=20240108"), 1);
    EXPECT_EQ(asked("/v2/equities/bars/daily?date=20240109"), 1);
}

// The pacer counts the calendar, the bars and the masters alike: no minute holds more than
// jquantsrate requests, the stand-in never had to refuse one, and nothing waited longer than
// the minute needed.
TEST_F(JQuants, RequestsStayWithinTheRate) {
    setting(keys::jquantsrate, "5");
    JQuantsOptions o;
    o.rate = 5;
    JQuantsStandIn &s = serve(o);
    const double start = clock.now();
    ASSERT_EQ(update(20240107), "");
    EXPECT_EQ(state.importedCount, 5);
    const auto log = s.site().requests();
    ASSERT_GT(log.size(), 5u);
    for (const auto &r : log) {
        EXPECT_NE(r.status, 429);
        const auto inMinute = std::count_if(log.begin(), log.end(), [&](const auto &q) {
            return q.time >= r.time && q.time < r.time + 60;
        });
        EXPECT_LE(inMinute, 5) << r.target;
    }
    EXPECT_TRUE(captionSeen("取得間隔の調整中(あと"));
    EXPECT_LE(clock.now() - start, 62.0);
    // The count from the first day, the time left once a day has shown the pace.
    EXPECT_TRUE(captionSeen("Tesmo [20231227] 1/5日 ﾃﾞｰﾀ更新1処理中"));
    EXPECT_TRUE(captionSeen("Tesmo [20231228] 2/5日 残り"));
    EXPECT_TRUE(captionSeen("Tesmo [20240105] 5/5日 残り1分未満"));
}

// The count and the time left: the pace of the days so far, and never faster than the rate lets
// the requests of a day through; the issue names that are read once are no pace.
TEST(CatchUpProgress, CountsTheDaysAndEstimatesTheRest) {
    struct Case {
        int perMinute;
        long long total;
        int done;
        double secondsPerDay;
        int requestsPerDay;
        double setAside; // on the first day
        const char *text;
    };
    const Case cases[] = {
        {5, 41, 0, 0, 0, 0, "1/41日"},                     // no pace before a day has ended
        {0, 41, 11, 10, 4, 0, "12/41日 残り約5分"},        // the pace so far
        {5, 41, 11, 2, 4, 600, "12/41日 残り約24分"},      // the rate bounds a fast start
        {5, 41, 11, 90, 4, 0, "12/41日 残り約45分"},       // a server slower than the rate
        {0, 100, 1, 120, 1, 0, "2/100日 残り約3時間18分"}, // minutes rounded up
        {0, 61, 1, 60, 1, 0, "2/61日 残り約1時間"},
        {5, 41, 40, 10, 1, 0, "41/41日 残り1分未満"},
    };
    for (const Case &c : cases) {
        double now = 0;
        acquire::CatchUpProgress progress([&] { return now; }, c.perMinute);
        progress.addDays(c.total);
        progress.setAside(c.setAside);
        for (int d = 0; d < c.done; ++d) {
            progress.dayStarted();
            now += c.secondsPerDay + (d == 0 ? c.setAside : 0);
            progress.dayEnded(c.requestsPerDay);
        }
        progress.dayStarted();
        EXPECT_EQ(progress.text(), c.text);
    }
}

// A 429 waits a minute with a counting caption and tries again; a server that keeps refusing
// gets three retries, then the update ends with the message.
TEST_F(JQuants, RateLimitAnswersWaitAMinuteThenRetry) {
    for (const bool serverClockStands : {false, true}) {
        SCOPED_TRACE(serverClockStands);
        db->execute("Delete from T_NEARLY ;");
        cport.captions.clear();
        JQuantsOptions o;
        o.rate = 3;
        if (serverClockStands)
            o.clock = [] { return 0.0; };
        serve(o);
        const std::string result = update(20240107);
        EXPECT_TRUE(captionSeen("利用制限のため待機中 再試行1/3(あと60秒)"));
        if (!serverClockStands) {
            EXPECT_EQ(result, "");
            EXPECT_EQ(state.importedCount, 5);
            EXPECT_GT(answered(429), 0);
        } else {
            EXPECT_EQ(result.rfind("J-Quants APIの利用制限(1分あたりのリクエスト数)を超えたため"
                                   "中止しました。",
                                   0),
                      0u)
                << result;
            EXPECT_EQ(answered(429), 4);
        }
    }
}

TEST_F(JQuants, RefusedKeyEndsTheUpdateWithoutRequestsToSpare) {
    const std::pair<const char *, const char *> cases[] = {
        {"wrong-key", "J-Quants APIがアクセスを拒否しました(HTTP 403)。\r\n"},
        {"", acquire::jquants::kNoKeyMessage}};
    for (const auto &[key, message] : cases) {
        serve();
        setting(keys::jquantskey, key);
        const std::string result = update(20240107);
        EXPECT_EQ(result.rfind(message, 0), 0u) << result;
        EXPECT_EQ(count("T_NEARLY"), 0);
        EXPECT_EQ(stand->site().requests().size(), *key ? 1u : 0u);
    }
}

// A plan that ends before today: on the Free plan the calendar already names the plan's range,
// and an empty database fills with the newest maxdtc + 1 days up to its end; with the calendar
// open, the bars refuse the first day after three good ones, whose range is read or, when the
// refusal names none, probed; the window then ends there and its older days are filled too.
// The days before the end stay and the note names it.
TEST_F(JQuants, PlanWindowEndsTheCatchUp) {
    struct Case {
        const char *name;
        bool calendarLimited;
        bool rangeInRefusal;
        long long planEnd;
        bool prefilled; // 27 Dec already in the database
        std::vector<std::string> dates;
    };
    const Case cases[] = {
        {"free plan, empty database",
         true,
         true,
         20231228,
         false,
         {"20231222", "20231225", "20231226", "20231227", "20231228"}},
        {"bars refused after two days",
         false,
         true,
         20231229,
         true,
         {"20231225", "20231226", "20231227", "20231228", "20231229"}},
        {"refusal without range",
         false,
         false,
         20231229,
         true,
         {"20231225", "20231226", "20231227", "20231228", "20231229"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        db->execute("Delete from T_NEARLY ;");
        if (c.prefilled)
            db->execute("Insert into T_NEARLY(IDATE,CODE,PRC) Values(20231227,'1301',100) ;");
        JQuantsOptions o;
        o.planEnd = c.planEnd;
        o.planCoversCalendar = c.calendarLimited;
        o.rangeInRefusal = c.rangeInRefusal;
        serve(o);
        EXPECT_EQ(update(20240107), "");
        EXPECT_EQ(rows("select IDATE from T_NEARLY group by IDATE"), c.dates);
        EXPECT_EQ(note, "J-Quants: ご契約のプランで取得できるのは" + slashDate(c.planEnd) +
                            "までのデータです。");
    }
}

// 中止 (Ctrl+C in tesmoctl): the run ends between two days, at once also in the wait before a
// day's first page; a day under way finishes when it needs no long wait and is given up, none of
// its rows kept, when its next page is a minute away. Only whole days stay, the days still
// missing are counted, and the next run brings them in.
TEST_F(JQuants, StopKeepsWholeDays) {
    const auto twoDaysIn = [&] { return state.importedCount >= 2; };
    const auto thirdDayAsked = [&] { return asked("/v2/equities/bars/daily?date=20231229") > 0; };
    const auto waiting = [&] {
        return twoDaysIn() && cport.caption().find("取得間隔の調整中") != std::string::npos;
    };
    struct Case {
        const char *name;
        int rate;
        int pageSize;
        std::function<bool()> when;
        size_t daysIn;
        long long stillMissing;
        long long givenUp;
    };
    const Case cases[] = {
        {"between days", 500, 1000, twoDaysIn, 2, 3, 0},
        {"in the wait for a day's first page", 1, 1000, waiting, 2, 3, 0},
        {"within a day without waits", 500, 7, thirdDayAsked, 3, 2, 0},
        {"within a day a minute from its next page", 1, 7, thirdDayAsked, 2, 3, 20231229},
    };
    const std::vector<std::string> whole = {"20231227|35", "20231228|35", "20231229|35",
                                            "20240104|35", "20240105|35"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        db->execute("Delete from T_NEARLY ;");
        clock.advance(120); // a fresh minute for the pacer
        setting(keys::jquantsrate, std::to_string(c.rate));
        JQuantsOptions o;
        o.rate = 0;
        o.pageSize = c.pageSize;
        serve(o);
        cport.stopAfterDayWhen = c.when;
        EXPECT_EQ(update(20240107), "");
        EXPECT_TRUE(state.stopped);
        EXPECT_EQ(rowsPerDay(), std::vector<std::string>(whole.begin(), whole.begin() + c.daysIn));
        EXPECT_EQ(state.stillMissing, c.stillMissing);
        EXPECT_EQ(state.givenUpDay, c.givenUp);
        EXPECT_EQ(count("wonton_dat01"), 0);
        EXPECT_EQ(cport.caption(), "Tesmo");
        EXPECT_EQ(thirdDayAsked(), c.daysIn == 3 || c.givenUp); // else stopped before its wait

        cport.stopAfterDayWhen = {};
        cport.stopAfterDay = false;
        EXPECT_EQ(update(20240107), "");
        EXPECT_EQ(rowsPerDay(), whole);
    }
}

// Ctrl+C in `tesmoctl update`, once the first day is in: the update ends after the day under
// way, the days in stay whole, the report counts the days still missing, and tesmoctl exits 130.
TEST_F(JQuants, TesmoctlStopsOnCtrlCAfterTheDay) {
    JQuantsOptions o;
    o.endDate = sample_site::lastTradingDayBefore(localDate(std::time(nullptr)));
    o.pageSize = 1; // a page per issue: the update is far from its end when the signal comes
    o.rate = 0;
    serve(o);
    db->close();
    const std::string ctl = std::string(TESMO_BIN_DIR) + "/tesmoctl";
    const std::string dbPath = env.path("tesmo.mdb"); // the fixture's database
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const char *argv[] = {ctl.c_str(), "update", dbPath.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], &files, nullptr, const_cast<char **>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    ::close(out[1]);
    FILE *printed = ::fdopen(out[0], "r");
    std::string all;
    char line[4096];
    while (std::fgets(line, sizeof line, printed)) {
        if (std::string(line).rfind("直近日付", 0) == 0 &&
            all.find("直近日付") == std::string::npos)
            ::kill(pid, SIGINT);
        all += line;
    }
    std::fclose(printed);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << all;

    db = storage::Database::open(dbPath, storage::kConnectString);
    const std::vector<std::string> days = rows("select count(*) from T_NEARLY group by IDATE");
    ASSERT_GE(days.size(), 1u);
    ASSERT_LT(days.size(), 5u);
    EXPECT_EQ(days, std::vector<std::string>(days.size(), "35")); // whole days only
    EXPECT_NE(all.find("中止しました。\n\n[取り込んだ日]\n"), std::string::npos) << all;
    EXPECT_NE(all.find("まだ取り込んでいない日: " + std::to_string(5 - days.size()) + "日"),
              std::string::npos)
        << all;
}

TEST_F(JQuants, ConnectionTestTellsTheKeyAndThePlanWindow) {
    struct Case {
        const char *key;
        long long planEnd;
        bool ok;
        const char *says;
    };
    const Case cases[] = {
        {"tesmo-sample-key", 0, true, "本日までのデータを取得できるプランです"},
        {"tesmo-sample-key", 20231013, true,
         "取得できる期間: 2021/10/13 ～ 2023/10/13\r\n(約12週間遅れのデータです。"},
        {"wrong-key", 0, false, "(HTTP 403)"},
    };
    for (const Case &c : cases) {
        JQuantsOptions o;
        o.planEnd = c.planEnd;
        serve(o);
        acquire::jquants::Settings settings{stand->base(), c.key, 5};
        const auto report = acquire::jquants::testConnection(settings, cport, 20240105, pacer);
        EXPECT_EQ(report.ok, c.ok) << report.text;
        EXPECT_NE(report.text.find(c.says), std::string::npos) << report.text;
        EXPECT_EQ(stand->site().requests().size(), 1u);
    }
}

// The key is sent, never shown: not when a server repeats it in its refusals, not by tesmoctl,
// and the settings file that holds it is its owner's alone.
TEST_F(JQuants, KeyNeverShows) {
    const std::string key = "Zq9-secret-KEY-77";
    setting(keys::jquantskey, key);
    HttpTestServer echo;
    setting(keys::jquantsapi, echo.url("/v2"));
    setting(keys::retimes, "0");
    for (const int status : {400, 404}) {
        echo.serve("/v2/markets/calendar",
                   "{\"message\": \"key " + key + " cannot see this plan\"}", status,
                   "application/json");
        const std::string result = update(20240107);
        EXPECT_NE(result.find("********"), std::string::npos) << result;
        EXPECT_EQ(result.find(key), std::string::npos) << result;
    }

    JQuantsOptions recent; // tesmoctl catches up to today
    recent.endDate = sample_site::lastTradingDayBefore(localDate(std::time(nullptr)));
    serve(recent);
    setting(keys::jquantskey, "tesmo-sample-key");
    const std::string ctl = std::string(TESMO_BIN_DIR) + "/tesmoctl ";
    int status = 0;
    const std::string shown = runCommand(ctl + "setting option jquantskey", &status);
    EXPECT_EQ(shown, "********\n");
    const std::string printed = runCommand(ctl + "jquants-check", &status) +
                                runCommand(ctl + "update " + env.path("tesmo.mdb"), &status);
    EXPECT_EQ(status, 0) << printed;
    EXPECT_NE(printed.find("正常終了"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("tesmo-sample-key"), std::string::npos) << printed;
    for (const auto &r : stand->site().requests())
        EXPECT_EQ(r.target.find("tesmo-sample-key"), std::string::npos);

    struct stat st {};
    ASSERT_EQ(::stat(storage::settingsFilePath(storage::mainAppName()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Every way a server can spoil one day's bars: the day is not imported at all and is named with
// its reason on one line without control characters, the days around it come in whole, and a
// run against a sound server afterwards fills it in with nothing twice.
TEST_F(JQuants, SpoiledDayIsNamedAndTheNextRunFillsItIn) {
    struct Case {
        JQuantsFault fault;
        const char *reason;
        int requests; // for the spoiled day
    };
    const Case cases[] = {
        {JQuantsFault::FutureRow, "日付が2024-01-04ではない行があります: \"2099-12-31\"", 1},
        {JQuantsFault::OtherDayRow, "日付が2024-01-04ではない行があります: \"2024-01-03\"", 1},
        {JQuantsFault::LooseRow, "日付が2024-01-04ではない行があります: {\"close\":5,\"code\"", 2},
        {JQuantsFault::NumberCode, "銘柄コードが読めない行があります: 13030", 1},
        {JQuantsFault::TextClose, "C が数値ではない行があります: 13030 \"1234\"", 1},
        {JQuantsFault::TextVolume, "Vo が数値ではない行があります: 13030 \"5000\"", 1},
        {JQuantsFault::RepeatedRow, "同じ銘柄コードの行が1件重複しています", 2},
        {JQuantsFault::Hole, "この日のデータがありません(後の営業日のデータは公開されています)", 1},
        {JQuantsFault::KeyLoop, "同じ pagination_key が再び返されました(3ページ目)", 3},
        {JQuantsFault::EndlessPages, "ページ数が上限(100)を超えました", 100},
        {JQuantsFault::HugePage, "J-Quants APIの応答が大きすぎるため中止しました", 1},
        {JQuantsFault::LongMessage,
         "J-Quants APIが要求を受け付けませんでした(HTTP 400) 詳細:[2J[31m [2J", 1},
    };
    const std::vector<std::string> whole = {"20231227|35", "20231228|35", "20231229|35",
                                            "20240104|35", "20240105|35"};
    for (const Case &c : cases) {
        SCOPED_TRACE(sample_site::faultName(c.fault));
        db->execute("Delete from T_NEARLY ;");
        JQuantsOptions o;
        o.fault = c.fault;
        o.pageSize = 20; // two pages: a spoiled row in the first, an added one in the second
        o.faultBytes = 300 * 1000;
        ASSERT_EQ(serve(o).site().spoiledDay(), 20240104);
        // HugePage's 300 KB against a cap of 200 KB.
        EXPECT_EQ(update(20240107, c.fault == JQuantsFault::HugePage ? 200 * 1000 : 0), "");
        ASSERT_EQ(state.skippedDays.size(), 1u);
        EXPECT_EQ(state.skippedDays[0].day, 20240104);
        const std::string &reason = state.skippedDays[0].reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(reason, singleLine(reason));
        EXPECT_LT(reason.size(), 600u);
        EXPECT_EQ(asked("/v2/equities/bars/daily?date=20240104"), c.requests);
        EXPECT_EQ(rowsPerDay(), (std::vector<std::string>{"20231227|35", "20231228|35",
                                                          "20231229|35", "20240105|35"}));
        EXPECT_EQ(count("wonton_dat01"), 0);

        serve();
        EXPECT_EQ(update(20240107), "");
        EXPECT_EQ(state.importedList, "20240104\r\n");
        EXPECT_TRUE(state.skippedDays.empty());
        EXPECT_EQ(rowsPerDay(), whole);
        EXPECT_EQ(count("T_NEARLY", "IDATE > 20240105"), 0);
    }
}

// A calendar that is empty or whose holiday divisions are none of the API's four codes is an
// error with a message; no day is asked for.
TEST_F(JQuants, UnusableCalendarIsAnError) {
    const std::pair<JQuantsFault, const char *> cases[] = {
        {JQuantsFault::EmptyCalendar, "営業日カレンダーが空です"},
        {JQuantsFault::FullWidthHolDiv, "休日区分(HolDiv)が読めません: \"１\""},
        {JQuantsFault::NumberHolDiv, "休日区分(HolDiv)が読めません: 1 "},
        {JQuantsFault::BlankHolDiv, "休日区分(HolDiv)が読めません: \" 1\""},
    };
    for (const auto &[fault, detail] : cases) {
        SCOPED_TRACE(sample_site::faultName(fault));
        JQuantsOptions o;
        o.fault = fault;
        serve(o);
        const std::string result = update(20240107);
        EXPECT_EQ(result.rfind("J-Quants APIの応答を読み取れません\r\n詳細:", 0), 0u) << result;
        EXPECT_NE(result.find(detail), std::string::npos) << result;
        EXPECT_EQ(count("T_NEARLY"), 0);
        EXPECT_EQ(stand->site().requests().size(), 1u);
    }
}

// Names from the master lose NUL, CR, LF, TAB, BEL and the right-to-left override before they
// are stored.
TEST_F(JQuants, NamesLoseControlCharacters) {
    JQuantsOptions o;
    o.fault = JQuantsFault::ControlNames;
    serve(o);
    ASSERT_EQ(update(20240107), "");
    std::vector<std::string> expected;
    for (const char *prefix : {"NUL入り", "改行入り", "タブ入り", "ベル入り", "逆向き"})
        expected.push_back(
            prefix + sample_site::sampleStock(static_cast<int>(expected.size()), 20240105).name);
    EXPECT_EQ(rows("select NAME from master where CODE in ('1301','1303','1305','1307','1309') "
                   "order by CODE"),
              expected);
}

// What a server says reaches the user on one line, without control characters, at most 200
// characters long.
TEST(ServerText, OneShortLineWithoutControls) {
    const std::string longText(300, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"\x1b[31mred\x1b[0m\r\n\r\nnext\tline\a", "[31mred[0m next line"},
        {"  \r\n padded \n ", "padded"},
        {"\xE2\x80\xAE"
         "abc\xE2\x81\xA6"
         "d\xE2\x81\xA9\xE2\x80\x8F",
         "abcd"},
        {"bad \xFF\xC0\xAF utf-8 \xE3\x81", "bad utf-8"},
        {"\xC2\x9B"
         "1m c1",
         "1m c1"},
        {longText, std::string(199, 'a') + "…"},
        {std::string(199, 'a') + "\r\nb", std::string(199, 'a') + "…"},
        {std::string(200, 'a'), std::string(200, 'a')},
        {std::string(100, 'x') + std::string(150, '\n'), std::string(100, 'x')},
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(singleLine(text, kServerTextLimit), shown) << text.substr(0, 40);
    const char named[] = "名前\0\r\n\t\a\xE2\x80\xAE！";
    EXPECT_EQ(withoutControlCharacters(std::string_view(named, sizeof named - 1)), "名前！");
}

// The pages of the API as the client reads them: rows handed over as they come, the key, and
// the answers that are no page.
TEST(JQuantsPages, ReadsRowsAndKeyOrRefuses) {
    struct Case {
        const char *body;
        const char *rows; // the rows handed over, dumped and joined by ";"
        const char *key;
        const char *error; // empty: read
    };
    const std::string longValue = R"({"data":[{"Name":")" + std::string(70000, 'x') + R"("}]})";
    const Case cases[] = {
        {R"({"data":[{"Code":"13010","C":1.5},{"Code":"130A0","C":null}],"pagination_key":"a.b."})",
         R"({"C":1.5,"Code":"13010"};{"C":null,"Code":"130A0"})", "a.b.", ""},
        {R"({"meta":{"x":[1,{"data":[]}]},"data":[],"pagination_key":null})", "", "", ""},
        {R"({"data":[1,"x",[{"a":[]}]]})", R"(1;"x";[{"a":[]}])", "", ""},
        {R"([{"data":[]}])", "", "", "JSON のオブジェクトではありません"},
        {R"({"data":{}})", "", "", "data が配列ではありません"},
        {R"({"data":[],"pagination_key":7})", "", "", "pagination_key が文字列ではありません"},
        {R"({"data":[],"data":[]})", "", "", "data が2つあります"},
        {R"({"rows":[]})", "", "", "data がありません"},
        {R"({"data":[{"Code":"13010"},{"Code":)", R"({"Code":"13010"})", "",
         "JSON として読めません"},
        {R"({"data":[[[[[[[[[[1]]]]]]]]]]})", "", "", "行の入れ子が深すぎます"},
        {longValue.c_str(), "", "", "長すぎる値があります"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        const std::string text = c.body;
        const acquire::jquants::Body body(text.begin(), text.end());
        std::string seen;
        const auto onRow = [&](const nlohmann::json &row) {
            seen += (seen.empty() ? "" : ";") + row.dump();
        };
        if (*c.error) {
            try {
                acquire::jquants::readPage(body, onRow);
                ADD_FAILURE() << "read";
            } catch (const acquire::jquants::ApiError &e) {
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
        } else {
            EXPECT_EQ(acquire::jquants::readPage(body, onRow), c.key);
        }
        EXPECT_EQ(seen, c.rows);
    }
}

// tesmoctl names the spoiled day, shows no escape code from the server and fails, so that a
// script notices; against a sound server the next run succeeds.
TEST_F(JQuants, TesmoctlFailsWithTheSpoiledDayNamed) {
    for (const JQuantsFault fault : {JQuantsFault::FutureRow, JQuantsFault::LongMessage}) {
        SCOPED_TRACE(sample_site::faultName(fault));
        const std::string ctl = std::string(TESMO_BIN_DIR) + "/tesmoctl update " +
                                env.newDatabase(sample_site::faultName(fault) + ".mdb");
        JQuantsOptions o;
        o.endDate = sample_site::lastTradingDayBefore(localDate(std::time(nullptr)));
        o.fault = fault;
        serve(o);
        int status = 0;
        const std::string printed = runCommand(ctl, &status);
        EXPECT_EQ(status, 1) << printed;
        EXPECT_NE(printed.find("取得できなかった日: " + std::to_string(stand->site().spoiledDay()) +
                               " (J-Quants"),
                  std::string::npos)
            << printed;
        EXPECT_EQ(printed.find('\x1b'), std::string::npos);
        EXPECT_EQ(printed.find("正常終了"), std::string::npos);

        o.fault = JQuantsFault::None;
        serve(o);
        const std::string healthy = runCommand(ctl, &status);
        EXPECT_EQ(status, 0) << healthy;
        EXPECT_NE(healthy.find("正常終了\n\n[取り込んだ日]\n" +
                               std::to_string(stand->site().spoiledDay()) + "\n"),
                  std::string::npos)
            << healthy;
    }
}

// A 1:2 split of 1305 on 2023-12-28: the days stored before it, whether they came in before the
// split day, in the same run or are filled in after it, end as those of a stock that never split
// (prices halved, volumes doubled, open, high, low and the month rows too); the change against
// the day before compares like with like; importing the split day again adjusts nothing twice.
TEST_F(JQuants, SplitAdjustsTheStoredHistoryOnce) {
    setting(keys::maxdtc, "9");
    const auto history = [&] {
        return std::array{
            rows("select * from T_NEARLY where CODE='1305' order by IDATE"),
            rows("select * from T_MONTHLY where CODE='1305' order by YYYYMM"),
            rows("select IDATE, OPRC, HPRC, LPRC from T_OHLC where CODE='1305' order by IDATE")};
    };
    JQuantsOptions plain;
    plain.splitDate = -1;
    serve(plain);
    ASSERT_EQ(update(20231227), "");
    ASSERT_EQ(update(20240107), "");
    const auto unsplit = history();
    ASSERT_EQ(unsplit[0].size(), 10u);

    db = storage::Database::open(env.newDatabase("split.mdb"), storage::kConnectString);
    JQuantsOptions o;
    o.splitDate = 20231228;
    serve(o);
    ASSERT_EQ(update(20231227), "");
    const auto before = rows("select PRC, DVAL from T_NEARLY where CODE='1305' and IDATE=20231227");
    const acquire::DayRecord raw = sample_site::sampleStock(2, 20231227);
    EXPECT_EQ(before, std::vector<std::string>{storage::formatDouble(*raw.prc * 2) + "|" +
                                               storage::formatDouble(*raw.dval / 2)});
    ASSERT_EQ(update(20240107), "");
    EXPECT_EQ(history(), unsplit);
    EXPECT_EQ(rows("select IDATE, ADJF from T_OHLC where ADJF <> 1"),
              std::vector<std::string>{"20231228|0.5"});
    EXPECT_EQ(rows("select distinct IDATE from T_OHLC order by IDATE"),
              rows("select distinct IDATE from T_NEARLY order by IDATE"));
    const double change = scalar("select A1PRC from T_NEARLY where CODE='1305' and "
                                 "IDATE=20231228")
                              .toDouble();
    EXPECT_LT(std::fabs(change), 0.2);

    // The split day again (too few rows of it) and a day before it missing altogether.
    db->execute("Delete from T_NEARLY where IDATE=20231228 and CODE<>'1305' ;");
    db->execute("Delete from T_NEARLY where IDATE=20231221 ;");
    ASSERT_EQ(update(20240107), "");
    EXPECT_EQ(state.importedList, "20231221\r\n20231228\r\n");
    const auto again = history();
    const auto prices = [](const std::vector<std::string> &nearly) {
        std::vector<std::string> out;
        for (const std::string &row : nearly)
            out.push_back(row.substr(0, row.find('|', row.find('|', 14) + 1)));
        return out;
    };
    EXPECT_EQ(prices(again[0]), prices(unsplit[0]));
    EXPECT_EQ(again[2], unsplit[2]);
}

// A history longer than a hundred days: an empty database fills with maxdtc + 1 days, open, high
// and low included, and the next day drops the oldest date from T_NEARLY and T_OHLC together.
TEST_F(JQuants, LongHistoryKeepsMaxdtcPlusOneDays) {
    setting(keys::maxdtc, "120");
    JQuantsOptions o;
    o.splitDate = -1;
    serve(o);
    const auto span = [&](const char *table) {
        const std::vector<std::string> r =
            rows(std::string("select count(distinct IDATE), min(IDATE), max(IDATE) from ") + table);
        return r.empty() ? std::string() : r[0];
    };
    ASSERT_EQ(update(20240105), "");
    const std::string first = span("T_NEARLY");
    EXPECT_TRUE(first.starts_with("121|") && first.ends_with("|20240105")) << first;
    EXPECT_EQ(span("T_OHLC"), first);

    o.endDate = 20240109;
    serve(o);
    ASSERT_EQ(update(20240109), "");
    const std::string next = span("T_NEARLY");
    EXPECT_TRUE(next.starts_with("121|") && next.ends_with("|20240109")) << next;
    EXPECT_GT(next.substr(4, 8), first.substr(4, 8));
    EXPECT_EQ(span("T_OHLC"), next);
}

// A database of the layout before T_OHLC, 45 days in from the data site: opening it adds the
// table and keeps every row, and the days that J-Quants brings next come with their open, high
// and low while the data site's days have none.
TEST_F(JQuants, AnEarlierLayoutIsUpgradedOnceAndTakesOhlc) {
    setting(keys::maxdtc, "44");
    for (const long long date : tradingDays(20231023, 45))
        ASSERT_EQ(
            acquire::importDayFile(*db, dayFile(acquire::sampleDayRecords(date, 30)), port, date),
            "");
    db->executeNative("DROP TABLE T_OHLC; DELETE FROM sqlite_stat1 WHERE tbl='T_OHLC';");
    const auto everything = [&] {
        std::vector<std::string> all;
        for (const char *sql : {"select * from T_NEARLY order by IDATE, CODE",
                                "select * from T_MONTHLY order by "
                                "YYYYMM, CODE",
                                "select CODE, NAME, MARKET from master order by CODE",
                                "select * from T_config order by pID"})
            for (const std::string &row : rows(sql))
                all.push_back(row);
        return all;
    };
    const std::vector<std::string> stored = everything();
    ASSERT_EQ(count("T_NEARLY"), 45 * 30);

    const std::string path = env.path("tesmo.mdb");
    db.reset();
    db = storage::Database::open(path, storage::kConnectString);
    EXPECT_EQ(count("sqlite_schema", "name='T_OHLC'"), 1);
    EXPECT_EQ(count("sqlite_stat1", "tbl='T_OHLC'"), 1);
    EXPECT_EQ(everything(), stored);
    db.reset();
    db = storage::Database::open(path, storage::kConnectString); // nothing left to upgrade

    serve();
    ASSERT_EQ(update(20231227), "");
    EXPECT_EQ(state.importedList, "20231225\r\n20231226\r\n20231227\r\n");
    EXPECT_EQ(rows("select count(*) from (select IDATE from T_NEARLY group by IDATE)"),
              std::vector<std::string>{"45"});
    EXPECT_EQ(rows("select IDATE, count(*), count(OPRC), count(HPRC), count(LPRC) from T_OHLC "
                   "group by IDATE"),
              (std::vector<std::string>{"20231225|35|34|34|34", "20231226|35|34|34|34",
                                        "20231227|35|34|34|34"}));
    EXPECT_EQ(count("T_OHLC", "HPRC < OPRC or LPRC > OPRC"), 0);
}

} // namespace
} // namespace tesmo::test
