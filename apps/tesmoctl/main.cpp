#include "commands.h"

#include "core/common/build_config.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/watch_tables.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace tesmoctl {

const std::vector<Command> &commands() {
    static const std::vector<Command> all = {
        {"new-db", "new-db PATH", "write a fresh shipped database (tesmo.mdb) to PATH", cmdNewDb},
        {"new-portfolio", "new-portfolio PATH",
         "write a fresh portfolio file (like tempportfolio.gbf) to PATH", cmdNewPortfolio},
        {"sql", "sql DB STATEMENT",
         "run one statement through the engine and print the rows tab-separated", cmdSql},
        {"setting", "setting [--app NAME] SECTION KEY [VALUE]",
         "print a setting (its default when unset) or save VALUE; NAME is an application name "
         "or main, updater, updater-http",
         cmdSetting},
        {"compact", "compact DB [--if-grown]",
         "compact DB as the data update does, keeping tesmo.mbk and saving DB_SIZE; --if-grown "
         "only when it is longer than 1.8 × DB_SIZE; prints the size in bytes afterwards",
         cmdCompact},
        {"paths", "paths",
         "print the folder of each kind of file (program, database, download, backup, "
         "update-download) and the database in use; the files the programs write leave the "
         "program folder for $XDG_DATA_HOME/tesmo when that cannot be written",
         cmdPaths},
        {"import", "import [--verbose] [--day N] DB FILE...",
         "import day files (<yyyymmdd>.bnd, or an archive <yyyymmdd>.bnd.lzh, of which only that "
         "day file is taken) into DB; prints each file's result; --day N as the data-site scan "
         "passes it (a file that does not decode is then skipped)",
         cmdImport},
        {"gen-day", "gen-day DATE FILE [--stocks N] [--seed S]",
         "write a made-up day file for DATE (yyyymmdd) as the data site publishes it; N stocks "
         "from code 1301 on, 3800 by default",
         cmdGenDay},
        {"fetch", "fetch URL [FILE]",
         "download URL into FILE with the retries of the main program, or print it as text",
         cmdFetch},
        {"update", "update [--no-wait] DB",
         "run the fetch and import of a data update into DB with the current settings, from "
         "the source that datasource names (site or jquants); --no-wait skips the pauses that "
         "only keep a window alive; Ctrl+C stops it between two days, like the 中止 button, "
         "and it exits 130",
         cmdUpdate},
        {"jquants-check", "jquants-check",
         "the connection test of the options window: one request to J-Quants API V2 with "
         "jquantsapi and jquantskey; says whether the key works and which dates the plan covers",
         cmdJQuantsCheck},
        {"source", "source",
         "the source of the data update as the main window shows it (データサイト, J-Quants, "
         "and what an unusable one lacks); exit status 1 when it cannot be used",
         cmdSource},
        {"version-check", "version-check [--complete]",
         "print the files the update site offers (name size stamp); --complete asks for the "
         "complete database",
         cmdVersionCheck},
        {"install-update", "install-update [--no-start | --recover-only]",
         "run the updater (tesmo_auto) after its splash wait: check the signed list of the "
         "update site, fetch every file of that release whose installed copy differs (and the "
         "databases the version check recorded) and install them beside this program, all or "
         "none; exits 1 on any refusal; --no-start does not start Tesmo afterwards; "
         "--recover-only only finishes or undoes an install that was killed midway, as every "
         "program does at its start, and prints which",
         cmdInstallUpdate},
        {"release-keygen", "release-keygen SECRET PUBLIC",
         "write a new release key pair (base64; SECRET readable by its owner only)",
         cmdReleaseKeygen},
        {"release-sign", "release-sign SECRET DIR [--serial N] [--force-serial]",
         "write modules.sha256 and its signature modules.sha256.sig for every file in DIR; "
         "the serial defaults to the time (UTC yyyymmddhhmm) or one above DIR's last list; a "
         "serial N not above DIR's last list is refused (updaters refuse such a release) unless "
         "the list stays the same or --force-serial is given",
         cmdReleaseSign},
        {"export",
         "export DB WINDOW [--sort COLUMN] [--asc] [--group G] [--find TEXT] [--file PATH]",
         "print the copy text of a table window (ranktb, porttb, portm, findco) as its copy "
         "command makes it, or write it to PATH in code page 932 as its file command does",
         cmdExport},
        {"watch", "watch list|add|remove|on|off|run DB [--json] [RULE | rule options]",
         "the watch rules of DB: list them; add one (--column COL --ge|--le VALUE "
         "[--times-average] [--group G], --code CODE --ge|--le PRICE, --portfolio-gain PCT or "
         "--portfolio-loss PCT [--group G]; --name NAME, --off), printing its number; remove, "
         "switch on or off the rule a number or name names; run them on the newest day and "
         "print the matches (exit 0 with or without matches, 1 on an error). Ratio columns "
         "(前比終値 ...) take percentages: --ge 5%",
         cmdWatch},
#ifdef TESMOCTL_WITH_CHART
        {"chart",
         "chart DB CODE [--style line|candle] [--ma DAYS] [--colors color|print] [--topic] "
         "[--no-markers] [--port-price N] --png FILE [--size WxH]",
         "draw the chart window's chart of CODE into a PNG without a display (volume mode unless "
         "--topic; the style, the moving averages of the candlestick chart (DAYS: 5,25,75) and "
         "its colours as the settings have them unless given; WxH is the client area in pixels "
         "at 96 dpi, 582x409 by default)",
         cmdChart},
#endif
    };
    return all;
}

