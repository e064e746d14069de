#pragma once
// The updater's only window: a splash without a title that shows what is going on while the
// update runs. Its timer starts the update after twelve seconds (the main program needs that
// long to end) and gives up twenty minutes after the update began.
#include "core/net/http_fetch.h"
#include "core/update/updater.h"
#include "ui/common/qt_ui_port.h"

#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace tesmo::ui {

// The splash's UI port: once the splash has given up, the update's next pause unwinds it.
class SplashPort : public QtUiPort {
public:
    using QtUiPort::QtUiPort;
    void processEvents() override;
    void wait(int seconds) override;
    void abort() { m_aborted = true; }
    bool aborted() const;

private:
    void throwIfAborted() const;
    bool m_aborted = false;
};

class UpdateSplash : public QWidget {
    Q_OBJECT
public:
    explicit UpdateSplash(QWidget *parent = nullptr);

    // One tick of the clock (public so that a test can drive the clock).
    void onClockTick();
    const update::SplashClock &clock() const { return m_clock; }
    int timerInterval() const { return m_clockTimer.interval(); }
    // How the update ended; Failed until it has run.
    const update::UpdaterResult &result() const { return m_result; }
    bool updateRan() const { return m_ran; }

signals:
    void updateFinished();

protected:
    // Refused while the update runs.
    void closeEvent(QCloseEvent *event) override;

private:
    void runUpdate();

    QFrame *Frame1;
    QLabel *Label2;
    QLabel *Label1;
    QTimer m_clockTimer;
    update::SplashClock m_clock;
    SplashPort m_port;
    net::HttpClient m_http;
    update::UpdaterResult m_result;
    bool m_ran = false;
};

} // namespace tesmo::ui
