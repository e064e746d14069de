#pragma once
// The tables of the watch rules and their matches. Files made before the rules existed lack
// them; they are added when such a file is opened, and nothing else in it changes.
#include "core/storage/database.h"

namespace tesmo::storage {

inline constexpr const char *kWatchTable = "T_WATCH";
inline constexpr const char *kWatchHitTable = "T_WATCH_HIT";

// Creates T_WATCH and T_WATCH_HIT as the shipped schema defines them when `db` lacks one of
// them, both or neither; nothing is written when they exist. Raises DbError when they cannot
// be created.
void ensureWatchTables(Database &db);

// The same for a database that has just been opened, if it is a market database (it has
// T_NEARLY). A file that cannot take the tables now (read only, or another program writes it)
// still opens: every watch routine tries again and reports what stops it.
void addWatchTablesOnOpen(Database &db) noexcept;

} // namespace tesmo::storage
