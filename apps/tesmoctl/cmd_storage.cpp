// new-db, new-portfolio, sql, setting, compact and paths: the storage layer from the command
// line.
#include "commands.h"

#include "core/common/console_port.h"
#include "core/common/paths.h"
#include "core/storage/compaction.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"
#include "core/storage/shipped_database.h"

#include <cstdio>
#include <filesystem>

namespace tesmoctl {
using namespace tesmo::storage;

namespace {
// Fields are printed as they are; tabs and line breaks inside a text would break the table.
std::string cell(const Value &v) {
    std::string s = v.textOr("");
    for (char &c : s)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return s;
}
} // namespace

int cmdNewDb(const Args &args) {
    if (args.size() != 1)
        return usageError(commandNamed("new-db"));
    createShippedDatabase(args[0]);
    return 0;
}

int cmdNewPortfolio(const Args &args) {
    if (args.size() != 1)
        return usageError(commandNamed("new-portfolio"));
    createPortfolioDatabase(args[0]);
    return 0;
}

int cmdSql(const Args &args) {
    if (args.size() != 2)
        return usageError(commandNamed("sql"));
    // A portfolio file carries no password.
    const std::unique_ptr<Database> db = openNamedDatabase(args[0], true);
    ResultSet rs = db->openRecordset(args[1]);
    if (rs.fieldCount() > 0) {
        std::string line;
        for (int c = 0; c < rs.fieldCount(); ++c)
            line += (c ? "\t" : "") + rs.fieldName(c);
        std::printf("%s\n", line.c_str());
        for (; !rs.eof(); rs.moveNext()) {
            line.clear();
            for (int c = 0; c < rs.fieldCount(); ++c)
                line += (c ? "\t" : "") + cell(rs.field(c));
            std::printf("%s\n", line.c_str());
        }
    }
    db->close();
    return 0;
}

int cmdSetting(const Args &argsIn) {
    Args args = argsIn;
    std::string app = mainAppName();
    SettingsApp appKind = SettingsApp::Main;
    if (args.size() >= 2 && args[0] == "--app") {
        const std::string name = args[1];
        if (name == "main") {
            app = mainAppName();
        } else if (name == "updater") {
            app = updaterStateAppName();
            appKind = SettingsApp::UpdaterState;
        } else if (name == "updater-http") {
            app = updaterHttpAppName();
            appKind = SettingsApp::UpdaterHttp;
        } else {
            app = name;
            appKind = name == updaterStateAppName()  ? SettingsApp::UpdaterState
                      : name == updaterHttpAppName() ? SettingsApp::UpdaterHttp
                                                     : SettingsApp::Main;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2 && args.size() != 3)
        return usageError(commandNamed("setting"));
    if (args.size() == 3) {
        saveSetting(app, args[0], args[1], args[2]);
        return 0;
    }
    std::string fallback;
    if (app == appNameOf(appKind))
        if (const SettingKey *k = findSettingKey(appKind, args[0], args[1]))
            fallback = defaultOf(*k);
    if (appKind == SettingsApp::UpdaterState && app == updaterStateAppName()) {
        if (args[0] == kWebcheckSection)
            fallback = kWebcheckDefault;
        else if (args[0] == kTrgSzSection)
            fallback = kTrgSzDefault;
    }
    const std::string value = getSetting(app, args[0], args[1], fallback);
    // The J-Quants key is never printed: only whether one is stored.
    if (findSettingKey(appKind, args[0], args[1]) == &keys::jquantskey && app == mainAppName())
        std::printf("%s\n", value.empty() ? "" : "********");
    else
        std::printf("%s\n", value.c_str());
    return 0;
}

int cmdCompact(const Args &args) {
    Args positional = args;
    const bool ifGrown = takeFlag(positional, "--if-grown");
    if (positional.size() != 1)
        return usageError(commandNamed("compact"));
    // The main program's routine on DB instead of mdbpath; the connection changes the working
    // folder, so the path is made absolute first.
    setDatabasePathOverride(std::filesystem::absolute(positional[0]).string());
    connectDatabase();
    // The one-second pause only lets a window show its caption.
    tesmo::ConsolePort port(stderr, stdout, "tesmoctl compact", false);
    const long long before = tesmo::fileLength(databasePath());
    const bool compacted = ifGrown ? compactIfGrown(port) : (compactDatabaseFile(port), true);
    closeDatabase();
    if (!compacted)
        (void)std::fprintf(stderr, "not compacted: %lld bytes is not above 1.8 × DB_SIZE (%s)\n",
                           before, readSetting(keys::DB_SIZE).c_str());
    std::printf("%lld\n", tesmo::fileLength(databasePath()));
    return 0;
}

int cmdPaths(const Args &args) {
    if (!args.empty())
        return usageError(commandNamed("paths"));
    using tesmo::FileKind;
    const std::pair<const char *, FileKind> kinds[] = {
        {"program", FileKind::Program},
        {"database", FileKind::Database},
        {"download", FileKind::Download},
        {"backup", FileKind::Backup},
        {"update-download", FileKind::UpdateDownload},
    };
    for (const auto &[name, kind] : kinds)
        std::printf("%s\t%s\n", name, tesmo::folderFor(kind).c_str());
    std::printf("mdbpath\t%s\n", databasePath().c_str());
    return 0;
}

} // namespace tesmoctl
