#pragma once
#include <string>

namespace tesmo::storage {
// Lower-case hex SHA-256 of `data`; used to keep database passwords as salted hashes.
std::string sha256Hex(const std::string &data);
} // namespace tesmo::storage
