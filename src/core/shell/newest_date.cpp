#include "core/shell/newest_date.h"

namespace tesmo::shell {

std::optional<long long> newestDate(storage::Database &db) {
    const storage::Value v = db.scalar("Select max(IDATE) From T_NEARLY ;");
    if (v.isNull())
        return std::nullopt;
    return v.toInt();
}

std::string newestDateText(const std::optional<long long> &date) {
    // An empty database has no date yet; the first data update fills it.
    return date ? std::to_string(*date) : std::string("ﾃﾞｰﾀなし");
}

} // namespace tesmo::shell
