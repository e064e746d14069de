#pragma once
// Carries one unpacked daily data file into the database: staging table, stock master,
// T_NEARLY, the retention windows, the month row of T_MONTHLY, the indicators and the date
// markers.
#include "core/common/ui_port.h"
#include "core/storage/database.h"
#include "core/watch/watch_evaluation.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesmo::acquire {

// A listed day that a scan could not bring in, and why (one line).
struct SkippedDay {
    long long day = 0;
    std::string reason;
};

// What one data update has imported so far. The data-site scan resets it when it starts; the
// data update command reads it to tell the user which days came in and which did not.
struct ImportRunState {
    int importedCount = 0;
    std::string importedList; // each imported day number followed by CR LF
    std::vector<SkippedDay> skippedDays;
    // The user stopped the run between two days: the days it had still to bring in then
    // (-1 while the run did not know them yet), and the day it gave up midway, none of whose
    // rows were kept (0: none).
    bool stopped = false;
    long long stillMissing = -1;
    long long givenUpDay = 0;
    // The watch rules on the newest day, evaluated when the run has ended without a failure.
    watch::Evaluation watch{};

    void reset() {
        importedCount = 0;
        importedList.clear();
        skippedDays.clear();
        stopped = false;
        stillMissing = -1;
        givenUpDay = 0;
        watch = {};
    }
    void stop(long long missing, long long givenUp = 0) {
        stopped = true;
        stillMissing = missing;
        givenUpDay = givenUp;
    }
    void skip(long long day, const std::string &reason);
};

// The program's run state, shared by the scan, the import and the data update command.
ImportRunState &importRunState();

// `path` names a file "<yyyymmdd>.bnd"; `dayNumber` is the trading date when the data-site scan
// calls and 0 for a manual import. The caption of `port` shows the progress. Returns the
// empty text on success, and also when a scanned day's file does not decode (the day is
// skipped, recorded in the run state with the decoder's reason, and offered again by the next
// scan); otherwise a message for the user: the
// decoder's reason (manual import only), "daily3:" or "other1:" and the message of the
// indicators or the markers, or a step's failure text. The import runs as one transaction
// (unless the caller has one open), committed on every way out: whatever ran before a failure
// stays, and a crash midway leaves the database as it was before the import.
std::string importDayFile(storage::Database &db, const std::string &path, UiPort &port,
                          long long dayNumber, ImportRunState &state);
// The same with the program's run state.
std::string importDayFile(storage::Database &db, const std::string &path, UiPort &port,
                          long long dayNumber);

// The steps of an import from the staging table on, shared by both data sources: wonton_dat01
// holds the day's rows, and they go into master and T_NEARLY, then the retention windows, the
// month row, the indicators, the date markers and the run state follow. `caption` is the
// progress caption before the import, restored on success. Runs in the caller's transaction when
// one is open (the caller commits), else in its own. Returns what importDayFile returns after
// decoding.
std::string importStagedDay(storage::Database &db, UiPort &port, const std::string &caption,
                            long long dayNumber, ImportRunState &state);

// A name or market of the staging table as the import keeps it: without the characters that
// steer a terminal or the direction of text; nullopt when nothing else is left.
std::optional<std::string> shownText(std::string_view text);

} // namespace tesmo::acquire
