#include "core/common/cp932.h"
#include "core/common/paths.h"
#include "core/net/http_fetch.h"
#include "core/storage/settings_keys.h"
#include "support/http_test_server.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace tesmo;
using namespace tesmo::net;
using namespace tesmo::storage;
using tesmo::test::HttpReply;
using tesmo::test::HttpTestServer;
using tesmo::test::RawTestServer;
using tesmo::test::RecordingPort;
using tesmo::test::TempEnv;

namespace {

const std::string kFail = "時にエラー発生 詳細:";
const std::string kDownloadStep = "HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行";
const std::string kEmptyTwice = "ﾌｧｲﾙが取得出来ませんでした(2)";

class HttpFetch : public ::testing::Test {
protected:
    void SetUp() override {
        port.setCaption("Tesmo");
        port.captions.clear();
    }
    // Files the fetch left in the install folder (its temporary files live there).
    std::vector<std::string> installFiles() const {
        std::vector<std::string> out;
        for (const auto &e : fs::directory_iterator(installDir()))
            out.push_back(e.path().filename().string());
        return out;
    }
    static bool startsWith(const std::string &s, const std::string &prefix) {
        return s.rfind(prefix, 0) == 0;
    }

    TempEnv env;
    RecordingPort port;
    HttpClient client;
    HttpTestServer server;
};

TEST_F(HttpFetch, EmptyBodyIsRetriedWithWaitsAndCaptionCounters) {
    server.serve("/day.bnd", "");
    const std::string out = env.path("day.bnd");
    EXPECT_EQ(FetchToFile(server.url("/day.bnd"), port, client, out), kEmptyTwice);
    EXPECT_EQ(server.hits("/day.bnd"), 3);
    EXPECT_EQ(port.waits, (std::vector<int>{15, 15}));
    EXPECT_EQ(port.captions,
              (std::vector<std::string>{"Tesmo 再試行中です(1/2)", "Tesmo 再試行中です(2/2)",
                                        "Tesmo処理中。。", "Tesmo"}));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(installFiles().empty());
}

TEST_F(HttpFetch, RetryCountAndWaitComeFromTheSettings) {
    struct Case {
        const char *retimes;
        const char *resec;
        int requests;
        std::vector<int> waits;
        std::string result;
    };
    const Case cases[] = {
        {"0", "15", 1, {}, kEmptyTwice},
        {"3", "2", 4, {2, 2, 2}, kEmptyTwice},
        // No attempt at all: the label of the step in force is the answer.
        {"-1", "15", 0, {}, "URL設定"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.retimes);
        const std::string path = std::string("/empty") + c.retimes;
        server.serve(path, "");
        writeSetting(keys::retimes, c.retimes);
        writeSetting(keys::resec, c.resec);
        port.waits.clear();
        port.captions.clear();
        EXPECT_EQ(FetchToFile(server.url(path), port, client, env.path("x")), c.result);
        EXPECT_EQ(server.hits(path), c.requests);
        EXPECT_EQ(port.waits, c.waits);
        EXPECT_EQ(port.caption(), "Tesmo");
    }
}

TEST_F(HttpFetch, BodyOnALaterTrySucceedsAndIsCopiedUnchanged) {
    const std::string bytes("\x00\x01\xff\r\nbody\x82\xa0", 11);
    int calls = 0;
    server.on("/late", [&](const std::string &) {
        HttpReply r;
        r.body = ++calls == 1 ? "" : bytes;
        r.contentType = "application/octet-stream";
        return r;
    });
    const std::string out = env.path("late.bnd");
    std::ofstream(out) << "an older file of the same name";
    EXPECT_EQ(FetchToFile(server.url("/late"), port, client, out), "");
    EXPECT_EQ(test::fileBytes(out), bytes);
    EXPECT_EQ(port.waits, (std::vector<int>{15}));
    EXPECT_EQ(port.captions.back(), "Tesmo");
    EXPECT_TRUE(installFiles().empty());
}

TEST_F(HttpFetch, AnErrorPageWithABodyIsSavedAsTheFile) {
    server.serve("/broken", "<html>Internal Server Error</html>", 500);
    const std::string out = env.path("broken.bnd");
    EXPECT_EQ(FetchToFile(server.url("/broken"), port, client, out), "");
    EXPECT_EQ(test::fileBytes(out), "<html>Internal Server Error</html>");
    EXPECT_EQ(client.lastStatus(), 500);
}

TEST_F(HttpFetch, EmptyOutputPathOnlyTouchesThePage) {
    server.serve("/cnt", "GIF89a");
    EXPECT_EQ(FetchToFile(server.url("/cnt"), port, client, ""), "");
    EXPECT_EQ(server.hits("/cnt"), 1);
    EXPECT_TRUE(installFiles().empty());
}

TEST_F(HttpFetch, FailedTransfersEndAtOnceWithoutRetry) {
    writeSetting(keys::tosec, "1");
    HttpReply slow;
    slow.delayMs = 10000;
    server.on("/slow", [&](const std::string &) { return slow; });
    HttpReply stall;
    stall.body = "20240105 half a fi";
    stall.stallAfterBody = true;
    server.on("/stall", [&](const std::string &) { return stall; });
    RawTestServer reset;
    RawTestServer garbage("THIS IS NOT HTTP\r\n\r\n");

    const std::pair<std::string, std::string> cases[] = {
        {"no answer within tosec", server.url("/slow")},
        {"stalls in the middle of the body", server.url("/stall")},
        {"connection reset", reset.url("/day.bnd")},
        {"not an HTTP answer", garbage.url("/day.bnd")},
        {"TLS spoken to a plain server",
         "https://127.0.0.1:" + std::to_string(server.port()) + "/"},
        {"not a web address", "file:///etc/hostname"},
    };
    for (const auto &[what, url] : cases) {
        SCOPED_TRACE(what);
        port.waits.clear();
        const std::string out = env.path("never.bnd");
        const std::string r = FetchToFile(url, port, client, out);
        EXPECT_TRUE(startsWith(r, kDownloadStep + kFail)) << r;
        EXPECT_GT(r.size(), (kDownloadStep + kFail).size());
        EXPECT_TRUE(port.waits.empty());
        EXPECT_EQ(port.caption(), "Tesmo");
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(installFiles().empty()) << "temporary file left behind";

        std::string text = "untouched";
        const std::string t = FetchToText(url, port, client, text);
        EXPECT_TRUE(startsWith(t, kDownloadStep + kFail)) << t;
    }
    EXPECT_EQ(server.hits("/slow"), 2);
    EXPECT_EQ(reset.connections(), 2);
}

TEST_F(HttpFetch, ATricklingServerEndsAsATimeOut) {
    writeSetting(keys::tosec, "2");
    client.totalTimeout = 3;
    const auto drip = [](size_t size, int ms, size_t bytes) {
        HttpReply r;
        r.body = std::string(size, 'x');
        r.dripMs = ms;
        r.dripBytes = bytes;
        return r;
    };
    const struct {
        const char *what;
        HttpReply reply;
        bool arrives;
    } cases[] = {
        {"one byte every 0.3 s", drip(1000, 300, 1), false},
        {"fast enough, but past the total time-out", drip(4000000, 100, 4096), false},
        {"slow but steady", drip(10240, 200, 2048), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        server.on("/drip", [&](const std::string &) { return c.reply; });
        const std::string out = env.path("drip.bnd");
        const std::string r = FetchToFile(server.url("/drip"), port, client, out);
        if (c.arrives) {
            EXPECT_EQ(r, "");
            EXPECT_EQ(test::fileBytes(out), c.reply.body);
            // The bytes so far of the announced size, then the end of the step.
            const auto &p = port.progresses;
            EXPECT_TRUE(std::any_of(p.begin(), p.end(), [](auto x) {
                return x.second == 10240 && x.first > 0 && x.first < 10240;
            }));
            ASSERT_FALSE(p.empty());
            EXPECT_EQ(p.back(), std::pair(0LL, 0LL));
            continue;
        }
        EXPECT_TRUE(startsWith(r, kDownloadStep + kFail + "Timeout")) << r;
        EXPECT_TRUE(port.waits.empty()); // a time-out is not retried
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(installFiles().empty());
    }
}

TEST_F(HttpFetch, TheWindowIsKeptAliveDuringATransfer) {
    HttpReply r;
    r.body = "late but there";
    r.delayMs = 600;
    server.on("/wait", [&](const std::string &) { return r; });
    std::string text;
    EXPECT_EQ(FetchToText(server.url("/wait"), port, client, text), "");
    EXPECT_EQ(text, "late but there");
    EXPECT_GT(port.eventPumps, 2);
}

TEST_F(HttpFetch, ADownloadPastTheSizeLimitIsRefused) {
    client.maxBytes = 1000;
    server.serve("/huge", std::string(5000, 'x'));
    const std::string r = FetchToFile(server.url("/huge"), port, client, env.path("huge"));
    EXPECT_TRUE(startsWith(r, kDownloadStep + kFail)) << r;
    EXPECT_NE(r.find("上限"), std::string::npos) << r;
    EXPECT_FALSE(fs::exists(env.path("huge")));
    EXPECT_TRUE(installFiles().empty());
}

TEST_F(HttpFetch, ANonNumericSettingEndsTheFetchAtItsStep) {
    const std::pair<const SettingKey *, std::string> cases[] = {
        {&keys::retimes, "ReTry情報取得"},
        {&keys::resec, "ReTry情報取得"},
        {&keys::proxychk, "proxy設定"},
        {&keys::tosec, "Time Out設定"},
    };
    server.serve("/p", "page");
    for (const auto &[key, step] : cases) {
        SCOPED_TRACE(key->key);
        writeSetting(*key, "abc");
        const std::string r = FetchToFile(server.url("/p"), port, client, "");
        EXPECT_TRUE(startsWith(r, step + kFail)) << r;
        std::string text;
        const std::string t = FetchToText(server.url("/p"), port, client, text);
        EXPECT_TRUE(startsWith(t, step + kFail)) << t;
        writeSetting(*key, "1");
    }
    EXPECT_EQ(server.hits("/p"), 0);
}

TEST_F(HttpFetch, RedirectsAreFollowedOnTheWeb) {
    // The helper's replies carry no headers of their own, so a redirect is written by hand.
    RawTestServer moved("HTTP/1.1 301 Moved\r\nLocation: " + server.url("/new") +
                        "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    server.serve("/new", "moved here");
    std::string text;
    EXPECT_EQ(FetchToText(moved.url("/old"), port, client, text), "");
    EXPECT_EQ(text, "moved here");

    RawTestServer toFile("HTTP/1.1 301 Moved\r\nLocation: file:///etc/hostname\r\n"
                         "Content-Length: 0\r\nConnection: close\r\n\r\n");
    text.clear();
    const std::string r = FetchToText(toFile.url("/x"), port, client, text);
    EXPECT_TRUE(startsWith(r, kDownloadStep + kFail)) << r;
    EXPECT_TRUE(text.empty());
}

TEST_F(HttpFetch, TextIsConvertedFromTheCharsetTheServerNames) {
    const std::string utf8 = "お知らせ：ﾃｽﾄ表示";
    const std::string sjis = utf8ToCp932(utf8);
    const struct {
        const char *type;
        std::string body;
    } cases[] = {
        {"text/html", sjis},
        {"text/html; charset=Shift_JIS", sjis},
        {"text/html; charset=\"windows-31j\"", sjis},
        {"text/html; charset=UTF-8", utf8},
        {"text/plain; charset=x-unknown-charset", sjis},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        const std::string path = "/t" + std::to_string(n++);
        server.serve(path, c.body, 200, c.type);
        std::string text;
        EXPECT_EQ(FetchToText(server.url(path), port, client, text), "");
        EXPECT_EQ(text, utf8);
    }
}

TEST_F(HttpFetch, TextFetchMakesOneRequestAndLeavesTheCaption) {
    server.serve("/empty", "");
    std::string text = "old";
    EXPECT_EQ(FetchToText(server.url("/empty"), port, client, text), "");
    EXPECT_EQ(text, "");
    EXPECT_EQ(server.hits("/empty"), 1);
    EXPECT_TRUE(port.captions.empty());
    EXPECT_TRUE(port.waits.empty());

    writeSetting(keys::retimes, "-1");
    EXPECT_EQ(FetchToText(server.url("/empty"), port, client, text), "ReTry ｵｰﾊﾞｰ");
    EXPECT_EQ(server.hits("/empty"), 1);
}

TEST_F(HttpFetch, MainProgramProxySettings) {
    // A server that answers for any host plays the proxy; the address it is asked for has
    // nothing listening, so an answer proves that the request went through the proxy.
    HttpTestServer proxy;
    const std::string farUrl = "http://127.0.0.1:9/freedata/x.bnd";
    proxy.serve(farUrl, "via proxy");
    const std::string proxyAddr = "127.0.0.1:" + std::to_string(proxy.port());
    const struct {
        const char *proxychk;
        std::string proxysv;
        AccessType type;
        std::string clientProxy;
    } cases[] = {
        {"0", proxyAddr, AccessType::Direct, ""},
        {"1", "", AccessType::NamedProxy, ""},
        {"1", proxyAddr, AccessType::NamedProxy, proxyAddr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.proxychk) + " " + c.proxysv);
        writeSetting(keys::proxychk, c.proxychk);
        writeSetting(keys::proxysv, c.proxysv);
        writeSetting(keys::proxyid, "user");
        writeSetting(keys::proxypd, "secret");
        writeSetting(keys::tosec, "2");
        std::string text;
        const std::string r = FetchToText(farUrl, port, client, text);
        EXPECT_EQ(client.accessType, c.type);
        EXPECT_EQ(client.proxy, c.clientProxy);
        EXPECT_EQ(client.userName, "user");
        EXPECT_EQ(client.password, "secret");
        if (c.clientProxy.empty()) {
            EXPECT_NE(r, "");
        } else {
            EXPECT_EQ(r, "");
            EXPECT_EQ(text, "via proxy");
        }
    }
}

TEST_F(HttpFetch, UpdaterReadsItsOwnProxyAndCredentials) {
    server.serve("/tesmo_auto/Tesmo", "program");
    // The updater's settings live under its own application name; the main program's
    // proxy settings must not leak into it.
    writeSetting(keys::proxychk, "1");
    writeSetting(keys::proxysv, "127.0.0.1:9");
    writeSetting(keys::proxyid, "main-user");
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ::unsetenv("all_proxy");
    ::unsetenv("ALL_PROXY");
    const struct {
        const char *proxy;
        AccessType type;
        std::string clientProxy;
        bool succeeds;
    } cases[] = {
        {"0", AccessType::Direct, "", true},
        {"1", AccessType::Preconfig, "", true},
        {"2", AccessType::NamedProxy, "<input proxy server name>", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.proxy);
        writeSetting(keys::auto_proxy, c.proxy);
        writeSetting(keys::auto_userid, "auto-user");
        writeSetting(keys::auto_userps, "auto-pass");
        const std::string out = env.path("Tesmo");
        const std::string r =
            FetchToFile(server.url("/tesmo_auto/Tesmo"), port, client, out, FetchSettings::Updater);
        EXPECT_EQ(client.accessType, c.type);
        EXPECT_EQ(client.proxy, c.clientProxy);
        EXPECT_EQ(client.userName, "auto-user");
        EXPECT_EQ(client.password, "auto-pass");
        EXPECT_EQ(r.empty(), c.succeeds) << r;
        if (c.succeeds) {
            EXPECT_EQ(test::fileBytes(out), "program");
        }
    }
}

TEST(HttpFetchNames, TemporaryFileNameIsDayHourMinuteSecondAndNumber) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = 7;
    tm.tm_hour = 9;
    tm.tm_min = 3;
    tm.tm_sec = 58;
    tm.tm_isdst = -1;
    EXPECT_EQ(tempDownloadName(std::mktime(&tm), 512), "07090358_512.tmp");
    EXPECT_EQ(tempDownloadName(std::mktime(&tm), 1), "07090358_1.tmp");
}

} // namespace
