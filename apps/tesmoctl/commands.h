#pragma once
// The subcommands of tesmoctl. Each takes the arguments after its name and returns the exit
// status; output goes to stdout, errors to stderr.
#include <memory>
#include <string>
#include <vector>

namespace tesmo::storage {
class Database;
}

namespace tesmoctl {

using Args = std::vector<std::string>;

struct Command {
    const char *name;
    const char *usage;
    const char *summary;
    int (*run)(const Args &args);
};

const std::vector<Command> &commands();

int cmdNewDb(const Args &args);
int cmdNewPortfolio(const Args &args);
int cmdSql(const Args &args);
int cmdSetting(const Args &args);
int cmdCompact(const Args &args);
int cmdPaths(const Args &args);
#ifdef TESMOCTL_WITH_CHART
int cmdChart(const Args &args);
#endif
int cmdImport(const Args &args);
int cmdGenDay(const Args &args);
int cmdFetch(const Args &args);
int cmdUpdate(const Args &args);
int cmdVersionCheck(const Args &args);
int cmdInstallUpdate(const Args &args);
int cmdReleaseKeygen(const Args &args);
int cmdReleaseSign(const Args &args);
int cmdJQuantsCheck(const Args &args);
int cmdSource(const Args &args);
int cmdExport(const Args &args);
int cmdWatch(const Args &args);

// The entry of the command table with this name.
const Command &commandNamed(const char *name);

// Prints "tesmoctl: <text>" to stderr and returns 1.
int fail(const std::string &text);
int usageError(const Command &cmd);

// Removes every `flag` from `args` and says whether there was one.
bool takeFlag(Args &args, const std::string &flag);

// Opens the database a command names. The default database is copied from the shipped one on
// its first use, as the main program does on its first start. With `portfolioToo` a file
// without the database password (a portfolio file) opens as well.
std::unique_ptr<tesmo::storage::Database> openNamedDatabase(const std::string &path,
                                                            bool portfolioToo = false);

} // namespace tesmoctl
