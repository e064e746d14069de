#include "core/update/release_install.h"

#include "core/common/crypto.h"
#include "core/common/paths.h"
#include "core/storage/settings_keys.h"
#include "core/update/release_manifest.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace tesmo::update {
namespace {

constexpr const char *kJournalHeader = "tesmo install journal 1\n";
// The signed list and a line per file; a journal larger than this was not written by us.
constexpr long long kMaxJournalBytes = 4 * kMaxManifestBytes;
constexpr const char *kStagedDiffers = "コピーしたファイルの内容が確認したものと異なります: ";

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    // Closes now, so that a failing close (a full disk on some file systems) is seen.
    int close() {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

std::string folderOf(const std::string &path) {
    const fs::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : ".";
}

// A full disk names the folder: the file is one of our hidden copies.
[[noreturn]] void throwErrno(const std::string &what, const std::string &path) {
    if (errno == ENOSPC || errno == EDQUOT)
        throw DiskFull(folderOf(path));
    throw std::runtime_error(what + ": " + path + " (" + std::strerror(errno) + ")");
}

bool pathExists(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void removeQuietly(const std::string &path) {
    if (!path.empty())
        ::unlink(path.c_str());
}

void removeOrThrow(const std::string &path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throwErrno("ファイルを削除できません", path);
}

// A name beside `target` that belongs to this process: ".<name><tag><pid>".
std::string siblingName(const std::string &target, const char *tag) {
    return joinPath(folderOf(target),
                    "." + fs::path(target).filename().string() + tag + std::to_string(::getpid()));
}

void syncFolder(const std::string &dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // a folder that cannot be flushed loses nothing that a later flush keeps
        ::close(fd);
    }
}

void writeAll(int fd, const char *data, size_t size, const std::string &path) {
    for (size_t done = 0; done < size;) {
        const ssize_t w = ::write(fd, data + done, size - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            throwErrno("ファイルに書き込めません", path);
        done += static_cast<size_t>(w);
    }
}

// Flushes and closes a file this process wrote; the data is on the disk once this returns.
void finishWrite(FileDescriptor &out, const std::string &path) {
    if (::fsync(out.get()) != 0 || out.close() != 0)
        throwErrno("ファイルに書き込めません", path);
}

// Creates `path` (never over an existing file or through a link) with `bytes`, flushed.
void writeNewSynced(const std::string &path, const std::string &bytes, mode_t mode) {
    FileDescriptor out(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (out.get() < 0)
        throwErrno("ファイルを作成できません", path);
    writeAll(out.get(), bytes.data(), bytes.size(), path);
    finishWrite(out, path);
}

// The SHA-256 of a regular file, read without following a link; empty when it cannot be read.
std::string digestOfFile(const std::string &path, long long *size = nullptr) {
    FileDescriptor in(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (size)
        *size = st.st_size;
    crypto::Sha256 digest;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            return digest.hexDigest();
        digest.update(buf, static_cast<size_t>(n));
    }
}

// The permissions of a staged copy: those of the file it replaces, and execute bits wherever
// it may be read when it is a program.
mode_t stagedMode(const std::string &target, bool program) {
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    if (program)
        mode |= (mode & 0444) >> 2;
    return mode;
}

// Copies `source` into the new file `staged` beside `target`, flushed; returns the digest of
// the bytes written.
std::string stageCopy(const std::string &source, const std::string &staged,
                      const std::string &target) {
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0)
        throwErrno("ファイルを開けません", source);
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("通常のファイルではありません: " + source);
    FileDescriptor out(
        ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0)
        throwErrno("ファイルを作成できません", staged);
    crypto::Sha256 digest;
    bool program = false;
    bool first = true;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throwErrno("ファイルを読めません", source);
        if (n == 0)
            break;
        if (first) {
            program = (n >= 4 && std::memcmp(buf,
                                             "\x7f"
                                             "ELF",
                                             4) == 0) ||
                      (n >= 2 && buf[0] == '#' && buf[1] == '!');
            first = false;
        }
        digest.update(buf, static_cast<size_t>(n));
        writeAll(out.get(), buf, static_cast<size_t>(n), staged);
    }
    if (::fchmod(out.get(), stagedMode(target, program)) != 0)
        throwErrno("属性を設定できません", staged);
    finishWrite(out, staged);
    return digest.hexDigest();
}

// One file of the journal: `target` gets `staged` (checked against `sha256`) or, without a
// staged file, goes; `old` is the second name of the file it replaces (empty: there was none).
struct JournalStep {
    std::string sha256;
    std::string target;
    std::string staged;
    std::string old;
    bool removal() const { return staged.empty(); }
};

struct Journal {
    std::string path;
    std::string list;
    std::vector<JournalStep> steps;
};

std::string formatJournal(const Journal &journal) {
    std::string text = kJournalHeader;
    text += "list " + std::to_string(journal.list.size()) + "\n" + journal.list;
    for (const JournalStep &s : journal.steps)
        text += "step\t" + (s.removal() ? std::string("-") : s.sha256) + "\t" + s.target + "\t" +
                s.staged + "\t" + s.old + "\n";
    return text + "end\n";
}

Journal parseJournal(const std::string &path, const std::string &text) {
    const auto broken = [&path]() {
        return std::runtime_error("中断されたインストールの記録が読めません: " + path);
    };
    Journal journal;
    journal.path = path;
    const std::string header = kJournalHeader;
    const std::string listTag = "list ";
    if (text.rfind(header + listTag, 0) != 0)
        throw broken();
    size_t at = header.size() + listTag.size();
    const size_t lineEnd = text.find('\n', at);
    const std::string count = text.substr(at, lineEnd == std::string::npos ? 0 : lineEnd - at);
    if (count.empty() || count.size() > 9 || count.find_first_not_of("0123456789") != count.npos)
        throw broken();
    const size_t listSize = std::stoul(count);
    at = lineEnd + 1;
    if (text.size() < at + listSize)
        throw broken();
    journal.list = text.substr(at, listSize);
    at += listSize;
    for (;;) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos)
            throw broken();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line == "end")
            break;
        std::vector<std::string> fields;
        for (size_t from = 0;;) {
            const size_t tab = line.find('\t', from);
            fields.push_back(line.substr(from, tab == std::string::npos ? tab : tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        if (fields.size() != 5 || fields[0] != "step" || fields[2].empty() ||
            (fields[3].empty() != (fields[1] == "-")))
            throw broken();
        journal.steps.push_back({fields[1], fields[2], fields[3], fields[4]});
    }
    if (at != text.size())
        throw broken();
    return journal;
}

std::set<std::string> foldersOf(const Journal &journal) {
    std::set<std::string> folders = {folderOf(journal.path)};
    for (const JournalStep &s : journal.steps)
        folders.insert(folderOf(s.target));
    return folders;
}

void syncFolders(const Journal &journal) {
    for (const std::string &dir : foldersOf(journal))
        syncFolder(dir);
}

// Gives the file at `target` (if any) the second name `old`, which keeps its bytes once the
// staged file takes its place: a hard link, or a flushed copy where the file system has none.
std::string keepOld(const std::string &target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return {};
        throwErrno("ファイルを調べられません", target);
    }
    if (S_ISDIR(st.st_mode))
        throw std::runtime_error("同じ名前のフォルダがあるため置き換えられません: " + target);
    std::string old = siblingName(target, ".old-");
    if (::link(target.c_str(), old.c_str()) == 0)
        return old;
    if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP &&
        errno != EOPNOTSUPP)
        throwErrno("ファイルを残せません", target);
    stageCopy(target, old, target);
    return old;
}

