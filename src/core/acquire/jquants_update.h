#pragma once
// The data update from J-Quants API V2: the business days the database lacks, each day's bars
// and issue master mapped into the staging table, and from there the import that both
// sources share.
#include "core/acquire/import_driver.h"
#include "core/acquire/jquants_client.h"
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"
#include "core/storage/database.h"

#include <functional>
#include <string>

namespace tesmo::acquire {

// What the last data update's source adds to its final message (the last day a J-Quants
// plan covers), empty when nothing; each run sets it.
std::string &sourceNote();

struct JQuantsRunOptions {
    long long today = 0;                    // yyyymmdd; 0: the local date
    jquants::RequestPacer *pacer = nullptr; // nullptr: the program's pacer
    std::string *note = nullptr;            // nullptr: sourceNote()
    long long maxBytes = 0;                 // the most one answer may bring; 0: the usual cap
};

// One catch-up: the business days of the trading calendar up to today that belong to the
// newest maxdtc + 1 dates and that T_NEARLY lacks (fewer than compyc rows), gaps included,
// oldest first; for each, every page of its bars into the staging table as it arrives, each
// row checked (dated the asked day, a code of the exchange, numbers or null where numbers
// belong), the names and markets from the issue master as of the newest day of the catch-up,
// then the import from the staging table on. A day whose answer fails a check, or that lists
// no bars while a later day does, is not imported at all: it is named in `state` with the
// reason and asked for again by the next run. Business days without bars after the newest
// published one are not published yet: they end the run quietly, and the window reaches back
// over them. A plan that ends before today narrows the window to its last day, which the note
// then names. An unusable calendar or master, a refused key, the rate limit, a lost connection
// or a server error end the run with a message. `state` is reset first and counts the
// imported days; `setLaterDate` runs after each. Returns the empty text on success, else a
// message for the user; the days imported before a failure stay.
std::string updateFromJQuants(storage::Database &db, UiPort &port,
                              const std::function<void()> &setLaterDate,
                              ImportRunState &state = importRunState(),
                              const JQuantsRunOptions &options = {});

// The fetch-and-import of a data update from the source that the setting datasource names:
// the data-site scan, or J-Quants. A run that ends without a failure and was not stopped then
// evaluates the watch rules on the newest day into `state.watch`.
std::string scanSelectedSource(storage::Database &db, UiPort &port, net::HttpClient &client,
                               const std::function<void()> &setLaterDate,
                               ImportRunState &state = importRunState());

} // namespace tesmo::acquire
