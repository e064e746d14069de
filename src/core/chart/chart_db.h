#pragma once
// The chart window's own database connection, opened for one drawing pass or one add command
// and closed at its end. By default it is the configured database (mdbpath); tesmoctl names a
// file instead.
#include "core/storage/connection.h"

#include <memory>
#include <string>
#include <vector>

namespace tesmo::chart {

class ChartDbLink {
public:
    // `path` empty: the database of the settings, opened like the main connection.
    explicit ChartDbLink(std::string path = {}) : m_path(std::move(path)) {}

    // F_connect_db: raises DbError when the file cannot be opened.
    storage::Database &connect();
    // F_close_db: errors are not hidden.
    void close();
    // For the ends of a failed pass, where the failure text already says what went wrong.
    void closeQuietly() noexcept;
    bool isOpen() const;

private:
    std::string m_path;
    storage::ChartConnection m_configured;
    std::unique_ptr<storage::Database> m_direct;
};

// The distinct dates of T_NEARLY, oldest first: what "SELECT count([IDATE]) from T_NEARLY Group
// by [IDATE]" counts, found by one index seek per date instead of a walk over every row (a
// million with a year of 4,000 stocks, most of a drawing pass).
std::vector<long long> storedDates(storage::Database &db);

} // namespace tesmo::chart
