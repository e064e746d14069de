// fetch, update, version-check and install-update: the web side of the programs from the
// command line.
#include "commands.h"

#include "core/acquire/import_driver.h"
#include "core/acquire/jquants_client.h"
#include "core/acquire/jquants_update.h"
#include "core/acquire/site_scan.h"
#include "core/common/console_port.h"
#include "core/common/dates.h"
#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"
#include "core/shell/data_update.h"
#include "core/shell/newest_date.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "core/storage/update_lock.h"
#include "core/update/release_install.h"
#include "core/update/update_start.h"
#include "core/update/updater.h"
#include "core/update/version_check.h"

#include <csignal>
#include <cstdio>
#include <ctime>

#include <signal.h>
#include <unistd.h>

namespace tesmoctl {

int cmdFetch(const Args &args) {
    if (args.empty() || args.size() > 2)
        return usageError(commandNamed("fetch"));
    tesmo::ConsolePort port(stderr);
    port.setCaption("tesmoctl fetch");
    tesmo::net::HttpClient client;
    if (args.size() == 2) {
        const std::string failure = tesmo::net::FetchToFile(args[0], port, client, args[1]);
        return failure.empty() ? 0 : fail(failure);
    }
    std::string text;
    const std::string failure = tesmo::net::FetchToText(args[0], port, client, text);
    if (!failure.empty())
        return fail(failure);
    (void)std::fwrite(text.data(), 1, text.size(), stdout); // checked by main()
    return 0;
}

namespace {

volatile std::sig_atomic_t interrupted = 0;

// The first Ctrl+C asks the update to stop after the day it is on; a second one ends tesmoctl at
// once, as Ctrl+C always does (the database keeps what its last commit holds).
extern "C" void onInterrupt(int) {
    interrupted = 1;
    static const char note[] = "\n中止を受け付けました。取り込み中の日が終わりしだい中止します"
                               "(すぐに終了するにはもう一度Ctrl+C)\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, note, sizeof note - 1);
}

// Ctrl+C stops the update after the day while `update` runs; the handler gives way to the
// default after its first call (SA_RESETHAND).
void catchInterrupt(bool on) {
    struct sigaction action {};
    action.sa_handler = on ? onInterrupt : SIG_DFL;
    action.sa_flags = on ? static_cast<int>(SA_RESETHAND | SA_RESTART) : 0;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

// The console of `update`: Ctrl+C is the stop button of the main window.
class UpdateConsole : public tesmo::ConsolePort {
public:
    using tesmo::ConsolePort::ConsolePort;
    bool stopAfterDayRequested() const override { return interrupted != 0; }
};

} // namespace

int cmdUpdate(const Args &args) {
    Args positional = args;
    const bool waits = !takeFlag(positional, "--no-wait");
    if (positional.size() != 1)
        return usageError(commandNamed("update"));
    auto db = openNamedDatabase(positional[0]);
    // Refused with a message while another program updates the same database.
    const tesmo::storage::UpdateLock lock(db->path());
    // Captions go to stdout as they change, like the title bar of the main window.
    UpdateConsole port(stdout, stdout, "Tesmo", waits);
    tesmo::net::HttpClient client;
    tesmo::acquire::ImportRunState &state = tesmo::acquire::importRunState();
    const auto showNewestDate = [&] {
        std::printf("直近日付 %s\n",
                    tesmo::shell::newestDateText(tesmo::shell::newestDate(*db)).c_str());
        (void)std::fflush(stdout);
    };
    interrupted = 0;
    catchInterrupt(true);
    const std::string failure =
        tesmo::acquire::scanSelectedSource(*db, port, client, showNewestDate, state);
    catchInterrupt(false);
    db->close();
    if (!failure.empty()) {
        std::printf("%s\n", tesmo::withLfNewlines(failure).c_str());
        return 1;
    }
    const std::string report = tesmo::shell::importedReport(state, tesmo::storage::jquantsSource());
    std::printf("%s%s", tesmo::withLfNewlines(report).c_str(),
                report.ends_with("\r\n") ? "" : "\n");
    if (!tesmo::acquire::sourceNote().empty())
        std::printf("%s\n", tesmo::acquire::sourceNote().c_str());
    // Stopped as a shell stops a command on Ctrl+C (128 + SIGINT); a day that did not come in
    // fails the run, so that a script notices it.
    if (state.stopped)
        return 128 + SIGINT;
    return state.skippedDays.empty() && state.watch.failure.empty() ? 0 : 1;
}

int cmdJQuantsCheck(const Args &args) {
    if (!args.empty())
        return usageError(commandNamed("jquants-check"));
    tesmo::ConsolePort port(nullptr);
    const tesmo::acquire::jquants::ConnectionReport report =
        tesmo::acquire::jquants::testConnection(tesmo::acquire::jquants::Settings::fromStore(),
                                                port, tesmo::localDate(std::time(nullptr)));
    std::printf("%s\n", tesmo::withLfNewlines(report.text).c_str());
    return report.ok ? 0 : 1;
}

int cmdVersionCheck(const Args &args) {
    Args rest = args;
    const bool completeDb = takeFlag(rest, "--complete");
    if (!rest.empty())
        return usageError(commandNamed("version-check"));
    tesmo::ConsolePort port(nullptr);
    tesmo::net::HttpClient client;
    const std::string selection = tesmo::update::versionCheck(client, port, completeDb);
    // One selected file per line: name, size, stamp.
    size_t start = 0;
    for (size_t tab = selection.find('\t'); tab != std::string::npos;
         tab = selection.find('\t', start)) {
        std::printf("%s\n", selection.substr(start, tab - start).c_str());
        start = tab + 1;
    }
    if (!selection.empty())
        (void)std::fprintf(stderr, "update-size: %.0f\n",
                           static_cast<double>(tesmo::update::updateSize()));
    if (!tesmo::programFolderWritable()) {
        std::string note = tesmo::update::kPackageManagerNote;
        tesmo::replaceAll(note, "\r\n", "\n");
        (void)std::fprintf(stderr, "%s\n", note.c_str());
    }
    return 0;
}

int cmdInstallUpdate(const Args &args) {
    Args rest = args;
    const bool startMainProgram = !takeFlag(rest, "--no-start");
    const bool recoverOnly = takeFlag(rest, "--recover-only");
    if (!rest.empty() || (recoverOnly && !startMainProgram))
        return usageError(commandNamed("install-update"));
    if (recoverOnly) {
        using tesmo::update::Recovery;
        Recovery recovery = Recovery::Nothing;
        const std::string failure = tesmo::update::recoverInstallAtStart(&recovery);
        if (!failure.empty())
            return fail(failure);
        switch (recovery) {
        case Recovery::Nothing:
            std::printf("中断されたインストールはありません。\n");
            return 0;
        case Recovery::Finished:
            std::printf("中断されたインストールを完了しました。\n");
            return 0;
        case Recovery::Undone:
            std::printf("中断されたインストールを取り消しました。\n");
            return 0;
        case Recovery::Busy:
            break;
        }
        return fail("別の更新が実行中です。");
    }
    // Download progress goes to stderr; the updater's messages to stdout.
    tesmo::ConsolePort port(stderr, stdout, tesmo::update::kSplashDownloading);
    tesmo::net::HttpClient client;
    const tesmo::update::UpdaterResult result =
        tesmo::update::runUpdate(client, port, {}, startMainProgram);
    using tesmo::update::UpdateEnd;
    if (result.end == UpdateEnd::Installed)
        std::printf("%d個のファイルをインストールしました。\n", result.installed);
    return result.end == UpdateEnd::Installed || result.end == UpdateEnd::NothingNew ? 0 : 1;
}

} // namespace tesmoctl
