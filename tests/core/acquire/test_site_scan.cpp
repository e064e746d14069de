#include "core/acquire/site_scan.h"

#include "acquire_test_env.h"
#include "core/acquire/day_file_writer.h"
#include "core/common/cp932.h"
#include "core/common/paths.h"
#include "support/http_test_server.h"
#include "support/signed_release.h"
#include "test_lha_archive.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;
using namespace tesmo;
using namespace tesmo::acquire;
using storage::keys::compyc;

namespace {

const std::string kFailPhrase = "中にｴﾗｰが発生しました\r\n詳細:";
const std::string kAnnounce = "本日は<b>晴天</b>なり。\r\n<br>明日も晴れ。";
const std::string kAnnounceShown = "【アナウンスが届いております】\r\n\r\n本日は晴天なり。\r\n"
                                   "明日も晴れ。\r\n\r\n※詳しくはTesmoﾎｰﾑﾍﾟｰｼﾞを参照してください";

std::string announcePage(const std::string &text) {
    return "<html><body>\r\n<!- tesmo announce start -->" + text +
           "<!- tesmo announce end -->\r\n</body></html>\r\n";
}

std::string indexPage(const std::vector<std::string> &links) {
    std::string page = "<html><body>\r\n<a href=\"/freedata/19990101.bnd\">19990101.bnd</a><br>\r\n"
                       "<!- tesmo daily data start --><br>\r\n";
    for (const std::string &l : links)
        page += "<a href=\"/freedata/" + l + "\">" + l + "</a><br>\r\n";
    return page + "<!- tesmo daily data end --><br>\r\n</body></html>\r\n";
}

TEST(DayLinks, OnlyLinksBetweenTheMarkersInPageOrder) {
    const std::string page = "<a href=\"x\">20240101.bnd</a><BR>"
                             "<!- tesmo daily data start --><a href=\"x\">20240102.bnd</a><br>\r\n"
                             "<a href=\"/freedata/20240105.bnd.lzh\">20240105.bnd.lzh</a><BR>\r\n"
                             "text without a link<br>"
                             "<a href=\"/freedata/20240103.bnd\">20240103.bnd</a><br>"
                             "<a href=\"x\">20240104.bnd</a><!- tesmo daily data end --><br>"
                             "<a href=\"x\">20240106.bnd</a><br>";
    EXPECT_EQ(dayLinks(page),
              (std::vector<std::string>{"20240105.bnd.lzh", "20240103.bnd", "20240104.bnd"}));
    EXPECT_TRUE(dayLinks("<html>no markers <a href=\"x\">20240101.bnd</a></html>").empty());
}

TEST(DayLinks, AnnouncementTextAndSiteOrigin) {
    EXPECT_EQ(announcementText(announcePage(kAnnounce)), "本日は晴天なり。\r\n明日も晴れ。");
    EXPECT_THROW(announcementText("<html>maintenance</html>"), std::runtime_error);
    EXPECT_EQ(siteOrigin("http://127.0.0.1:8931/cgi-bin/freedata/index.cgi"),
              "http://127.0.0.1:8931");
    EXPECT_EQ(siteOrigin("https://data.example"), "https://data.example");
}

// A day's import computes its indicators against the trading day before it and sets the date
// markers from the two newest months, so a database without that history reports a failure
// for each of its first imports. The scans below start from a database with a little
// history, as every database has once it is in use.
void seedHistory(storage::Database &db) {
    db.execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) values(20231228,'1301',100,1000,1)");
    for (const char *month : {"202311", "202312"})
        db.execute(std::string("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK) values(") +
                   month + ",'1301',100,1000,1)");
}

class SiteScan : public test::AcquireTest {
protected:
    void SetUp() override {
        AcquireTest::SetUp();
        setting(compyc, "5");
        setting(storage::keys::myhpadd4, server.url("/cgi-bin/freedata/index.cgi"));
        setting(storage::keys::myhpad_data4, server.url("/freedata/"));
        server.serve("/cgi-bin/wcnt315/wwwcount.cgi", "GIF89a", 200, "image/gif");
        server.serve("/prg_msg.html", utf8ToCp932(announcePage(kAnnounce)));
        seedHistory(*db);
    }

