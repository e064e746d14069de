// The data update command and the manual import end to end: the sample data site on loopback,
// the real scan, version check, compaction and import, a fresh database.
#include "core/acquire/day_file_writer.h"
#include "core/acquire/import_driver.h"
#include "core/acquire/jquants_update.h"
#include "core/acquire/site_scan.h"
#include "core/acquire/test_lha_archive.h"
#include "core/common/dates.h"
#include "core/common/paths.h"
#include "core/shell/data_update.h"
#include "core/shell/newest_date.h"
#include "core/storage/compaction.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/storage/update_lock.h"
#include "core/update/version_check.h"
#include "support/child_process.h"
#include "support/recording_port.h"
#include "support/signed_release.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

using namespace tesmo;
using namespace tesmo::shell;
using tesmo::test::RecordingPort;
using tesmo::test::TempEnv;
namespace fs = std::filesystem;
namespace keys = storage::keys;

namespace {

std::time_t localTime(int y, int m, int d) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

class DataUpdateE2E : public ::testing::Test {
protected:
    void SetUp() override {
        storage::writeSetting(keys::mdbpath, env.newDatabase());
        storage::writeSetting(keys::compyc, "40");
        base = m_site.emplace(siteArgs(), env.dir()).url();
        storage::writeSetting(keys::myhpadd4, base + "/cgi-bin/freedata/index.cgi");
        storage::writeSetting(keys::myhpad_data4, base + "/freedata/");
        storage::writeSetting(keys::updatesite, base);
        storage::writeSetting(keys::noannounce, "1");
        storage::connectDatabase();
    }
    virtual std::vector<std::string> siteArgs() const {
        return {"--end", "20240105", "--days", "3", "--stocks", "40"};
    }
    void TearDown() override {
        storage::closeDatabase();
        m_site.reset();
    }

    // The main window's wiring of the command, with the window parts recorded.
    DataUpdateActions actions() {
        DataUpdateActions a;
        a.refreshNewestDate = [] { return newestDate(storage::mainDatabase()); };
        a.closeChildWindows = [this](bool force) {
            closed += force ? 1 : 0;
            return false;
        };
        a.compactIfGrown = [this] { storage::compactIfGrown(port); };
        a.scanDataSite = [this] {
            return acquire::scanSelectedSource(storage::mainDatabase(), port, client, {});
        };
        a.versionCheck = [this](bool complete) {
            return update::versionCheck(client, port, complete);
        };
        a.runState = [] { return acquire::importRunState(); };
        a.runNote = [] { return acquire::sourceNote(); };
        a.startUpdaterAndExit = [this] { ++updaterStarts; };
        a.databaseFile = [] { return storage::mainDatabase().path(); };
        return a;
    }

    TempEnv env;
    RecordingPort port;
    net::HttpClient client;
    std::string base;
    std::optional<test::SampleSiteProcess> m_site;
    int closed = 0;
    int updaterStarts = 0;
};

TEST_F(DataUpdateE2E, ImportsEveryDayThenNothingNewThenBeeps) {
    port.setCaption("Tesmo 1.0");
    const std::time_t now = localTime(2024, 1, 6);
    EXPECT_EQ(runDataUpdate(port, actions(), "Tesmo 1.0", now), DataUpdateResult::Done);
    ASSERT_FALSE(port.messages.empty());
    EXPECT_EQ(port.messages.back().text,
              "正常終了\r\n\r\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n20240103\r\n20240104\r\n20240105\r\n");
    EXPECT_EQ(newestDate(storage::mainDatabase()), 20240105);
    EXPECT_EQ(storage::mainDatabase().scalar("select count(*) from T_NEARLY").toInt(), 120);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(port.caption(), "Tesmo 1.0");
    EXPECT_FALSE(port.busy());
    // Progress of the days and of the rows of the indicators; each step ends it.
    const auto &p = port.progresses;
    for (long long day : {1, 2, 3})
        EXPECT_NE(std::find(p.begin(), p.end(), std::pair(day, 3LL)), p.end()) << day;
    EXPECT_NE(std::find_if(p.begin(), p.end(), [](auto x) { return x.second == 40; }), p.end());
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.back(), std::pair(0LL, 0LL));

