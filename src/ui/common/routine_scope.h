#pragma once
// Long routines run inside the command that started them and let events through while they
// wait, so a close request can arrive in the middle of one. A window whose command is still on
// the stack must not be destroyed under it, and the main window must not close the database
// under any routine: such close requests are refused while the routine runs.
#include "ui/common/qt_ui_port.h"

#include <QPointer>
#include <QWidget>

#include <exception>

class QCloseEvent;

namespace tesmo::ui {

// The note that a refused close request leaves until the routine ends: in the window's status
// line (a QLabel child named kStatusLineName, hidden otherwise), else in its caption.
inline constexpr const char *kBusyNote = "処理中です。終了までお待ちください。";
inline constexpr const char *kStatusLineName = "L_status";

// While alive, `window` runs a routine (a command that may let events through: a long routine,
// a wait, a question or a file dialog).
class RoutineScope {
public:
    explicit RoutineScope(QWidget *window);
    ~RoutineScope();
    RoutineScope(const RoutineScope &) = delete;
    RoutineScope &operator=(const RoutineScope &) = delete;

private:
    QPointer<QWidget> m_window;
};

// Whether `window` runs a routine now; the number of routines running in all windows.
bool routineRunning(const QWidget *window);
int runningRoutines();

// For closeEvent: a close request while `window` runs a routine or shows the busy pointer
// (with `wholeProgram`: while any window runs one) is refused with a beep and the note;
// returns true then, with the event ignored.
bool refuseCloseWhileBusy(QWidget *window, QCloseEvent *event, bool wholeProgram = false);

// The note: shown once per refusal, taken away when the window's routines have ended. The
// caption functions add and strip it where the caption carries it.
bool hasBusyNote(const QWidget *window);
QString withoutBusyNote(const QWidget *window, const QString &title);
QString withBusyNote(const QWidget *window, const QString &caption);
void clearBusyNote(QWidget *window);

// Shows an error of the core to the user: a critical message with the window's title. Nothing
// is shown once the program is ending.
void showError(QWidget *window, const std::exception &error);

// Runs a window's command as a routine of `window`: no error escapes; an error of the core is
// shown with showError(), and a stop request (the program is ending) ends it quietly.
template <class Command> void runCommand(QWidget *window, Command &&command) {
    RoutineScope scope(window);
    try {
        command();
    } catch (const StopRequested &) {
        // the program ends as soon as every routine has unwound
    } catch (const std::exception &e) {
        showError(window, e);
    }
}

} // namespace tesmo::ui
