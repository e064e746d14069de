// tesmoctl's fetch and version-check, run as a user would run them.
#include "core/storage/settings_store.h"
#include "core/update/release_install.h"
#include "core/update/release_manifest.h"
#include "support/signed_release.h"
#include "support/update_site.h"

#include <map>

namespace fs = std::filesystem;
using tesmo::test::fileBytes;

namespace {

class TesmoctlWeb : public tesmo::test::UpdateTest {
protected:
    // The version check looks for the updater beside the running program.
    std::string ctl(const std::string &args, int *status) {
        return env.tesmoctl(args + " 2>/dev/null", status);
    }
};

TEST_F(TesmoctlWeb, VersionCheckPrintsTheSelection) {
    installUpdater();
    publish({{"Tesmo", "2345678", "124010100"},
             {"tesmo.mdb", "20000000", "124020100"},
             {"tesmotesmo.mdb", "21000000", "124020200"}});
    int status = -1;
    EXPECT_EQ(ctl("version-check", &status),
              "Tesmo 2345678 124010100\ntesmo.mdb 20000000 124020100\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ctl("version-check --complete", &status),
              "Tesmo 2345678 124010100\ntesmotesmo.mdb 21000000 124020200\n");
    ctl("version-check --bogus", &status);
    EXPECT_EQ(status, 1);
}

TEST_F(TesmoctlWeb, FetchWritesAFileOrPrintsTheText) {
    server.serve("/page", "\x83\x65\x83\x58\x83\x67"); // テスト in code page 932
    int status = -1;
    EXPECT_EQ(ctl("fetch " + server.url("/page"), &status), "テスト");
    EXPECT_EQ(status, 0);
    const std::string file = env.path("page.bin");
    ctl("fetch " + server.url("/page") + " " + file, &status);
    EXPECT_EQ(status, 0);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\x83\x65\x83\x58\x83\x67");

    tesmo::storage::writeSetting(tesmo::storage::keys::retimes, "0");
    ctl("fetch " + server.url("/missing") + " " + env.path("none"), &status);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists(env.path("none")));
}

} // namespace

// Three releases published by the sample site and installed by tesmoctl install-update: the
// next release with the same sizes goes in over a tampered download of the same size left in
// the download folder; an older release signed again with the installed serial is refused and
// leaves the program folder byte for byte; so is a list signed by another key.
TEST_F(TesmoctlWeb, InstallUpdateInstallsWholeSignedReleasesOnly) {
    using namespace tesmo;
    if (!test::developmentKeyTrusted())
        GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
    installUpdater();
    storage::writeSetting(storage::keys::auto_retimes, "0");
    const auto release = [&](const std::string &dir, const std::string &version) {
        fs::create_directories(dir);
        std::ofstream(dir + "/readme.txt") << "release " + version;
        std::ofstream(dir + "/lib.dat") << "library " + version;
    };
    const std::string r1 = env.path("r1");
    const std::string r2 = env.path("r2");
    release(r1, "1");
    release(r2, "2");
    // The sections the version check leaves, as if it had just run.
    const auto select = [] {
        const std::string app = storage::updaterStateAppName();
        for (const char *name : {"readme.txt", "lib.dat"}) {
            storage::saveSetting(app, storage::kTrgDtSection, name, "124010100");
            storage::saveSetting(app, storage::kTrgSzSection, name, "9");
        }
    };
    const auto programFolder = [] {
        std::map<std::string, std::string> files;
        for (const auto &entry : fs::directory_iterator(installDir()))
            if (entry.is_regular_file())
                files[entry.path().filename().string()] = fileBytes(entry.path().string());
        return files;
    };
    int status = -1;
    {
        test::SampleSiteProcess site({"--release", r1}, env.dir());
        storage::writeSetting(storage::keys::updatesite, site.url());
        const std::string offered = ctl("version-check", &status);
        EXPECT_NE(offered.find("lib.dat 9 "), std::string::npos) << offered;
        EXPECT_NE(offered.find("readme.txt 9 "), std::string::npos) << offered;
        EXPECT_EQ(ctl("install-update --no-start", &status),
                  "2個のファイルをインストールしました。\n");
        EXPECT_EQ(status, 0);
    }
    std::ofstream(installPath("downtemp/readme.txt")) << "tampered!";
    {
        test::SampleSiteProcess site({"--release", r2}, env.dir());
        storage::writeSetting(storage::keys::updatesite, site.url());
        select();
        EXPECT_EQ(ctl("install-update --no-start", &status),
                  "2個のファイルをインストールしました。\n");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(fileBytes(installPath("readme.txt")), "release 2");
        EXPECT_EQ(fileBytes(installPath("lib.dat")), "library 2");
    }

    const std::string serial = std::to_string(
        update::parseReleaseManifest(fileBytes(installPath(update::kInstalledListFile))).serial);
    const std::string developmentKey =
        std::string(TEST_DATA_DIR) + "/../../data/release-test.secret";
    ctl("release-sign " + developmentKey + " " + r1 + " --serial " + serial, &status);
    ASSERT_EQ(status, 0);
    const auto before = programFolder();
    {
        test::SampleSiteProcess site({"--release", r1}, env.dir());
        storage::writeSetting(storage::keys::updatesite, site.url());
        select();
        EXPECT_EQ(ctl("install-update --no-start", &status),
                  "[Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ]\nエラーが発生しました。\n"
                  "詳細:インストール済みのリリースと同じ serial の、内容の異なるファイル一覧です "
                  "(serial " +
                      serial + ")\n");
        EXPECT_EQ(status, 1);
        EXPECT_EQ(programFolder(), before);

        const std::string other = env.path("other.secret");
        ctl("release-keygen " + other + " " + env.path("other.pub"), &status);
        ASSERT_EQ(status, 0);
        // The folder's list has that serial already: a new list needs a higher one.
        std::ofstream(r1 + "/readme.txt") << "release 3";
        ctl("release-sign " + other + " " + r1 + " --serial " + serial, &status);
        EXPECT_EQ(status, 1);
        ctl("release-sign " + other + " " + r1, &status);
        ASSERT_EQ(status, 0);
        select();
        EXPECT_EQ(ctl("install-update --no-start", &status),
                  "[Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ]\nエラーが発生しました。\n"
                  "詳細:署名が一致しません (modules.sha256.sig)\n");
        EXPECT_EQ(status, 1);
        EXPECT_EQ(programFolder(), before);
    }
}