const Command &commandNamed(const char *name) {
    for (const auto &c : commands())
        if (std::string(c.name) == name)
            return c;
    return commands().front();
}

int fail(const std::string &text) {
    (void)std::fprintf(stderr, "tesmoctl: %s\n", text.c_str());
    return 1;
}

int usageError(const Command &cmd) {
    return fail(std::string("usage: tesmoctl ") + cmd.usage);
}

bool takeFlag(Args &args, const std::string &flag) {
    return std::erase(args, flag) != 0;
}

std::unique_ptr<tesmo::storage::Database> openNamedDatabase(const std::string &path,
                                                            bool portfolioToo) {
    using namespace tesmo::storage;
    provideDefaultDatabase(path);
    try {
        std::unique_ptr<Database> db = Database::open(path, kConnectString);
        addWatchTablesOnOpen(*db);
        return db;
    } catch (const DbError &first) {
        if (!portfolioToo)
            throw;
        try {
            return Database::open(path, "");
        } catch (const DbError &) {
            throw first;
        }
    }
}

} // namespace tesmoctl

namespace {

// Each command's usage on a line of its own and its summary wrapped below it at a deep indent:
// readable in a terminal, and the layout from which help2man makes the manual page's list.
void printWrapped(const std::string &text, std::size_t indent, std::size_t width) {
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            std::printf("%*s%s\n", static_cast<int>(indent), "", line.c_str());
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty())
        std::printf("%*s%s\n", static_cast<int>(indent), "", line.c_str());
}

void printHelp() {
    std::printf("Usage: tesmoctl COMMAND [ARGS]\n\n"
                "The command-line companion of Tesmo: what its windows do, without a display,\n"
                "through the same routines and on the same files and settings.\n\n"
                "Commands:\n");
    for (const auto &cmd : tesmoctl::commands()) {
        std::printf("  %s\n", cmd.usage);
        printWrapped(cmd.summary, 20, 79);
    }
    std::printf("\nOptions:\n"
                "  -h, --help        print this help and exit\n"
                "      --version     print the version and exit\n"
                "\nSettings are those of the current user ($XDG_CONFIG_HOME/tesmo).\n");
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
        !std::strcmp(argv[1], "help")) {
        printHelp();
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("tesmoctl %s\n", TESMO_VERSION);
        return 0;
    }
    const tesmoctl::Args args(argv + 2, argv + argc);
    for (const auto &cmd : tesmoctl::commands()) {
        if (cmd.name == std::string(argv[1])) {
            int status = 0;
            try {
                status = cmd.run(args);
            } catch (const std::exception &e) {
                return tesmoctl::fail(e.what());
            }
            // Output that never reached its file (a full disk) makes the command a failure,
            // whatever it printed before: a script must not take a cut answer for the whole.
            if (std::fflush(stdout) != 0 || std::ferror(stdout))
                return tesmoctl::fail(std::string("cannot write the output: ") +
                                      std::strerror(errno));
            return status;
        }
    }
    tesmoctl::fail(std::string("unknown command: ") + argv[1]);
    printHelp();
    return 2;
}
