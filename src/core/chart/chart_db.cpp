#include "core/chart/chart_db.h"

namespace tesmo::chart {

storage::Database &ChartDbLink::connect() {
    close();
    if (m_path.empty()) {
        m_configured.connect();
        return m_configured.db();
    }
    m_direct = storage::Database::open(m_path, storage::kConnectString);
    return *m_direct;
}

void ChartDbLink::close() {
    m_configured.close();
    if (m_direct) {
        m_direct->close();
        m_direct.reset();
    }
}

void ChartDbLink::closeQuietly() noexcept {
    try {
        close();
    } catch (...) {
        m_direct.reset();
    }
}

bool ChartDbLink::isOpen() const {
    return m_configured.isOpen() || m_direct != nullptr;
}

std::vector<long long> storedDates(storage::Database &db) {
    std::vector<long long> dates;
    for (storage::Value v = db.scalar("Select Min(IDATE) from T_NEARLY ;"); !v.isNull();
         v = db.openRecordset("Select Min(IDATE) from T_NEARLY where IDATE > ? ;", {v}).field(0))
        dates.push_back(v.toInt());
    return dates;
}

} // namespace tesmo::chart
