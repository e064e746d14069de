#include "core/common/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tesmo {
namespace {

bool readAll(int fd, void *buf, size_t len) {
    auto *p = static_cast<char *>(buf);
    while (len > 0) {
        const ssize_t n = ::read(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void writeAll(int fd, const void *buf, size_t len) {
    const auto *p = static_cast<const char *>(buf);
    while (len > 0) {
        const ssize_t n = ::write(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        len -= static_cast<size_t>(n);
    }
}

bool isExecutableFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The program's path: as given when it holds a "/", else the first executable of that name
// in PATH; empty when there is none. Looked up before fork, since execvp may allocate.
std::string resolveProgram(const std::string &program) {
    if (program.find('/') != std::string::npos)
        return program;
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate = dir + "/" + program;
        if (isExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace

long startProcess(const std::string &program, const std::vector<std::string> &args,
                  const std::string &workDir) {
    const std::string file = resolveProgram(program);
    if (file.empty())
        return kStartFailed;
    // Everything the children need is prepared here: between fork and exec only
    // async-signal-safe calls are allowed, and the GUI runs other threads.
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.push_back(program);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char *> argv;
    argv.reserve(storage.size() + 1);
    for (auto &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const char *dir = workDir.empty() ? nullptr : workDir.c_str();

    // The pipe carries the grandchild's pid from the middle child, then an errno from the
    // grandchild when exec fails; a successful exec closes it (O_CLOEXEC) with nothing more.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return kStartFailed;
    const pid_t middle = ::fork();
    if (middle < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return kStartFailed;
    }
    if (middle == 0) {
        ::close(fds[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            int err = 0;
            if (dir && ::chdir(dir) != 0)
                err = errno;
            if (err == 0) {
                ::execv(file.c_str(), argv.data());
                err = errno;
            }
            writeAll(fds[1], &err, sizeof err);
            ::_exit(127);
        }
        const long pid = grandchild;
        writeAll(fds[1], &pid, sizeof pid);
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(fds[1]);
    long pid = kStartFailed;
    int err = 0;
    const bool gotPid = readAll(fds[0], &pid, sizeof pid);
    const bool execFailed = gotPid && readAll(fds[0], &err, sizeof err);
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    if (!gotPid || pid <= 0 || execFailed)
        return kStartFailed;
    return pid;
}

long openTarget(const std::string &target, const std::string &workDir) {
    if (target.empty())
        return kStartFailed;
    if (isExecutableFile(target))
        return startProcess(target.find('/') == std::string::npos ? "./" + target : target, {},
                            workDir);
    return startProcess("xdg-open", {target}, workDir);
}

} // namespace tesmo
