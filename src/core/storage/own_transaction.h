#pragma once
// A transaction of its own unless the caller already runs one, rolled back unless committed:
// the work inside lands whole or not at all, and a caller's larger transaction is kept.
#include "core/storage/database.h"

#include <exception>

namespace tesmo::storage {

class OwnTransaction {
public:
    explicit OwnTransaction(Database &db) : m_db(db), m_own(!db.inTransaction()) {
        if (m_own)
            m_db.execute("BEGIN");
    }
    ~OwnTransaction() {
        try {
            if (m_own && m_db.inTransaction())
                m_db.execute("ROLLBACK");
        } catch (const std::exception &) {
            // the failure that brought us here is the one reported
        }
    }
    OwnTransaction(const OwnTransaction &) = delete;
    OwnTransaction &operator=(const OwnTransaction &) = delete;

    // An I/O error or a full disk may have rolled the transaction back already: nothing is
    // committed then, and the statement that failed has reported it.
    void commit() {
        if (m_own && m_db.inTransaction())
            m_db.execute("COMMIT");
        m_own = false;
    }

private:
    Database &m_db;
    bool m_own;
};

} // namespace tesmo::storage
