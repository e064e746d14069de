#include "core/update/release_install.h"
#include "ui/chart/chart_window.h"
#include "ui/common/application.h"
#include "ui/common/session_guard.h"
#include "ui/common/window_hub.h"
#include "ui/shell/main_window.h"
#include "ui/shell/options_window.h"
#include "ui/tables/register_tables.h"
#include "ui/watch/register_watch.h"

#include "core/common/build_config.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// The answers to --help and --version come before Qt opens the display, so that they work in
// a terminal without one (help2man makes the manual page from them while building).
constexpr const char *kHelp =
    "Usage: %s [OPTION]\n"
    "\n"
    "Tesmo is a desktop stock-watch tool for Japanese equities. Once a day the user\n"
    "presses \"データ更新\" (data update): Tesmo downloads the trading days that its\n"
    "database lacks from the data site, or from J-Quants API V2, imports them and\n"
    "shows the closing prices, traded volumes and web topic counts in a ranking\n"
    "table, per-stock charts, portfolio tables and a stock search. The windows are\n"
    "Japanese; the settings are made in the options window or with tesmoctl.\n"
    "\n"
    "Started while it runs already, Tesmo brings the running instance's window\n"
    "forward instead of opening a second one.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n";

// The exit status when an option asked only for information, or -1 to start the program.
int answerInformationOption(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            const char *slash = std::strrchr(argv[0], '/');
            std::printf(kHelp, slash ? slash + 1 : argv[0]);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("Tesmo %s\n", TESMO_VERSION);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char **argv) {
    if (const int status = answerInformationOption(argc, argv); status >= 0)
        return status;
    tesmo::ui::GuardedApplication app(argc, argv);
    tesmo::ui::setUpApplication(app, QStringLiteral("Tesmo"));
    // An update killed midway is finished or undone before anything opens the program's files.
    if (const std::string failure = tesmo::update::recoverInstallAtStart(); !failure.empty())
        (void)std::fprintf(stderr, "Tesmo: %s\n", failure.c_str());
    // Hidden in the tray, the program lives on without a visible window.
    app.setQuitOnLastWindowClosed(false);
    tesmo::ui::registerOptionsWindow();
    tesmo::ui::registerTableWindows();
    tesmo::ui::registerWatchWindows();
    tesmo::ui::WindowHub::instance().setChartOpener(
        [](const QString &code, std::optional<double> price) {
            tesmo::ui::openChartWindow(code, price);
        });
    auto *window = new tesmo::ui::MainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The program ends with its main window, which closes the others and the database first.
    QObject::connect(window, &QObject::destroyed, &app, [] { QCoreApplication::exit(0); });
    tesmo::ui::SessionGuard::instance().install(app, [] {
        QWidget *main = tesmo::ui::WindowHub::instance().mainWindow();
        if (!main || !main->close())
            QCoreApplication::exit(0);
    });
    // The window shows once start-up has decided to stay: a second instance that quits, or a
    // start straight into the tray, never shows it.
    if (!window->startUp()) {
        delete window;
        return 0;
    }
    if (!window->inTray())
        window->show();
    return app.exec();
}
