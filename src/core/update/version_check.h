#pragma once
// The version check: reads the update site's module table, picks the files that are newer
// than the installed ones and records them for the updater (tesmo_auto).
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"

#include <ctime>
#include <string>
#include <vector>

namespace tesmo::update {

inline constexpr const char *kModuleStartMarker = "<!- tesmo module update start -->";
inline constexpr const char *kModuleEndMarker = "<!- tesmo module update end -->";
// The database file that replaces the user's database, and the complete database package.
inline constexpr const char *kDatabaseFile = "tesmo.mdb";
inline constexpr const char *kCompleteDatabaseFile = "tesmotesmo.mdb";

// One row of the module table: file name, size in bytes and stamp (1yymmddhh), as texts.
struct ModuleRow {
    std::string name;
    std::string size;
    std::string stamp;
};

// The URL of the module table page: the update site followed by "/tesmo_auto/".
std::string moduleTableUrl();

// The rows between the two markers, in page order; rows with fewer than four cells are left
// out, and the cells lose the white space around them (line breaks included). Raises
// std::runtime_error when the page has no table markers.
std::vector<ModuleRow> parseModuleTable(const std::string &page);

// The stamp of the hour `when` falls in (local time): yymmddhh plus 100,000,000, so that it
// compares with the table's stamps.
long long hourStamp(std::time_t when);

// Whether a row is offered, given the current hour's stamp and the stamp of the installed
// version (the updater's record, "1080505" when it has none). Raises std::runtime_error for a
// stamp that is not a number.
bool moduleOffered(const ModuleRow &row, long long now, bool completeDb,
                   const std::string &installedStamp);

// A file name from the update site that may be used as a file name in the install folder:
// not empty, no folder separators, not "." or "..", no control characters.
bool safeModuleName(const std::string &name);

// Whether a module-table file is a database ("tesmo.mdb" in its lower-case name), installed at
// the user's database rather than among the program files.
bool isDatabaseModule(const std::string &name);

// Reads the module table and returns every file to fetch as name, blank, size, blank, stamp
// and TAB, in table order; empty when there is nothing newer or anything failed. The files are
// recorded in the updater's sections trg_dt and trg_sz, which are replaced, and updateSize()
// becomes their total size. Without the updater program beside us nothing is offered; while
// the install folder cannot be written only databases are (program files come from the
// system's package manager).
// `completeDb` asks for the complete database package instead of the database file. A row
// whose file name would point outside the install folder is refused, and `port` says so.
std::string versionCheck(net::HttpClient &client, UiPort &port, bool completeDb);

// Total size in bytes of what the last versionCheck selected.
float updateSize();

} // namespace tesmo::update