void recordInstalled(const std::string &list) {
    const ReleaseManifest manifest = parseReleaseManifest(list);
    storage::writeSetting(storage::keys::release_serial, std::to_string(manifest.serial));
    storage::writeSetting(storage::keys::release_digest, crypto::sha256Hex(list));
}

// Whether every new file is there as it was checked: staged, or already renamed into place.
bool newSetComplete(const Journal &journal) {
    for (const JournalStep &s : journal.steps) {
        if (s.removal())
            continue;
        const std::string &path = pathExists(s.staged) ? s.staged : s.target;
        if (digestOfFile(path) != s.sha256)
            return false;
    }
    return true;
}

void renameIntoPlace(const Journal &journal) {
    for (const JournalStep &s : journal.steps) {
        if (s.removal())
            removeOrThrow(s.target);
        else if (pathExists(s.staged) && ::rename(s.staged.c_str(), s.target.c_str()) != 0)
            throwErrno("ファイルを置き換えられません", s.target);
    }
    syncFolders(journal);
}

// The last step of a finished install: the record, then the journal goes, then the old files.
void completeInstall(const Journal &journal) {
    recordInstalled(journal.list);
    removeOrThrow(journal.path);
    syncFolder(folderOf(journal.path));
    for (const JournalStep &s : journal.steps)
        removeQuietly(s.old);
}

