// tesmoctl's fetch and version-check, run as a user would run them.
#include "update_test_env.h"

namespace fs = std::filesystem;

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
