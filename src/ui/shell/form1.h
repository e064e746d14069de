#pragma once
// The main window: a small launcher that runs the program's start-up, opens the other
// windows, starts the data update and closes everything at the end.
#include "core/net/http_fetch.h"
#include "core/storage/change_watch.h"
#include "ui/common/qt_ui_port.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>

class QLocalServer;
class QProgressBar;
class QLockFile;

namespace tesmo::ui {

class TrayResidence;

// The main window's port: a data update also stops, after the day it is on, once the user
// pressed 中止.
class MainWindowPort : public QtUiPort {
public:
    using QtUiPort::QtUiPort;
    bool stopAfterDayRequested() const override { return m_stopAfterDay; }
    void setStopAfterDay(bool on) { m_stopAfterDay = on; }

private:
    bool m_stopAfterDay = false;
};

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Form_Load: the whole start-up sequence. Returns false when this instance must quit
    // (another instance is running and was brought to the front, or the user chose so).
    bool startUp();
    bool startupFailed() const { return m_startupFailed; }

    // set_later_date: refresh the date field from the database (and the source beside it).
    void set_later_date();
    // Shows which source the data update uses, and whether it can be used.
    void showSource();
    // Close_all_form: closes the child windows; asks first unless `force`. Returns true
    // when the user chose not to close.
    bool Close_all_form(bool force);
    // Command1_Click_sub: the data update command ("データ更新").
    void Command1_Click_sub();
    // C_test ("ﾌｧｲﾙ取込"): imports one day file chosen by the user.
    void C_test_Click();
    // Clip_Chart: opens a chart for the stock code found on the clipboard.
    void Clip_Chart();

    // One heartbeat tick: saves becon, and taskttime while hidden in the tray; follows what
    // another program wrote into the database.
    void heartbeat();
    // C_tasktray: hides the window behind a tray icon; says so when the desktop has no tray.
    void goToTray();

    QString dateText() const { return Text_date->text(); }
    QString sourceText() const { return Text_source->text(); }
    QString statusText() const { return StatusLine->text(); }
    // Whether start-up or the tray button put the program in the tray.
    bool inTray() const;
    QString titleText() const;
    UiPort &port() { return m_port; }
    // 中止, for tests: present while a data update runs.
    QPushButton *stopButton() const { return C_stop; }
    bool isBusy() const { return m_port.busy(); }

    // The name of the local socket on which a running instance listens for activation.
    static QString instanceSocketName(const QString &title);

signals:
    void chartRequested(const QString &code);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    bool startUpSteps();
    void buildControls();
    void updateLauncherButtons();
    void listenForActivation();
    void onActivationRequest();
    bool activateRunningInstance();
    void openHelp();
    // Hides the window behind a tray icon; false when the desktop has no tray.
    bool enterTray();
    // The welcome window, when this start wants it.
    void welcome();
    void openHomePage();
    double twipsPerPixel() const;
    void savePosition();
    void restorePosition();
    void followOtherPrograms();
    // The status line: the caption in plain words, and the note of a stop on its way.
    void showStatus();
    // While the data update fetches and imports: 中止 shown and the status line wide enough
    // for its progress; afterwards both go and the window takes its size and place again.
    void beginUpdateRun();
    void endUpdateRun();
    // `last`: the run is over and its sizes are forgotten.
    void restoreSizeBeforeRun(bool last = true);
    void stopUpdate();

    QLabel *Label1;
    QLabel *Text_date;
    QLabel *Label2; // "データ取得元"
    QLabel *Text_source;
    QLabel *L_status; // the note of a refused close request
    QPushButton *C_rank1;
    QPushButton *Command2;
    QPushButton *Command3;
    QPushButton *Command4;
    QPushButton *Command_opt;
    QPushButton *Command1;
    QPushButton *Command7;
    QPushButton *C_tasktray;
    QPushButton *Command5;
    QPushButton *Command6;
    QPushButton *C_test;
    QLabel *StatusLine;
    QPushButton *C_stop; // 中止: stops the data update after the day it is on
    QProgressBar *StatusProgress;
    QTimer Timer1;
    MainWindowPort m_port;
    QSize m_sizeBeforeRun; // valid while a data update runs
    QPoint m_movedTo;      // where the run moved the window to keep it on the screen
    QPoint m_shift;        // by how much
    net::HttpClient Inet1; // the HTTP client of the scan and the version check
    QLocalServer *m_server = nullptr;
    std::unique_ptr<QLockFile> m_instanceLock; // held while this instance owns the socket
    TrayResidence *m_trayResidence = nullptr;
    bool m_startupFailed = false;
    storage::ChangeWatch m_changes;
};

} // namespace tesmo::ui
