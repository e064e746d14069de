#include "ui/common/routine_scope.h"

#include "ui/common/session_guard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>

namespace tesmo::ui {
namespace {

// Per window: a dynamic property, so that any QWidget can run routines without a base class.
const char *const kRoutinesProperty = "tesmoRoutines";
const char *const kNoteProperty = "tesmoBusyNote";

int g_running = 0;

QString noteSuffix() {
    return QStringLiteral("  ") + qs(kBusyNote);
}

int countOf(const QWidget *window) {
    return window->property(kRoutinesProperty).toInt();
}

// A window with a status line shows the note there; the others in the caption.
QLabel *statusLine(const QWidget *window) {
    return window->findChild<QLabel *>(QString::fromLatin1(kStatusLineName));
}

bool hasCaptionNote(const QWidget *window) {
    return hasBusyNote(window) && !statusLine(window);
}

} // namespace

void clearBusyNote(QWidget *window) {
    if (!hasBusyNote(window))
        return;
    if (QLabel *status = statusLine(window)) {
        window->setProperty(kNoteProperty, false);
        status->clear();
        status->hide();
        return;
    }
    const QString title = withoutBusyNote(window, window->windowTitle());
    window->setProperty(kNoteProperty, false);
    window->setWindowTitle(title);
}

RoutineScope::RoutineScope(QWidget *window) : m_window(window) {
    ++g_running;
    if (window)
        window->setProperty(kRoutinesProperty, countOf(window) + 1);
}

RoutineScope::~RoutineScope() {
    --g_running;
    if (m_window) {
        const int left = countOf(m_window) - 1;
        m_window->setProperty(kRoutinesProperty, left);
        if (left == 0 && m_window->cursor().shape() != Qt::WaitCursor)
            clearBusyNote(m_window);
    }
    if (g_running == 0) {
        // The main window refuses while any window works; its note goes with the last routine.
        for (QWidget *w : QApplication::topLevelWidgets())
            if (countOf(w) == 0 && w->cursor().shape() != Qt::WaitCursor)
                clearBusyNote(w);
        SessionGuard::instance().routinesEnded();
    }
}

bool routineRunning(const QWidget *window) {
    return window && countOf(window) > 0;
}

int runningRoutines() {
    return g_running;
}

bool hasBusyNote(const QWidget *window) {
    return window && window->property(kNoteProperty).toBool();
}

QString withoutBusyNote(const QWidget *window, const QString &title) {
    if (hasCaptionNote(window) && title.endsWith(noteSuffix()))
        return title.left(title.size() - noteSuffix().size());
    return title;
}

QString withBusyNote(const QWidget *window, const QString &caption) {
    return hasCaptionNote(window) ? caption + noteSuffix() : caption;
}

bool refuseCloseWhileBusy(QWidget *window, QCloseEvent *event, bool wholeProgram) {
    const bool busy = routineRunning(window) || window->cursor().shape() == Qt::WaitCursor ||
                      (wholeProgram && runningRoutines() > 0);
    if (!busy)
        return false;
    event->ignore();
    QApplication::beep();
    if (hasBusyNote(window))
        return true;
    if (QLabel *status = statusLine(window)) {
        window->setProperty(kNoteProperty, true);
        status->setText(qs(kBusyNote));
        status->show();
        return true;
    }
    const QString caption = window->windowTitle();
    window->setProperty(kNoteProperty, true);
    window->setWindowTitle(withBusyNote(window, caption));
    return true;
}

void showError(QWidget *window, const std::exception &error) {
    if (SessionGuard::instance().stopRequested())
        return;
    const std::string title =
        window ? us(withoutBusyNote(window, window->windowTitle())) : std::string("Tesmo");
    showMessage(window, error.what(), title, MsgIcon::Critical, MsgButtons::Ok);
}

} // namespace tesmo::ui
