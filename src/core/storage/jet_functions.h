#pragma once
struct sqlite3;

namespace tesmo::storage {
// now() and the dialect's `like` (*, ?, #, [..], case-insensitive) on a SQLite connection;
// raises DbError when SQLite refuses them.
void registerJetFunctions(sqlite3 *db);
// The `like` match on its own: `text` against a pattern of the dialect.
bool jetLike(const char *text, const char *pattern);
} // namespace tesmo::storage
