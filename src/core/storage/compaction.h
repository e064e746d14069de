#pragma once
// Compaction of the main database when it has grown too much since the last compaction.
#include "core/common/ui_port.h"

namespace tesmo::storage {

// True when the file at mdbpath is longer than DB_SIZE × 1.8.
bool databaseHasGrown();
// Compacts when databaseHasGrown(); returns whether it did.
bool compactIfGrown(UiPort &port);

// Keeps a backup "tesmo.mbk" of the file as it was in the install folder, writes a compacted
// copy beside the database file ("tmp" + its name, "tmptesmo.mdb" for "tesmo.mdb") and puts it
// in place by renaming it over the database file, then saves the new length as DB_SIZE. The
// main connection is closed meanwhile and reopened at the end; when a step fails the old file
// stays in place, DB_SIZE is left as it was (so the next data update tries again), the
// connection is reopened on it and the error, saying which step failed, is raised (DbError)
// for the caller to show.
void compactDatabaseFile(UiPort &port);

} // namespace tesmo::storage
