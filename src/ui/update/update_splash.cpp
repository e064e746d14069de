#include "ui/update/update_splash.h"

#include "ui/common/routine_scope.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace tesmo::ui {

// The end of the session stops the update like the time limit does: quietly, at its next
// pause, without starting the main program.
bool SplashPort::aborted() const {
    return m_aborted || stopRequested();
}

void SplashPort::throwIfAborted() const {
    if (aborted())
        throw update::UpdateAborted();
}

void SplashPort::processEvents() {
    QApplication::processEvents();
    throwIfAborted();
}

void SplashPort::wait(int seconds) {
    // One second at a time, so that giving up is noticed within a second.
    for (int i = 0; i < seconds; ++i) {
        try {
            QtUiPort::wait(1);
        } catch (const StopRequested &) {
        }
        throwIfAborted();
    }
}

UpdateSplash::UpdateSplash(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_port(this) {
    setObjectName("UpdateSplash");
    setAttribute(Qt::WA_DeleteOnClose, false);
    Frame1 = new QFrame(this);
    Frame1->setObjectName("Frame1");
    Frame1->setFrameShape(QFrame::Panel);
    Frame1->setFrameShadow(QFrame::Raised);
    Frame1->setLineWidth(2);
    Label2 = new QLabel(qs(update::kSplashDownloading), Frame1);
    Label2->setObjectName("Label2");
    Label1 = new QLabel(qs(update::kSplashPleaseWait), Frame1);
    Label1->setObjectName("Label1");
    QFont big = Label2->font();
    big.setPointSize(big.pointSize() + 2);
    big.setBold(true);
    Label2->setFont(big);
    auto *inner = new QVBoxLayout(Frame1);
    inner->setContentsMargins(24, 24, 24, 24);
    inner->setSpacing(16);
    inner->addWidget(Label2, 0, Qt::AlignCenter);
    inner->addWidget(Label1, 0, Qt::AlignCenter);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Frame1);
    setFixedSize(sizeHint().expandedTo(QSize(520, 150)));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    m_clockTimer.setInterval(update::SplashClock::kStartInterval);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] { onClockTick(); });
    m_clockTimer.start();
}

void UpdateSplash::onClockTick() {
    const auto action = m_clock.tick();
    m_clockTimer.setInterval(m_clock.intervalMs());
    switch (action) {
    case update::SplashClock::Action::RunUpdate:
        // Not inside this slot: a timer does not fire again while its own slot runs, and the
        // minute ticks must go on while the update lets events through.
        QTimer::singleShot(0, this, [this] { runUpdate(); });
        break;
    case update::SplashClock::Action::GiveUp:
        QApplication::beep();
        QApplication::beep();
        m_clockTimer.stop();
        m_port.abort();
        // A running update unwinds at its next pause and closes the splash itself.
        if (!routineRunning(this))
            close();
        break;
    case update::SplashClock::Action::None:
        break;
    }
}

void UpdateSplash::runUpdate() {
    {
        RoutineScope scope(this);
        m_result = update::runUpdate(m_http, m_port, [this] { return m_port.aborted(); });
    }
    m_ran = true;
    m_clockTimer.stop();
    close();
    emit updateFinished();
}

// Closing the splash does not stop the downloads and installs: a half-done update would leave
// the user without a program to start. The splash has no caption, so the note replaces its
// second line.
void UpdateSplash::closeEvent(QCloseEvent *event) {
    if (!routineRunning(this)) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    QApplication::beep();
    Label1->setText(qs(kBusyNote));
}

} // namespace tesmo::ui
