#pragma once
// Writes LHA archives with stored (-lh0-) members and level-2 headers: what the sample data
// site needs to deliver its day files packed, as the real site does.
#include <ctime>
#include <string>

namespace sample_site {

// An archive holding one member `name` (ASCII) with the bytes `data`, stamped `mtime`.
std::string storedArchive(const std::string &name, const std::string &data, std::time_t mtime);

} // namespace sample_site
