// The record parser: the seven fields of a deciphered record line into staging values.
#include "core/acquire/day_record.h"

#include <cstdlib>

using namespace tesmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string_view> fields = tesmo::acquire::splitRecordFields(text);
    try {
        const std::vector<storage::Value> values = acquire::stagingValues(fields);
        if (values.size() != 7 || values[0].isNull() || values[1].isNull())
            std::abort();
    } catch (const acquire::DayRecordError &) {
    }
    return 0;
}
