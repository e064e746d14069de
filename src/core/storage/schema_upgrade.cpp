#include "core/storage/schema_upgrade.h"

#include "core/storage/shipped_database.h"

#include <sqlite3.h>

namespace tesmo::storage {
namespace {

// What the shipped file tells the planner about T_OHLC (see data/schema.sql), so that one
// stock's rows are found by a skip-scan over the dates there too. A file without statistics
// has none written: the planner of such a file keeps its own estimates for every table.
void addStatistics(Database &db, const std::string &table) {
    if (table != "T_OHLC" || !db.hasTable("sqlite_stat1"))
        return;
    db.executeNative("DELETE FROM sqlite_stat1 WHERE tbl='T_OHLC';"
                     "INSERT INTO sqlite_stat1 (tbl, idx, stat) "
                     "VALUES ('T_OHLC', 'T_OHLC', '1000000 4000 1');");
}

} // namespace

void upgradeSchema(Database &db) {
    if (!db.hasTable("T_NEARLY") || sqlite3_db_readonly(db.handle(), "main") == 1)
        return;
    bool missing = false;
    for (const SchemaUpgrade &u : schemaUpgrades())
        missing = missing || !db.hasTable(u.table);
    if (!missing)
        return;
    // IMMEDIATE: a second program that opens the file in the same moment waits here and then
    // finds the tables made.
    db.executeNative("BEGIN IMMEDIATE");
    try {
        for (const SchemaUpgrade &u : schemaUpgrades()) {
            if (db.hasTable(u.table))
                continue;
            db.executeNative(u.sql);
            addStatistics(db, u.table);
        }
        db.executeNative("COMMIT");
    } catch (const DbError &e) {
        try {
            db.executeNative("ROLLBACK");
        } catch (const DbError &) {
        }
        throw DbError("データベースを新しい形式に更新できません: " + db.path() + " (" + e.what() +
                      ")");
    }
}

} // namespace tesmo::storage
