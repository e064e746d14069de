#pragma once
// Brings a database file of an earlier layout up to the current one when it is opened: the
// tables that the schema added since are created, once, and nothing stored is touched.
#include "core/storage/database.h"

namespace tesmo::storage {

// Creates each table of schemaUpgrades() that the file lacks. Only Tesmo's main database is
// upgraded (a file with T_NEARLY): the portfolio file and a file still being built are left as
// they are, and so is a file that can only be read. Two programs opening the same file at once
// upgrade it once. Raises DbError when the file cannot be written.
void upgradeSchema(Database &db);

} // namespace tesmo::storage
