#include "update/updater.h"

#include "common/paths.h"
#include "common/text.h"
#include "shell/shell_routines.h"
#include "storage/settings_keys.h"
#include "storage/settings_store.h"
#include "update/update_start.h"
#include "update/version_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::update {
namespace {

constexpr const char *kNothingNew = "自動更新できる新しいバージョンアップは\r\nありませんでした。";
// Case B (a download or a size) ends in "。", case D (anything else) does not.
constexpr const char *kRefusedPhrase = "エラーが発生しました。\r\n詳細:";
constexpr const char *kFailedPhrase = "エラーが発生しました\r\n詳細:";

// A download that failed, a size that differs or a name that is refused: ends the update
// like a failed fetch, with `what` shown to the user.
class Refused : public std::runtime_error {
public:
    explicit Refused(const std::string &what) : std::runtime_error(what) {}
};

std::string lowerAscii(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

long long wholeNumber(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || !end || *end != '\0')
        throw std::runtime_error(what + "が数値ではありません: \"" + text + "\"");
    return v;
}

void removeFile(const std::string &path) {
    std::error_code ec;
    fs::remove(path, ec);
    if (ec)
        throw std::runtime_error("ファイルを削除できません: " + path + " (" + ec.message() + ")");
}

void removeWithJournals(const std::string &path) {
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        removeFile(path + suffix);
}

[[noreturn]] void throwErrno(const std::string &what, const std::string &path) {
    throw std::runtime_error(what + ": " + path + " (" + std::strerror(errno) + ")");
}

// Copies `source` to the new file `target` and flushes it to the disk; returns whether the
// copy is a program (starts with an ELF header or "#!").
bool copySynced(const std::string &source, const std::string &target) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throwErrno("ファイルを開けません", source);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        throwErrno("ファイルを作成できません", target);
    }
    bool program = false;
    bool first = true;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(in);
            ::close(out);
            throwErrno("ファイルを読めません", source);
        }
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
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                ::close(in);
                ::close(out);
                throwErrno("ファイルに書き込めません", target);
            }
            done += w;
        }
    }
    ::close(in);
    if (::fsync(out) != 0 || ::close(out) != 0)
        throwErrno("ファイルに書き込めません", target);
    return program;
}

void syncFolder(const fs::path &dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // the rename is durable once the folder is; a failure here loses nothing
        ::close(fd);
    }
}

} // namespace

SplashClock::Action SplashClock::tick() {
    ++m_ticks;
    if (m_interval == kStartInterval) {
        if (m_ticks != 12)
            return Action::None;
        m_interval = kRunningInterval;
        m_ticks = 0;
        return Action::RunUpdate;
    }
    return m_ticks == 20 ? Action::GiveUp : Action::None;
}

