// The updater against a loopback update site: what it fetches, what it installs where, what it
// refuses, and when it starts the main program again.
#include "core/update/updater.h"

#include "core/common/crypto.h"
#include "core/storage/settings_store.h"
#include "core/update/release_install.h"
#include "core/update/release_manifest.h"
#include "core/update/update_start.h"
#include "support/signed_release.h"
#include "support/update_site.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

using namespace tesmo;
using namespace tesmo::update;
using tesmo::test::appears;
using tesmo::test::writeScript;

namespace fs = std::filesystem;
using tesmo::test::fileBytes;

namespace {

void writeFile(const std::string &path, const std::string &body) {
    std::ofstream(path, std::ios::binary) << body;
}

// Every file below `dir` with its bytes, the download folder and the updater's lock left out.
std::map<std::string, std::string> filesBelow(const std::string &dir) {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename() != kLockFile &&
            entry.path().string().find(std::string("/") + kDownloadFolder + "/") ==
                std::string::npos)
            files[entry.path().string()] = fileBytes(entry.path().string());
    return files;
}

class Updater : public test::UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        if (!test::developmentKeyTrusted())
            GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
        // The main program as the updater finds it: it only leaves a mark when started.
        writeScript(installPath(kMainProgram), "touch \"$(dirname \"$0\")/tesmo_started\"");
        storage::writeSetting(storage::keys::auto_retimes, "0");
    }
    // What the version check leaves for the updater, and the file on the update site, signed.
    void offer(const std::string &name, const std::string &body, const std::string &stamp,
               long long recordedSize = -1) {
        release.files[name] = body;
        const std::string app = storage::updaterStateAppName();
        storage::saveSetting(app, storage::kTrgDtSection, name, stamp);
        storage::saveSetting(
            app, storage::kTrgSzSection, name,
            std::to_string(recordedSize < 0 ? static_cast<long long>(body.size()) : recordedSize));
        server.serve("/tesmo_auto/" + name, body, 200, "application/octet-stream");
    }
    std::string installed(const std::string &lowerName) {
        return storage::getSetting(storage::updaterStateAppName(), storage::kWebcheckSection,
                                   lowerName, "none");
    }
    bool sectionsLeft() {
        return storage::getAllSettings(storage::updaterStateAppName(), storage::kTrgDtSection)
            .has_value();
    }
    bool mainProgramStarted() { return appears(installPath("tesmo_started")); }
    std::string download(const std::string &name) {
        return joinPath(installPath(kDownloadFolder), name);
    }

    test::SignedRelease release{server};
};

TEST_F(Updater, WithoutRecordedFilesSaysSoAndStartsTheMainProgram) {
    const UpdaterResult r = runUpdate(client, port);
    EXPECT_EQ(r.end, UpdateEnd::NothingNew);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text,
              "自動更新できる新しいバージョンアップは\r\nありませんでした。");
    EXPECT_EQ(port.messages[0].title, "Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ");
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(port.beeps, 0);
    EXPECT_TRUE(fs::is_directory(installPath(kDownloadFolder)));
    EXPECT_GT(r.mainProgram, 0);
    EXPECT_TRUE(mainProgramStarted());
}

TEST_F(Updater, FetchesOnlyWhatIsNotAlreadyDownloadedWithTheRecordedSize) {
    fs::create_directories(installPath(kDownloadFolder));
    offer("Kept.dat", "kept-new", "124010100");
    writeFile(download("Kept.dat"), "kept-new"); // right size: used as it is
    offer("Stale.dat", "stale-new", "124010200");
    writeFile(download("Stale.dat"), "short"); // wrong size: fetched again
    offer("Fresh.dat", "fresh-new", "124010300");
    release.serial = 7;

    const UpdaterResult r = runUpdate(client, port);
    EXPECT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(r.installed, 3);
    EXPECT_EQ(server.hits("/tesmo_auto/Kept.dat"), 0);
    EXPECT_EQ(server.hits("/tesmo_auto/Stale.dat"), 1);
    EXPECT_EQ(server.hits("/tesmo_auto/Fresh.dat"), 1);
    for (const auto &[name, body] : {std::pair{"Kept.dat", "kept-new"},
                                     {"Stale.dat", "stale-new"},
                                     {"Fresh.dat", "fresh-new"}})
        EXPECT_EQ(fileBytes(installPath(name)), body) << name;
    EXPECT_EQ(installed("kept.dat"), "124010100");
    EXPECT_EQ(installed("fresh.dat"), "124010300");
    EXPECT_EQ(storage::readSetting(storage::keys::release_serial), "7");
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(port.beeps, 1);
    EXPECT_FALSE(sectionsLeft());
    EXPECT_TRUE(mainProgramStarted());
}

