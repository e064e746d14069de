#pragma once
// A second import of one day file, written independently of the import driver: the decoded
// rows go straight into master and T_NEARLY with prepared statements, and everything after
// that is one set-based statement per step (the month row as one grouped INSERT, the date
// retention, the month retention, all indicators of the newest date in one UPDATE, the four
// markers in one UPDATE), all in one transaction. It leaves the database as the driver does
// for a well-formed day file (outside debug mode), which makes it both the reference of the
// whole-database comparison in the tests and the floor that the import benchmark measures the
// driver against: about the least work that SQLite can do for the same result.
#include "core/storage/database.h"

#include <string>

namespace tesmo::test {

// Imports `dayFile` into `db` with the retention of the maxdtc setting. Returns the empty
// text, or the decoder's message for a file that does not decode (nothing is written then).
// Raises storage::DbError when a statement fails; the transaction is rolled back.
std::string referenceImport(storage::Database &db, const std::string &dayFile);

// The first row in which the tables that an import writes (master, T_NEARLY, T_MONTHLY,
// T_config, wonton_dat01) differ between `a` and `b`, values compared exactly; the empty text
// when they are equal.
std::string firstDifference(storage::Database &a, storage::Database &b);

// Makes now() of `db` return `*clock` (which must outlive the connection), so that the stamps
// of master compare between two imports run at different moments.
void fixClock(storage::Database &db, const std::string *clock);

} // namespace tesmo::test