    EXPECT_EQ(runDataUpdate(port, actions(), "Tesmo 1.0", now), DataUpdateResult::Done);
    EXPECT_EQ(port.messages.back().text, "ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。");

    storage::writeSetting(keys::nomoremsg, "1");
    const size_t shown = port.messages.size();
    const int beeps = port.beeps;
    runDataUpdate(port, actions(), "Tesmo 1.0", now);
    EXPECT_EQ(port.messages.size(), shown) << port.messages.back().text;
    EXPECT_EQ(port.beeps, beeps + 2); // the scan's own beep, then the command's instead of a box
    EXPECT_EQ(updaterStarts, 0);      // the sample site offers no program files
}

// The days a report lists under "[更新したﾃﾞｰﾀﾌｧｲﾙ]".
std::vector<std::string> reportedDays(const std::string &report) {
    std::vector<std::string> days;
    const size_t list = report.find("[更新したﾃﾞｰﾀﾌｧｲﾙ]");
    std::istringstream lines(list == std::string::npos ? "" : report.substr(list));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() == 8 && line.find_first_not_of("0123456789") == std::string::npos)
            days.push_back(line);
    }
    return days;
}

// The main window's データ更新 and a tesmoctl update from a script, started together on one
// database: one runs, the other is told that an update runs (or finds nothing left when the
// first was already done); every day is in the file once, and the file is sound.
TEST_F(DataUpdateE2E, TheWindowAndTesmoctlUpdatingTogetherImportEachDayOnce) {
    const std::string db = storage::databasePath();
    test::ChildProcess ctl({std::string(TESMO_BIN_DIR) + "/tesmoctl", "update", "--no-wait", db},
                           env.path("ctl.log"));
    const DataUpdateResult window = runDataUpdate(port, actions(), "T", localTime(2024, 1, 6));
    const int status = ctl.wait();
    const std::string ctlSaid = test::fileBytes(env.path("ctl.log"));

    const bool ctlRefused = ctlSaid.find(storage::kOtherUpdateRunning) != std::string::npos;
    const bool windowRefused = window == DataUpdateResult::Refused;
    EXPECT_FALSE(ctlRefused && windowRefused);
    EXPECT_EQ(status, (ctlRefused ? 1 : 0) << 8) << ctlSaid;
    if (windowRefused)
        EXPECT_EQ(port.messages.back().text, storage::kOtherUpdateRunning);
    else
        EXPECT_EQ(window, DataUpdateResult::Done);
    std::vector<std::string> reported = reportedDays(ctlSaid);
    if (!windowRefused)
        for (const std::string &d : reportedDays(port.messages.back().text))
            reported.push_back(d);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::string>{"20240103", "20240104", "20240105"})) << ctlSaid;
    const storage::ResultSet perDay = storage::mainDatabase().openRecordset(
        "select IDATE, count(*) from T_NEARLY group by IDATE order by IDATE");
    ASSERT_EQ(perDay.rowCount(), 3u);
    for (size_t r = 0; r < perDay.rowCount(); ++r)
        EXPECT_EQ(perDay.at(r, 1).toInt(), 40) << perDay.at(r, 0).toInt();
    storage::closeDatabase();
    EXPECT_EQ(test::integrityCheck(db), "ok");
}

TEST_F(DataUpdateE2E, StaleDataGoesToTheUpdaterWithoutScanning) {
    runDataUpdate(port, actions(), "T", localTime(2024, 1, 6));
    port.messages.clear();
    // 31 days after the newest date.
    EXPECT_EQ(runDataUpdate(port, actions(), "T", localTime(2024, 2, 5)),
              DataUpdateResult::UpdaterStarted);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text.rfind("30日間以上データが更新されていません", 0), 0u);
    EXPECT_EQ(updaterStarts, 1);
}

