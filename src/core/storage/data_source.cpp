#include "core/storage/data_source.h"

#include "core/storage/connection.h"
#include "core/storage/db_error.h"

#include <algorithm>

namespace tesmo::storage {

void DataSource::setDatabaseName(const std::string &path) {
    if (path != m_databaseName)
        close();
    m_databaseName = path;
}

Database &DataSource::database() {
    if (!m_db)
        m_db = Database::open(m_databaseName, kConnectString);
    return *m_db;
}

void DataSource::close() {
    m_db.reset();
    m_rows = ResultSet();
    m_current = -1;
}

void DataSource::refresh() {
    if (m_recordSource.empty())
        throw DbError("レコードソースが設定されていません。");
    m_rows = database().openRecordset(m_recordSource, m_params);
    const int count = static_cast<int>(m_rows.rowCount());
    if (count == 0)
        m_current = -1;
    else if (m_current < 0)
        m_current = 0;
    else if (m_current >= count)
        m_current = count - 1;
}

void DataSource::setCurrentRow(int row) {
    const int count = static_cast<int>(m_rows.rowCount());
    m_current = count == 0 ? -1 : std::max(0, std::min(row, count - 1));
}

} // namespace tesmo::storage
