// tesmoctl's fetch and version-check, run as a user would run them.
#include "storage/settings_store.h"
#include "support/signed_release.h"
#include "update_test_env.h"

namespace fs = std::filesystem;
using tesmo::test::readFile;

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

// The sample site publishes a folder as a signed release; tesmoctl install-update installs it
// beside tesmoctl, and refuses a file changed after signing and a list signed by another key.
TEST_F(TesmoctlWeb, InstallUpdateInstallsOnlyTheSignedRelease) {
    if (!tesmo::test::developmentKeyTrusted())
        GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
    installUpdater();
    const std::string release = env.path("release");
    fs::create_directories(release);
    std::ofstream(release + "/readme.txt") << "release 2";
    std::ofstream(release + "/lib.dat") << "library 2";
    tesmo::test::SampleSiteProcess site({"--release", release, "--serial", "2"}, env.dir());
    tesmo::storage::writeSetting(tesmo::storage::keys::updatesite, site.url());
    tesmo::storage::writeSetting(tesmo::storage::keys::auto_retimes, "0");
    int status = -1;
    // The sections the version check leaves, as if it had just run.
    const auto select = [&] {
        const std::string app = tesmo::storage::updaterStateAppName();
        for (const char *name : {"readme.txt", "lib.dat"}) {
            tesmo::storage::saveSetting(app, tesmo::storage::kTrgDtSection, name, "124010100");
            tesmo::storage::saveSetting(app, tesmo::storage::kTrgSzSection, name, "9");
        }
        fs::remove_all(tesmo::installPath("downtemp"));
    };

    const std::string offered = ctl("version-check", &status);
    EXPECT_NE(offered.find("lib.dat 9 "), std::string::npos) << offered;
    EXPECT_NE(offered.find("readme.txt 9 "), std::string::npos) << offered;
    EXPECT_EQ(ctl("install-update --no-start", &status), "2個のファイルをインストールしました。\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(tesmo::installPath("readme.txt")), "release 2");
    EXPECT_EQ(readFile(tesmo::installPath("lib.dat")), "library 2");

    std::ofstream(release + "/readme.txt") << "tampered!"; // after the site signed it
    select();
    EXPECT_EQ(ctl("install-update --no-start", &status),
              "[Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ]\nエラーが発生しました。\n"
              "詳細:署名されたファイル一覧と内容が異なります: readme.txt\n");
    EXPECT_EQ(status, 1);

    const std::string other = env.path("other.secret");
    ctl("release-keygen " + other + " " + env.path("other.pub"), &status);
    ASSERT_EQ(status, 0);
    ctl("release-sign " + other + " " + release + " --serial 3", &status);
    ASSERT_EQ(status, 0);
    select();
    EXPECT_EQ(ctl("install-update --no-start", &status),
              "[Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ]\nエラーが発生しました。\n"
              "詳細:署名が一致しません (modules.sha256.sig)\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(readFile(tesmo::installPath("readme.txt")), "release 2");
}
