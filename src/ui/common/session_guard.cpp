#include "ui/common/session_guard.h"

#include "ui/common/qt_ui_port.h"
#include "ui/common/routine_scope.h"

#include <QDialog>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace tesmo::ui {
namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end. Both
// ends are non-blocking: with the buffer full a byte is already waiting, so a flood of signals
// drops its write instead of stopping the thread it interrupted.
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = savedErrno;
}

} // namespace

SessionGuard &SessionGuard::instance() {
    static SessionGuard guard;
    return guard;
}

void SessionGuard::install(QApplication &app, std::function<void()> endProgram) {
    m_endProgram = std::move(endProgram);
    if (m_installed)
        return;
    m_installed = true;
    app.installEventFilter(this);
    // The session manager asks for the user's data before it ends the session; a routine
    // that runs then stops at its next pause (an import commits what ran, as on any failure).
    connect(&app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) {
        if (runningRoutines() > 0)
            sessionEnds();
    });
    connect(&app, &QCoreApplication::aboutToQuit, this, [this] {
        m_stop = true;
        m_ending = true;
    });
    watchSignals();
}

void SessionGuard::watchSignals() {
    if (g_signalPipe[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        // One wake-up takes every signal that came since the last.
        char buf[256];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        sessionEnds();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

void SessionGuard::sessionEnds() {
    m_ending = true;
    m_stop = true;
    // A question or message on the screen holds its routine in the dialog's own event loop,
    // however long nobody answers: it is answered as cancelled, and the routine stops there.
    closeDialogs();
    if (runningRoutines() > 0) {
        m_endPending = true;
        return;
    }
    QTimer::singleShot(0, this, [this] { endNow(); });
}

void SessionGuard::closeDialogs() {
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible())
            dialog->reject();
}

void SessionGuard::routinesEnded() {
    if (!m_endPending)
        return;
    m_endPending = false;
    QTimer::singleShot(0, this, [this] { endNow(); });
}

void SessionGuard::endNow() {
    if (m_endProgram)
        m_endProgram();
    else
        QCoreApplication::exit(0);
}

void SessionGuard::reset() {
    m_stop = false;
    m_ending = false;
    m_endPending = false;
}

bool SessionGuard::eventFilter(QObject *watched, QEvent *event) {
    // A quit request closes the windows one by one and would tear them down under a running
    // routine; the program ends its own way instead.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        sessionEnds();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool GuardedApplication::notify(QObject *receiver, QEvent *event) {
    static bool reporting = false;
    std::string what;
    try {
        return QApplication::notify(receiver, event);
    } catch (const StopRequested &) {
        return false; // the program ends as soon as the routine has unwound
    } catch (const std::exception &e) {
        what = e.what();
    } catch (...) {
        what = "不明なエラー";
    }
    (void)std::fprintf(stderr, "Tesmo: %s\n", what.c_str());
    // A handler that fails on every event (a paint, say) must not stack message boxes.
    if (!reporting && !SessionGuard::instance().stopRequested()) {
        reporting = true;
        showMessage(nullptr, "予期しないエラーが発生しました。\r\n詳細:" + what,
                    us(QCoreApplication::applicationName()), MsgIcon::Critical, MsgButtons::Ok);
        reporting = false;
    }
    return false;
}

} // namespace tesmo::ui
