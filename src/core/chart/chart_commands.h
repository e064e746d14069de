#pragma once
// The chart window's commands besides drawing: adding the stock to the portfolio and the
// three outside pages (stock information, public quote, real-time chart).
#include "core/chart/chart_db.h"

#include <string>
#include <vector>

namespace tesmo::chart {

enum class AddPortOutcome { New, Added, NotAdded, Failed };

struct AddPortResult {
    AddPortOutcome outcome = AddPortOutcome::NotAdded;
    std::string failure; // the failure text when outcome is Failed
};

// C_addPort: registers 1000 shares of `code` at its latest price (V_RANK) under the date
// `today` (yyyymmdd) in `table` (T_PORT or the linked portfolio table), or adds 1000 shares
// to the entry of that date. A code without a latest price of at least 1 adds nothing. The
// connection is opened and closed here; a failing statement leaves the portfolio as it was
// and comes back as a failure text.
AddPortResult addToPortfolio(ChartDbLink &link, const std::string &table, const std::string &code,
                             int today);
// What the user is told: "追加しました(新規)", "追加しました(株数追加)",
// "追加されませんでした", or the failure text.
std::string addPortMessage(const AddPortResult &result);

// The current local date as yyyymmdd.
int todayYmd();

// Web1: the stock information site's top page, then its page for the code, each behind the
// `browser` setting when one is set. Empty unless the code has exactly 4 characters.
std::vector<std::string> web1Commands(const std::string &code);
// Seconds between the two pages of Web1 (setting web1wait).
int web1WaitSeconds();
// Web2: the public quote page; empty unless the code has exactly 4 characters.
std::string web2Command(const std::string &code);
// The real-time chart page, for whatever the code box holds, without the browser setting.
std::string realtimeUrl(const std::string &code);

} // namespace tesmo::chart
