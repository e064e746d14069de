#pragma once
// What other programs wrote into a database that this program keeps open: tesmoctl from a
// script or cron imports days while the main window shows the newest date and open tables.
#include "core/storage/database.h"

#include <optional>

namespace tesmo::storage {

class ChangeWatch {
public:
    enum class Change {
        None,         // nothing was committed by another connection since the last look
        ThisProgram,  // another connection committed, and so did another connection of this
                      // program (a grid that saves an edit): maybe only this program
        OtherProgram, // another connection committed, none of this program's: another program
    };
    // Compares with the previous look at `db` (SQLite's data_version, which only commits of
    // other connections change, and the commits of this process's other connections). The first
    // look, and the first one at another connection, only record.
    Change look(const Database &db);

private:
    const sqlite3 *m_connection = nullptr;
    std::optional<long long> m_version;
    unsigned long long m_commits = 0;
};

} // namespace tesmo::storage
