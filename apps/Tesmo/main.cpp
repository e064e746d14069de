#include "chart/form2.h"
#include "common/application.h"
#include "common/session_guard.h"
#include "shell/f_opt.h"
#include "shell/form1.h"
#include "shell/window_hub.h"
#include "tables/register_tables.h"
#include "update/release_install.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv) {
    tesmo::ui::GuardedApplication app(argc, argv);
    tesmo::ui::setUpApplication(app, QStringLiteral("Tesmo"));
    // An update killed midway is finished or undone before anything opens the program's files.
    if (const std::string failure = tesmo::update::recoverInstallAtStart(); !failure.empty())
        std::fprintf(stderr, "Tesmo: %s\n", failure.c_str());
    // Hidden in the tray, the program lives on without a visible window.
    app.setQuitOnLastWindowClosed(false);
    tesmo::ui::registerOptionsWindow();
    tesmo::ui::registerTableWindows();
    tesmo::ui::WindowHub::instance().setChartOpener(
        [](const QString &code, std::optional<double> price) {
            tesmo::ui::openChartWindow(code, price);
        });
    auto *window = new tesmo::ui::Form1;
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
