// The J-Quants source of the data update against the sample site's stand-in on loopback: the
// catch-up into the database, the code and market mapping, pages, the rate, the refusals of
// the API and the plan window. The stand-in's clock moves only with the port's waits.
#include "core/acquire/acquire_test_env.h"

#include "acquire/jquants_client.h"
#include "acquire/jquants_update.h"
#include "common/dates.h"
#include "storage/settings_store.h"
#include "support/http_test_server.h"
#include "support/jquants_stand_in.h"

#include <sys/stat.h>

#include <algorithm>

namespace tesmo::test {
namespace {

using acquire::ImportRunState;
using acquire::jquants::databaseCode;
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
    std::string update(long long today) {
        acquire::JQuantsRunOptions o;
        o.today = today;
        o.pacer = &pacer;
        o.note = &note;
        return acquire::UpdateFromJQuants(*db, cport, {}, state, o);
    }
    int answered(int status) {
        const auto log = stand->site().requests();
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [&](const auto &r) { return r.status == status; }));
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
    EXPECT_EQ(count("master", "length(CODE) <> 4"), 1); // 25935 alone
    for (const auto &r : s.site().requests())
        EXPECT_NE(r.acceptEncoding.find("gzip"), std::string::npos) << r.target;

    const size_t before = s.site().requests().size();
    ASSERT_EQ(update(20240108), "");
    EXPECT_EQ(state.importedCount, 0);
    EXPECT_EQ(count("T_NEARLY", "IDATE > 20240105"), 0);
    EXPECT_EQ(s.site().requests().back().target, "/v2/equities/bars/daily?date=20240108");
    EXPECT_EQ(s.site().requests().size(), before + 2); // the calendar and the empty day
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
// open, the bars refuse the first day after two good ones, whose range is read or, when the
// refusal names none, probed. The days before the end stay and the note names it.
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
         {"20231227", "20231228", "20231229"}},
        {"refusal without range",
         false,
         false,
         20231229,
         true,
         {"20231227", "20231228", "20231229"}},
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

} // namespace
} // namespace tesmo::test
