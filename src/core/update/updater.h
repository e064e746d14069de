#pragma once
// The updater (tesmo_auto): fetches the files that the main program's version check recorded,
// checks their sizes, puts them in place and starts Tesmo again. The splash window only shows
// the two texts and drives the clock below; everything else happens here.
#include "acquire/http_fetch.h"
#include "common/ui_port.h"

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
    Refused,    // a download failed, a size differed or a name was refused (case B)
    Failed,     // a file or folder operation failed (case D)
    Aborted,    // the splash gave up; nothing more was said or started
};

struct UpdaterResult {
    UpdateEnd end = UpdateEnd::Failed;
    int installed = 0;     // files installed in this run
    long mainProgram = -1; // process id of the started Tesmo (-99: could not be started)
    std::string message;   // the text shown for Refused and Failed
};

// The update: every entry of trg_dt in stored order is fetched from the update site into the
// download folder unless a file of the recorded size is already there, and checked against
// trg_sz. Then the release's signed list (release_manifest.h) must carry the release key's
// signature, a serial not lower than the release installed last, and each download's digest
// and size; otherwise nothing at all is installed (case B). Then each file is installed
// (tesmo.mdb and tesmotesmo.mdb at mdbpath, the others in the install folder) and recorded in
// webcheck, and the serial is kept. At the end trg_dt and trg_sz go and Tesmo is started
// (unless `startMainProgram` is false). Every message is shown through `port`; `port` also
// shows the fetch's progress. Once `aborted` says so (the splash gave up), the update ends
// quietly at its next step. First of all, the leftovers of an install that was killed midway
// are removed.
UpdaterResult runUpdate(acquire::HttpClient &client, UiPort &port,
                        const std::function<bool()> &aborted = {}, bool startMainProgram = true);

// Puts `source` in place at `target` in one step: a copy beside the target under a temporary
// name (".<name>.new-<pid>"), flushed, then renamed over it, so that the target is always
// either the old file or the whole new one. The copy gets the permissions of the file it
// replaces, and execute bits when it is a program (ELF or "#!"). With `sha256` the copy must
// have that digest, or the target stays as it was. Raises std::runtime_error.
void installFileAtomically(const std::string &source, const std::string &target,
                           const std::string &sha256 = {});

// Replaces the database at `target` by `source`: the old file (with its write-ahead log, if
// any) is kept as `backup` first, the old journals are removed, then the new file is put in
// place atomically (checked against `sha256` when given). Raises std::runtime_error; the old
// database stays when anything fails before the final rename, and when another program updates
// it or has it open.
void replaceDatabase(const std::string &source, const std::string &target,
                     const std::string &backup, const std::string &sha256 = {});

// Removes from `folder` the temporary copies of installFileAtomically whose process no longer
// runs (what a kill in the middle of an install leaves). Errors are ignored.
void removeInstallLeftovers(const std::string &folder);

} // namespace tesmo::update
