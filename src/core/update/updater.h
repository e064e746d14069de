#pragma once
// The updater (tesmo_auto): fetches the release that the main program's version check found,
// checks it against the signed list, puts it in place and starts Tesmo again. The splash window
// only shows the two texts and drives the clock below; everything else happens here.
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"

#include "core/storage/update_lock.h"

#include <functional>
#include <stdexcept>
#include <string>

namespace tesmo::update {

// Title of every message of the updater, and the two texts of its splash window.
inline constexpr const char *kUpdaterTitle = "Tesmo自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ";
inline constexpr const char *kSplashDownloading =
    "ただ今、Tesmoのプログラムを自動でダウンロードしています";
inline constexpr const char *kSplashPleaseWait = "しばらくお待ち下さい。";
// The main program, started again at the end, and the backup of a replaced database.
inline constexpr const char *kMainProgram = "Tesmo";
inline constexpr const char *kDatabaseBackup = "tesmo.mbk";

// Raised by a UI port once the splash has given up (the 20-minute limit): the update unwinds
// at its next pause without a message and without starting the main program.
class UpdateAborted : public std::runtime_error {
public:
    UpdateAborted() : std::runtime_error("update aborted") {}
};

// The splash timer: one-second ticks until the update starts after the 12th, then one-minute
// ticks while it runs; the 20th of those ends the program. Ticks only arrive while the update
// lets events through, so the minutes count the time the update has been running.
class SplashClock {
public:
    enum class Action { None, RunUpdate, GiveUp };
    static constexpr int kStartInterval = 1000;
    static constexpr int kRunningInterval = 60000;

    int intervalMs() const { return m_interval; }
    int ticks() const { return m_ticks; }
    Action tick();

private:
    int m_interval = kStartInterval;
    int m_ticks = 0;
};

enum class UpdateEnd {
    Installed,  // every recorded file is in place (a beep), Tesmo was started
    NothingNew, // no recorded files (the user was told), Tesmo was started
    Refused,    // a download failed, a size differed, the release was refused
    Failed,     // a file or folder operation failed, the disk is full
    Aborted,    // the splash gave up; nothing more was said or started
};

struct UpdaterResult {
    UpdateEnd end = UpdateEnd::Failed;
    int installed = 0;     // files of the release replaced in this run
    long mainProgram = -1; // process id of the started Tesmo (-99: could not be started)
    std::string message;   // the text shown for Refused and Failed
};

// The update. First an install that a kill interrupted is finished or undone (see
// release_install.h). Then the release's signed list (release_manifest.h) must carry the
// release key's signature and a serial above the release installed last, or the same serial
// with the very same list (the run after a kill); every entry of trg_dt must be in it, with the
// size that trg_sz recorded. The list is the release: every program file it names whose
// installed copy differs is fetched (an earlier download of the same digest is used as it is)
// into a folder of this run, checked against the list, and installed together with the
// databases that trg_dt names (tesmo.mdb and tesmotesmo.mdb at mdbpath, the old one kept as
// tesmo.mbk), whole or not at all. Then webcheck records the
// entries, trg_dt and trg_sz go and Tesmo is started (unless `startMainProgram` is false).
// Every message is shown through `port`; `port` also shows the fetch's progress. Once `aborted`
// says so (the splash gave up), the update ends quietly at its next step.
UpdaterResult runUpdate(net::HttpClient &client, UiPort &port,
                        const std::function<bool()> &aborted = {}, bool startMainProgram = true);

// Held while the updater replaces the database at `path`: no data update writes the old file
// meanwhile, and the file is made whole in one file first (its write-ahead log written back), so
// that the backup holds everything and no old log stays beside the new file. Raises
// storage::UpdateRunning while another program updates it and storage::DatabaseInUse while
// another program has it open: the old database then stays as it is.
class DatabaseReplacementGuard {
public:
    explicit DatabaseReplacementGuard(const std::string &path);

private:
    storage::UpdateLock m_lock;
};

} // namespace tesmo::update
