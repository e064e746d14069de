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

// What a run of killAtRandomMoments did, for the test's summary line.
struct RandomKills {
    int kills = 0;        // how many runs were to be killed midway (crashKills())
    int killedMidway = 0; // how many were
    unsigned seed = 0;    // the seed of the delays (crashSeed())
};
// Starts a program again and again and kills it with SIGKILL after a delay drawn from
// [0, spanUs], the length of one whole run measured before. `prepare(attempt)` readies the
// attempt and returns the command line; output goes to `logPath`. `check(attempt, afterUs)`
// looks at what the kill left. A run that ended before its kill does not count and narrows the
// span to three quarters of its delay (a busy machine makes the first timing a poor guide);
// attempts go on until crashKills() runs were killed midway, at most three times as many. At
// least half of them must have been, else the loop tested little. A fatal failure in `check`
// ends the loop.
RandomKills killAtRandomMoments(long long spanUs,
                                const std::function<std::vector<std::string>(int)> &prepare,
                                const std::string &logPath,
                                const std::function<void(int, long long)> &check);

// "exit 0", "killed by signal 9", ...: for failure messages.
std::string describeStatus(int status);

// "ok" when SQLite's integrity check passes the file, else its complaints (or why it would
// not open). Read-only and without the engine, so that nothing repairs the file first.
std::string integrityCheck(const std::string &path);

} // namespace tesmo::test
