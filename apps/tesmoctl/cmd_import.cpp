// import: day files into a database, as the data update does after each download.
#include "commands.h"

#include "core/acquire/day_file_writer.h"
#include "core/acquire/import_driver.h"
#include "core/common/console_port.h"
#include "core/common/text.h"
#include "core/shell/day_file_import.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/update_lock.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tesmoctl {
namespace {

// A day file, or an archive that gives up its day file as the manual import takes it out:
// into the install folder, and nothing else the archive holds.
std::string importFile(tesmo::storage::Database &db, const std::string &file, tesmo::UiPort &port,
                       long long day, tesmo::acquire::ImportRunState &state) {
    if (tesmo::storage::isFileOfDatabase(db, file))
        return tesmo::shell::kDatabaseIsNoDayFile + file;
    if (!tesmo::lowerAscii(file).ends_with(".lzh"))
        return tesmo::acquire::importDayFile(db, file, port, day, state);
    const tesmo::shell::PlacedDayFile placed = tesmo::shell::placeDayFile(port, file);
    if (!placed.failure.empty())
        return placed.failure;
    std::string result = tesmo::acquire::importDayFile(db, placed.path, port, day, state);
    if (placed.deleteAfter) {
        std::error_code ec;
        std::filesystem::remove(placed.path, ec);
    }
    return result;
}

} // namespace

int cmdImport(const Args &args) {
    const Command *self = &commandNamed("import");
    bool verbose = false;
    long long day = 0;
    Args positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--verbose") {
            verbose = true;
        } else if (args[i] == "--day" && i + 1 < args.size()) {
            char *end = nullptr;
            day = std::strtoll(args[++i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || day < 0)
                return fail("--day needs a day number yyyymmdd (0: a manual import)");
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() < 2)
        return usageError(*self);

    auto db = openNamedDatabase(positional[0]);
    const tesmo::storage::UpdateLock lock(db->path());
    // A terminal has no events to pump, so the one-second pause at each separator line of a
    // day file is skipped. The captions are the progress report, printed with --verbose.
    tesmo::ConsolePort port(verbose ? stderr : nullptr, stderr, {}, false);
    tesmo::acquire::ImportRunState state;
    bool failed = false;
    for (size_t i = 1; i < positional.size(); ++i) {
        port.setCaption("tesmoctl import");
        const std::string result = importFile(*db, positional[i], port, day, state);
        failed = failed || !result.empty();
        std::printf("%s: %s\n", positional[i].c_str(),
                    result.empty() ? "正常終了" : tesmo::withLfNewlines(result).c_str());
        (void)std::fflush(stdout);
    }
    if (verbose)
        (void)std::fprintf(stderr, "imported: %d\n%s", state.importedCount,
                           tesmo::withLfNewlines(state.importedList).c_str());
    db->close();
    return failed ? 1 : 0;
}

int cmdGenDay(const Args &args) {
    const Command *self = &commandNamed("gen-day");
    long long stocks = 3800;
    long long seed = 1;
    Args positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--stocks" || args[i] == "--seed") && i + 1 < args.size()) {
            const bool isStocks = args[i] == "--stocks";
            char *end = nullptr;
            const long long v = std::strtoll(args[++i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || v < (isStocks ? 1 : 0) || v > 100000000)
                return fail(std::string(isStocks ? "--stocks" : "--seed") +
                            " needs a whole number");
            (isStocks ? stocks : seed) = v;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2)
        return usageError(*self);
    char *end = nullptr;
    const long long date = std::strtoll(positional[0].c_str(), &end, 10);
    if (positional[0].size() != 8 || *end != '\0' || date < 10000101)
        return fail("DATE must be a trading date yyyymmdd: " + positional[0]);
    tesmo::acquire::writeDayFile(positional[1],
                                 tesmo::acquire::sampleDayRecords(date, static_cast<int>(stocks),
                                                                  static_cast<unsigned>(seed)));
    return 0;
}

} // namespace tesmoctl
