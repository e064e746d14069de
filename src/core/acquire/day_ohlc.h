#pragma once
// The open, high and low of a J-Quants day beside T_NEARLY's close (table T_OHLC), and the
// split factors that keep a stored history comparable across a split: when a day's AdjFactor
// for a code is not 1, the code's stored days before it are adjusted as the API's adjusted
// values are (prices times the factor, volumes divided by it), once, in the day's import.
#include "core/acquire/jquants_answers.h"
#include "core/storage/database.h"

#include <string>
#include <vector>

namespace tesmo::acquire {

// The bars of one day beyond what the staging table holds, collected as the pages come.
class DayOhlc {
public:
    void clear() { m_bars.clear(); }
    void add(const jquants::StagedBar &bar) { m_bars.push_back(bar); }
    const std::vector<jquants::StagedBar> &bars() const { return m_bars; }

private:
    std::vector<jquants::StagedBar> m_bars;
};

// In the transaction of the import of `day`, before the import reads the staging table
// (wonton_dat01, which then holds the day's rows under their final codes):
// - a code whose stored later days carry split factors gets the day's staged close, volume,
//   open, high and low adjusted by them, so that a day filled in after a split fits the rest;
// - a code whose factor on `day` differs from the one applied to its history before (none: 1)
//   has that history adjusted: T_NEARLY's PRC and DVAL, T_OHLC's prices and the month rows of
//   T_MONTHLY of the months before the day's (each summary scales as the values it sums up).
//   The ratio indicators of the stored days compare values of one basis and stay as they are;
//   the month row of the newest month and the indicators of the newest day are computed again
//   by the import that follows;
// - the day's rows of T_OHLC are replaced by the bars of the codes that the staging table keeps.
void storeDayOhlc(storage::Database &db, long long day, const DayOhlc &ohlc);

// Drops the rows of T_OHLC older than every date T_NEARLY keeps (all of them when it keeps
// none): the open, high and low leave with the rest of their day.
void pruneDayOhlc(storage::Database &db);

// Adjusts the stored history of `code` before `day` by `factor` (see storeDayOhlc). Prices are
// rounded to a tenth of a yen and volumes to whole shares, as the API rounds its adjusted values.
void adjustHistory(storage::Database &db, const std::string &code, long long day, double factor);

} // namespace tesmo::acquire
