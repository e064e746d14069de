#include "support/child_process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace tesmo::test {

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &logPath) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

ChildProcess::ChildProcess(const std::function<int()> &body) {
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (m_pid == 0) {
        int rc = 1;
        try {
            rc = body();
        } catch (...) {
        }
        // No exit handlers: they belong to the test process.
        ::_exit(rc);
    }
}

ChildProcess::~ChildProcess() {
    if (!m_reaped) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
}

void ChildProcess::kill(int signal) {
    if (!m_reaped)
        ::kill(m_pid, signal);
}

int ChildProcess::wait() {
    while (!m_reaped) {
        if (::waitpid(m_pid, &m_status, 0) == m_pid)
            m_reaped = true;
        else if (errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    }
    return m_status;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!m_reaped) {
        const pid_t rc = ::waitpid(m_pid, &m_status, WNOHANG);
        if (rc == m_pid)
            m_reaped = true;
        else if (rc < 0 && errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
        else if (std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        else
            ::usleep(10000);
    }
    return m_status;
}

int crashKills() {
    const char *v = std::getenv("TESMO_CRASH_KILLS");
    return v && std::atoi(v) > 0 ? std::atoi(v) : 10;
}

unsigned crashSeed() {
    const char *v = std::getenv("TESMO_CRASH_SEED");
    return v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : std::random_device{}();
}

RandomKills killAtRandomMoments(long long spanUs,
                                const std::function<std::vector<std::string>(int)> &prepare,
                                const std::string &logPath,
                                const std::function<void(int, long long)> &check) {
    RandomKills run;
    run.kills = crashKills();
    run.seed = crashSeed();
    std::mt19937 rng(run.seed);
    long long window = spanUs;
    for (int k = 0; k < 3 * run.kills && run.killedMidway < run.kills; ++k) {
        SCOPED_TRACE("attempt " + std::to_string(k + 1) +
                     ", TESMO_CRASH_SEED=" + std::to_string(run.seed));
        const std::vector<std::string> command = prepare(k);
        if (::testing::Test::HasFatalFailure())
            return run;
        const long long after = std::uniform_int_distribution<long long>(0, window)(rng);
        {
            ChildProcess child(command, logPath);
            std::this_thread::sleep_for(std::chrono::microseconds(after));
            child.kill(SIGKILL);
            const int status = child.wait();
            if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                ++run.killedMidway;
            else
                window = std::max<long long>(after * 3 / 4, 1);
        }
        check(k, after);
        if (::testing::Test::HasFatalFailure())
            return run;
    }
    EXPECT_GE(run.killedMidway, run.kills / 2) << "TESMO_CRASH_SEED=" << run.seed;
    return run;
}

std::string describeStatus(int status) {
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

std::string integrityCheck(const std::string &path) {
    sqlite3 *db = nullptr;
    std::string result;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        result = db ? sqlite3_errmsg(db) : "cannot open";
    } else if (sqlite3_exec(
                   db, "PRAGMA integrity_check",
                   [](void *out, int, char **values, char **) {
                       *static_cast<std::string *>(out) += values[0] ? values[0] : "NULL";
                       return 0;
                   },
                   &result, nullptr) != SQLITE_OK) {
        result += sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    return result;
}

} // namespace tesmo::test
