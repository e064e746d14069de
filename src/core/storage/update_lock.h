#pragma once
// One data update at a time per database, whichever program runs it (the main window's data
// update, its manual import, tesmoctl update and import, a compaction, the updater replacing
// the file). Two at once would both find the same days missing and import them twice over.
#include "core/storage/db_error.h"

#include <string>

namespace tesmo::storage {

inline constexpr const char *kOtherUpdateRunning = "別のプログラムがデータ更新中です";

// Raised when another process holds the lock; what() is kOtherUpdateRunning.
class UpdateRunning : public DbError {
public:
    UpdateRunning() : DbError(kOtherUpdateRunning) {}
};

// The lock is an flock on a file of its own beside the database ("<database>.update-lock"),
// never on the database file: a lock on a descriptor of that file would be dropped with any
// close of it, and SQLite's own locks live there. The kernel releases it when the holder dies,
// so a crashed update never blocks the next one. The file stays: deleting it while another
// program holds it would let a third one lock a new file of the same name.
class UpdateLock {
public:
    // Takes the lock of the database at `databasePath` (which need not exist yet). Inside one
    // process it nests: a compaction inside a data update takes it again. Raises UpdateRunning
    // when another process holds it, DbError when the lock file cannot be made.
    explicit UpdateLock(const std::string &databasePath);
    ~UpdateLock();
    UpdateLock(const UpdateLock &) = delete;
    UpdateLock &operator=(const UpdateLock &) = delete;

    // "<database>.update-lock" for the file the path leads to (links resolved).
    static std::string lockFileFor(const std::string &databasePath);

private:
    std::string m_lockFile;
};

} // namespace tesmo::storage