TEST_F(Updater, CompleteDatabaseReplacesTheDatabaseInUseAndKeepsTheOldOne) {
    const std::string folder = env.path("data");
    fs::create_directories(folder);
    const std::string database = folder + "/my.mdb";
    storage::writeSetting(storage::keys::mdbpath, database);
    writeFile(database, "old database");
    writeFile(database + "-wal", "old changes");
    writeFile(database + "-shm", "shared memory");
    writeFile(installPath("tesmo.mdb"), "stray copy");
    offer("TesmoTesmo.mdb", "complete database", "124020200");

    const UpdaterResult r = runUpdate(client, port);
    ASSERT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(fileBytes(database), "complete database");
    EXPECT_FALSE(fs::exists(database + "-wal"));
    EXPECT_FALSE(fs::exists(database + "-shm"));
    EXPECT_FALSE(fs::exists(installPath("tesmo.mdb")));
    EXPECT_EQ(fileBytes(installPath("tesmo.mbk")), "old database");
    EXPECT_EQ(fileBytes(installPath("tesmo.mbk-wal")), "old changes");
    EXPECT_EQ(installed("tesmotesmo.mdb"), "124020200");
    EXPECT_TRUE(mainProgramStarted());
}

TEST_F(Updater, DatabaseAtTheDefaultPlaceIsReplacedWithABackup) {
    writeFile(installPath("tesmo.mdb"), "old database");
    writeFile(installPath("tesmo.mbk-wal"), "journal of an older backup");
    offer("tesmo.mdb", "new database", "124020100");

    const UpdaterResult r = runUpdate(client, port);
    ASSERT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(fileBytes(installPath("tesmo.mdb")), "new database");
    EXPECT_EQ(fileBytes(installPath("tesmo.mbk")), "old database");
    EXPECT_FALSE(fs::exists(installPath("tesmo.mbk-wal")));
    EXPECT_TRUE(mainProgramStarted());
}

// A system-wide install: the database is the user's copy in the data folder, where the
// backup and the downloads go too; the shipped database and the program folder stay as they are.
TEST_F(Updater, ReadOnlyProgramFolderReplacesTheUsersDatabase) {
    setProgramFolderWritableOverride(false);
    writeFile(installPath("tesmo.mdb"), "shipped database");
    const std::string mine = pathFor(FileKind::Database, "tesmo.mdb");
    writeFile(mine, "old database");
    const auto programFiles = filesBelow(installDir());
    offer("TesmoTesmo.mdb", "complete database", "124020200");

    const UpdaterResult r = runUpdate(client, port);
    ASSERT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(fileBytes(mine), "complete database");
    EXPECT_EQ(fileBytes(joinPath(userDataDir(), "tesmo.mbk")), "old database");
    EXPECT_TRUE(fs::is_directory(joinPath(userDataDir(), kDownloadFolder)));
    EXPECT_TRUE(mainProgramStarted());
    fs::remove(installPath("tesmo_started"));
    EXPECT_EQ(filesBelow(installDir()), programFiles);
}

