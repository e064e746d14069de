#pragma once
// The ratio indicators of the newest trading date and the date markers of T_config, both run
// after each import.
#include "core/common/ui_port.h"
#include "core/storage/database.h"
#include "core/storage/value.h"

#include <optional>
#include <string>

namespace tesmo::acquire {

// The month yyyymm of a date yyyymmdd: the date divided by 100, rounded half to even as
// every conversion to a whole number is (the day part never rounds up).
long long monthOfDate(long long date);

// (x1 - x2) / x2, or nothing when either value is null or zero.
std::optional<double> ratioOf(const storage::Value &x1, const storage::Value &x2);

// The format "0.0000": four decimals, halves away from zero, "." as decimal point, a leading
// minus for a negative result, at least one digit before the point. The rounding works on the
// shortest decimal text that reads back as `v`, so 0.00005 gives 0.0001 although the double
// nearest to it lies a hair below or above the half. A value that rounds to zero is written
// without a minus sign. Raises std::domain_error for an infinite or NaN value.
std::string formatRatio(double v);

// Fills ANPRC..AXTALK and VAL2 of T_NEARLY for date `date` against the month row of its month
// and the previous trading date; the caption of `port` shows the progress every 30 rows. When
// no earlier date exists (a young database) the previous-date pass is skipped, which is no
// error: the A1 columns stay as they are. Returns the empty text, "前営業日がみつかりません"
// or a step's failure text.
std::string computeIndicators(storage::Database &db, UiPort &port, long long date);

// Writes the newest and second-newest date and month into the markers MAXDT, MAXDT1, MAXMM
// and MAXMM1 of T_config. A marker whose query gives null (a young database: one date, no
// month row, a single month) keeps its value and the routine goes on. Returns the empty text
// or a step's failure text.
std::string updateDateMarkers(storage::Database &db, UiPort &port);

} // namespace tesmo::acquire