TEST_F(DataUpdateE2E, CompactsFirstWhenTheFileHasGrown) {
    const long long length = fileLength(storage::databasePath());
    storage::writeSetting(keys::DB_SIZE, std::to_string(length * 5 / 9 - 1));
    runDataUpdate(port, actions(), "T", localTime(2024, 1, 6));
    EXPECT_TRUE(fs::exists(installPath("tesmo.mbk")));
    EXPECT_NE(storage::readSetting(keys::DB_SIZE), std::to_string(length * 5 / 9 - 1));
    EXPECT_TRUE(std::any_of(port.captions.begin(), port.captions.end(), [](const std::string &c) {
        return c.find(" DBの領域が増えすぎた為、最適化しています。。") != std::string::npos;
    }));
    EXPECT_EQ(newestDate(storage::mainDatabase()), 20240105);
}

TEST_F(DataUpdateE2E, ManualImportTakesOnlyDayFilesIntoTheInstallFolder) {
    const std::string day10 = acquire::dayFileBytes(acquire::sampleDayRecords(20240110, 40));
    std::vector<test::LhaMember> hostile = test::hostileMembers();
    hostile.push_back({"20240110.bnd", day10, std::nullopt});
    std::vector<test::LhaMember> planted = test::hostileMembers();
    planted.push_back({"tesmo.mdb.bnd", day10, std::nullopt});
    const auto write = [&](const std::string &name, const std::string &bytes) {
        std::ofstream(env.path(name), std::ios::binary) << bytes;
        return env.path(name);
    };
    fs::create_symlink("/dev/zero", env.path("20240113.bnd"));
    const struct {
        const char *what;
        std::string file;
        std::string result;      // its start
        std::string keptInstall; // the day file that stays in the install folder
    } cases[] = {
        {"an archive gives up its day file only",
         write("20240110.bnd.lzh", test::level0Archive(hostile)), "", ""},
        {"a plain day file is copied and stays",
         write("20240111.bnd", acquire::dayFileBytes(acquire::sampleDayRecords(20240111, 40))), "",
         "20240111.bnd"},
        {"an archive named after the database gives up nothing",
         write("tesmo.mdb.lzh", test::level0Archive(planted)), "Lhaの解凍後のﾌｧｲﾙが見つかりません",
         ""},
        {"a damaged archive", write("20240112.bnd.lzh", "not an archive"),
         "Lhaの解凍に失敗しました\r\n詳細:[unLHA] un compress error", ""},
        {"a file named like a program is read where it lies", write("tesmo_auto", "#!/bin/sh\n"),
         "初期処理中にｴﾗｰが発生しました", ""},
        {"a link to /dev/zero", env.path("20240113.bnd"), "ｾﾊﾟﾚｰﾀ読込時にｴﾗｰ", ""},
    };
    std::vector<std::string> kept;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        int refreshed = 0;
        const std::string r =
            manualImport(storage::mainDatabase(), port, c.file, [&] { ++refreshed; });
        EXPECT_TRUE(r.starts_with(c.result)) << r;
        EXPECT_EQ(port.messages.back().text, r.empty() ? "正常終了" : r);
        EXPECT_EQ(refreshed, c.result.starts_with("Lha") ? 0 : 1);
        if (!c.keptInstall.empty())
            kept.push_back(c.keptInstall);
        std::vector<std::string> installed;
        for (const auto &e : fs::directory_iterator(installDir()))
            installed.push_back(e.path().filename().string());
        EXPECT_EQ(installed, kept);
    }
    EXPECT_EQ(storage::mainDatabase()
                  .scalar("select count(*) from T_NEARLY where IDATE in (20240110, 20240111)")
                  .toInt(),
              80);
}

// The same command with the J-Quants source: the sample site's stand-in ends on the last weekday
// before today, and the command catches up the newest maxdtc + 1 business days from it.
class JQuantsDataUpdateE2E : public DataUpdateE2E {
protected:
    std::vector<std::string> siteArgs() const override {
        return {"--jquants", "--stocks", "40", "--page-size", "15", "--rate", "0"};
    }
};