TEST_F(Updater, SizeMismatchInstallsNothingAndDoesNotRestart) {
    offer("First.dat", "first", "124010100");
    offer("Second.dat", "second", "124010200", 999);
    offer("Third.dat", "third", "124010300");
    writeFile(installPath("Second.dat"), "old second");

    const UpdaterResult r = runUpdate(client, port);
    EXPECT_EQ(r.end, UpdateEnd::Refused);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text,
              "エラーが発生しました。\r\n詳細:size unmatch file=Second.dat size=6 web=999");
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Critical);
    EXPECT_EQ(port.messages[0].title, "Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ");
    // A release is installed whole or not at all.
    EXPECT_FALSE(fs::exists(installPath("First.dat")));
    EXPECT_EQ(installed("first.dat"), "none");
    EXPECT_EQ(fileBytes(installPath("Second.dat")), "old second");
    EXPECT_FALSE(fs::exists(installPath("Third.dat")));
    EXPECT_EQ(server.hits("/tesmo_auto/Third.dat"), 0);
    EXPECT_TRUE(sectionsLeft());
    EXPECT_EQ(r.mainProgram, -1);
    EXPECT_FALSE(fs::exists(installPath("tesmo_started")));
}

TEST_F(Updater, TamperedReleasesInstallNothing) {
    const std::string database = env.path("data/my.mdb");
    fs::create_directories(env.path("data"));
    storage::writeSetting(storage::keys::mdbpath, database);
    const std::string program = "#!/bin/sh\ntouch \"$(dirname \"$0\")/new_started\"\n";
    auto sameSizeOther = [](std::string bytes) {
        bytes.back() ^= 1;
        return bytes;
    };
    const auto otherKey = crypto::newSigningKeyPair();
    struct Variant {
        const char *what;
        std::function<void()> tamper;
        std::string detail; // the end of "詳細:"; a trailing "*" matches any rest
    };
    const std::vector<Variant> variants = {
        {"program changed after signing",
         [&] { server.serve("/tesmo_auto/Tesmo", sameSizeOther(program)); },
         "署名されたファイル一覧と内容が異なります: Tesmo"},
        {"database changed after signing",
         [&] { server.serve("/tesmo_auto/tesmotesmo.mdb", sameSizeOther("complete database")); },
         "署名されたファイル一覧と内容が異なります: tesmotesmo.mdb"},
        {"file not in the list",
         [&] {
             offer("extra.so", "unsigned", "124010100");
             release.files.erase("extra.so");
         },
         "署名されたファイル一覧にないファイルです: extra.so"},
        {"no signature", [&] { server.serve("/tesmo_auto/modules.sha256.sig", "", 404); },
         "この更新サイトのリリースは署名されていません。署名のないリリースはインストールしません "
         "(modules.sha256.sig: HTTP 404)"},
        {"no signed list",
         [&] { server.serve("/tesmo_auto/modules.sha256", "<html>Not Found</html>", 404); },
         "この更新サイトのリリースは署名されていません。署名のないリリースはインストールしません "
         "(modules.sha256: HTTP 404)"},
        {"signature of an empty answer",
         [&] { server.serve("/tesmo_auto/modules.sha256.sig", "", 500); },
         "署名が一致しません (modules.sha256.sig を取得できません: *"},
        {"signature by another key",
         [&] {
             server.serve(
                 "/tesmo_auto/modules.sha256.sig",
                 crypto::toBase64(crypto::signDetached(release.manifest(), otherKey.secretKey)));
         },
         "署名が一致しません (modules.sha256.sig)"},
        {"signature cut short",
         [&] {
             server.serve("/tesmo_auto/modules.sha256.sig",
                          test::developmentSignature(release.manifest()).substr(0, 60));
         },
         "署名が一致しません (modules.sha256.sig)"},
        {"older release", [&] { release.serial = 4; },
         "インストール済みのものより古いリリースです (serial 4 < 5)"},
        {"list naming a path outside the folder",
         [&] {
             const std::string list = release.manifest() + crypto::sha256Hex("x") + " 1 ../evil\n";
             server.serve("/tesmo_auto/modules.sha256", list);
             server.serve("/tesmo_auto/modules.sha256.sig", test::developmentSignature(list));
         },
         "署名されたファイル一覧が読めません (4行目: ファイル名が不正です: ../evil)"},
    };
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.what);
        // What the main program leaves before it starts the updater: an empty download folder
        // and the selection of the version check.
        fs::remove_all(installPath(kDownloadFolder));
        try {
            storage::deleteSettingSection(storage::updaterStateAppName(), storage::kTrgDtSection);
        } catch (const storage::SettingsError &) {
        }
        writeFile(database, "the user's data");
        storage::writeSetting(storage::keys::release_serial, "5");
        release.files.clear();
        release.serial = 6;
        release.publish();
        offer("Tesmo", program, "124010100");
        offer("tesmotesmo.mdb", "complete database", "124010100");
        v.tamper();
        const auto before = filesBelow(env.dir());
        port.messages.clear();

        const UpdaterResult r = runUpdate(client, port);
        EXPECT_EQ(r.end, UpdateEnd::Refused);
        ASSERT_EQ(port.messages.size(), 1u);
        const std::string expected = "エラーが発生しました。\r\n詳細:" + v.detail;
        if (expected.back() == '*')
            EXPECT_EQ(port.messages[0].text.rfind(expected.substr(0, expected.size() - 1), 0), 0u)
                << port.messages[0].text;
        else
            EXPECT_EQ(port.messages[0].text, expected);
        EXPECT_EQ(filesBelow(env.dir()), before);
        EXPECT_EQ(storage::readSetting(storage::keys::release_serial), "5");
        EXPECT_EQ(r.mainProgram, -1);
    }
    EXPECT_FALSE(fs::exists(installPath("new_started")));
    EXPECT_FALSE(fs::exists(installPath("tesmo.mbk")));
}

