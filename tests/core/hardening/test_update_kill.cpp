// tesmoctl install-update killed with SIGKILL at random moments, killed as soon as its journal
// appears (among the renames), and run out of disk space: after the next start the program
// folder holds the old release or the new one, byte for byte, the database passes SQLite's
// check, and the update run again completes.
#include "support/child_process.h"

#include "core/common/crypto.h"
#include "core/common/paths.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"
#include "core/storage/shipped_database.h"
#include "core/storage/update_lock.h"
#include "core/update/release_install.h"
#include "core/update/update_start.h"
#include "core/update/updater.h"
#include "core/update/version_check.h"
#include "support/signed_release.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>

// Kills: TESMO_CRASH_KILLS at random moments (10 by default), TESMO_AIMED_KILLS as the journal
// appears (3 by default); TESMO_FULL_DISK_RUNS full disks (none by default: they mount a small
// tmpfs and need the right to).

using namespace tesmo;
namespace fs = std::filesystem;
using tesmo::test::ChildProcess;

namespace {

int envCount(const char *name, int fallback) {
    const char *v = std::getenv(name);
    return v && std::atoi(v) >= 0 ? std::atoi(v) : fallback;
}

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

using Digests = std::map<std::string, std::string>;

// A release installed by tesmoctl from a loopback site: three modules of a megabyte or more (so
// that kills land inside their copies), small ones (many of them make the renames take a
// while), and the database. The version check offered one module and the database; the
// signed list brings the rest.
class UpdateRig {
public:
    UpdateRig(const test::TempEnv &env, unsigned smallModules) : m_env(env), m_release(m_site) {
        storage::writeSetting(storage::keys::updatesite, m_site.url(""));
        storage::writeSetting(storage::keys::auto_retimes, "0");
        fs::copy_file(std::string(TESMO_BIN_DIR) + "/tesmoctl", installPath("tesmoctl"));
        for (unsigned i = 0; i < 3; ++i)
            m_modules.push_back({"module" + std::to_string(i) + ".dat", pattern(1'000'000 + i, i),
                                 pattern(1'500'000 + i, 100 + i)});
        for (unsigned i = 0; i < smallModules; ++i)
            m_modules.push_back({"small" + std::to_string(i) + ".dat", pattern(100 + i, 200 + i),
                                 pattern(120 + i, 300 + i)});
        m_database = storage::readSetting(storage::keys::mdbpath);
        m_pristine = env.path("old.mdb");
        storage::createShippedDatabase(m_pristine);
        // As the updater leaves the old file before it replaces it (its log written back), so
        // that the old set compares byte for byte whenever the kill lands.
        storage::settleDatabaseFile(m_pristine);
        storage::createShippedDatabase(env.path("new.mdb"));
        {
            auto db = storage::Database::open(env.path("new.mdb"), storage::kConnectString);
            db->execute("insert into master(CODE,NAME) values('9999','新しい版')");
            db->checkpoint();
        }
        for (const Module &m : m_modules)
            m_release.files[m.name] = m.newBytes;
        m_release.files[update::kDatabaseFile] = test::fileBytes(env.path("new.mdb"));
        m_release.serial = 2;
        m_release.serveFiles();
    }

    // The old release in place, as the version check leaves it for the updater.
    void resetToOld() {
        for (const Module &m : m_modules)
            writeFile(installPath(m.name), m.oldBytes);
        for (const std::string &path : {m_database, installPath(update::kDatabaseBackup)})
            for (const char *suffix : {"", "-wal", "-shm", "-journal"})
                fs::remove(path + suffix);
        fs::copy_file(m_pristine, m_database);
        fs::remove(installPath(update::kInstalledListFile));
        fs::remove_all(installPath(update::kDownloadFolder));
        storage::writeSetting(storage::keys::release_serial, "0");
        storage::writeSetting(storage::keys::release_digest, "");
        const std::string app = storage::updaterStateAppName();
        for (const std::string &name : {m_modules[0].name, std::string(update::kDatabaseFile)}) {
            storage::saveSetting(app, storage::kTrgDtSection, name, "126010100");
            storage::saveSetting(app, storage::kTrgSzSection, name,
                                 std::to_string(m_release.files.at(name).size()));
        }
    }