void undoInstall(const Journal &journal) {
    for (auto it = journal.steps.rbegin(); it != journal.steps.rend(); ++it) {
        const JournalStep &s = *it;
        const bool pending = !s.removal() && pathExists(s.staged);
        if (pending)
            removeOrThrow(s.staged);
        if (!s.old.empty()) {
            // Renaming a second name over the first one of the same file changes nothing, so
            // the second name is removed in every case.
            if (pathExists(s.old) && ::rename(s.old.c_str(), s.target.c_str()) != 0)
                throwErrno("元のファイルに戻せません", s.target);
            removeQuietly(s.old);
        } else if (!s.removal() && !pending) {
            removeOrThrow(s.target); // a file that this install added
        }
    }
    syncFolders(journal);
    removeOrThrow(journal.path);
    syncFolder(folderOf(journal.path));
}

// Whether `name` is a staged copy, a second name or a journal draft (".<name>.new-<pid>" or
// ".<name>.old-<pid>"), and the process that made it.
bool installLeftover(const std::string &name, pid_t &pid) {
    if (name.size() < 2 || name[0] != '.')
        return false;
    for (const std::string tag : {".new-", ".old-"}) {
        const size_t at = name.rfind(tag);
        if (at == std::string::npos || at < 2)
            continue;
        const std::string digits = name.substr(at + tag.size());
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid = static_cast<pid_t>(std::stol(digits));
        return true;
    }
    return false;
}

bool processRuns(pid_t pid) {
    return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

void requireFreeSpace(const std::vector<std::pair<std::string, long long>> &needs) {
    // Each need is one file: whole blocks, and a block for its folder entry.
    constexpr unsigned long long kBlock = 4096;
    std::map<dev_t, std::pair<std::string, unsigned long long>> perDevice;
    for (const auto &[folder, bytes] : needs) {
        struct stat st {};
        if (bytes < 0 || ::stat(folder.c_str(), &st) != 0)
            continue;
        auto &slot = perDevice[st.st_dev];
        if (slot.first.empty())
            slot.first = folder;
        slot.second += (static_cast<unsigned long long>(bytes) + 2 * kBlock - 1) / kBlock * kBlock;
    }
    for (const auto &[device, need] : perDevice) {
        struct statvfs v {};
        if (::statvfs(need.first.c_str(), &v) != 0)
            continue;
        // The blocks kept for root count for root only.
        const unsigned long long blocks = ::geteuid() == 0 ? v.f_bfree : v.f_bavail;
        if (blocks * v.f_frsize < need.second)
            throw DiskFull(need.first);
    }
}

InstalledRelease installedRelease() {
    InstalledRelease installed;
    try {
        installed.serial = storage::readSettingInt(storage::keys::release_serial);
    } catch (const std::exception &) {
        // a damaged record says nothing; the list beside the programs may
    }
    installed.digest = storage::readSetting(storage::keys::release_digest);
    try {
        const std::string text = readFileCapped(
            pathFor(FileKind::UpdateDownload, kInstalledListFile), kMaxManifestBytes);
        const long long serial = parseReleaseManifest(text).serial;
        if (serial >= installed.serial) {
            installed.serial = serial;
            installed.digest = crypto::sha256Hex(text);
        }
    } catch (const std::exception &) {
        // no list beside the programs (an install from before it was kept there)
    }
    return installed;
}

bool fileMatches(const std::string &path, long long size, const std::string &sha256) {
    long long actual = -1;
    const std::string digest = digestOfFile(path, &actual);
    return !digest.empty() && actual == size && digest == sha256;
}

InstallLock::InstallLock() {
    const std::string path = pathFor(FileKind::UpdateDownload, kLockFile);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        throwErrno("ファイルを作成できません", path);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return;
        errno = error;
        throwErrno("ファイルをロックできません", path);
    }
    m_fd = fd;
}

InstallLock::~InstallLock() {
    if (m_fd >= 0)
        ::close(m_fd); // the lock goes with the descriptor
}