// A module table that offers one file of a release brings in the whole signed release: every
// file of the list whose installed copy differs, fetched though the table did not offer it, or
// nothing at all.
TEST_F(Updater, TheSignedListIsTheRelease) {
    const std::string main11 = "#!/bin/sh\ntouch \"$(dirname \"$0\")/tesmo_started\"\n# 11\n";
    writeFile(installPath("modx.bin"), "modx 10");
    writeFile(installPath("readme.txt"), "the same in both");
    release.serial = 11;
    release.files = {{"Tesmo", main11}, {"readme.txt", "the same in both"}};
    release.serveFiles();
    offer("modx.bin", "modx 11", "124010100");

    const UpdaterResult r = runUpdate(client, port, {}, false);
    ASSERT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(r.installed, 2);
    EXPECT_EQ(fileBytes(installPath(kMainProgram)), main11);
    EXPECT_EQ(fileBytes(installPath("modx.bin")), "modx 11");
    EXPECT_EQ(server.hits("/tesmo_auto/readme.txt"), 0);
    EXPECT_EQ(storage::readSetting(storage::keys::release_serial), "11");
    EXPECT_EQ(storage::readSetting(storage::keys::release_digest),
              crypto::sha256Hex(release.manifest()));
    EXPECT_EQ(fileBytes(installPath(kInstalledListFile)), release.manifest());

    // Release 12: the file the table did not offer cannot be fetched, so the offered one stays
    // out as well.
    release.serial = 12;
    release.files["Tesmo"] = main11 + "# 12\n";
    server.serve("/tesmo_auto/Tesmo", "", 404);
    offer("modx.bin", "modx 12", "124010200");
    const auto before = filesBelow(installDir());
    EXPECT_EQ(runUpdate(client, port, {}, false).end, UpdateEnd::Refused);
    EXPECT_EQ(filesBelow(installDir()), before);
    EXPECT_EQ(storage::readSetting(storage::keys::release_serial), "11");
}

