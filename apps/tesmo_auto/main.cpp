// The updater: started by the main program after it recorded the files to fetch and ended
// itself. It fetches and installs them and starts Tesmo again.
#include "core/update/updater.h"

#ifdef TESMO_AUTO_SPLASH
#include "ui/common/application.h"
#include "ui/common/session_guard.h"
#include "ui/update/update_splash.h"

#include <QApplication>

int main(int argc, char **argv) {
    tesmo::ui::GuardedApplication app(argc, argv);
    tesmo::ui::setUpApplication(app, QStringLiteral("tesmo_auto"));
    tesmo::ui::UpdateSplash splash;
    // The end of the session stops a running update at its next pause; the splash then closes
    // and the program ends.
    tesmo::ui::SessionGuard::instance().install(app, [&splash] {
        if (!splash.close() || !splash.isVisible())
            QCoreApplication::exit(0);
    });
    splash.show();
    app.exec();
    const auto end = splash.result().end;
    // Ended from outside (a termination signal, the end of the session): not a failure.
    if (tesmo::ui::SessionGuard::instance().sessionEnding())
        return 0;
    return end == tesmo::update::UpdateEnd::Installed || end == tesmo::update::UpdateEnd::NothingNew
               ? 0
               : 1;
}

#else
#include "core/common/console_port.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main() {
    using namespace tesmo::update;
    std::printf("%s\n%s\n", kSplashDownloading, kSplashPleaseWait);
    // The main program needs these seconds to end before its files are replaced.
    std::this_thread::sleep_for(std::chrono::seconds(12));
    // Without a display the messages go to the terminal and every question gets OK.
    tesmo::ConsolePort port(nullptr, stderr);
    tesmo::net::HttpClient client;
    const auto end = runUpdate(client, port).end;
    return end == UpdateEnd::Installed || end == UpdateEnd::NothingNew ? 0 : 1;
}
#endif
