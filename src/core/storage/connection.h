#pragma once
// The main program's connection to its database, the chart window's private one, and the
// linked table through which a separate portfolio file is reached.
#include "core/storage/database.h"

#include <memory>
#include <string>

namespace tesmo::storage {

inline constexpr const char *kDbPassword = "qarvel";
inline constexpr const char *kConnectString = ";pwd=qarvel";
inline constexpr const char *kCompactLocale = ";LANGID=0x0411;CP=932;COUNTRY=0";

// The setting mdbpath, by default tesmo.mdb in the install folder.
std::string databasePath();

// The shipped database, installed as a template beside the programs: the default database is
// a copy of it, made on the first start, so that installing the programs again never touches
// the user's data. The template itself is never opened.
inline constexpr const char *kShippedDatabase = "template/tesmo.mdb";
std::string shippedDatabasePath();
// When `path` is the default database (mdbpath unset: tesmo.mdb in the install folder, or in
// the user's data folder where the install folder cannot be written) and does not exist yet,
// copies the shipped database there. Anything else is left alone. Raises DbError when the copy
// fails.
void provideDefaultDatabase(const std::string &path);
// tesmoctl works on the database its command line names: from now on databasePath() is `path`
// in this process (an empty text goes back to mdbpath). Nothing is saved.
void setDatabasePathOverride(const std::string &path);

// Opens the main connection (closing an earlier one first). Raises DbError when the file is
// missing, unreadable or carries another password.
void connectDatabase();
// Closes the main connection; harmless when it is not open.
void closeDatabase() noexcept;
bool isDatabaseConnected();
// The main connection; raises DbError when it is not open.
Database &mainDatabase();

// The chart window's own pair: the same steps as connectDatabase, kept in the window.
class ChartConnection {
public:
    void connect();
    // Unlike closeDatabase, errors are not hidden.
    void close();
    bool isOpen() const { return m_db != nullptr; }
    Database &db();

private:
    std::unique_ptr<Database> m_db;
};

// "userportf" followed by the user's number.
std::string portLinkTableName(long long useridno);
// Replaces a link named `linkName` by one to T_PORT of `portfilePath`. Returns true when an
// earlier link of that name existed.
bool attachPortfolioLink(Database &db, const std::string &linkName,
                         const std::string &portfilePath);
// The name of `base` (V_PORT or M_PORT) for the linked table, created on first use: the SQL of
// `base` with every "T_PORT" replaced by the link's name.
std::string ensureDerivedQuery(Database &db, const std::string &base, const std::string &linkName);

} // namespace tesmo::storage
