#include "core/storage/watch_tables.h"

#include "core/storage/shipped_database.h"

#include <sstream>

namespace tesmo::storage {
namespace {

// The statements of one "-- @section" of the schema, up to the next marker.
std::string schemaSection(const std::string &name) {
    std::istringstream in(kSchemaSql);
    std::string line;
    std::string out;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("-- @", 0) == 0) {
            inside = line == "-- @section " + name;
            continue;
        }
        if (inside)
            out += line + "\n";
    }
    return out;
}

} // namespace

void ensureWatchTables(Database &db) {
    if (db.hasTable(kWatchTable) && db.hasTable(kWatchHitTable))
        return;
    const std::string section = schemaSection("watch");
    if (section.empty())
        throw DbError("監視条件の表の定義が見つかりません。");
    // Both tables or neither: a half-made pair would be taken for a whole one next time.
    const bool own = !db.inTransaction();
    try {
        if (own)
            db.execute("BEGIN");
        db.executeNative(section);
        if (own)
            db.execute("COMMIT");
    } catch (const DbError &e) {
        try {
            if (own && db.inTransaction())
                db.execute("ROLLBACK");
        } catch (const DbError &) {
            // the cause below is what the user needs to read
        }
        throw DbError(std::string("監視条件の表を作成できません: ") + e.what());
    }
}

void addWatchTablesOnOpen(Database &db) noexcept {
    try {
        if (db.hasTable("T_NEARLY"))
            ensureWatchTables(db);
    } catch (const std::exception &) {
        // Left to the watch routines, which call ensureWatchTables and report its failure.
    }
}

} // namespace tesmo::storage