// Release B (serial 11) is installed. Only that very list passes again at serial 11 (the run
// after a kill); older files signed as serial 11 are refused, also when one of the two records
// of the installed release is gone.
TEST_F(Updater, ASerialPassesAgainOnlyWithTheListInstalledLast) {
    const std::map<std::string, std::string> releaseA = {{"Tesmo", "#!/bin/sh\n# A\n"},
                                                         {"modx.bin", "modx A"}};
    const std::map<std::string, std::string> releaseB = {{"Tesmo", "#!/bin/sh\n# B\n"},
                                                         {"modx.bin", "modx B"}};
    release.serial = 11;
    for (const auto &[name, bytes] : releaseB)
        offer(name, bytes, "124010100");
    ASSERT_EQ(runUpdate(client, port, {}, false).end, UpdateEnd::Installed);
    const std::string listB = release.manifest();

    const std::string sameSerial =
        "エラーが発生しました。\r\n詳細:インストール済みのリリースと同じ serial の、"
        "内容の異なるファイル一覧です (serial 11)";
    struct Case {
        const char *what;
        std::map<std::string, std::string> files;
        std::function<void()> alsoDo;
        UpdateEnd end;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"the same list again", releaseB, [] {}, UpdateEnd::Installed, ""},
        {"older files signed as serial 11", releaseA, [] {}, UpdateEnd::Refused, sameSerial},
        {"... with the user's settings deleted", releaseA,
         [] { fs::remove(storage::settingsFilePath(storage::updaterStateAppName())); },
         UpdateEnd::Refused, sameSerial},
        {"... with the list beside the programs deleted", releaseA,
         [] { fs::remove(installPath(kInstalledListFile)); }, UpdateEnd::Refused, sameSerial},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        storage::writeSetting(storage::keys::release_serial, "11");
        storage::writeSetting(storage::keys::release_digest, crypto::sha256Hex(listB));
        writeFile(installPath(kInstalledListFile), listB);
        c.alsoDo();
        release.files.clear();
        for (const auto &[name, bytes] : c.files)
            offer(name, bytes, "124010200");
        const auto before = filesBelow(installDir());
        port.messages.clear();

        const UpdaterResult r = runUpdate(client, port, {}, false);
        EXPECT_EQ(r.end, c.end) << r.message;
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.installed, 0);
        EXPECT_EQ(filesBelow(installDir()), before);
    }
}

// A link planted in the download folder receives nothing, and a download left there that
// differs from the signed list (a stale or tampered one of the same size) is fetched again.
TEST_F(Updater, DownloadFolderIsNeitherWrittenThroughNorTrusted) {
    fs::create_directories(installPath(kDownloadFolder));
    writeFile(env.path("elsewhere"), "somebody else's file");
    fs::create_symlink(env.path("elsewhere"), download("modx.bin"));
    offer("modx.bin", "modx new", "124010100");
    offer("lib.dat", "library 2", "124010100");
    writeFile(download("lib.dat"), "library X");

    const UpdaterResult r = runUpdate(client, port, {}, false);
    ASSERT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(fileBytes(env.path("elsewhere")), "somebody else's file");
    EXPECT_EQ(fileBytes(installPath("modx.bin")), "modx new");
    EXPECT_EQ(fileBytes(installPath("lib.dat")), "library 2");
    EXPECT_EQ(server.hits("/tesmo_auto/lib.dat"), 1);
    EXPECT_FALSE(fs::is_symlink(download("modx.bin")));
    // Only files stay: the folder of the run went with it.
    for (const auto &entry : fs::directory_iterator(installPath(kDownloadFolder)))
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
}

// A release larger than the free space is refused before anything is fetched or written.
TEST_F(Updater, FullDiskIsToldBeforeAnythingIsWritten) {
    const std::string list = "serial 3\n" + crypto::sha256Hex("x") + " 900000000000000 big.dat\n";
    server.serve("/tesmo_auto/modules.sha256", list);
    server.serve("/tesmo_auto/modules.sha256.sig", test::developmentSignature(list));
    const std::string app = storage::updaterStateAppName();
    storage::saveSetting(app, storage::kTrgDtSection, "big.dat", "124010100");
    storage::saveSetting(app, storage::kTrgSzSection, "big.dat", "900000000000000");
    const auto before = filesBelow(installDir());

    const UpdaterResult r = runUpdate(client, port, {}, false);
    EXPECT_EQ(r.end, UpdateEnd::Failed);
    EXPECT_EQ(r.message.rfind("エラーが発生しました\r\n詳細:ディスクの空き容量が足りません (", 0),
              0u)
        << r.message;
    EXPECT_EQ(server.hits("/tesmo_auto/big.dat"), 0);
    EXPECT_EQ(filesBelow(installDir()), before);
}

