#pragma once
// What a grid reads: a database file and a record source (an SQL text). The grid windows
// bind one each, on their own connection.
#include "core/storage/database.h"

#include <memory>
#include <string>
#include <vector>

namespace tesmo::storage {

// A record source with the values bound to its "?" placeholders: what the user typed reaches
// the engine as a value, never as part of the SQL text.
struct Query {
    std::string sql;
    std::vector<Value> params;
};

class DataSource {
public:
    DataSource() = default;
    DataSource(std::string databaseName, std::string recordSource)
        : m_databaseName(std::move(databaseName)), m_recordSource(std::move(recordSource)) {}

    void setDatabaseName(const std::string &path);
    const std::string &databaseName() const { return m_databaseName; }
    void setRecordSource(const std::string &sql) {
        m_recordSource = sql;
        m_params.clear();
    }
    void setRecordSource(const Query &q) {
        m_recordSource = q.sql;
        m_params = q.params;
    }
    const std::string &recordSource() const { return m_recordSource; }
    const std::vector<Value> &recordParams() const { return m_params; }

    // Re-runs the record source; raises DbError. The current row stays where it was when the
    // new result still has it, else moves to the last row (or -1 when empty).
    void refresh();
    const ResultSet &rows() const { return m_rows; }
    int currentRow() const { return m_current; }
    void setCurrentRow(int row);

    // The connection, opened on first use with the database password.
    Database &database();
    void close();

private:
    std::string m_databaseName;
    std::string m_recordSource;
    std::vector<Value> m_params;
    std::unique_ptr<Database> m_db;
    ResultSet m_rows;
    int m_current = -1;
};

} // namespace tesmo::storage
