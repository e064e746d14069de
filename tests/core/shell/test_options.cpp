// The options window's logic: what OK saves and says, the new portfolio file, and the import of
// dropped files, against real settings files and a real database in a temporary folder.
#include "core/shell/options.h"

#include "core/acquire/day_file_writer.h"
#include "core/acquire/test_lha_archive.h"
#include "core/common/app_state.h"
#include "core/common/paths.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"
#include "core/storage/shipped_database.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tesmo;
using namespace tesmo::shell;
namespace keys = tesmo::storage::keys;
using storage::readSetting;
using storage::writeSetting;

namespace fs = std::filesystem;

namespace {

constexpr const char *kRestartText = "[DBの参照位置]もしくは[ﾎﾟｰﾄﾌｫﾘｵ]が変更されました。\r\n\r\n"
                                     "Tesmoを一度終了してから再度起動してください";

class Options : public ::testing::Test {
protected:
    void SetUp() override { appState().profile_dir = env.path("home"); }
    void TearDown() override { appState().profile_dir.clear(); }
    test::TempEnv env;
    test::RecordingPort port;
};

TEST_F(Options, FreshUserSeesTheDefaults) {
    const OptionValues v = loadOptions();
    EXPECT_EQ(v.mdbpath, installPath("tesmo.mdb"));
    EXPECT_EQ(v.compyc, "3000");
    EXPECT_EQ(v.web1wait, "6");
    EXPECT_EQ(v.maxdtc, "40");
    EXPECT_EQ(v.portfile, env.path("home") + "/portfolio.mdb");
    EXPECT_EQ(v.cpseplt, 0);
    EXPECT_FALSE(v.autotaskt || v.noannounce || v.nomoremsg || v.realcspd || v.portopt ||
                 v.proxychk);
    EXPECT_TRUE(v.proxysv.empty() && v.proxyid.empty() && v.proxypd.empty());
    EXPECT_FALSE(fs::exists(storage::settingsFilePath(storage::mainAppName())));
}

TEST_F(Options, EverySettingSurvivesASaveAndALoad) {
    writeSetting(keys::portopt, "0"); // stored as the window shows it: no change to report
    std::ofstream(env.path("mine.mdb")) << "x";
    OptionValues v = loadOptions();
    v.compyc = "2500";
    v.debugcode = "abc";
    v.web1wait = "not a number"; // saved as typed
    v.myhpadd4 = "http://127.0.0.1:1/index.cgi";
    v.myhpad_data4 = "http://127.0.0.1:1/data/";
    v.maxdtc = "60";
    v.browser = "/usr/bin/firefox";
    v.autotaskt = v.noannounce = v.realcspd = true;
    v.cpseplt = 1;
    v.proxychk = true;
    v.proxysv = "proxy:8080";
    v.proxyid = "me";
    v.proxypd = "secret";
    EXPECT_EQ(saveOptions(v, port), OptionsSaveResult::Saved);
    EXPECT_TRUE(port.messages.empty());

    const OptionValues back = loadOptions();
    EXPECT_EQ(back.compyc, "2500");
    EXPECT_EQ(back.debugcode, "abc");
    EXPECT_EQ(back.web1wait, "not a number");
    EXPECT_EQ(back.myhpadd4, v.myhpadd4);
    EXPECT_EQ(back.myhpad_data4, v.myhpad_data4);
    EXPECT_EQ(back.maxdtc, "60");
    EXPECT_EQ(back.browser, "/usr/bin/firefox");
    EXPECT_TRUE(back.autotaskt && back.noannounce && back.realcspd && back.proxychk);
    EXPECT_FALSE(back.nomoremsg);
    EXPECT_EQ(back.cpseplt, 1);
    EXPECT_EQ(readSetting(keys::cpseplt), "1");
    EXPECT_EQ(readSetting(keys::autotaskt), "1");
    EXPECT_EQ(back.proxysv, "proxy:8080");
    EXPECT_EQ(back.proxyid, "me");
    EXPECT_EQ(back.proxypd, "secret");
}

TEST_F(Options, DataSourceKeyAndRateAreSavedWhenTheRateIsANumber) {
    OptionValues v = loadOptions();
    EXPECT_FALSE(v.jquants);
    EXPECT_EQ(v.jquantsrate, "5");
    v.jquants = true;
    v.jquantskey = "abc-key";
    for (const char *bad : {"", "0", "fast", "-5"}) {
        v.jquantsrate = bad;
        EXPECT_EQ(saveOptions(v, port), OptionsSaveResult::RateInvalid) << bad;
        EXPECT_EQ(readSetting(keys::datasource), "site");
    }
    v.jquantsrate = "60";
    EXPECT_EQ(saveOptions(v, port), OptionsSaveResult::Saved);
    const OptionValues back = loadOptions();
    EXPECT_TRUE(back.jquants);
    EXPECT_EQ(back.jquantskey, "abc-key");
    EXPECT_EQ(back.jquantsrate, "60");
    EXPECT_EQ(readSetting(keys::datasource), "jquants");
}

TEST_F(Options, RestartMessageOnlyForTheDatabaseOrThePortfolio) {
    std::ofstream(env.path("port.mdb")) << "x";
    struct Case {
        const char *what;
        bool moveDatabase;
        bool switchPortfolio;
        bool quiet;
        OptionsSaveResult result;
        bool told;
    } cases[] = {
        {"proxy only", false, false, false, OptionsSaveResult::Saved, false},
        {"database moved", true, false, false, OptionsSaveResult::SavedRestartNeeded, true},
        {"database moved, quiet", true, false, true, OptionsSaveResult::SavedRestartNeeded, false},
        {"portfolio switched on", false, true, false, OptionsSaveResult::SavedRestartNeeded, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::TempEnv fresh;
        test::RecordingPort p;
        OptionValues v = loadOptions();
        v.proxychk = true;
        v.proxysv = "proxy:3128";
        v.nomoremsg = c.quiet;
        if (c.moveDatabase)
            v.mdbpath = fresh.path("elsewhere.mdb");
        if (c.switchPortfolio) {
            v.portopt = true;
            v.portfile = env.path("port.mdb");
        }
        EXPECT_EQ(saveOptions(v, p), c.result);
        ASSERT_EQ(p.messages.size(), c.told ? 1u : 0u);
        if (c.told) {
            EXPECT_EQ(p.messages[0].text, kRestartText);
            EXPECT_EQ(p.messages[0].title, "ｵﾌﾟｼｮﾝ");
            EXPECT_EQ(p.messages[0].icon, MsgIcon::Information);
        }
        EXPECT_EQ(readSetting(keys::proxysv), "proxy:3128");
        EXPECT_EQ(readSetting(keys::mdbpath), v.mdbpath);
        EXPECT_EQ(readSetting(keys::nomoremsg), c.quiet ? "1" : "0");
    }
}

TEST_F(Options, MissingPortfolioFileSavesNothing) {
    OptionValues v = loadOptions();
    v.compyc = "1234";
    v.portopt = true;
    v.portfile = env.path("nowhere.mdb");
    EXPECT_EQ(saveOptions(v, port), OptionsSaveResult::PortfolioMissing);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text, "ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + v.portfile + " が見つかりません。");
    EXPECT_EQ(readSetting(keys::compyc), "3000");
    EXPECT_EQ(readSetting(keys::portopt), "0");
}

TEST_F(Options, NewPortfolioFileComesFromTheTemplateAndNeverOverwrites) {
    const std::string target = env.path("new.mdb");
    EXPECT_FALSE(createPortfolioFile(target, port));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text,
              "ｼｽﾃﾑﾌｧｲﾙ tempportfolio.gb が足りません。\r\nTesmoを再ｲﾝｽﾄｰﾙしてみて下さい。");
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(fs::exists(target));

    storage::createPortfolioDatabase(installPath(kPortfolioTemplate));
    EXPECT_TRUE(createPortfolioFile(target, port));
    EXPECT_EQ(port.messages.back().text, "ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + target + " を作成しました。");
    EXPECT_EQ(test::fileBytes(target), test::fileBytes(installPath(kPortfolioTemplate)));
    auto db = storage::Database::open(target, "");
    EXPECT_EQ(db->scalar("select count(*) from T_PORT").toInt(), 0);
    db.reset();

    std::ofstream(target, std::ios::trunc) << "the user's portfolio";
    EXPECT_FALSE(createPortfolioFile(target, port));
    EXPECT_EQ(port.messages.back().text, "ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + target + " は既に存在しています。");
    EXPECT_EQ(test::fileBytes(target), "the user's portfolio");

    writeSetting(keys::nomoremsg, "1");
    const size_t shown = port.messages.size();
    EXPECT_TRUE(createPortfolioFile(env.path("quiet.mdb"), port));
    EXPECT_EQ(port.messages.size(), shown);
    EXPECT_EQ(port.beeps, 1);
    EXPECT_NE(readSetting(keys::portfile), env.path("quiet.mdb")); // OK saves it, not this
}

TEST_F(Options, PickedPortfolioFolderIsRemembered) {
    port.nextFileName = env.path("dir/picked.mdb");
    EXPECT_EQ(pickPortfolioFile(port), env.path("dir/picked.mdb"));
    ASSERT_EQ(port.dialogs.size(), 1u);
    EXPECT_EQ(port.dialogs[0].title, "外部ﾎﾟｰﾄﾌｫﾘｵ用のMDBﾌｧｲﾙを指定してください");
    EXPECT_EQ(port.dialogs[0].initialDir, env.path("home"));
    EXPECT_EQ(readSetting(keys::def_portdir), env.path("dir"));
    port.nextFileName.clear();
    EXPECT_EQ(pickPortfolioFile(port), "");
    EXPECT_EQ(port.dialogs[1].initialDir, env.path("dir"));
}

class DroppedFiles : public Options {
protected:
    void SetUp() override {
        Options::SetUp();
        writeSetting(keys::compyc, "2");
        db = storage::Database::open(env.newDatabase(), storage::kConnectString);
    }
    std::string dayFile(long long date, int count) {
        return acquire::writeDayFile(env.path("drop/" + std::to_string(date) + ".bnd"),
                                     acquire::sampleDayRecords(date, count));
    }
    long long rowsOf(long long date) {
        return db->scalar("select count(*) from T_NEARLY where IDATE=" + std::to_string(date))
            .toInt();
    }
    std::unique_ptr<storage::Database> db;
    int refreshes = 0;
    std::function<void()> refresh = [this] { ++refreshes; };
};

TEST_F(DroppedFiles, StopAtTheFirstFailureAndSayWhy) {
    fs::create_directories(env.path("drop"));
    const std::vector<std::string> files = {dayFile(20240105, 3), dayFile(20240108, 1),
                                            dayFile(20240109, 3)};
    const std::string failure = importDroppedFiles(*db, port, files, refresh);
    EXPECT_EQ(failure, "対象ﾃﾞｰﾀ数が少なすぎます 1件");
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text, "エラー\r\n対象ﾃﾞｰﾀ数が少なすぎます 1件");
    EXPECT_EQ(port.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(rowsOf(20240105), 3);
    EXPECT_EQ(rowsOf(20240109), 0);
    EXPECT_FALSE(fs::exists(installPath("20240109.bnd")));
    EXPECT_EQ(refreshes, 2);
    EXPECT_FALSE(port.busy());
}

TEST_F(DroppedFiles, MissingFileCountsAsSuccessAndBusyDoesNothing) {
    EXPECT_EQ(importDroppedFiles(*db, port, {env.path("gone.bnd")}, refresh), "");
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text, "正常終了");
    EXPECT_EQ(refreshes, 0);

    port.setBusy(true);
    EXPECT_EQ(importDroppedFiles(*db, port, {env.path("gone.bnd")}, refresh), "");
    EXPECT_EQ(port.messages.size(), 1u);
}

TEST_F(DroppedFiles, BrokenArchiveIsReportedTwice) {
    std::ofstream(env.path("20240105.bnd.lzh")) << "not an archive";
    const std::string failure =
        importDroppedFiles(*db, port, {env.path("20240105.bnd.lzh")}, refresh);
    EXPECT_EQ(failure, "何らかのｴﾗｰが発生しました。詳細:");
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(port.messages[0].text.rfind("Lhaの解凍に失敗しました\r\n詳細:", 0), 0u);
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Critical);
    EXPECT_EQ(port.messages[1].text, "エラー\r\n何らかのｴﾗｰが発生しました。詳細:");
}

TEST_F(DroppedFiles, AnArchiveGivesUpItsDayFileAndNothingElse) {
    std::vector<test::LhaMember> members = test::hostileMembers();
    members.push_back(
        {"20240105.bnd", acquire::dayFileBytes(acquire::sampleDayRecords(20240105, 3)), {}});
    std::ofstream(env.path("20240105.bnd.lzh"), std::ios::binary) << test::level0Archive(members);
    EXPECT_EQ(importDroppedFiles(*db, port, {env.path("20240105.bnd.lzh")}, refresh), "");
    EXPECT_EQ(rowsOf(20240105), 3);
    EXPECT_TRUE(fs::is_empty(installDir()));
}

TEST(OptionsWindowCount, CountsUpAndDown) {
    test::TempEnv env;
    countOptionsWindow(+1);
    countOptionsWindow(+1);
    countOptionsWindow(-1);
    EXPECT_EQ(readSetting(keys::cnt_F_opt), "1");
}

} // namespace
