#pragma once
// The main program's start-up and shutdown logic that needs no window: the heartbeat stamp
// and the single-instance guard, the portfolio hint, and attaching the external portfolio.
#include "core/common/ui_port.h"
#include "core/storage/database.h"

#include <ctime>
#include <string>

namespace tesmo::shell {

// MMDD × 100000 + seconds of the day, minus 3 when `lessThree` (the stamp that start-up
// compares with the heartbeat of a running instance).
long long heartbeatStamp(std::time_t now, bool lessThree);

enum class GuardVerdict {
    Start,         // no other instance wrote its heartbeat in the last three seconds
    AskTray,       // another instance sits in the tray: ask whether to start anyway
    ActivateOther, // another instance is visible: bring it to the front and quit
};
// `stamp` from heartbeatStamp(now, true); `becon` and `taskttime` as stored.
GuardVerdict singleInstanceGuard(long long stamp, long long becon, long long taskttime);
// Reads becon and taskttime (default 0) and decides.
GuardVerdict singleInstanceGuard(std::time_t now);

// Text of the question shown when another instance sits in the tray.
extern const char *const kAlreadyInTrayQuestion;
// Text of the hint that the portfolio is not yet kept in a file of its own.
extern const char *const kPortfolioHint;

// Where the portfolio lives: portopt decides; with it off and the hint not yet declined, asks
// the hint (Yes/No: show it again next time?) and remembers a No. Returns portfile_path.
std::string choosePortfolioPath(UiPort &port, const std::string &title);

// The desktop and profile folders that start-up records.
std::string startupDesktopDir();
std::string startupProfileDir();

// useridno, drawn once per user (1..250000) and then kept.
long long userIdNumber();

// At start-up: links the external portfolio file into `db` as port_link_table, offering
// to copy the entries of T_PORT on the first link. Raises (DbError or std::runtime_error)
// when the file is missing or cannot be linked; the caller shows portfolioFailureText.
void attachExternalPortfolio(storage::Database &db, UiPort &port, const std::string &portfile,
                             const std::string &linkName, const std::string &title);

// The messages of a start-up that cannot connect to the database, and of one that cannot
// link the external portfolio.
std::string connectionFailureText(const std::string &description);
std::string portfolioFailureText(const std::string &description);

} // namespace tesmo::shell
