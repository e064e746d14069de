#pragma once
// The database files that ship with the program, built from data/schema.sql.
#include <string>

namespace tesmo::storage {

extern const char *const kSchemaSql;

// A fresh tesmo.mdb at `path` (password, tables, markers, stored queries). Refuses to
// overwrite an existing file.
void createShippedDatabase(const std::string &path);
// A fresh portfolio file (the template tempportfolio.gbf): one empty T_PORT, no password.
void createPortfolioDatabase(const std::string &path);

} // namespace tesmo::storage