TEST_F(Updater, StartRemovesTheCopiesOfAKilledInstall) {
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = ".new-" + std::to_string(gone);
    const std::string alive = ".new-" + std::to_string(::getpid());
    const std::string database = env.path("data/my.mdb");
    fs::create_directories(env.path("data"));
    storage::writeSetting(storage::keys::mdbpath, database);
    const std::string deadOld = ".old-" + std::to_string(gone);
    for (const std::string &path : {installPath(".Tesmo" + dead), env.path("data/.my.mdb" + dead),
                                    installPath(".Tesmo" + alive), installPath(".settings"),
                                    installPath("notes" + dead), installPath(".Tesmo" + deadOld)})
        writeFile(path, "x");

    EXPECT_EQ(runUpdate(client, port).end, UpdateEnd::NothingNew);
    EXPECT_FALSE(fs::exists(installPath(".Tesmo" + dead)));
    EXPECT_FALSE(fs::exists(installPath(".Tesmo" + deadOld)));
    EXPECT_FALSE(fs::exists(env.path("data/.my.mdb" + dead)));
    EXPECT_TRUE(fs::exists(installPath(".Tesmo" + alive))); // an install that still runs
    EXPECT_TRUE(fs::exists(installPath(".settings")));
    EXPECT_TRUE(fs::exists(installPath("notes" + dead)));
}

TEST_F(Updater, SizeMismatchOfTheDatabaseLeavesItUntouched) {
    writeFile(installPath("tesmo.mdb"), "the user's data");
    offer("tesmo.mdb", "truncated", "124020100", 20000000);
    EXPECT_EQ(runUpdate(client, port).end, UpdateEnd::Refused);
    EXPECT_EQ(fileBytes(installPath("tesmo.mdb")), "the user's data");
    EXPECT_FALSE(fs::exists(installPath("tesmo.mbk")));
}

TEST_F(Updater, FileNamesThatLeaveTheFolderAreRefused) {
    for (const std::string name :
         {"../escaped.dat", "/tmp/tesmo-absolute.dat", "sub/dir.dat", "..", "..\\win.dat"}) {
        SCOPED_TRACE(name);
        const std::string app = storage::updaterStateAppName();
        try {
            storage::deleteSettingSection(app, storage::kTrgDtSection);
        } catch (const storage::SettingsError &) {
        }
        port.messages.clear();
        storage::saveSetting(app, storage::kTrgDtSection, name, "124010100");
        storage::saveSetting(app, storage::kTrgSzSection, name, "4");
        const UpdaterResult r = runUpdate(client, port);
        EXPECT_EQ(r.end, UpdateEnd::Refused);
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.messages[0].text,
                  "エラーが発生しました。\r\n詳細:invalid file name=" + name);
        EXPECT_EQ(r.mainProgram, -1);
    }
    EXPECT_FALSE(fs::exists(env.path("install/escaped.dat")));
    EXPECT_FALSE(fs::exists(env.path("escaped.dat")));
    EXPECT_FALSE(fs::exists("/tmp/tesmo-absolute.dat"));
    EXPECT_FALSE(fs::exists(installPath("sub")));
}

TEST_F(Updater, FailedDownloadIsReportedAndNothingIsStarted) {
    const std::string app = storage::updaterStateAppName();
    storage::saveSetting(app, storage::kTrgDtSection, "Missing.dat", "124010100");
    storage::saveSetting(app, storage::kTrgSzSection, "Missing.dat", "10");
    const UpdaterResult r = runUpdate(client, port);
    EXPECT_EQ(r.end, UpdateEnd::Refused);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text.rfind("エラーが発生しました。\r\n詳細:", 0), 0u);
    EXPECT_FALSE(fs::exists(installPath("Missing.dat")));
    EXPECT_EQ(r.mainProgram, -1);
}

TEST_F(Updater, FileThatCannotBeInstalledEndsWithoutTheFinalStop) {
    storage::writeSetting(storage::keys::mdbpath, env.path("no such folder/tesmo.mdb"));
    offer("tesmo.mdb", "new database", "124020100");
    const UpdaterResult r = runUpdate(client, port);
    EXPECT_EQ(r.end, UpdateEnd::Failed);
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text.rfind("エラーが発生しました\r\n詳細:", 0), 0u);
    EXPECT_EQ(port.messages[0].text.find("。"), std::string::npos);
    EXPECT_TRUE(sectionsLeft());
    EXPECT_EQ(r.mainProgram, -1);
}

