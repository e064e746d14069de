#include "shell/data_update.h"
#include "storage/settings_keys.h"
#include "update/update_start.h"
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
    bool throwInCompact = false;

    DataUpdateActions actions() {
        DataUpdateActions a;
        a.refreshNewestDate = [this] {
            calls.push_back("date");
            return newest;
        };
        a.closeAllForms = [this](bool force) {
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
        a.importedCount = [this] { return imported; };
        a.importedList = [] { return std::string("20241202\r\n20241203\r\n"); };
        a.skippedDays = [this] { return skipped; };
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
    EXPECT_EQ(Command1_Click_sub(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5)),
              DataUpdateResult::Done);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"date", "close(force)", "compact", "scan",
                                                     "check"}));
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(port.messages[0].title, "データ更新");
    EXPECT_EQ(port.messages[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(port.messages[1].text,
              "正常終了\r\n\r\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n20241202\r\n20241203\r\n");
    EXPECT_FALSE(port.busy());

    // Nothing new; then a failed scan is shown even with nomoremsg set.
    fake.imported = 0;
    port.messages.clear();
    Command1_Click_sub(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    EXPECT_EQ(port.messages.back().text, "ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。");
    storage::writeSetting(storage::keys::nomoremsg, "1");
    port.messages.clear();
    Command1_Click_sub(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(port.beeps, 1);
    fake.scan = "ｴﾗｰ";
    Command1_Click_sub(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Critical);
    EXPECT_EQ(port.messages[0].title, "Tesmo");
}

TEST(DataUpdate, DaysThatDidNotComeInAreListedEvenWithNomoremsg) {
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
        Command1_Click_sub(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5));
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.messages[0].text,
                  head + "取得できなかった日: 20241204 (HTTP 500)\r\n"
                         "取得できなかった日: 20241205 (ﾌｧｲﾙが取得出来ませんでした(2))\r\n");
        EXPECT_EQ(port.messages[0].icon, MsgIcon::Exclamation);
    }
    EXPECT_EQ(port.beeps, 0);
}

TEST(DataUpdate, CancelAndBusyDoNothing) {
    TempEnv env;
    Fake fake;
    RecordingPort port;
    port.answers = {MsgAnswer::Cancel};
    EXPECT_EQ(Command1_Click_sub(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::Cancelled);
    EXPECT_EQ(fake.calls, std::vector<std::string>{"date"});
    port.setBusy(true);
    EXPECT_EQ(Command1_Click_sub(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::Busy);
    EXPECT_EQ(fake.calls.size(), 1u);
}

TEST(DataUpdate, StaleDataOffersTheCompleteDatabase) {
    TempEnv env;
    Fake fake;
    fake.newest = 20241101;
    RecordingPort port;
    EXPECT_EQ(Command1_Click_sub(port, fake.actions(), "T", localTime(2024, 12, 5)),
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
        EXPECT_EQ(Command1_Click_sub(port, fake.actions(), "Tesmo 1.0", localTime(2024, 12, 5)),
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
    EXPECT_EQ(Command1_Click_sub(port, fake.actions(), "T", localTime(2024, 12, 5)),
              DataUpdateResult::Failed);
    EXPECT_FALSE(port.busy());
    EXPECT_NE(port.messages.back().text.find("disk full"), std::string::npos);
    EXPECT_EQ(port.messages.back().icon, MsgIcon::Critical);
}

} // namespace
