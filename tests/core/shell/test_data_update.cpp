#include "core/shell/data_update.h"
#include "core/storage/settings_keys.h"
#include "core/update/update_start.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tesmo;
using namespace tesmo::shell;
using tesmo::test::RecordingPort;
using tesmo::test::TempEnv;

namespace {

std::time_t localTime(int y, int m, int d, int hh = 12) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = hh;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// Records which parts the command ran, in order.
struct Fake {
    std::vector<std::string> calls;
    std::optional<long long> newest = 20241201;
    std::string scan;
    std::string versions;
    int imported = 2;
    std::vector<acquire::SkippedDay> skipped;
    long long stillMissing = -1; // the user stopped the run with so many days to go
    bool throwInCompact = false;
    std::vector<std::string> matchedCodes; // what the watch rules selected on the newest day

    DataUpdateActions actions() {
        DataUpdateActions a;
        a.refreshNewestDate = [this] {
            calls.push_back("date");
            return newest;
        };
        a.closeChildWindows = [this](bool force) {
            calls.push_back(force ? "close(force)" : "close");
            return false;
        };
        a.compactIfGrown = [this] {
            calls.push_back("compact");
            if (throwInCompact)
                throw std::runtime_error("disk full");
        };
        a.scanDataSite = [this] {
            calls.push_back("scan");
            return scan;
        };
        a.versionCheck = [this](bool complete) {
            calls.push_back(complete ? "check(db)" : "check");
            return versions;
        };
        a.runState = [this] {
            acquire::ImportRunState run;
            run.importedCount = imported;
            run.importedList = imported ? "20241202\r\n20241203\r\n" : "";
            run.skippedDays = skipped;
            if (stillMissing >= 0)
                run.stop(stillMissing);
            for (const std::string &code : matchedCodes)
                run.watch.matches.push_back({20241203, 1, "急騰", code, "", 0.1, "10.00%"});
            return run;
        };
        a.isMinimized = [] { return false; };
        a.startUpdaterAndExit = [this] { calls.push_back("updater"); };
        return a;
    }
};

TEST(DataUpdate, StaleAfterThirtyCalendarDays) {
    const std::time_t now = localTime(2024, 12, 31);
    EXPECT_FALSE(dataIsStale(20241201, now)); // exactly 30 days
    EXPECT_TRUE(dataIsStale(20241130, now));  // 31 days
    EXPECT_FALSE(dataIsStale(std::nullopt, now));
    EXPECT_FALSE(dataIsStale(20240301, localTime(2024, 3, 31)));
    EXPECT_TRUE(dataIsStale(20240229, localTime(2024, 3, 31))); // leap day counted
    EXPECT_TRUE(dataIsStale(20231231, localTime(2024, 2, 1)));
}

TEST(DataUpdate, NormalRunAsksScansAndReports) {
    TempEnv env;
    Fake fake;
    RecordingPort port;
    EXPECT_EQ(runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5)),
              DataUpdateResult::Done);
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"date", "close(force)", "compact", "scan", "check"}));
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(port.messages[0].title, "データ更新");
    EXPECT_EQ(port.messages[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(port.messages[1].text,
              "正常終了\r\n\r\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n20241202\r\n20241203\r\n");
    EXPECT_FALSE(port.busy());

    // Nothing new; then a failed scan is shown even with nomoremsg set.
    fake.imported = 0;
    port.messages.clear();
    runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    EXPECT_EQ(port.messages.back().text, "ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。");
    storage::writeSetting(storage::keys::nomoremsg, "1");
    port.messages.clear();
    runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(port.beeps, 1);
    fake.scan = "ｴﾗｰ";
    runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Critical);
    EXPECT_EQ(port.messages[0].title, "Tesmo");
}