TEST_F(Updater, NewMainProgramKeepsItsExecuteBitAndIsTheOneStarted) {
    ::chmod(installPath(kMainProgram).c_str(), 0750);
    offer(kMainProgram, "#!/bin/sh\ntouch \"$(dirname \"$0\")/new_version_started\"\n",
          "124010100");
    offer("readme.txt", "plain text", "124010100");
    const UpdaterResult r = runUpdate(client, port);
    ASSERT_EQ(r.end, UpdateEnd::Installed) << r.message;
    EXPECT_EQ(fs::status(installPath(kMainProgram)).permissions() & fs::perms::mask,
              fs::perms(0750));
    EXPECT_EQ(fs::status(installPath("readme.txt")).permissions() & fs::perms::owner_exec,
              fs::perms::none);
    EXPECT_TRUE(appears(installPath("new_version_started")));
    // No temporary copies stay behind.
    for (const auto &entry : fs::directory_iterator(installDir()))
        EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos);
}

// Whole or nothing without a kill: a failure before the journal leaves every file as it was.
TEST(InstallRelease, GoesInWholeOrLeavesEveryFileAsItWas) {
    test::TempEnv env;
    const std::string list = "serial 4\n";
    const std::string elf("\x7f"
                          "ELF\x02\x01",
                          6);
    writeFile(env.path("elf"), elf);
    writeFile(env.path("new"), "new");
    writeFile(env.path("changed"), "changed");
    writeFile(installPath("keep"), "old");
    writeFile(installPath("gone"), "x");
    const auto unchanged = filesBelow(installDir());
    const std::vector<std::pair<const char *, std::vector<InstallStep>>> failing = {
        {"a source that is missing",
         {{installPath("program"), env.path("elf"), {}},
          {installPath("keep"), env.path("missing"), {}}}},
        {"a source that is not what was checked",
         {{installPath("program"), env.path("elf"), {}},
          {installPath("keep"), env.path("changed"), crypto::sha256Hex("new")}}},
        {"a target named twice",
         {{installPath("keep"), env.path("new"), {}}, {installPath("keep"), {}, {}}}},
        {"a path with a line break", {{installPath("new\nline"), env.path("new"), {}}}},
    };
    for (const auto &[what, steps] : failing) {
        SCOPED_TRACE(what);
        EXPECT_THROW(installRelease(steps, list), std::runtime_error);
        EXPECT_EQ(filesBelow(installDir()), unchanged);
        EXPECT_EQ(storage::readSetting(storage::keys::release_serial), "0");
    }

    installRelease({{installPath("program"), env.path("elf"), crypto::sha256Hex(elf)},
                    {installPath("keep"), env.path("new"), {}},
                    {installPath("gone"), {}, {}}},
                   list);
    EXPECT_EQ(filesBelow(installDir()),
              (std::map<std::string, std::string>{{installPath("program"), elf},
                                                  {installPath("keep"), "new"},
                                                  {installPath(kInstalledListFile), list}}));
    EXPECT_NE(fs::status(installPath("program")).permissions() & fs::perms::owner_exec,
              fs::perms::none);
    EXPECT_EQ(storage::readSetting(storage::keys::release_serial), "4");
    EXPECT_EQ(storage::readSetting(storage::keys::release_digest), crypto::sha256Hex(list));
    EXPECT_EQ(installedRelease().serial, 4);
}

TEST(SplashClock, StartsAfterTwelveSecondsAndGivesUpAfterTwentyMinutes) {
    SplashClock clock;
    for (int i = 1; i < 12; ++i)
        ASSERT_EQ(clock.tick(), SplashClock::Action::None) << i;
    EXPECT_EQ(clock.tick(), SplashClock::Action::RunUpdate);
    EXPECT_EQ(clock.intervalMs(), 60000);
    for (int i = 1; i < 20; ++i)
        ASSERT_EQ(clock.tick(), SplashClock::Action::None) << i;
    EXPECT_EQ(clock.tick(), SplashClock::Action::GiveUp);
}

} // namespace
