#pragma once
// Handing over to the updater: the questions the user answers first, the download folder,
// the start of tesmo_auto, and the two commands of the options window that lead there.
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"

#include <string>

namespace tesmo::update {

// The download folder, where the updater puts what it fetches: in the install folder, or in the
// user data folder when that cannot be written (FileKind::UpdateDownload).
inline constexpr const char *kDownloadFolder = "downtemp";

// What the program update says instead of starting the updater when the install folder cannot
// be written: a system-wide install is updated by the system's package manager.
inline constexpr const char *kPackageManagerNote =
    "Tesmoはシステムにインストールされているため、プログラムの自動更新はできません。\r\n"
    "新しいバージョンへの更新は、システムのパッケージ管理(apt など)から行ってください。";

// First lines of the update question: program files only, or with the complete database.
inline constexpr const char *kProgramUpdateLine =
    "Tesmoのプログラムを自動でバージョンアップする事が出来ます。";
inline constexpr const char *kDatabaseUpdateLine =
    "TesmoのDBと新しいプログラムをダウンロードする事が出来ます。";

// Asks (OK/Cancel) whether to update now, with the total size of the last version check.
// True when the user chose OK.
bool askUpdateNow(UiPort &port, const std::string &title, const std::string &firstLine);

// Whether a version check's selection replaces the user's database ("tesmo.mdb"; the complete
// package "tesmotesmo.mdb" does not count).
bool selectionHasDatabase(const std::string &selection);

// The warning that the portfolio goes with the database, asked only when the selection holds
// the database. True: go on (no warning needed, or OK).
bool confirmDatabaseReplace(UiPort &port, const std::string &title, const std::string &selection);

// Empties the download folder (made when missing), starts the updater and sets update_exit.
// Returns the empty text when the updater runs: the caller then closes its window and the
// main window, which ends the program. Otherwise a message for the user; the program goes on
// and update_exit stays false.
std::string startUpdater(UiPort &port);

// What an update command of the options window ended with.
enum class UpdateOutcome {
    NothingNew,    // told the user there is nothing to fetch
    SystemManaged, // told the user that the package manager updates the programs
    Declined,      // the user said Cancel
    Failed,        // the updater could not be started; the user was told why
    Started,       // the updater runs: close the windows
};

// "自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ": offers the program files that are newer than the installed ones, or says
// that the package manager updates them (kPackageManagerNote).
UpdateOutcome runProgramUpdate(net::HttpClient &client, UiPort &port, const std::string &title);

// "DB再取得": fetches the complete database package (with newer program files).
UpdateOutcome runDatabaseRefetch(net::HttpClient &client, UiPort &port, const std::string &title);

} // namespace tesmo::update