void installRelease(const std::vector<InstallStep> &steps, const std::string &list) {
    Journal journal;
    journal.path = pathFor(FileKind::UpdateDownload, kJournalFile);
    journal.list = list;
    const std::string draft = siblingName(journal.path, ".new-");
    std::vector<std::string> made; // what goes again when the install stops before its journal
    try {
        std::vector<InstallStep> all = steps;
        all.push_back({pathFor(FileKind::UpdateDownload, kInstalledListFile), {}, {}});
        std::set<std::string> targets;
        for (const InstallStep &s : all) {
            // The journal keeps a file per line and its fields apart with TABs.
            for (const std::string &path : {s.target, s.source})
                if (path.find_first_of("\t\n") != std::string::npos)
                    throw std::runtime_error("TAB か改行を含むパスです: " + path);
            if (!targets.insert(fs::path(s.target).lexically_normal().string()).second)
                throw std::runtime_error("同じファイルを二度置き換えようとしました: " + s.target);
        }
        for (size_t i = 0; i < all.size(); ++i) {
            const InstallStep &s = all[i];
            const bool record = i + 1 == all.size();
            JournalStep step;
            step.target = s.target;
            if (record || !s.source.empty()) {
                step.staged = siblingName(s.target, ".new-");
                made.push_back(step.staged);
                if (record) {
                    writeNewSynced(step.staged, list, 0644);
                    step.sha256 = crypto::sha256Hex(list);
                } else {
                    step.sha256 = stageCopy(s.source, step.staged, s.target);
                    // What is renamed into place is what was checked, even if the source
                    // changed since.
                    if (!s.sha256.empty() && step.sha256 != s.sha256)
                        throw std::runtime_error(kStagedDiffers + s.source);
                }
            } else if (!pathExists(s.target)) {
                continue; // nothing to remove
            }
            step.old = keepOld(s.target);
            made.push_back(step.old);
            journal.steps.push_back(step);
        }
        syncFolders(journal);
        made.push_back(draft);
        writeNewSynced(draft, formatJournal(journal), 0600);
        if (::rename(draft.c_str(), journal.path.c_str()) != 0)
            throwErrno("ファイルを置き換えられません", journal.path);
    } catch (...) {
        for (const std::string &path : made)
            removeQuietly(path);
        throw;
    }
    syncFolder(folderOf(journal.path));
    // From here the journal decides: the new set goes in whole, now or at the next start.
    try {
        renameIntoPlace(journal);
    } catch (...) {
        try {
            undoInstall(journal);
        } catch (const std::exception &) {
            // the next start tries again
        }
        throw;
    }
    completeInstall(journal);
}

Recovery recoverInstall(const InstallLock &lock) {
    if (!lock.held())
        return Recovery::Busy;
    const std::string path = pathFor(FileKind::UpdateDownload, kJournalFile);
    if (!pathExists(path))
        return Recovery::Nothing;
    const Journal journal = parseJournal(path, readFileCapped(path, kMaxJournalBytes));
    if (newSetComplete(journal)) {
        bool renamed = true;
        try {
            renameIntoPlace(journal);
        } catch (const std::exception &) {
            renamed = false;
        }
        if (renamed) {
            completeInstall(journal);
            return Recovery::Finished;
        }
    }
    undoInstall(journal);
    return Recovery::Undone;
}

std::string recoverInstallAtStart(Recovery *what) {
    Recovery recovery = Recovery::Nothing;
    std::string failure;
    try {
        if (pathExists(pathFor(FileKind::UpdateDownload, kJournalFile))) {
            const InstallLock lock;
            recovery = recoverInstall(lock);
        }
        // While another install runs, its journal may still need what it left.
        if (recovery != Recovery::Busy) {
            removeInstallLeftovers(installDir());
            removeInstallLeftovers(folderFor(FileKind::UpdateDownload));
            removeInstallLeftovers(folderOf(storage::readSetting(storage::keys::mdbpath)));
        }
    } catch (const std::exception &e) {
        failure = std::string("中断されたインストールを完了できませんでした: ") + e.what();
    }
    if (what)
        *what = recovery;
    return failure;
}

void removeInstallLeftovers(const std::string &folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        pid_t pid = 0;
        std::error_code typeError;
        if (installLeftover(it->path().filename().string(), pid) && !processRuns(pid) &&
            !it->is_directory(typeError)) {
            std::error_code ignored;
            fs::remove(it->path(), ignored); // what cannot go harms nothing where it is
        }
    }
}

} // namespace tesmo::update