    static std::string day(long long date, int records = 6) {
        return dayFileBytes(sampleDayRecords(date, records));
    }
    static std::string packed(long long date, int records = 6) {
        return test::level0Archive({{std::to_string(date) + ".bnd", day(date, records), {}}});
    }
    // The index page lists the files in the given order; each is served under /freedata/.
    void publish(const std::vector<std::pair<std::string, std::string>> &files) {
        std::vector<std::string> links;
        for (const auto &[name, bytes] : files) {
            links.push_back(name);
            server.serve("/freedata/" + name, bytes, 200, "application/octet-stream");
        }
        server.serve("/cgi-bin/freedata/index.cgi", utf8ToCp932(indexPage(links)));
    }
    std::string scan() {
        return scanDataSite(
            *db, port, client, [this] { ++laterDates; }, state);
    }
    long long rowsOf(long long date) { return count("T_NEARLY", "IDATE=" + std::to_string(date)); }

    test::HttpTestServer server;
    net::HttpClient client;
    ImportRunState state;
    int laterDates = 0;
};

TEST_F(SiteScan, ImportsTheListedDaysInPageOrderThenAnnounces) {
    publish({{"20240105.bnd.lzh", packed(20240105)}, {"20240104.bnd", day(20240104)}});
    EXPECT_EQ(scan(), "");
    EXPECT_EQ(state.importedCount, 2);
    EXPECT_EQ(state.importedList, "20240105\r\n20240104\r\n");
    EXPECT_EQ(rowsOf(20240105), 6);
    EXPECT_EQ(rowsOf(20240104), 6);
    EXPECT_EQ(laterDates, 2);
    EXPECT_NE(std::find(port.captions.begin(), port.captions.end(), "Tesmo [20240105] 1/2日"),
              port.captions.end());
    EXPECT_EQ(port.caption(), "Tesmo");
    EXPECT_EQ(server.hits("/cgi-bin/wcnt315/wwwcount.cgi"), 1);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text, kAnnounceShown);
    EXPECT_EQ(port.messages[0].title, "Tesmoからのお知らせ");
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(port.beeps, 1);
    // The day files go; the index page and the counter's answer stay.
    EXPECT_FALSE(fs::exists(installPath("20240105.bnd")));
    EXPECT_FALSE(fs::exists(installPath("20240104.bnd")));
    for (const char *kept : {kIndexPageFile, kCounterFile})
        EXPECT_TRUE(fs::exists(installPath(kept))) << kept;

    // Nothing new: no day is fetched again, but the counter and the announcement are.
    EXPECT_EQ(scan(), "");
    EXPECT_EQ(state.importedCount, 0);
    EXPECT_EQ(server.hits("/freedata/20240104.bnd"), 1);
    EXPECT_EQ(server.hits("/cgi-bin/wcnt315/wwwcount.cgi"), 2);
    EXPECT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(port.beeps, 2);
}

// 中止 ends the scan between two days: the days in stay whole, the others are counted, and the
// announcement waits for the next scan.
TEST_F(SiteScan, StopEndsTheScanBetweenDays) {
    publish({{"20240103.bnd", day(20240103)},
             {"20240104.bnd.lzh", packed(20240104)},
             {"20240105.bnd", day(20240105)}});
    port.stopAfterDayWhen = [this] { return laterDates >= 1; };
    EXPECT_EQ(scan(), "");
    EXPECT_EQ(state.importedList, "20240103\r\n");
    EXPECT_TRUE(state.stopped);
    EXPECT_EQ(state.stillMissing, 2);
    EXPECT_EQ(rowsOf(20240103), 6);
    EXPECT_EQ(rowsOf(20240104), 0);
    EXPECT_NE(std::find(port.captions.begin(), port.captions.end(), "Tesmo [20240103] 1/3日"),
              port.captions.end());
    EXPECT_EQ(port.caption(), "Tesmo");
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(server.hits("/freedata/20240104.bnd.lzh"), 0);
}

