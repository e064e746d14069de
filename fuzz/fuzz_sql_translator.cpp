// The SQL dialect translator on arbitrary statements, with one linked table in play.
#include "core/storage/db_error.h"
#include "core/storage/sql_translator.h"

#include <cstdlib>

using namespace tesmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string sql(reinterpret_cast<const char *>(data), size);
    static const storage::LinkMap links = {{"T_PORT", {"link_t_port", "T_PORT"}}};
    try {
        const std::vector<storage::SqlToken> tokens = storage::tokenizeSql(sql);
        // The tokens cover the statement exactly: nothing lost, nothing made up.
        std::string joined;
        for (const storage::SqlToken &t : tokens)
            joined += t.text;
        if (joined != sql)
            std::abort();
        (void)storage::translateSql(sql, links);
        (void)storage::translateSql(sql);
        (void)storage::withoutTrailingSemicolons(sql);
    } catch (const storage::DbError &) {
    }
    return 0;
}
