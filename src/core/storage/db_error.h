#pragma once
#include <stdexcept>
#include <string>

namespace tesmo::storage {

// Raised by the engine; what() is the description that callers put into their failure texts.
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string &description) : std::runtime_error(description) {}
};

} // namespace tesmo::storage
