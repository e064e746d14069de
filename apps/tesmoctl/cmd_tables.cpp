// export: the copy text of a grid window's table, as its copy and file commands write it.
#include "commands.h"

#include "core/common/console_port.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"
#include "core/tables/clip_tbl.h"
#include "core/tables/table_sources.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tesmoctl {
using namespace tesmo;

namespace {

// A column by index, field name or caption (without mark).
int findColumn(const tables::GridColumns &cols, const std::string &what) {
    char *end = nullptr;
    const long n = std::strtol(what.c_str(), &end, 10);
    if (!what.empty() && *end == '\0')
        return n >= 0 && n < static_cast<long>(cols.size()) ? static_cast<int>(n) : -1;
    for (size_t i = 0; i < cols.size(); ++i)
        if (cols[i].field == what || cols[i].caption == what)
            return static_cast<int>(i);
    return -1;
}

std::string todayText() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    (void)std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
    return buf;
}

} // namespace

int cmdExport(const Args &args) {
    std::vector<std::string> pos;
    std::string sortColumn, findText, file;
    bool ascending = false;
    int group = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--asc")
            ascending = true;
        else if (a == "--sort" && hasValue)
            sortColumn = args[++i];
        else if (a == "--find" && hasValue)
            findText = args[++i];
        else if (a == "--file" && hasValue)
            file = args[++i];
        else if (a == "--group" && hasValue) {
            const std::string &g = args[++i];
            if (g.size() != 1 || g[0] < '0' || g[0] > '4')
                return fail("--group takes 0 to 4");
            group = g[0] - '0';
        } else if (a.rfind("--", 0) == 0)
            return usageError(commandNamed("export"));
        else
            pos.push_back(a);
    }
    if (pos.size() != 2)
        return usageError(commandNamed("export"));
    const std::string &window = pos[1];

    tables::GridColumns cols;
    int defaultColumn = 1;
    if (window == "ranktb") {
        cols = tables::rankColumns();
        // The window's default: 前比終値 while J-Quants leaves the topic columns empty.
        defaultColumn =
            storage::jquantsSource() ? tables::kRankPriceChangeColumn : tables::kRankDefaultColumn;
    } else if (window == "porttb") {
        cols = tables::portTbColumns();
    } else if (window == "portm") {
        cols = tables::portMColumns();
    } else if (window == "findco") {
        cols = tables::findColumns();
        if (!sortColumn.empty() || ascending)
            return fail("the stock search has no sort order of its own");
    } else {
        return fail("unknown window: " + window + " (ranktb, porttb, portm or findco)");
    }

    storage::Query source;
    if (window == "findco") {
        source = tables::searchSource(findText, false);
    } else {
        const int c = sortColumn.empty() ? defaultColumn : findColumn(cols, sortColumn);
        if (c < 0)
            return fail("no such column: " + sortColumn);
        tables::markSorted(cols, c, !ascending);
        if (window == "ranktb")
            source.sql = tables::rankSource(cols, c, !ascending);
        else if (window == "porttb")
            source.sql = tables::portTbSource("V_PORT", cols, group, c, !ascending);
        else
            source.sql = tables::portMSource("M_PORT", cols, c, !ascending);
    }

    auto db = openNamedDatabase(pos[0], true);
    if (!file.empty()) {
        // The window's file command, with the path given here as the dialog's answer: the
        // extension, the overwrite question (answered OK) and savecsvdir come with it.
        tesmo::ConsolePort port(nullptr, stderr);
        port.setSavePath(file);
        const bool written = tables::fileTableCommand(
            port, tables::TableExport{*db, source, cols, window, window, false}, todayText());
        db->close();
        return written ? 0 : 1;
    }
    const auto statement = tables::clipStatement(source.sql, cols);
    const std::string text =
        tables::clipText(*db, *statement, source.params, cols, tables::copySeparator());
    db->close();
    (void)std::fwrite(text.data(), 1, text.size(), stdout); // checked by main()
    return 0;
}

} // namespace tesmoctl
