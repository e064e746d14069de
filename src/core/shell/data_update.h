#pragma once
// The data update command ("データ更新") and the manual import of one day file ("test"):
// what runs when the user presses them, with the parts that other subsystems provide passed
// in, so that the command can be driven headless.
#include "core/acquire/import_driver.h"
#include "core/common/ui_port.h"
#include "core/storage/database.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tesmo::shell {

struct DataUpdateActions {
    // Refreshes the main window's date and returns the newest date.
    std::function<std::optional<long long>()> refreshNewestDate;
    // Closes the child windows (without asking when forced); true: the user chose not to close.
    std::function<bool(bool force)> closeChildWindows;
    // compactIfGrown; raises on failure.
    std::function<void()> compactIfGrown;
    // scanDataSite, or the J-Quants catch-up when datasource names it: empty on success, else
    // the message for the user.
    std::function<std::string()> scanDataSite;
    // versionCheck(completeDatabase): the selected program files, empty when none.
    std::function<std::string(bool completeDatabase)> versionCheck;
    // What the scan's run imported, passed over and, when the user stopped it, left missing.
    std::function<acquire::ImportRunState()> runState;
    // A line the source adds to the report (the last day a J-Quants plan covers); optional.
    std::function<std::string()> runNote;
    std::function<bool()> isMinimized;
    std::function<void()> restoreWindow;
    // Starts the updater and ends the program (update_exit).
    std::function<void()> startUpdaterAndExit;
    // Announces the watch rules' matches outside the report ("監視条件に3銘柄が該当しました"):
    // the desktop's notification from the tray. True when it was shown there; the report then
    // leaves it out. Optional: without it, or false, the report carries the announcement.
    std::function<bool(const std::string &announcement)> announceWatch;
    // The database file that the update writes. When set, its update lock is held from the
    // compaction to the end of the scan, and the command is refused while another program holds
    // it.
    std::function<std::string()> databaseFile;
};

enum class DataUpdateResult {
    Busy,           // a command was already running: nothing happened
    Cancelled,      // the user answered a question with Cancel
    Done,           // the scan ran (its result was shown)
    UpdaterStarted, // the updater was started and the program is ending
    Failed,         // an unexpected error was shown
    Stopped,        // the program is ending: the scan stopped at its next pause, nothing shown
    Refused,        // another program updates the database: told so, nothing else happened
};

// The data older than 30 days (calendar days from the newest date to `now`)?
bool dataIsStale(std::optional<long long> newestDate, std::time_t now);

// The data update: offers a complete database when the data are more than 30 days old, asks
// before it starts, compacts a grown database, fetches and imports what is missing under the
// update lock, reports the result and offers a newer program. `title` is the main window's
// title; `now` the current time.
DataUpdateResult runDataUpdate(UiPort &port, const DataUpdateActions &actions,
                               const std::string &title, std::time_t now);

// The report of a scan that ran. Days that were passed over are listed, one line
// each ("取得できなかった日: 20240110 (HTTP 500)"), instead of the success lines; a run the user
// stopped says so and how many days are still missing. J-Quants (`jquants`) names the days
// "取り込んだ日" and lists ten of them at most: a catch-up of weeks would make a box taller
// than the screen.
// Below it, the watch rules' announcement ("監視条件に3銘柄が該当しました") when they selected a
// stock on the newest day, or why they could not be evaluated.
std::string importedReport(const acquire::ImportRunState &run, bool jquants);
// The same without the watch rules' line.
std::string runReport(const acquire::ImportRunState &run, bool jquants);

// The progress caption of a data update as the main window's status line shows it: without the
// window's title in front, the day as a date, and the import's numbered steps in words
// ("ﾃﾞｰﾀ更新4処理中 step1/3(30/3800)" reads "指標を計算中(月平均と比較 30/3800銘柄)"). The day,
// the count and the time left make the first line, the step the second. The caption that is
// the title alone stays as it is.
std::string plainProgress(const std::string &caption, const std::string &title);

// The manual import of one data file (".bnd", or ".lzh" holding it) chosen by the user: the
// file is copied or extracted into the install folder (placeDayFile), imported as day 0 and the
// result is shown after `refreshDate` ran. Returns the import's result text (empty on success)
// or the extraction's failure text. Copy failures raise. While another program updates the
// database, nothing is imported and kOtherUpdateRunning is shown and returned.
std::string manualImport(storage::Database &db, UiPort &port, const std::string &file,
                         const std::function<void()> &refreshDate);

} // namespace tesmo::shell
