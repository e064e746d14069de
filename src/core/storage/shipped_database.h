#pragma once
// The database files that ship with the program, built from data/schema.sql.
#include <string>
#include <vector>

namespace tesmo::storage {

extern const char *const kSchemaSql;

// A table that later versions of the schema added, with the statements that create it.
struct SchemaUpgrade {
    std::string table;
    std::string sql; // SQLite's own SQL
};
// The tables added since the first layout, in the order of the schema.
const std::vector<SchemaUpgrade> &schemaUpgrades();

// A fresh tesmo.mdb at `path` (password, tables, markers, stored queries). Refuses to
// overwrite an existing file.
void createShippedDatabase(const std::string &path);
// A fresh portfolio file (the template tempportfolio.gbf): one empty T_PORT, no password.
void createPortfolioDatabase(const std::string &path);

} // namespace tesmo::storage