TEST(DataUpdate, DaysThatDidNotComeInOrAStopAreToldEvenWithNomoremsg) {
    TempEnv env;
    storage::writeSetting(storage::keys::nomoremsg, "1");
    Fake fake;
    fake.skipped = {{20241204, "HTTP 500"}, {20241205, "ﾌｧｲﾙが取得出来ませんでした(2)"}};
    RecordingPort port;
    const std::pair<int, std::string> cases[] = {
        {2, "[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n20241202\r\n20241203\r\n\r\n"},
        {0, ""},
    };
    for (const auto &[imported, head] : cases) {
        fake.imported = imported;
        port.messages.clear();
        runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.messages[0].text,
                  head + "取得できなかった日: 20241204 (HTTP 500)\r\n"
                         "取得できなかった日: 20241205 (ﾌｧｲﾙが取得出来ませんでした(2))\r\n");
        EXPECT_EQ(port.messages[0].icon, MsgIcon::Exclamation);
    }
    // A run the user stopped is told too, and fetches nothing more: no program files.
    fake.stillMissing = 29;
    fake.versions = "Tesmo\r\n";
    fake.calls.clear();
    port.messages.clear();
    runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"date", "close(force)", "compact", "scan"}));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text.rfind("中止しました。\r\n", 0), 0u);
    EXPECT_EQ(port.beeps, 0);
}

// The rules' announcement is told once: by the tray where it can show it, else in the report;
// a quiet run without a tray only beeps.
TEST(DataUpdate, WatchAnnouncementGoesToTheTrayOrIntoTheReportOnce) {
    TempEnv env;
    const std::string plain = "正常終了\r\n\r\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n20241202\r\n20241203\r\n";
    const std::string line = "\r\n監視条件に2銘柄が該当しました\r\n";
    struct Case {
        const char *what;
        std::vector<std::string> codes;
        bool hasTray, quiet;
        std::vector<std::string> announced;
        std::vector<std::string> reports;
    };
    const Case cases[] = {
        {"tray", {"1301", "1332", "1301"}, true, false, {"監視条件に2銘柄が該当しました"}, {plain}},
        {"no tray",
         {"1301", "1332"},
         false,
         false,
         {"監視条件に2銘柄が該当しました"},
         {plain + line}},
        {"no match", {}, true, false, {}, {plain}},
        {"quiet, tray", {"1301", "1332"}, true, true, {"監視条件に2銘柄が該当しました"}, {}},
        {"quiet, no tray", {"1301", "1332"}, false, true, {"監視条件に2銘柄が該当しました"}, {}},
    };
    for (const Case &c : cases) {
        storage::writeSetting(storage::keys::nomoremsg, c.quiet ? "1" : "0");
        Fake fake;
        fake.matchedCodes = c.codes;
        DataUpdateActions a = fake.actions();
        std::vector<std::string> announced;
        a.announceWatch = [&](const std::string &text) {
            announced.push_back(text);
            return c.hasTray;
        };
        RecordingPort port;
        runDataUpdate(port, a, "Tesmo 1.0", localTime(2024, 12, 5));
        EXPECT_EQ(announced, c.announced) << c.what;
        std::vector<std::string> reports;
        for (const auto &m : port.messages)
            if (m.title == "Tesmo")
                reports.push_back(m.text);
        EXPECT_EQ(reports, c.reports) << c.what;
    }
}

// The report of a run: J-Quants names its days "取り込んだ日" and lists ten at most; the data
// site keeps its texts; a stopped run says how many days are still missing.
TEST(DataUpdate, ReportListsTenJQuantsDaysAndWhatAStopLeft) {
    const auto days = [](int n) {
        std::string list;
        for (int d = 1; d <= n; ++d)
            list += std::to_string(20261000 + d) + "\r\n";
        return list;
    };
    const std::string missing = "まだ取り込んでいない日: 29日(次回のデータ更新で取り込みます)\r\n";
    struct Case {
        bool jquants;
        int imported;
        long long stillMissing; // -2: not stopped
        long long givenUp;
        std::string text;
    };
    const Case cases[] = {
        {true, 41, -2, 0, "正常終了\r\n\r\n[取り込んだ日]\r\n" + days(10) + "ほか31日\r\n"},
        {true, 10, -2, 0, "正常終了\r\n\r\n[取り込んだ日]\r\n" + days(10)},
        {true, 0, -2, 0, "J-Quantsに新しいデータはありませんでした。"},
        {false, 12, -2, 0, "正常終了\r\n\r\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n" + days(12)},
        {false, 0, -2, 0, "ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。"},
        {true, 12, 29, 20261013,
         "中止しました。\r\n\r\n[取り込んだ日]\r\n" + days(10) + "ほか2日\r\n\r\n" +
             "20261013は取得の途中で中止したため、取り込んでいません。\r\n" + missing},
        {false, 0, 29, 0, "中止しました。\r\n\r\n" + missing},
        {true, 0, -1, 0,
         "中止しました。\r\n\r\nまだ取り込んでいない日があります(次回のデータ更新で取り込みます)"
         "\r\n"},
    };
    for (const Case &c : cases) {
        acquire::ImportRunState run;
        run.importedCount = c.imported;
        run.importedList = days(c.imported);
        if (c.stillMissing != -2)
            run.stop(c.stillMissing, c.givenUp);
        EXPECT_EQ(importedReport(run, c.jquants), c.text);
    }
}

