#include "core/update/updater.h"

#include "core/common/crypto.h"
#include "core/common/paths.h"
#include "core/common/shell_open.h"
#include "core/common/text.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"
#include "core/storage/update_lock.h"
#include "core/update/release_install.h"
#include "core/update/release_manifest.h"
#include "core/update/update_start.h"
#include "core/update/version_check.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace tesmo::update {
namespace {

constexpr const char *kNothingNew = "自動更新できる新しいバージョンアップは\r\nありませんでした。";
// A refused release ends in "。", a failed file operation does not.
constexpr const char *kRefusedPhrase = "エラーが発生しました。\r\n詳細:";
constexpr const char *kFailedPhrase = "エラーが発生しました\r\n詳細:";

// Texts of a release that is refused.
constexpr const char *kSignatureMismatch = "署名が一致しません";
constexpr const char *kUnsigned =
    "この更新サイトのリリースは署名されていません。署名のないリリースはインストールしません";
constexpr const char *kNotListed = "署名されたファイル一覧にないファイルです: ";
constexpr const char *kDiffers = "署名されたファイル一覧と内容が異なります: ";
constexpr const char *kSameSerial =
    "インストール済みのリリースと同じ serial の、内容の異なるファイル一覧です";
constexpr const char *kAnotherUpdate = "別の更新が実行中です";

// A download that failed, a size that differs or a release that is refused: ends the update
// like a failed fetch, with `what` shown to the user.
class Refused : public std::runtime_error {
public:
    explicit Refused(const std::string &what) : std::runtime_error(what) {}
};

// A file that the version check offered (trg_dt and trg_sz).
struct Offer {
    std::string name;
    std::string stamp;
    long long size = 0;
};

std::vector<Offer> recordedOffers() {
    using namespace storage;
    const std::string state = updaterStateAppName();
    std::vector<Offer> offers;
    if (const auto entries = getAllSettings(state, kTrgDtSection)) {
        for (const auto &[name, stamp] : *entries) {
            // The name comes from the update site: it must name a file in our folders.
            if (!safeModuleName(name))
                throw Refused("invalid file name=" + name);
            offers.push_back(
                {name, stamp,
                 parseWholeNumber(getSetting(state, kTrgSzSection, name, kTrgSzDefault),
                                  "ファイルサイズ")});
        }
    }
    return offers;
}

// The signed list as the site published it, and what it says.
struct SignedList {
    std::string text;
    ReleaseManifest manifest;
};

// After a failed fetch into `folder` (or a folder in it): whether the disk ran full. The fetch
// passes the file through a temporary copy of its own, so it needs room for two.
void throwIfOutOfRoom(const std::string &folder, long long bytes) {
    for (const std::string &dir : {folder, folderFor(FileKind::Download)})
        requireFreeSpace({{dir, 2 * bytes}});
}

// Fetches the signed list or its signature into `folder`. Neither may be larger than a list
// can be.
std::string fetchReleaseFile(const std::string &name, const std::string &folder, UiPort &port,
                             net::HttpClient &client) {
    const std::string path = joinPath(folder, name);
    const long long limit = client.maxBytes;
    client.maxBytes = kMaxManifestBytes;
    const std::string failure =
        net::FetchToFile(moduleTableUrl() + name, port, client, path, net::FetchSettings::Updater);
    client.maxBytes = limit;
    const long status = client.lastStatus();
    // A site that publishes no signed list has releases that nobody signed.
    if (status == 404 || status == 410)
        throw Refused(std::string(kUnsigned) + " (" + name + ": HTTP " + std::to_string(status) +
                      ")");
    if (!failure.empty()) {
        throwIfOutOfRoom(fs::path(folder).parent_path().string(), kMaxManifestBytes);
        throw Refused(std::string(kSignatureMismatch) + " (" + name +
                      " を取得できません: " + failure + ")");
    }
    // A server answers a missing file with an error page; that page is not the list.
    if (status != 200)
        throw Refused(std::string(kSignatureMismatch) + " (" + name + " がありません: HTTP " +
                      std::to_string(status) + ")");
    return readFileCapped(path, kMaxManifestBytes);
}

// The release's signed list, refused unless the release key signed it and it is not older
// than the release installed last. A list with the serial of the installed release must be
// that very list: the same serial with other files would bring back what a newer list mended.
SignedList fetchSignedList(const std::string &folder, UiPort &port, net::HttpClient &client,
                           const std::function<void()> &stopIfAborted) {
    SignedList list;
    list.text = fetchReleaseFile(kManifestFile, folder, port, client);
    stopIfAborted();
    const std::string signature = fetchReleaseFile(kSignatureFile, folder, port, client);
    stopIfAborted();
    if (!manifestSignatureMatches(list.text, signature, releasePublicKey()))
        throw Refused(std::string(kSignatureMismatch) + " (" + kSignatureFile + ")");
    try {
        list.manifest = parseReleaseManifest(list.text);
    } catch (const ManifestError &e) {
        throw Refused(std::string("署名されたファイル一覧が読めません (") + e.what() + ")");
    }
    const InstalledRelease installed = installedRelease();
    const long long serial = list.manifest.serial;
    if (serial < installed.serial)
        throw Refused("インストール済みのものより古いリリースです (serial " +
                      std::to_string(serial) + " < " + std::to_string(installed.serial) + ")");
    const bool nothingInstalled = installed.serial == 0 && installed.digest.empty();
    if (serial == installed.serial && !nothingInstalled &&
        crypto::sha256Hex(list.text) != installed.digest)
        throw Refused(std::string(kSameSerial) + " (serial " + std::to_string(serial) + ")");
    return list;
}

// A file of the release that goes in: where, and the download that brings it.
struct Planned {
    const ManifestEntry *entry = nullptr;
    std::string target;
    bool database = false;
    std::string download; // an earlier download with the listed digest, or empty: fetch it
};

// Which files of the release go in: every program file whose installed copy differs, and the
// database that the version check offered (the user's data is replaced only when asked).
// While the program folder cannot be written, its files are the package manager's.
std::vector<Planned> planInstall(const ReleaseManifest &manifest, const std::vector<Offer> &offers,
                                 const std::string &database, const std::string &downloads) {
    std::set<std::string> offered;
    for (const Offer &offer : offers) {
        const ManifestEntry *entry = manifest.find(offer.name);
        if (!entry)
            throw Refused(kNotListed + offer.name);
        if (entry->size != offer.size)
            throw Refused("size unmatch file=" + offer.name + " size=" +
                          std::to_string(entry->size) + " web=" + std::to_string(offer.size));
        offered.insert(offer.name);
    }
    std::vector<Planned> plan;
    const bool programs = programFolderWritable();
    std::string databaseModule;
    for (const ManifestEntry &entry : manifest.files) {
        Planned p{&entry, installPath(entry.name), isDatabaseModule(entry.name), {}};
        if (p.database) {
            if (!offered.count(entry.name))
                continue;
            if (!databaseModule.empty())
                throw Refused("データベースが二つ選ばれています: " + databaseModule + ", " +
                              entry.name);
            databaseModule = entry.name;
            p.target = database;
        } else if (!programs) {
            continue;
        }
        // A run after a kill finds in place what the killed run installed; replacing the
        // database again would also replace its backup with it.
        if (fileMatches(p.target, entry.size, entry.sha256))
            continue;
        const std::string kept = joinPath(downloads, entry.name);
        if (fileMatches(kept, entry.size, entry.sha256))
            p.download = kept;
        plan.push_back(std::move(p));
    }
    return plan;
}

long long lengthOrZero(const std::string &path) {
    return std::max(fileLength(path), 0LL);
}

// Room for everything the install writes, so that a full disk is found before any of it.
void checkRoom(const std::vector<Planned> &plan, const std::string &database,
               const std::string &downloads, const std::string &listText) {
    std::vector<std::pair<std::string, long long>> needs;
    long long largestFetch = 0;
    for (const Planned &p : plan) {
        const long long size = p.entry->size;
        if (p.download.empty()) {
            needs.emplace_back(downloads, size);
            largestFetch = std::max(largestFetch, size);
        }
        needs.emplace_back(fs::path(p.target).parent_path().string(), size);
        if (p.database)
            for (const char *suffix : {"", "-wal", "-journal"})
                needs.emplace_back(folderFor(FileKind::Backup), lengthOrZero(database + suffix));
    }
    // The fetch passes each file through a temporary file of its own first.
    needs.emplace_back(folderFor(FileKind::Download), largestFetch);
    needs.emplace_back(folderFor(FileKind::UpdateDownload),
                       3 * static_cast<long long>(listText.size()));
    requireFreeSpace(needs);
}

// The download of `p` checked against the signed list: the earlier one, or a new one fetched
// into the run's own folder and then kept in the download folder for a run after this one.
std::string fetchChecked(const Planned &p, const std::string &runFolder,
                         const std::string &downloads, UiPort &port, net::HttpClient &client,
                         const std::function<void()> &stopIfAborted) {
    if (!p.download.empty())
        return p.download;
    const ManifestEntry &entry = *p.entry;
    const std::string fetched = joinPath(runFolder, entry.name);
    // The name travels in the URL's path, percent-encoded: a blank or a "#" cannot change which
    // file is asked for.
    const std::string failure =
        net::FetchToFile(moduleTableUrl() + percentEncoded(entry.name), port, client, fetched,
                         net::FetchSettings::Updater);
    stopIfAborted();
    if (!failure.empty()) {
        throwIfOutOfRoom(downloads, entry.size);
        throw Refused(failure);
    }
    const long long length = fileLength(fetched);
    if (length != entry.size)
        throw Refused("size unmatch file=" + entry.name + " size=" + std::to_string(length) +
                      " web=" + std::to_string(entry.size));
    if (!fileMatches(fetched, entry.size, entry.sha256))
        throw Refused(kDiffers + entry.name);
    // A rename replaces whatever has that name (a link too) instead of writing through it.
    const std::string kept = joinPath(downloads, entry.name);
    return ::rename(fetched.c_str(), kept.c_str()) == 0 ? kept : fetched;
}

// The database goes in with its backup: the old file and the journal that holds its latest
// changes become tesmo.mbk (SQLite applies the journal when the backup is opened), no old
// journal stays beside the new file (it would be applied to it and corrupt it), and a
// database copy in the database folder that is not the one in use goes.
void addDatabaseSteps(std::vector<InstallStep> &steps, const Planned &p,
                      const std::string &source) {
    const std::string &database = p.target;
    const std::string name =
        lowerAscii(p.entry->name) == kCompleteDatabaseFile ? kDatabaseFile : p.entry->name;
    const std::string copy = pathFor(FileKind::Database, name);
    std::error_code ec;
    if (fileExists(copy) && !fs::equivalent(copy, database, ec))
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            steps.push_back({copy + suffix, {}, {}});
    if (fileExists(database)) {
        const std::string backup = pathFor(FileKind::Backup, kDatabaseBackup);
        steps.push_back({backup, database, {}});
        for (const char *suffix : {"-wal", "-journal"})
            steps.push_back({backup + suffix,
                             lengthOrZero(database + suffix) > 0 ? database + suffix : "",
                             {}});
        steps.push_back({backup + "-shm", {}, {}});
    }
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        steps.push_back({database + suffix, {}, {}});
    steps.push_back({database, source, p.entry->sha256});
}

// Removes the folders of runs that a kill ended; only one run at a time holds the lock.
void removeOldRunFolders(const std::string &downloads) {
    std::error_code ec;
    for (fs::directory_iterator it(downloads, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (it->path().filename().string().rfind(".run-", 0) == 0 && it->is_directory(ignored) &&
            !it->is_symlink(ignored))
            fs::remove_all(it->path(), ignored);
    }
}

} // namespace

DatabaseReplacementGuard::DatabaseReplacementGuard(const std::string &path) : m_lock(path) {
    storage::settleDatabaseFile(path);
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

UpdaterResult runUpdate(net::HttpClient &client, UiPort &port, const std::function<bool()> &aborted,
                        bool startMainProgram) {
    using namespace storage;
    UpdaterResult outcome;
    const std::string state = updaterStateAppName();
    try {
        const auto stopIfAborted = [&aborted] {
            if (aborted && aborted())
                throw UpdateAborted();
        };
        bool installed = false;
        {
            const InstallLock lock;
            if (!lock.held())
                throw std::runtime_error(kAnotherUpdate);
            // An install that a kill interrupted goes first: what follows compares with the
            // files in place.
            recoverInstall(lock);
            const std::string database = readSetting(keys::mdbpath);
            removeInstallLeftovers(installDir());
            removeInstallLeftovers(folderFor(FileKind::UpdateDownload));
            removeInstallLeftovers(fs::path(database).parent_path().string());
            const std::string downloads = pathFor(FileKind::UpdateDownload, kDownloadFolder);
            std::error_code ec;
            fs::create_directories(downloads, ec);
            if (ec)
                throw std::runtime_error("フォルダを作成できません: " + downloads + " (" +
                                         ec.message() + ")");
            removeOldRunFolders(downloads);

            const std::vector<Offer> offers = recordedOffers();
            if (!offers.empty()) {
                // Everything fetched in this run lands in a folder nobody else can write, so
                // that no file or link planted in the download folder receives its bytes.
                const PrivateFolder run(joinPath(downloads, ".run-XXXXXX"));
                const SignedList list = fetchSignedList(run.path(), port, client, stopIfAborted);
                const std::vector<Planned> plan =
                    planInstall(list.manifest, offers, database, downloads);
                checkRoom(plan, database, downloads, list.text);
                std::vector<std::string> sources;
                sources.reserve(plan.size());
                for (const Planned &p : plan)
                    sources.push_back(
                        fetchChecked(p, run.path(), downloads, port, client, stopIfAborted));
                // Taken once everything is fetched and checked, so that a refused release
                // leaves the database folder as it was, and before the steps are planned, which
                // take the old database as it is once its log is written back.
                std::optional<DatabaseReplacementGuard> databaseGuard;
                if (std::any_of(plan.begin(), plan.end(),
                                [](const Planned &p) { return p.database; }))
                    databaseGuard.emplace(database);
                std::vector<InstallStep> steps;
                for (size_t i = 0; i < plan.size(); ++i) {
                    if (plan[i].database)
                        addDatabaseSteps(steps, plan[i], sources[i]);
                    else
                        steps.push_back({plan[i].target, sources[i], plan[i].entry->sha256});
                }
                installRelease(steps, list.text);
                outcome.installed = static_cast<int>(plan.size());
                installed = true;
                // The whole release is in place, the offered files with it.
                for (const Offer &offer : offers)
                    saveSetting(state, kWebcheckSection, lowerAscii(offer.name), offer.stamp);
            }
        }

        if (installed) {
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
            outcome.mainProgram = shellOpen(installPath(kMainProgram), "");
        outcome.end = installed ? UpdateEnd::Installed : UpdateEnd::NothingNew;
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
