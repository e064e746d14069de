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
class QVBoxLayout;
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

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The whole start-up sequence. Returns false when this instance must quit
    // (another instance is running and was brought to the front, or the user chose so).
    bool startUp();
    bool startupFailed() const { return m_startupFailed; }

    // Refreshes the date field from the database (and the source beside it).
    void refreshNewestDate();
    // Shows which source the data update uses, and whether it can be used.
    void showSource();
    // Closes the child windows; asks first unless `force`. Returns true
    // when the user chose not to close.
    bool closeChildWindows(bool force);
    // The data update command ("データ更新").
    void runDataUpdate();
    // Announces the watch rules' matches through the desktop's notifications, from the tray
    // icon (shown for the purpose when the window is not in the tray); a click on it opens the
    // シグナル window. False when the desktop has no tray.
    bool announceWatch(const QString &text);
    // "ﾌｧｲﾙ取込": imports one day file chosen by the user.
    void importChosenFile();
    // Opens a chart for the stock code found on the clipboard.
    void openChartFromClipboard();

    // One heartbeat tick: saves becon, and taskttime while hidden in the tray; follows what
    // another program wrote into the database.
    void heartbeat();
    // "ﾀｽｸﾄﾚｲに常駐": hides the window behind a tray icon; says so when the desktop has no tray.
    void goToTray();

    QString dateText() const { return m_dateText->text(); }
    QString sourceText() const { return m_sourceText->text(); }
    QString statusText() const { return m_statusLine->text(); }
    // Whether start-up or the tray button put the program in the tray.
    bool inTray() const;
    QString titleText() const;
    UiPort &port() { return m_port; }
    // 中止, for tests: present while a data update runs.
    QPushButton *stopButton() const { return m_stopButton; }
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
    void buildDateAndSource(QVBoxLayout *layout);
    void buildCommandButtons(QVBoxLayout *layout);
    void buildStatusArea(QVBoxLayout *layout);
    void connectCommands();
    void updateLauncherButtons();
    void listenForActivation();
    void onActivationRequest();
    bool activateRunningInstance();
    void openHelp();
    // The tray icon, made on first use.
    TrayResidence &trayResidence();
    // Hides the window behind a tray icon; false when the desktop has no tray.
    bool enterTray();
    // The welcome window, when this start wants it.
    void welcome();
    void openHomePage();
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

    QLabel *m_dateLabel;
    QLabel *m_dateText;
    QLabel *m_sourceLabel; // "データ取得元"
    QLabel *m_sourceText;
    QLabel *m_closeNote; // the note of a refused close request
    QPushButton *m_rankingButton;
    QPushButton *m_portfolioTableButton;
    QPushButton *m_portfolioEditorButton;
    QPushButton *m_stockSearchButton;
    QPushButton *m_optionsButton;
    QPushButton *m_updateButton;
    QPushButton *m_clipboardChartButton;
    QPushButton *m_trayButton;
    QPushButton *m_homePageButton;
    QPushButton *m_helpButton;
    QPushButton *m_importFileButton;
    QPushButton *m_watchRulesButton; // 監視条件
    QPushButton *m_signalsButton;    // シグナル
    QLabel *m_statusLine;
    QPushButton *m_stopButton; // 中止: stops the data update after the day it is on
    QProgressBar *m_statusProgress;
    QTimer m_heartbeat;
    MainWindowPort m_port;
    QSize m_sizeBeforeRun;  // valid while a data update runs
    QPoint m_movedTo;       // where the run moved the window to keep it on the screen
    QPoint m_shift;         // by how much
    net::HttpClient m_http; // the HTTP client of the scan and the version check
    QLocalServer *m_server = nullptr;
    std::unique_ptr<QLockFile> m_instanceLock; // held while this instance owns the socket
    TrayResidence *m_trayResidence = nullptr;
    bool m_startupFailed = false;
    storage::ChangeWatch m_changes;
};

} // namespace tesmo::ui