void installFileAtomically(const std::string &source, const std::string &target) {
    const fs::path t(target);
    const fs::path dir = t.has_parent_path() ? t.parent_path() : fs::path(".");
    const fs::path temp =
        dir / ("." + t.filename().string() + ".new-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove(temp, ec);
    try {
        const bool program = copySynced(source, temp.string());
        fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
        const auto old = fs::status(t, ec);
        if (!ec && fs::exists(old))
            mode = old.permissions() & fs::perms::mask;
        if (program) {
            // Whoever may read a program may run it.
            if ((mode & fs::perms::owner_read) != fs::perms::none)
                mode |= fs::perms::owner_exec;
            if ((mode & fs::perms::group_read) != fs::perms::none)
                mode |= fs::perms::group_exec;
            if ((mode & fs::perms::others_read) != fs::perms::none)
                mode |= fs::perms::others_exec;
        }
        fs::permissions(temp, mode, ec);
        if (ec)
            throw std::runtime_error("属性を設定できません: " + temp.string() + " (" +
                                     ec.message() + ")");
        // rename() replaces the old file in one step, also a program that is running.
        if (::rename(temp.c_str(), t.c_str()) != 0)
            throwErrno("ファイルを置き換えられません", target);
        syncFolder(dir);
    } catch (...) {
        fs::remove(temp, ec);
        throw;
    }
}

void replaceDatabase(const std::string &source, const std::string &target,
                     const std::string &backup) {
    std::error_code ec;
    if (fs::exists(target, ec)) {
        // The backup is the whole old database: the file and the journal that holds its
        // latest changes, which SQLite applies when the backup is opened.
        removeWithJournals(backup);
        installFileAtomically(target, backup);
        for (const char *suffix : {"-wal", "-journal"}) {
            const std::string journal = target + suffix;
            if (fs::exists(journal, ec) && fs::file_size(journal, ec) > 0)
                installFileAtomically(journal, backup + suffix);
        }
    }
    // An old journal beside the new file would be applied to it and corrupt it.
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        removeFile(target + suffix);
    installFileAtomically(source, target);
}

UpdaterResult runUpdate(acquire::HttpClient &client, UiPort &port,
                        const std::function<bool()> &aborted) {
    using namespace storage;
    UpdaterResult outcome;
    const std::string state = updaterStateAppName();
    try {
        const std::string database = readSetting(keys::mdbpath);
        const std::string download = installPath(kDownloadFolder);
        std::error_code ec;
        fs::create_directories(download, ec);
        if (ec)
            throw std::runtime_error("フォルダを作成できません: " + download + " (" + ec.message() +
                                     ")");

        int count = 0;
        if (const auto entries = getAllSettings(state, kTrgDtSection)) {
            for (const auto &[name, stamp] : *entries) {
                ++count;
                // The name comes from the update site: it must name a file in our folders.
                if (!safeModuleName(name))
                    throw Refused("invalid file name=" + name);
                const long long size = wholeNumber(
                    getSetting(state, kTrgSzSection, name, kTrgSzDefault), "ファイルサイズ");
                const std::string local = joinPath(download, name);
                if (fileExists(local) && fileLength(local) != size)
                    removeFile(local);
                if (!fileExists(local)) {
                    // The name travels in the URL's path, percent-encoded: a blank or a "#"
                    // cannot change which file is asked for.
                    const std::string failure =
                        acquire::FetchToFile(moduleTableUrl() + percentEncoded(name), port, client,
                                             local, acquire::FetchSettings::Updater);
                    if (aborted && aborted())
                        throw UpdateAborted();
                    if (!failure.empty())
                        throw Refused(failure);
                }
                const long long length = fileLength(local);
                if (length != size)
                    throw Refused("size unmatch file=" + name + " size=" + std::to_string(length) +
                                  " web=" + std::to_string(size));

                const std::string lower = lowerAscii(name);
                const std::string target =
                    installPath(lower == kCompleteDatabaseFile ? kDatabaseFile : name);
                if (lower.find(kDatabaseFile) != std::string::npos) {
                    // A database copy in the install folder that is not the one in use goes;
                    // the one in use is replaced below, after its backup.
                    if (fileExists(target) && !fs::equivalent(target, database, ec))
                        removeWithJournals(target);
                    replaceDatabase(local, database, installPath(kDatabaseBackup));
                } else {
                    installFileAtomically(local, target);
                }
                saveSetting(state, kWebcheckSection, lower, stamp);
                ++outcome.installed;
            }
        }

        if (count != 0) {
            port.beep();
        } else {
            port.message(kNothingNew, kUpdaterTitle, MsgIcon::Information, MsgButtons::Ok);
        }
        for (const char *section : {kTrgDtSection, kTrgSzSection}) {
            try {
                deleteSettingSection(state, section);
            } catch (const SettingsError &) {
                // the section was not there
            }
        }
        outcome.mainProgram = shell::shell_open(installPath(kMainProgram), "");
        outcome.end = count != 0 ? UpdateEnd::Installed : UpdateEnd::NothingNew;
    } catch (const UpdateAborted &) {
        outcome.end = UpdateEnd::Aborted;
    } catch (const Refused &e) {
        if (aborted && aborted()) {
            outcome.end = UpdateEnd::Aborted;
            return outcome;
        }
        outcome.end = UpdateEnd::Refused;
        outcome.message = std::string(kRefusedPhrase) + e.what();
        port.message(outcome.message, kUpdaterTitle, MsgIcon::Critical, MsgButtons::Ok);
    } catch (const std::exception &e) {
        if (aborted && aborted()) {
            outcome.end = UpdateEnd::Aborted;
            return outcome;
        }
        outcome.end = UpdateEnd::Failed;
        outcome.message = std::string(kFailedPhrase) + e.what();
        port.message(outcome.message, kUpdaterTitle, MsgIcon::Critical, MsgButtons::Ok);
    }
    return outcome;
}

} // namespace tesmo::update
