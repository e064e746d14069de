// The updater's checked install killed with SIGKILL at random moments: every installed file is
// then either the old version or the whole new one, the database opens and passes SQLite's
// check, and the update run again installs everything and sweeps the temporary copies away.
#include "support/child_process.h"

#include "acquire/http_fetch.h"
#include "common/paths.h"
#include "storage/connection.h"
#include "storage/database.h"
#include "storage/settings_keys.h"
#include "storage/settings_store.h"
#include "storage/shipped_database.h"
#include "support/recording_port.h"
#include "support/signed_release.h"
#include "support/temp_env.h"
#include "update/update_start.h"
#include "update/updater.h"
#include "update/version_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <thread>

using namespace tesmo;
namespace fs = std::filesystem;
using tesmo::test::ChildProcess;

namespace {

// Modules of a megabyte or more, so that a copy takes long enough for kills to land inside it.
struct Module {
    std::string name;
    std::string oldBytes;
    std::string newBytes;
};

std::string pattern(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char &c : s)
        c = static_cast<char>(rng());
    return s;
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The files that the updater state lists, in the order it installs them.
void recordSelection(const std::vector<std::pair<std::string, long long>> &files) {
    const std::string app = storage::updaterStateAppName();
    for (const auto &[name, size] : files) {
        storage::saveSetting(app, storage::kTrgDtSection, name, "126010100");
        storage::saveSetting(app, storage::kTrgSzSection, name, std::to_string(size));
    }
}

// Which version of the database is at `path`: 0 the old, 1 the new; -1 when it cannot be read.
int databaseVersion(const std::string &path) {
    try {
        auto db = storage::Database::open(path, storage::kConnectString);
        return static_cast<int>(
            db->scalar("select count(*) from master where CODE = '9999'").toInt());
    } catch (const std::exception &) {
        return -1;
    }
}

} // namespace

// The temporary copies of installs in the install folder.
int temporaryCopies() {
    int copies = 0;
    for (const auto &entry : fs::directory_iterator(installDir()))
        copies += entry.path().filename().string().find(".new-") != std::string::npos;
    return copies;
}

TEST(UpdateKill, InstalledFilesAreOldOrNewAfterEveryKill) {
    if (!test::developmentKeyTrusted())
        GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
    test::TempEnv env;
    // The update site serves only the signed list: the files are downloaded already.
    test::HttpTestServer site;
    test::SignedRelease release(site);
    storage::writeSetting(storage::keys::updatesite, site.url(""));
    const std::string download = installPath(update::kDownloadFolder);
    fs::create_directories(download);
    std::vector<Module> modules;
    for (unsigned i = 0; i < 3; ++i)
        modules.push_back({"module" + std::to_string(i) + ".dat", pattern(1'000'000 + i, i),
                           pattern(1'500'000 + i, 100 + i)});

    // The database: the old one in use at mdbpath, the new one (with a stock the old one lacks)
    // downloaded. Both whole files, without a log beside them.
    const std::string database = storage::readSetting(storage::keys::mdbpath);
    const std::string pristine = env.path("old.mdb");
    storage::createShippedDatabase(pristine);
    storage::createShippedDatabase(env.path("new.mdb"));
    {
        auto db = storage::Database::open(env.path("new.mdb"), storage::kConnectString);
        db->execute("insert into master(CODE,NAME) values('9999','新しい版')");
        db->checkpoint();
    }
    fs::copy_file(env.path("new.mdb"), joinPath(download, update::kDatabaseFile));

    std::vector<std::pair<std::string, long long>> selection;
    for (const Module &m : modules) {
        writeFile(joinPath(download, m.name), m.newBytes);
        selection.emplace_back(m.name, static_cast<long long>(m.newBytes.size()));
        release.files[m.name] = m.newBytes;
    }
    selection.insert(
        selection.begin() + 1,
        {update::kDatabaseFile, static_cast<long long>(fs::file_size(env.path("new.mdb")))});
    release.files[update::kDatabaseFile] = test::readText(env.path("new.mdb"));

    auto resetToOld = [&] {
        for (const Module &m : modules)
            writeFile(installPath(m.name), m.oldBytes);
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            fs::remove(database + suffix);
        fs::remove(installPath(update::kDatabaseBackup));
        fs::copy_file(pristine, database);
        recordSelection(selection);
    };
    auto runUpdate = [] {
        test::RecordingPort port;
        acquire::HttpClient client;
        return update::runUpdate(client, port);
    };

    // How long one whole install takes here: the kills are spread over that span.
    resetToOld();
    const auto started = std::chrono::steady_clock::now();
    {
        ChildProcess child([&] { return runUpdate().end == update::UpdateEnd::Installed ? 0 : 1; });
        ASSERT_EQ(child.wait(), 0);
    }
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);

    const unsigned seed = test::crashSeed();
    std::mt19937 rng(seed);
    long long window = span.count();
    const int kills = test::crashKills();
    int killedMidway = 0;
    int leftovers = 0;
    // A busy machine makes the first timing a poor guide: an install that ended before its
    // kill narrows the window, and such attempts do not count, up to three times the kills.
    for (int k = 0; k < 3 * kills && killedMidway < kills; ++k) {
        SCOPED_TRACE("attempt " + std::to_string(k + 1) +
                     ", TESMO_CRASH_SEED=" + std::to_string(seed));
        resetToOld();
        const long long after = std::uniform_int_distribution<long long>(0, window)(rng);
        {
            ChildProcess child(
                [&] { return runUpdate().end == update::UpdateEnd::Installed ? 0 : 1; });
            std::this_thread::sleep_for(std::chrono::microseconds(after));
            child.kill(SIGKILL);
            const int status = child.wait();
            if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                ++killedMidway;
            else
                window = std::max<long long>(after * 3 / 4, 1);
        }

        for (const Module &m : modules) {
            std::ifstream in(installPath(m.name), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            EXPECT_TRUE(bytes == m.oldBytes || bytes == m.newBytes)
                << m.name << " is neither version (" << bytes.size() << " bytes) after a kill at "
                << after << " us";
        }
        ASSERT_EQ(test::integrityCheck(database), "ok") << "after a kill at " << after << " us";
        EXPECT_NE(databaseVersion(database), -1);
        if (fs::exists(installPath(update::kDatabaseBackup))) {
            EXPECT_EQ(databaseVersion(installPath(update::kDatabaseBackup)), 0);
        }

        const int copiesAfterKill = temporaryCopies();
        // The selection stays until the update has ended, so running it again finishes the job.
        // (NothingNew: the kill came after the last install, when the selection was gone.)
        const update::UpdaterResult again = runUpdate();
        ASSERT_TRUE(again.end == update::UpdateEnd::Installed ||
                    again.end == update::UpdateEnd::NothingNew)
            << again.message;
        for (const Module &m : modules)
            EXPECT_EQ(fs::file_size(installPath(m.name)), m.newBytes.size()) << m.name;
        EXPECT_EQ(databaseVersion(database), 1);
        leftovers += copiesAfterKill;
        EXPECT_EQ(temporaryCopies(), 0);
    }
    EXPECT_GE(killedMidway, kills / 2) << "TESMO_CRASH_SEED=" << seed;
    std::printf("[ killed %d of %d installs midway, %d temporary copies swept, "
                "TESMO_CRASH_SEED=%u ]\n",
                killedMidway, kills, leftovers, seed);
}
