#include "core/storage/update_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace tesmo::storage {
namespace {

struct Held {
    int fd = -1;
    int depth = 0;
};

// The locks this process holds, by lock file. An flock belongs to the open file: a second
// open of the same lock file in this process would be refused by the first one.
std::map<std::string, Held> &heldLocks() {
    static std::map<std::string, Held> held;
    return held;
}

} // namespace

std::string UpdateLock::lockFileFor(const std::string &databasePath) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(databasePath, ec), ec);
    if (ec)
        real = fs::absolute(databasePath);
    return real.string() + ".update-lock";
}

UpdateLock::UpdateLock(const std::string &databasePath) : m_lockFile(lockFileFor(databasePath)) {
    Held &held = heldLocks()[m_lockFile];
    if (held.depth > 0) {
        ++held.depth;
        return;
    }
    // Read-only, so that another user who shares the database can lock a file that the first
    // one made; close-on-exec, so that a program started meanwhile does not inherit it.
    const int fd = ::open(m_lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        const std::string why = std::strerror(errno);
        heldLocks().erase(m_lockFile);
        throw DbError("データ更新のロックファイルを作成できません: " + m_lockFile + " (" + why +
                      ")");
    }
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        ::close(fd);
        heldLocks().erase(m_lockFile);
        throw UpdateRunning();
    }
    held.fd = fd;
    held.depth = 1;
}

UpdateLock::~UpdateLock() {
    auto it = heldLocks().find(m_lockFile);
    if (it == heldLocks().end() || --it->second.depth > 0)
        return;
    ::close(it->second.fd); // releases the flock
    heldLocks().erase(it);
}

} // namespace tesmo::storage
