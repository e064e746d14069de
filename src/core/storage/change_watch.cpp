#include "core/storage/change_watch.h"

namespace tesmo::storage {

ChangeWatch::Change ChangeWatch::look(const Database &db) {
    const long long version = db.dataVersion();
    // Commits of this process's other connections; those of `db` itself leave its version alone.
    const unsigned long long commits = committedInThisProcess() - db.commitCount();
    Change change = Change::None;
    if (m_version && m_connection == db.handle() && version != *m_version)
        change = commits == m_commits ? Change::OtherProgram : Change::ThisProgram;
    m_connection = db.handle();
    m_version = version;
    m_commits = commits;
    return change;
}

} // namespace tesmo::storage
