#pragma once
// Real child processes for the tests where programs meet (crashes, loads, a shared database,
// signals): started with their output in a file, killed for real and waited for; and SQLite's
// own check of a database file.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tesmo::test {

class ChildProcess {
public:
    // Starts `argv[0]` with the test's environment; stdout and stderr go to `logPath`.
    // Raises std::runtime_error when the program cannot be started.
    ChildProcess(const std::vector<std::string> &argv, const std::string &logPath);
    // Runs `body` in a forked copy of this process, which ends with its result. For core
    // routines that no program of ours runs without a long pause first.
    explicit ChildProcess(const std::function<int()> &body);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }
    void kill(int signal);
    // Waits for the end; the raw status of waitpid().
    int wait();
    // The same, giving up after `limit`: nothing when the process still runs.
    std::optional<int> waitFor(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = 0;
};

// How many kills a crash test makes: TESMO_CRASH_KILLS, else a modest default that keeps the
// suite quick.
int crashKills();
// The seed of the kill moments: TESMO_CRASH_SEED to repeat a run, else a fresh one.
unsigned crashSeed();

// "exit 0", "killed by signal 9", ...: for failure messages.
std::string describeStatus(int status);

// "ok" when SQLite's integrity check passes the file, else its complaints (or why it would
// not open). Read-only and without the engine, so that nothing repairs the file first.
std::string integrityCheck(const std::string &path);

// The body of a small file, for the logs of children.
std::string readText(const std::string &path);

} // namespace tesmo::test