TEST_F(SiteScan, ADayWithFewerRowsThanCompycIsImportedAgain) {
    const struct {
        int rowsBefore;
        const char *compycValue;
        bool fetched;
    } cases[] = {{3, "5", true}, {6, "6", false}, {6, "7", true}};
    int expectedHits = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.compycValue);
        db->execute("Delete from T_NEARLY where IDATE=20240104");
        publish({{"20240104.bnd", day(20240104, c.rowsBefore)}});
        setting(compyc, "1");
        ASSERT_EQ(scan(), "");
        ASSERT_EQ(rowsOf(20240104), c.rowsBefore);
        ++expectedHits;

        setting(compyc, c.compycValue);
        publish({{"20240104.bnd", day(20240104, 6)}});
        EXPECT_EQ(scan(), "");
        expectedHits += c.fetched;
        EXPECT_EQ(server.hits("/freedata/20240104.bnd"), expectedHits);
        EXPECT_EQ(rowsOf(20240104), c.fetched ? 6 : c.rowsBefore);
    }
}

TEST_F(SiteScan, AnnouncementRules) {
    publish({});
    const std::string longText =
        "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十あいう";
    const struct {
        const char *what;
        std::string text;
        const char *noannounce;
        std::string stored; // announcemsg before the scan
        bool shown;
        std::string storedAfter;
    } cases[] = {
        {"five characters are no announcement", "12345", "0", "", false, ""},
        {"six characters are", "123456", "0", "", true, "123456"},
        {"shown after every scan", "123456", "0", "123456", true, "123456"},
        {"only when it changed", "123456", "1", "123456", false, "123456"},
        {"changed", "654321", "1", "123456", true, "654321"},
        {"first 30 characters remembered", longText, "1", "", true, longText.substr(0, 90)},
        {"a change after them does not count", longText + "え", "1", longText.substr(0, 90), false,
         longText.substr(0, 90)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        server.serve("/prg_msg.html", utf8ToCp932(announcePage(c.text)));
        setting(storage::keys::noannounce, c.noannounce);
        setting(storage::keys::announcemsg, c.stored);
        port.messages.clear();
        port.beeps = 0;
        EXPECT_EQ(scan(), "");
        EXPECT_EQ(port.messages.size(), c.shown ? 1u : 0u);
        EXPECT_EQ(port.beeps, 1);
        EXPECT_EQ(storage::readSetting(storage::keys::announcemsg), c.storedAfter);
    }
}

TEST_F(SiteScan, AnUnreachableIndexPage) {
    setting(storage::keys::myhpadd4, "http://127.0.0.1:9/cgi-bin/freedata/index.cgi");
    EXPECT_EQ(scan(), kSiteUnreachable);
    setting(storage::keys::debugcode, storage::kDebugCode);
    const std::string r = scan();
    EXPECT_EQ(r.rfind("Tesmo_html取得HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行時にエラー発生 詳細:", 0), 0u) << r;
    EXPECT_TRUE(port.messages.empty());
}

TEST_F(SiteScan, FailuresEndWithTheirMessageAndKeepTheDaysBefore) {
    const auto good = std::make_pair(std::string("20240105.bnd"), day(20240105));
    const struct {
        const char *what;
        std::vector<std::pair<std::string, std::string>> files;
        std::string announcement; // page text; empty: the good page
        std::string resultStart;  // empty: the scan succeeds
        int imported;
    } cases[] = {
        {"link that is not a date",
         {good, {"2024010x.bnd", day(20240104)}},
         "",
         "Tesmo_html[2024010x.bnd]更新非更新ﾁｪｯｸ" + kFailPhrase,
         1},
        {"link that leaves the folder",
         {good, {"20240104/../../evil.bnd", day(20240104)}},
         "",
         "Tesmo_html[20240104/../../evil.bnd]更新非更新ﾁｪｯｸ" + kFailPhrase,
         1},
        {"announcement without markers",
         {good},
         "<html>maintenance</html>",
         "Tesmo_html ｱﾅｳﾝｽ解析" + kFailPhrase,
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        db->execute("Delete from T_NEARLY where IDATE>20231228");
        publish(c.files);
        server.serve("/prg_msg.html", c.announcement.empty() ? utf8ToCp932(announcePage(kAnnounce))
                                                             : c.announcement);
        const std::string r = scan();
        if (c.resultStart.empty()) {
            EXPECT_EQ(r, "");
        } else {
            EXPECT_EQ(r.rfind(c.resultStart, 0), 0u) << r;
        }
        EXPECT_EQ(state.importedCount, c.imported);
        EXPECT_EQ(rowsOf(20240105), 6);
        EXPECT_EQ(port.caption(), "Tesmo");
    }
    EXPECT_FALSE(fs::exists(env.path("evil.bnd")));
}

TEST_F(SiteScan, OnlyTheDayFileLeavesAnArchiveAndFailedDaysAreListed) {
    std::vector<test::LhaMember> members = test::hostileMembers();
    members.push_back({"20240105.bnd", day(20240105), {}});
    const std::string database = installPath("tesmo.mdb");
    rawFile("install/tesmo.mdb", "the user's database");
    publish({{"20240105.bnd.lzh", test::level0Archive(members)},
             {"20240104.bnd", "<h1>Internal Server Error</h1>"},
             {"20240103.bnd.lzh", test::level0Archive(test::hostileMembers())},
             {"20240102.bnd.lzh", "not an archive at all"},
             {"20240101.bnd", "<html>no day file</html>"},
             {"20231229.bnd", ""}});
    server.serve("/freedata/20240104.bnd", "<h1>Internal Server Error</h1>", 500);

    EXPECT_EQ(scan(), "");
    EXPECT_EQ(state.importedList, "20240105\r\n");
    EXPECT_EQ(rowsOf(20240105), 6);
    const std::pair<long long, std::string> expected[] = {
        {20240104, "HTTP 500"},
        {20240103, "圧縮ﾌｧｲﾙの中に 20240103.bnd がありません"},
        {20240102, "[unLHA] un compress error"},
        {20240101, "Encode確認時にｴﾗｰ 詳細："},
        {20231229, "ﾌｧｲﾙが取得出来ませんでした(2)"},
    };
    ASSERT_EQ(state.skippedDays.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(state.skippedDays[i].day, expected[i].first);
        EXPECT_TRUE(state.skippedDays[i].reason.starts_with(expected[i].second))
            << state.skippedDays[i].reason;
    }
    // Nothing that the archives held besides the day file reached the install folder.
    std::vector<std::string> installed;
    for (const auto &e : fs::directory_iterator(installDir()))
        installed.push_back(e.path().filename().string());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, (std::vector<std::string>{"tesmo.mdb", kCounterFile, kIndexPageFile}));
    std::ifstream in(database);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's database");
}

TEST_F(SiteScan, TesmoctlImportTakesOnlyTheDayFileOutOfAnArchive) {
    std::vector<test::LhaMember> members = test::hostileMembers();
    members.push_back({"20240105.bnd", day(20240105), {}});
    const std::string archive = rawFile("20240105.bnd.lzh", test::level0Archive(members));
    int status = -1;
    const std::string out =
        env.tesmoctl("import " + env.path("tesmo.mdb") + " " + archive + " 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, archive + ": 正常終了\n");
    EXPECT_EQ(rowsOf(20240105), 6);
    std::vector<std::string> installed;
    for (const auto &e : fs::directory_iterator(installDir()))
        installed.push_back(e.path().filename().string());
    EXPECT_EQ(installed, std::vector<std::string>{"tesmoctl"});
}

// A server that stops answering in the middle of an archive: the day is listed with the
// download's failure, not with the broken archive that unpacking the part that arrived would find.
TEST_F(SiteScan, ADownloadThatBreaksOffSpeaksOfTheNetwork) {
    setting(storage::keys::tosec, "1");
    const std::string archive = packed(20240104);
    publish({{"20240105.bnd", day(20240105)}, {"20240104.bnd.lzh", archive}});
    server.on("/freedata/20240104.bnd.lzh", [&](const std::string &) {
        test::HttpReply r;
        r.body = archive.substr(0, 3);
        r.contentType = "application/octet-stream";
        r.stallAfterBody = true;
        return r;
    });
    EXPECT_EQ(scan(), "");
    EXPECT_EQ(state.importedCount, 1);
    ASSERT_EQ(state.skippedDays.size(), 1u);
    EXPECT_EQ(state.skippedDays[0].day, 20240104);
    const std::string &reason = state.skippedDays[0].reason;
    EXPECT_EQ(reason.rfind("HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行時にエラー発生", 0), 0u) << reason;
    EXPECT_EQ(reason.find("un compress"), std::string::npos) << reason;
    EXPECT_FALSE(fs::exists(installPath(kArchiveFile)));
}

// The program is asked to end during a scan: the day in hand is finished, no further day is
// fetched.
TEST_F(SiteScan, AStopRequestEndsTheScanBeforeTheNextDay) {
    publish({{"20240105.bnd", day(20240105)}, {"20240104.bnd", day(20240104)}});
    const std::string r = scanDataSite(
        *db, port, client, [this] { port.stop = true; }, state);
    EXPECT_NE(r.find(StopRequested().what()), std::string::npos) << r;
    EXPECT_EQ(state.importedCount, 1);
    EXPECT_EQ(rowsOf(20240105), 6);
    EXPECT_EQ(server.hits("/freedata/20240104.bnd"), 0);
    EXPECT_EQ(server.hits("/prg_msg.html"), 0);
}

// The sample data site as the demo runs it: a separate program on a free loopback port.
class SampleSite : public test::AcquireTest {
protected:
    void start(const std::string &days, const std::string &stocks) {
        const std::string &base =
            m_site
                .emplace(std::vector<std::string>{"--end", "20240105", "--days", days, "--stocks",
                                                  stocks},
                         env.dir())
                .url();
        setting(storage::keys::myhpadd4, base + "/cgi-bin/freedata/index.cgi");
        setting(storage::keys::myhpad_data4, base + "/freedata/");
        seedHistory(*db);
    }
    void TearDown() override {
        m_site.reset();
        AcquireTest::TearDown();
    }
    std::optional<test::SampleSiteProcess> m_site;
};

TEST_F(SampleSite, FiveDaysIntoANewDatabase) {
    start("5", "3800");
    net::HttpClient client;
    ImportRunState state;
    int laterDates = 0;
    EXPECT_EQ(scanDataSite(
                  *db, port, client, [&] { ++laterDates; }, state),
              "");
    EXPECT_EQ(state.importedCount, 5);
    // The sample site lists its days oldest first.
    EXPECT_EQ(state.importedList, "20240101\r\n20240102\r\n20240103\r\n20240104\r\n20240105\r\n");
    EXPECT_EQ(laterDates, 5);
    EXPECT_EQ(rows("select IDATE, count(*) from T_NEARLY group by IDATE order by IDATE"),
              (std::vector<std::string>{"20231228|1", "20240101|3800", "20240102|3800",
                                        "20240103|3800", "20240104|3800", "20240105|3800"}));
    EXPECT_EQ(count("master"), 3800);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_NE(port.messages[0].text.find("サンプルデータサイトからのお知らせです。"),
              std::string::npos);

    EXPECT_EQ(scanDataSite(*db, port, client, {}, state), "");
    EXPECT_EQ(state.importedCount, 0);
}

TEST_F(SampleSite, TesmoctlUpdateReportsLikeTheDataUpdateCommand) {
    start("2", "40");
    setting(compyc, "40");
    db->close();
    const std::string ctl = std::string(TESMO_BIN_DIR) + "/tesmoctl update --no-wait " +
                            env.path("tesmo.mdb") + " 2>/dev/null";
    int status = -1;
    const std::string first = test::runCommand(ctl, &status);
    EXPECT_EQ(status, 0) << first;
    EXPECT_NE(first.find("Tesmo [20240105] 2/2日 残り1分未満\n"), std::string::npos) << first;
    EXPECT_NE(first.find("[Tesmoからのお知らせ]\n【アナウンスが届いております】\n"),
              std::string::npos);
    EXPECT_EQ(first.substr(first.rfind("正常終了")),
              "正常終了\n\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\n20240104\n20240105\n");

    const std::string second = test::runCommand(ctl, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(second.ends_with("\nホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。\n"))
        << second;

    // Days that the site lists but does not deliver fail the run and are named.
    setting(compyc, "41");
    setting(storage::keys::myhpad_data4,
            storage::readSetting(storage::keys::myhpad_data4) + "gone/");
    const std::string skipped = test::runCommand(ctl, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(skipped.find("\n取得できなかった日: 20240105 ("), std::string::npos) << skipped;
    EXPECT_NE(skipped.find("\n取得できなかった日: 20240104 ("), std::string::npos) << skipped;

    setting(storage::keys::myhpadd4, "http://127.0.0.1:9/cgi-bin/freedata/index.cgi");
    const std::string failed = test::runCommand(ctl, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(failed.find("データ取得元のホームページに接続できません\n"), std::string::npos)
        << failed;
}

} // namespace
