// The module-table parser of the version check, and the checks that follow it for each row.
#include "core/update/version_check.h"

#include <cstdlib>
#include <stdexcept>

using namespace tesmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string page(reinterpret_cast<const char *>(data), size);
    std::vector<update::ModuleRow> rows;
    try {
        rows = update::parseModuleTable(page);
    } catch (const std::runtime_error &) {
        return 0;
    }
    for (const update::ModuleRow &row : rows) {
        if (update::safeModuleName(row.name) &&
            (row.name.find('/') != std::string::npos || row.name == ".." || row.name == "."))
            std::abort();
        try {
            (void)update::moduleOffered(row, 126010112, false, "1080505");
            (void)update::moduleOffered(row, 126010112, true, row.stamp);
        } catch (const std::runtime_error &) {
        }
    }
    return 0;
}
