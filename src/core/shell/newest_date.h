#pragma once
#include "core/storage/database.h"

#include <optional>
#include <string>

namespace tesmo::shell {
// The newest trading date in T_NEARLY, nothing for an empty table. Engine errors pass on.
std::optional<long long> newestDate(storage::Database &db);
// What the main window's date field shows for it.
std::string newestDateText(const std::optional<long long> &date);
} // namespace tesmo::shell
