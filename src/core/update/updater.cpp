#include "update/updater.h"

#include "common/crypto.h"
#include "common/paths.h"
#include "common/shell_open.h"
#include "common/text.h"
#include "storage/database.h"
#include "storage/settings_keys.h"
#include "storage/settings_store.h"
#include "storage/update_lock.h"
#include "update/release_manifest.h"
#include "update/update_start.h"
#include "update/version_check.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

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
// copy is a program (starts with an ELF header or "#!"). `digest`, when given, receives every
// byte written.
bool copySynced(const std::string &source, const std::string &target, crypto::Sha256 *digest) {
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
        if (digest)
            digest->update(buf, static_cast<size_t>(n));
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

// Whether `name` is a temporary copy of installFileAtomically (".<name>.new-<pid>"), and the
// process that made it.
bool installLeftover(const std::string &name, pid_t &pid) {
    const std::string tag = ".new-";
    const size_t at = name.rfind(tag);
    if (name.size() < 2 || name[0] != '.' || at == std::string::npos || at < 2)
        return false;
    const std::string digits = name.substr(at + tag.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    pid = static_cast<pid_t>(std::stol(digits));
    return true;
}

bool processRuns(pid_t pid) {
    return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM;
}

// Texts of a release that is refused (case B).
constexpr const char *kSignatureMismatch = "署名が一致しません";
constexpr const char *kNotListed = "署名されたファイル一覧にないファイルです: ";
constexpr const char *kDiffers = "署名されたファイル一覧と内容が異なります: ";

// Fetches the signed list or its signature into memory. They pass through a private folder,
// so that no module of the same name in the download folder can stand in for them, and they
// may not be larger than a list can be.
std::string fetchReleaseFile(const std::string &name, UiPort &port, acquire::HttpClient &client) {
    const PrivateFolder folder((fs::temp_directory_path() / "tesmo-release-XXXXXX").string());
    const std::string path = joinPath(folder.path(), name);
    const long long limit = client.maxBytes;
    client.maxBytes = kMaxManifestBytes;
    const std::string failure = acquire::FetchToFile(moduleTableUrl() + name, port, client, path,
                                                     acquire::FetchSettings::Updater);
    client.maxBytes = limit;
    if (!failure.empty())
        throw Refused(std::string(kSignatureMismatch) + " (" + name +
                      " を取得できません: " + failure + ")");
    // A server answers a missing file with an error page; that page is not the list.
    if (client.lastStatus() != 200)
        throw Refused(std::string(kSignatureMismatch) + " (" + name + " がありません: HTTP " +
                      std::to_string(client.lastStatus()) + ")");
    return readFileBytes(path);
}

// A downloaded file on its way to the install.
struct Download {
    std::string name; // as the module table lists it
    std::string stamp;
    std::string local; // in the download folder
    std::string sha256;
};

// Checks every download against the release's signed list and returns the release's serial;
// raises Refused when the list is not signed by the release key, is older than the release
// installed last, or does not name a download with its digest and size.
long long checkRelease(std::vector<Download> &downloads, UiPort &port, acquire::HttpClient &client,
                       const std::function<void()> &stopIfAborted) {
    const std::string text = fetchReleaseFile(kManifestFile, port, client);
    stopIfAborted();
    const std::string signature = fetchReleaseFile(kSignatureFile, port, client);
    stopIfAborted();
    if (!manifestSignatureMatches(text, signature, releasePublicKey()))
        throw Refused(std::string(kSignatureMismatch) + " (" + kSignatureFile + ")");
    ReleaseManifest manifest;
    try {
        manifest = parseReleaseManifest(text);
    } catch (const ManifestError &e) {
        throw Refused(std::string("署名されたファイル一覧が読めません (") + e.what() + ")");
    }
    // An old release, even one signed by us, may bring back what a newer one mended.
    const long long last = storage::readSettingInt(storage::keys::release_serial);
    if (manifest.serial < last)
        throw Refused("インストール済みのものより古いリリースです (serial " +
                      std::to_string(manifest.serial) + " < " + std::to_string(last) + ")");
    for (Download &d : downloads) {
        const ManifestEntry *entry = manifest.find(d.name);
        if (!entry)
            throw Refused(kNotListed + d.name);
        if (fileLength(d.local) != entry->size || crypto::sha256FileHex(d.local) != entry->sha256)
            throw Refused(kDiffers + d.name);
        d.sha256 = entry->sha256;
    }
    return manifest.serial;
}

} // namespace

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

void installFileAtomically(const std::string &source, const std::string &target,
                           const std::string &sha256) {
    const fs::path t(target);
    const fs::path dir = t.has_parent_path() ? t.parent_path() : fs::path(".");
    const fs::path temp =
        dir / ("." + t.filename().string() + ".new-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove(temp, ec);
    try {
        crypto::Sha256 digest;
        const bool program = copySynced(source, temp.string(), sha256.empty() ? nullptr : &digest);
        // What is renamed into place is what was checked, even if the source changed since.
        if (!sha256.empty() && digest.hexDigest() != sha256)
            throw std::runtime_error(kDiffers + source);
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
                     const std::string &backup, const std::string &sha256) {
    // No data update writes the old file meanwhile, and no program keeps it open: it is whole
    // in one file for the backup, and nobody goes on writing into a file that is replaced.
    const storage::UpdateLock lock(target);
    storage::settleDatabaseFile(target);
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
    installFileAtomically(source, target, sha256);
}

UpdaterResult runUpdate(acquire::HttpClient &client, UiPort &port,
                        const std::function<bool()> &aborted, bool startMainProgram) {
    using namespace storage;
    UpdaterResult outcome;
    const std::string state = updaterStateAppName();
    try {
        const std::string database = readSetting(keys::mdbpath);
        // An install killed midway leaves its temporary copies beside the files it replaced.
        removeInstallLeftovers(installDir());
        removeInstallLeftovers(fs::path(database).parent_path().string());
        const std::string download = pathFor(FileKind::UpdateDownload, kDownloadFolder);
        std::error_code ec;
        fs::create_directories(download, ec);
        if (ec)
            throw std::runtime_error("フォルダを作成できません: " + download + " (" + ec.message() +
                                     ")");
        const auto stopIfAborted = [&aborted] {
            if (aborted && aborted())
                throw UpdateAborted();
        };

        std::vector<Download> downloads;
        if (const auto entries = getAllSettings(state, kTrgDtSection)) {
            for (const auto &[name, stamp] : *entries) {
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
                    stopIfAborted();
                    if (!failure.empty())
                        throw Refused(failure);
                }
                const long long length = fileLength(local);
                if (length != size)
                    throw Refused("size unmatch file=" + name + " size=" + std::to_string(length) +
                                  " web=" + std::to_string(size));
                downloads.push_back({name, stamp, local, {}});
            }
        }

        // Nothing is installed before every download has passed the signed list: a release is
        // installed whole or not at all.
        const long long serial =
            downloads.empty() ? 0 : checkRelease(downloads, port, client, stopIfAborted);
        for (const Download &d : downloads) {
            const std::string lower = lowerAscii(d.name);
            const std::string name = lower == kCompleteDatabaseFile ? kDatabaseFile : d.name;
            if (isDatabaseModule(d.name)) {
                // A database copy in the database folder that is not the one in use goes;
                // the one in use is replaced below, after its backup.
                const std::string copy = pathFor(FileKind::Database, name);
                if (fileExists(copy) && !fs::equivalent(copy, database, ec))
                    removeWithJournals(copy);
                replaceDatabase(d.local, database, pathFor(FileKind::Backup, kDatabaseBackup),
                                d.sha256);
            } else {
                installFileAtomically(d.local, installPath(name), d.sha256);
            }
            saveSetting(state, kWebcheckSection, lower, d.stamp);
            ++outcome.installed;
        }
        if (!downloads.empty())
            writeSetting(keys::release_serial, std::to_string(serial));

        if (!downloads.empty()) {
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
        if (startMainProgram)
            outcome.mainProgram = shell_open(installPath(kMainProgram), "");
        outcome.end = downloads.empty() ? UpdateEnd::NothingNew : UpdateEnd::Installed;
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
