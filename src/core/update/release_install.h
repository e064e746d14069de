#pragma once
// Installing a release whole or not at all. Every new file is first staged beside the file it
// replaces and flushed, and the file it replaces gets a second name; then a journal that names
// all of them (and holds the signed list) is flushed, and only then are the staged files renamed
// into place. A kill or a full disk before the journal leaves every old file as it was; after
// it, the next start finishes the install from the journal, or undoes it when a staged file is
// no longer what was checked. So the folders hold the old set or the new set, never a mix.
#include <stdexcept>
#include <string>
#include <vector>

namespace tesmo::update {

// Beside the programs (or in the user's data folder while the program folder cannot be
// written): the signed list installed last, the journal of an install in progress and the lock
// that keeps two installs apart. Their names start with the list's name, so that no release can
// list them as files of its own.
inline constexpr const char *kInstalledListFile = "modules.sha256.installed";
inline constexpr const char *kJournalFile = "modules.sha256.journal";
inline constexpr const char *kLockFile = "modules.sha256.lock";

inline constexpr const char *kDiskFull = "ディスクの空き容量が足りません";

// A write that failed because the disk (or the user's quota) is full.
class DiskFull : public std::runtime_error {
public:
    explicit DiskFull(const std::string &path)
        : std::runtime_error(std::string(kDiskFull) + " (" + path + ")") {}
};

// Raises DiskFull when the file systems of `needs` (folder, bytes to write there) lack the
// room, counting folders on one file system together.
void requireFreeSpace(const std::vector<std::pair<std::string, long long>> &needs);

// The release installed last: the larger serial of the record in the user's settings and the
// list kept beside the programs, so that deleting either does not lift the protection against
// older releases. `digest` is the SHA-256 of that signed list, empty when it is not known.
struct InstalledRelease {
    long long serial = 0;
    std::string digest;
};
InstalledRelease installedRelease();

// Whether the file at `path` (not a link to one) has `size` bytes with the SHA-256 `sha256`.
bool fileMatches(const std::string &path, long long size, const std::string &sha256);

// Held while an install or its recovery runs; a second holder waits for nobody: held() is false.
class InstallLock {
public:
    InstallLock();
    ~InstallLock();
    InstallLock(const InstallLock &) = delete;
    InstallLock &operator=(const InstallLock &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// One file of an install: `target` gets the bytes of `source`, or goes when `source` is empty.
// With `sha256` the staged copy must have that digest, or nothing is installed.
struct InstallStep {
    std::string target;
    std::string source;
    std::string sha256;
};

// Installs every step and, with them, `list` (the signed list's text) as the installed release:
// kept beside the programs and its serial and digest in the settings. A staged copy gets the
// permissions of the file it replaces, and execute bits when it is a program (ELF or "#!").
// Raises DiskFull or std::runtime_error; before the journal is written nothing has changed,
// after it the install is finished or undone at once or, failing that, at the next start.
void installRelease(const std::vector<InstallStep> &steps, const std::string &list);

enum class Recovery {
    Nothing,  // no install was interrupted
    Finished, // the interrupted install was completed
    Undone,   // a staged file was lost or changed: the old files are back
    Busy,     // another install runs; it was left alone
};

// Finishes or undoes an install that a kill or a failure interrupted, under `lock`. Raises
// std::runtime_error when the journal cannot be read or neither way can be completed.
Recovery recoverInstall(const InstallLock &lock);

// What every program does at its start: recovers an interrupted install (unless another
// install runs) and removes what killed installs left beside the programs and the database.
// Returns a text for the user when something went wrong, else the empty text.
std::string recoverInstallAtStart(Recovery *what = nullptr);

// Removes from `folder` the staged copies, second names and journal drafts of installs whose
// process no longer runs. Errors are ignored.
void removeInstallLeftovers(const std::string &folder);

} // namespace tesmo::update