// The status line's words for the progress captions of both sources and the import.
TEST(DataUpdate, ProgressInPlainWords) {
    const std::pair<const char *, const char *> cases[] = {
        {"Tesmo 1.0", "Tesmo 1.0"},
        {"Tesmo 1.0 [20261009] 12/41日 残り約25分 取得間隔の調整中(あと56秒)",
         "2026/10/09 12/41日 残り約25分\n取得間隔の調整中(あと56秒)"},
        {"Tesmo 1.0 [20261009] 3/41日 ﾃﾞｰﾀ更新4処理中 step1/3(30/3800)",
         "2026/10/09 3/41日\n指標を計算中(月平均と比較 30/3800銘柄)"},
        {"Tesmo 1.0 [20240105] ﾃﾞｰﾀ更新4処理中  step3/3(60/40)",
         "2024/01/05\n指標を計算中(月最大と比較 60/40銘柄)"},
        {"Tesmo 1.0 ﾃﾞｰﾀ更新4.1処理中", "日付の情報を更新中"},
        {"Tesmo 1.0 ﾃﾞｰﾀ更新1処理中", "データを読み込み中"},
        {"Tesmo 1.0処理中。。", "受信したファイルを処理中"},
    };
    for (const auto &[caption, plain] : cases)
        EXPECT_EQ(plainProgress(caption, "Tesmo 1.0"), plain) << caption;
}

TEST(DataUpdate, CancelAndBusyDoNothing) {
    TempEnv env;
    Fake fake;
    RecordingPort port;
    port.answers = {MsgAnswer::Cancel};
    EXPECT_EQ(runDataUpdate(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::Cancelled);
    EXPECT_EQ(fake.calls, std::vector<std::string>{"date"});
    port.setBusy(true);
    EXPECT_EQ(runDataUpdate(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::Busy);
    EXPECT_EQ(fake.calls.size(), 1u);
}

TEST(DataUpdate, StaleDataOffersTheCompleteDatabase) {
    TempEnv env;
    Fake fake;
    fake.newest = 20241101;
    RecordingPort port;
    EXPECT_EQ(runDataUpdate(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::UpdaterStarted);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"date", "check(db)", "updater"}));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text.rfind("30日間以上データが更新されていません\r\n\r\n", 0), 0u);
}

TEST(DataUpdate, ProgramUpdateOfferAndDatabaseWarning) {
    TempEnv env;
    struct C {
        std::string versions;
        size_t questions; // size offer, database warning
    };
    const C cases[] = {{"tesmotesmo.mdb\r\n", 3}, {"Tesmo\r\nTESMO.MDB\r\n", 4}, {"Tesmo\r\n", 3}};
    for (const C &c : cases) {
        Fake fake;
        fake.versions = c.versions;
        RecordingPort port;
        EXPECT_EQ(runDataUpdate(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5)),
                  DataUpdateResult::UpdaterStarted);
        ASSERT_EQ(port.messages.size(), c.questions) << c.versions;
        EXPECT_EQ(port.messages[2].text.rfind(update::kProgramUpdateLine, 0), 0u);
        EXPECT_NE(port.messages[2].text.find("ダウンロードするトータルサイズ = 約"),
                  std::string::npos);
        EXPECT_EQ(port.messages[2].title, "Tesmo 1.0");
        EXPECT_EQ(fake.calls.back(), "updater");
    }
}

TEST(DataUpdate, UnexpectedErrorIsShownAndThePointerRestored) {
    TempEnv env;
    Fake fake;
    fake.throwInCompact = true;
    RecordingPort port;
    EXPECT_EQ(runDataUpdate(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::Failed);
    EXPECT_FALSE(port.busy());
    EXPECT_NE(port.messages.back().text.find("disk full"), std::string::npos);
    EXPECT_EQ(port.messages.back().icon, MsgIcon::Critical);
}

} // namespace