    std::vector<std::string> command(const char *flag) const {
        return {installPath("tesmoctl"), "install-update", flag};
    }
    std::string log() const { return m_env.path("install-update.log"); }
    // One whole run; its exit status (0 when it installed).
    int run(const char *flag) const {
        ChildProcess child(command(flag), log());
        const int status = child.wait();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // What the next start of any program does; then the folder's digests.
    Digests nextStart() const {
        const int status = run("--recover-only");
        EXPECT_EQ(status, 0) << test::fileBytes(log());
        return digests();
    }

    // SHA-256 of every file in the program folder but tesmoctl, the locks, the downloads, the
    // fetch's temporary files (a kill may leave one, as it may in a data update) and what a
    // test put there to fill the disk.
    Digests digests() const {
        Digests out;
        const std::string databaseLock =
            fs::path(storage::UpdateLock::lockFileFor(m_database)).filename().string();
        for (const auto &entry : fs::directory_iterator(installDir())) {
            const std::string name = entry.path().filename().string();
            if (name == "tesmoctl" || name == update::kLockFile || name == databaseLock ||
                name == update::kDownloadFolder || name == "filler" || name.ends_with(".tmp"))
                continue;
            out[name] = entry.is_symlink() ? "link" : crypto::sha256FileHex(entry.path());
        }
        return out;
    }
    // How many module files are the new ones.
    int newModules() const {
        int fresh = 0;
        for (const Module &m : m_modules)
            fresh += test::fileBytes(installPath(m.name)) == m.newBytes;
        return fresh;
    }
    int modules() const { return static_cast<int>(m_modules.size()); }
    // The module renamed into place first (the list is in name order).
    const std::string &firstModule() const { return m_modules.front().name; }
    // SQLite's check of the database, on a copy: opening the file itself would leave a
    // write-ahead log and shared memory beside it in the program folder.
    std::string integrityCheck() const {
        const std::string copy = m_env.path("check.mdb");
        fs::copy_file(m_database, copy, fs::copy_options::overwrite_existing);
        const std::string result = test::integrityCheck(copy);
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(copy + suffix);
        return result;
    }

private:
    struct Module {
        std::string name;
        std::string oldBytes;
        std::string newBytes;
    };
    const test::TempEnv &m_env;
    test::HttpTestServer m_site;
    test::SignedRelease m_release;
    std::vector<Module> m_modules;
    std::string m_database;
    std::string m_pristine;
};

// The old and the new set, and how long one whole install takes here.
struct Sets {
    Digests oldSet;
    Digests newSet;
    long long spanUs = 0;
};

Sets measure(UpdateRig &rig) {
    Sets sets;
    rig.resetToOld();
    sets.oldSet = rig.digests();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(rig.run("--no-start"), 0) << test::fileBytes(rig.log());
    sets.spanUs = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
    sets.newSet = rig.digests();
    EXPECT_NE(sets.oldSet, sets.newSet);
    return sets;
}

// After an interrupted run: the next start leaves the old or the new set (which one is
// returned: 0 old, 1 new, -1 neither), the database is whole, and a rerun installs.
int checkAfterInterruption(UpdateRig &rig, const Sets &sets, const std::string &when) {
    const Digests after = rig.nextStart();
    const int which = after == sets.oldSet ? 0 : after == sets.newSet ? 1 : -1;
    EXPECT_NE(which, -1) << "neither set after " << when;
    EXPECT_EQ(rig.integrityCheck(), "ok") << "after " << when;
    EXPECT_EQ(rig.run("--no-start"), 0) << test::fileBytes(rig.log());
    EXPECT_EQ(rig.digests(), sets.newSet) << "the rerun after " << when;
    return which;
}

// Files created or renamed into the program folder, as they come.
class FolderWatch {
public:
    FolderWatch() : m_fd(::inotify_init1(IN_CLOEXEC)) {
        ::inotify_add_watch(m_fd, installDir().c_str(), IN_CREATE | IN_MOVED_TO);
    }
    ~FolderWatch() { ::close(m_fd); }
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // Waits (at most 30 seconds) for a name that passes `match`.
    bool waitFor(const std::function<bool(const std::string &)> &match) {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            for (ssize_t at = 0; n > 0 && at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buf + at);
                if (event->len > 0 && match(event->name))
                    return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int m_fd;
};

} // namespace

TEST(UpdateKill, ProgramFolderHoldsOneWholeReleaseAfterEveryKill) {
    if (!test::developmentKeyTrusted())
        GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
    test::TempEnv env;
    UpdateRig rig(env, 24);
    const Sets sets = measure(rig);

    int newAfterKill = 0;
    int journalsLeft = 0;
    const test::RandomKills run = test::killAtRandomMoments(
        sets.spanUs,
        [&rig](int) {
            rig.resetToOld();
            return rig.command("--no-start");
        },
        rig.log(),
        [&](int, long long after) {
            journalsLeft += fs::exists(installPath(update::kJournalFile));
            newAfterKill += checkAfterInterruption(
                                rig, sets, "a kill at " + std::to_string(after) + " us") == 1;
        });
    std::printf("[ random kills: %d of %d runs killed midway, %d left a journal, %d found the new "
                "set at the next start, TESMO_CRASH_SEED=%u ]\n",
                run.killedMidway, run.kills, journalsLeft, newAfterKill, run.seed);
}

// Killed as the first new module is renamed into place, the run is among its renames: the
// folder holds old and new modules side by side until the next start, which finishes the
// install; or undoes it when a staged copy was changed in the meantime.
TEST(UpdateKill, KillAmongTheRenamesIsFinishedOrUndoneAtTheNextStart) {
    if (!test::developmentKeyTrusted())
        GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
    test::TempEnv env;
    UpdateRig rig(env, 60);
    const Sets sets = measure(rig);
    const int kills = envCount("TESMO_AIMED_KILLS", 3);
    // Before the next start: no module renamed yet, old and new side by side, all renamed.
    int before = 0;
    int midway = 0;
    int after = 0;
    int undone = 0;
    int killed = 0;
    for (int k = 0; k < kills; ++k) {
        SCOPED_TRACE("aimed kill " + std::to_string(k + 1));
        rig.resetToOld();
        {
            FolderWatch watch;
            ChildProcess child(rig.command("--no-start"), rig.log());
            watch.waitFor([&rig](const std::string &name) { return name == rig.firstModule(); });
            child.kill(SIGKILL);
            const int status = child.wait();
            killed += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        }
        const int renamed = rig.newModules();
        (renamed == 0 ? before : renamed == rig.modules() ? after : midway) += 1;
        // Every other time a staged copy that is still waiting is changed: the install cannot
        // be finished as it was checked, so it is undone.
        bool tampered = false;
        if (k % 2 == 1)
            for (const auto &entry : fs::directory_iterator(installDir()))
                if (!tampered &&
                    entry.path().filename().string().find(".new-") != std::string::npos) {
                    std::fstream f(entry.path(), std::ios::in | std::ios::out | std::ios::binary);
                    f.seekp(0);
                    f.put('!');
                    tampered = true;
                }
        const int which = checkAfterInterruption(rig, sets, "an aimed kill");
        if (tampered) {
            EXPECT_EQ(which, 0);
            ++undone;
        }
    }
    std::printf("[ aimed kills: %d of %d killed as the first module was renamed; modules renamed "
                "until then: none %d, some (old and new side by side) %d, all %d; %d undone "
                "after a staged copy changed ]\n",
                killed, kills, before, midway, after, undone);
}

// The disk fills up while the install runs, at a random moment or as its first staged copy
// appears: the run fails saying so, and the next start leaves one whole set.
TEST(UpdateKill, FullDiskLeavesOneWholeRelease) {
    const int runs = envCount("TESMO_FULL_DISK_RUNS", 0);
    if (runs == 0)
        GTEST_SKIP() << "TESMO_FULL_DISK_RUNS=N fills a small tmpfs N times";
    if (!test::developmentKeyTrusted())
        GTEST_SKIP() << "this build trusts another release key than data/release-test.pub";
    test::TempEnv env;
    const std::string mount = env.path("install");
    // tesmoctl, both sets, the downloads and the staged copies, with a little room to spare.
    const long long room =
        static_cast<long long>(fs::file_size(std::string(TESMO_BIN_DIR) + "/tesmoctl")) +
        24'000'000;
    if (std::system(("mount -t tmpfs -o size=" + std::to_string(room) + " tmpfs '" + mount +
                     "' 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string dir;
        ~Unmount() { std::system(("umount -l '" + dir + "'").c_str()); }
    } unmount{mount};
    UpdateRig rig(env, 24);
    const Sets sets = measure(rig);
    const unsigned seed = test::crashSeed();
    std::mt19937 rng(seed);
    long long window = sets.spanUs;
    int failedFull = 0;
    // A run that ended before the disk was full does not count, up to three times the runs.
    for (int k = 0; k < 3 * runs && failedFull < runs; ++k) {
        const bool atStaging = k % 2 == 1;
        const long long after = std::uniform_int_distribution<long long>(0, window)(rng);
        const std::string when =
            atStaging ? "the first staged copy" : std::to_string(after) + " us";
        SCOPED_TRACE("full disk at " + when + ", TESMO_CRASH_SEED=" + std::to_string(seed));
        rig.resetToOld();
        int code = -1;
        {
            FolderWatch watch;
            ChildProcess child(rig.command("--no-start"), rig.log());
            if (atStaging)
                watch.waitFor([](const std::string &name) {
                    return name[0] == '.' && name.find(".new-") != std::string::npos;
                });
            else
                std::this_thread::sleep_for(std::chrono::microseconds(after));
            std::ofstream filler(installPath("filler"), std::ios::binary);
            const std::string block(1 << 16, '\0');
            while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
                filler.flush();
            const int status = child.wait();
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::string log = test::fileBytes(rig.log());
        if (code != 0) {
            EXPECT_NE(log.find(update::kDiskFull), std::string::npos) << log;
            ++failedFull;
        } else if (!atStaging) {
            window = std::max<long long>(after * 3 / 4, 1);
        }
        while (!log.empty() && log.back() == '\n')
            log.pop_back();
        std::printf("[ full disk at %s: exit %d, %s ]\n", when.c_str(), code,
                    log.substr(log.rfind('\n') + 1).c_str());
        const Digests atNextStart = rig.nextStart();
        EXPECT_TRUE(atNextStart == sets.oldSet || atNextStart == sets.newSet)
            << "with the disk still full";
        fs::remove(installPath("filler"));
        checkAfterInterruption(rig, sets, "a full disk");
    }
    EXPECT_EQ(failedFull, runs) << "TESMO_CRASH_SEED=" << seed;
    std::printf("[ full disks: %d runs ran out of room and said so, TESMO_CRASH_SEED=%u ]\n",
                failedFull, seed);
}
