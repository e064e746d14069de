#pragma once
// The end of the program from outside: the desktop session ends (logout, shutdown), a quit
// request arrives, or a termination signal. A routine that runs then is not torn down with its
// window: it is asked to stop at its next pause, and the program ends once it has unwound.
// Also the last-resort guard of the event loop: nothing that escapes a handler aborts the
// program.
#include <QApplication>

#include <functional>

namespace tesmo::ui {

class SessionGuard : public QObject {
    Q_OBJECT
public:
    static SessionGuard &instance();

    // Watches `app` for the end of the session. `endProgram` ends the program the normal way
    // (Tesmo closes its main window); it runs once no routine runs any more. A second call
    // only replaces `endProgram`.
    void install(QApplication &app, std::function<void()> endProgram);

    // The program is ending: routines stop at their next pause and nothing more is asked.
    bool stopRequested() const { return m_stop; }
    // The session ends: the program ends now, or once the running routines have unwound.
    // Open questions, messages and file dialogs are cancelled; closing windows then asks
    // nothing.
    void sessionEnds();
    bool sessionEnding() const { return m_ending; }
    // Called when the last running routine has ended.
    void routinesEnded();

    // Forget a stop and a session end (tests run many windows in one process).
    void reset();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void endNow();
    void watchSignals();
    void closeDialogs();

    std::function<void()> m_endProgram;
    bool m_stop = false;
    bool m_ending = false;
    bool m_endPending = false;
    bool m_installed = false;
};

// QApplication with a guard around every event: an exception that escapes a handler becomes
// a critical message and the program goes on (a stop request unwinds quietly).
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace tesmo::ui
