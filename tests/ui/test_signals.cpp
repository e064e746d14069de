// SIGTERM, SIGHUP and SIGINT end the real programs in whatever state they are, a question or a
// message on the screen included: exit 0, the question unanswered, nothing written for it.
#include "core/storage/settings_keys.h"
#include "support/child_process.h"
#include "support/temp_env.h"
#include "ui/common/session_guard.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <sys/wait.h>

using namespace tesmo;
namespace fs = std::filesystem;
namespace keys = storage::keys;

namespace {

// Whether process `pid` has `path` open.
bool holdsFile(pid_t pid, const std::string &path) {
    std::error_code ec;
    for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        if (fs::read_symlink(fd.path(), ec) == path)
            return true;
    return false;
}

TEST(Signals, EndTheProgramsInEveryStateWithExitZero) {
    const std::string bin = TESMO_BIN_DIR;
    const struct {
        const char *state;
        const char *program;
        int signal;
        const char *portfolioHintAnswered; // usermdbconfirm before the start
        bool opensDatabase;                // the state comes right after the connection
    } cases[] = {
        {"the first-start question", "Tesmo", SIGTERM, "0", true},
        {"the first-start question", "Tesmo", SIGHUP, "0", true},
        {"the first-start question", "Tesmo", SIGINT, "0", true},
        {"the main window", "Tesmo", SIGTERM, "1", true},
        {"the message that the database cannot be opened", "Tesmo", SIGTERM, "1", false},
        {"the updater's splash", "tesmo_auto", SIGTERM, "1", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " at " + c.state + ", signal " +
                     std::to_string(c.signal));
        test::TempEnv env;
        const std::string db = c.opensDatabase ? env.newDatabase() : env.path("missing.mdb");
        storage::writeSetting(keys::mdbpath, db);
        storage::writeSetting(keys::first, "1"); // no help page in a browser
        storage::writeSetting(keys::usermdbconfirm, c.portfolioHintAnswered);
        test::ChildProcess program({bin + "/" + c.program}, env.path("program.log"));
        // Up to the state: the connection is open right before the question; the other states
        // follow within a second of the start.
        if (c.opensDatabase)
            for (int i = 0; i < 1000 && !holdsFile(program.pid(), db); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_FALSE(program.waitFor(std::chrono::milliseconds(0)))
            << "ended by itself: " << test::fileBytes(env.path("program.log"));

        const auto sent = std::chrono::steady_clock::now();
        program.kill(c.signal);
        const std::optional<int> status = program.waitFor(std::chrono::seconds(30));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - sent)
                            .count();
        ASSERT_TRUE(status) << "still running 30 s after the signal";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << test::describeStatus(*status) << "\n"
            << test::fileBytes(env.path("program.log"));
        // The question was not answered: it comes again at the next start.
        EXPECT_EQ(storage::readSetting(keys::usermdbconfirm), c.portfolioHintAnswered);
        std::printf("[ %s at %s: ended %lld ms after signal %d ]\n", c.program, c.state,
                    static_cast<long long>(ms), c.signal);
    }
}

// Signals pour in while the event loop is busy: the handler never blocks the thread it
// interrupts nor changes its errno, and the program ends once the loop runs again.
TEST(Signals, AFloodNeitherBlocksNorChangesErrno) {
    auto ended = std::make_shared<int>(0);
    ui::SessionGuard &guard = ui::SessionGuard::instance();
    guard.install(*qobject_cast<QApplication *>(qApp), [ended] { ++*ended; });
    // Shared with the thread, which outlives the test if the handler blocks.
    auto changed = std::make_shared<std::promise<int>>();
    std::future<int> result = changed->get_future();
    std::thread flood([changed] {
        int count = 0;
        for (int i = 0; i < 20000; ++i) {
            errno = EDOM;
            std::raise(SIGTERM); // to this thread, which runs the handler at once
            count += errno != EDOM;
        }
        changed->set_value(count);
    });
    if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        flood.detach();
        FAIL() << "the signal handler blocked";
    }
    flood.join();
    EXPECT_EQ(result.get(), 0);
    for (int i = 0; i < 500 && *ended == 0; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(*ended, 1);
    guard.reset();
}

} // namespace