TEST_F(JQuantsDataUpdateE2E, CatchesUpFromTheApiThenHasNothingNew) {
    storage::writeSetting(keys::datasource, "jquants");
    storage::writeSetting(keys::jquantsapi, base + "/v2");
    storage::writeSetting(keys::jquantskey, "tesmo-sample-key");
    storage::writeSetting(keys::jquantsrate, "500");
    storage::writeSetting(keys::maxdtc, "5");
    port.setCaption("Tesmo 1.0");
    EXPECT_EQ(runDataUpdate(port, actions(), "Tesmo 1.0", std::time(nullptr)),
              DataUpdateResult::Done);
    ASSERT_GE(port.messages.size(), 2u);
    EXPECT_EQ(port.messages.front().text.rfind("この処理はJ-Quants APIにアクセスして", 0), 0u);
    const std::string report = port.messages.back().text;
    EXPECT_EQ(report.rfind("正常終了\r\n\r\n[取り込んだ日]\r\n", 0), 0u) << report;
    const int days = acquire::importRunState().importedCount;
    EXPECT_GE(days, 4); // six business days up to today, of which today may not be out yet
    storage::Database &db = storage::mainDatabase();
    EXPECT_EQ(db.scalar("select count(*) from T_NEARLY").toInt(), 45 * days);
    EXPECT_EQ(db.scalar("select count(*) from T_NEARLY where TALK is not null").toInt(), 0);
    EXPECT_LE(*newestDate(db), localDate(std::time(nullptr)));
    EXPECT_EQ(port.caption(), "Tesmo 1.0");

    EXPECT_EQ(runDataUpdate(port, actions(), "Tesmo 1.0", std::time(nullptr)),
              DataUpdateResult::Done);
    EXPECT_EQ(port.messages.back().text, "J-Quantsに新しいデータはありませんでした。");
    EXPECT_EQ(updaterStarts, 0);
}

// A system-wide install: the database, the compaction's backup, the downloads and the unpacked
// archives all live in the user's data folder, and the program folder stays as it was.
TEST_F(DataUpdateE2E, ReadOnlyProgramFolderStaysAsItWas) {
    storage::closeDatabase();
    setProgramFolderWritableOverride(false);
    fs::create_directories(fs::path(storage::shippedDatabasePath()).parent_path());
    fs::copy_file(env.newDatabase("shipped.mdb"), storage::shippedDatabasePath());
    storage::writeSetting(keys::mdbpath, storage::defaultOf(keys::mdbpath));
    storage::writeSetting(keys::DB_SIZE, "1");
    const auto listing = [](const std::string &dir) {
        std::map<std::string, fs::file_time_type> files;
        for (const auto &e : fs::directory_iterator(dir))
            files[e.path().filename().string()] = e.last_write_time();
        return files;
    };
    const auto programFiles = listing(installDir());
    storage::connectDatabase();

    EXPECT_EQ(runDataUpdate(port, actions(), "T", localTime(2024, 1, 6)), DataUpdateResult::Done);
    EXPECT_EQ(port.messages.back().text.rfind("正常終了", 0), 0u) << port.messages.back().text;
    const std::string day10 = acquire::dayFileBytes(acquire::sampleDayRecords(20240110, 40));
    std::ofstream(env.path("20240110.bnd.lzh"), std::ios::binary)
        << test::level0Archive({{"20240110.bnd", day10, std::nullopt}});
    EXPECT_EQ(manualImport(storage::mainDatabase(), port, env.path("20240110.bnd.lzh"), {}), "");

    EXPECT_EQ(newestDate(storage::mainDatabase()), 20240110);
    EXPECT_EQ(listing(installDir()), programFiles);
    std::set<std::string> userFiles;
    for (const auto &[name, time] : listing(userDataDir()))
        userFiles.insert(name);
    userFiles.erase("tesmo.mdb-wal");
    userFiles.erase("tesmo.mdb-shm");
    // The scan keeps its last index page and counter, as it does in a writable program folder.
    EXPECT_EQ(userFiles, (std::set<std::string>{"tesmo.mbk", "tesmo.mdb", "tesmo.mdb.update-lock",
                                                "tmp_tesmo_cnt.gbf", "tmp_tesmo_html.tmp"}));
}

} // namespace
