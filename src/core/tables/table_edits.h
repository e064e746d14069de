#pragma once
// Edits typed into the portfolio maintenance grid and the master-maintenance grid. Values are
// checked against their column before anything is written, and written with bound values by
// the row's key, so a refused value leaves the row as it was.
#include "core/storage/value.h"

#include <stdexcept>
#include <string>

namespace tesmo::storage {
class Database;
}

namespace tesmo::tables {

// What the user is told when an edit is refused; what() is ready to show.
class EditError : public std::runtime_error {
public:
    explicit EditError(const std::string &text) : std::runtime_error(text) {}
};

// The value that `text` gives column `field` of the portfolio (PDATE, CODE, PSW, APRC, AVAL),
// or EditError naming the column by `caption`.
storage::Value portValue(const std::string &field, const std::string &caption,
                         const std::string &text);

// One field of the entry (pdate, code) in `table` (T_PORT or the linked table).
void updatePortField(storage::Database &db, const std::string &table, const storage::Value &pdate,
                     const std::string &code, const std::string &field,
                     const storage::Value &value);
// A new entry; PSW 0 unless given. EditError when an entry with that date and code exists.
void insertPortEntry(storage::Database &db, const std::string &table, const storage::Value &pdate,
                     const std::string &code, const storage::Value &psw, const storage::Value &aprc,
                     const storage::Value &aval);
void deletePortEntry(storage::Database &db, const std::string &table, const storage::Value &pdate,
                     const std::string &code);

// The master maintenance: one field of the master row with this code.
storage::Value masterValue(const std::string &field, const std::string &caption,
                           const std::string &text);
void updateMasterField(storage::Database &db, const std::string &code, const std::string &field,
                       const storage::Value &value);

} // namespace tesmo::tables
