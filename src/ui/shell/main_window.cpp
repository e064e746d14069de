#include "ui/shell/main_window.h"

#include "core/acquire/import_driver.h"
#include "core/acquire/jquants_update.h"
#include "core/acquire/site_scan.h"
#include "core/common/app_state.h"
#include "core/common/build_config.h"
#include "core/common/paths.h"
#include "core/common/shell_open.h"
#include "core/shell/clip_chart.h"
#include "core/shell/data_update.h"
#include "core/shell/first_start.h"
#include "core/shell/newest_date.h"
#include "core/shell/startup.h"
#include "core/storage/change_watch.h"
#include "core/storage/compaction.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/update/update_start.h"
#include "core/update/version_check.h"
#include "ui/common/routine_scope.h"
#include "ui/common/screen_fit.h"
#include "ui/common/session_guard.h"
#include "ui/common/twips.h"
#include "ui/common/window_hub.h"
#include "ui/shell/tray_menu.h"
#include "ui/shell/welcome_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <filesystem>
#include <vector>

namespace tesmo::ui {

using namespace tesmo::storage;

namespace {
// The child window classes that closeChildWindows closes, by object name.
const char *const kChildClasses[] = {"OptionsWindow", "PortfolioEditor",   "PortfolioTable",
                                     "RankingTable",  "StockSearchWindow", "WatchRulesWindow",
                                     "SignalsWindow"};

// The open windows per class that the child windows count.
const SettingKey *const kWindowCounters[] = {
    &keys::cnt_F_opt, &keys::cnt_F_portM, &keys::cnt_F_porttb, &keys::cnt_F_ranktb,
    &keys::cnt_Form2, &keys::cnt_Form3,   &keys::cnt_F_signal};

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption) {
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}
} // namespace

MainWindow::MainWindow(QWidget *parent) : QWidget(parent), m_port(this) {
    setObjectName("MainWindow");
    setWindowTitle(QStringLiteral("Tesmo"));
    buildControls();
    WindowHub::instance().setMainWindow(this);
    keepOnScreen(this);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] {
        if (m_heartbeat.interval() != 2000)
            m_heartbeat.setInterval(2000);
        heartbeat();
    });
}

void MainWindow::buildControls() {
    auto *layout = new QVBoxLayout(this);
    buildDateAndSource(layout);
    buildCommandButtons(layout);
    buildStatusArea(layout);
    layout->addStretch(1); // the room the note leaves stays below the controls
    connectCommands();
}

void MainWindow::buildDateAndSource(QVBoxLayout *layout) {
    m_dateLabel = new QLabel(QStringLiteral("直近日付"), this);
    m_dateLabel->setObjectName("dateLabel");
    m_dateText = new QLabel(QStringLiteral("<検索中>"), this);
    m_dateText->setObjectName("dateText");
    m_dateText->setFrameShape(QFrame::StyledPanel);
    m_dateText->setMinimumWidth(110);
    m_dateText->setAlignment(Qt::AlignCenter);
    m_sourceLabel = new QLabel(QStringLiteral("データ取得元"), this);
    m_sourceLabel->setObjectName("sourceLabel");
    m_sourceText = new QLabel(this);
    m_sourceText->setObjectName("sourceText");
    m_sourceText->setFrameShape(QFrame::StyledPanel);
    m_sourceText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The source wraps rather than widen the window or lose its end in a narrow one.
    m_sourceText->setWordWrap(true);

    // The date and the source keep their size when the window grows.
    m_dateText->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *dateRow = new QGridLayout;
    dateRow->addWidget(m_dateLabel, 0, 0);
    dateRow->addWidget(m_dateText, 0, 1);
    dateRow->addWidget(m_sourceLabel, 1, 0);
    dateRow->addWidget(m_sourceText, 1, 1, 1, 2);
    dateRow->setColumnStretch(2, 1);
    layout->addLayout(dateRow);
}

void MainWindow::buildCommandButtons(QVBoxLayout *layout) {
    m_updateButton = makeButton(this, "updateButton", QStringLiteral("データ更新"));
    m_rankingButton = makeButton(this, "rankingButton", QStringLiteral("ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ"));
    m_portfolioTableButton =
        makeButton(this, "portfolioTableButton", QStringLiteral("ﾎﾟｰﾄﾌｫﾘｵ ﾃｰﾌﾞﾙ"));
    m_portfolioEditorButton =
        makeButton(this, "portfolioEditorButton", QStringLiteral("ﾎﾟｰﾄﾌｫﾘｵ ﾒﾝﾃﾅﾝｽ"));
    m_stockSearchButton = makeButton(this, "stockSearchButton", QStringLiteral("銘柄検索"));
    m_clipboardChartButton =
        makeButton(this, "clipboardChartButton", QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞからﾁｬｰﾄ"));
    m_optionsButton = makeButton(this, "optionsButton", QStringLiteral("ｵﾌﾟｼｮﾝ"));
    m_trayButton = makeButton(this, "trayButton", QStringLiteral("ﾀｽｸﾄﾚｲに常駐"));
    m_homePageButton = makeButton(this, "homePageButton", QStringLiteral("TesmoのHPへ"));
    m_helpButton = makeButton(this, "helpButton", QStringLiteral("ヘルプ"));
    m_importFileButton = makeButton(this, "importFileButton", QStringLiteral("ﾌｧｲﾙ取込"));
    m_watchRulesButton = makeButton(this, "watchRulesButton", QStringLiteral("監視条件"));
    m_signalsButton = makeButton(this, "signalsButton", QStringLiteral("シグナル"));

    auto *grid = new QGridLayout;
    QPushButton *order[] = {m_updateButton,         m_rankingButton,
                            m_portfolioTableButton, m_portfolioEditorButton,
                            m_stockSearchButton,    m_clipboardChartButton,
                            m_watchRulesButton,     m_signalsButton,
                            m_optionsButton,        m_trayButton,
                            m_homePageButton,       m_helpButton};
    for (int i = 0; i < 12; ++i)
        grid->addWidget(order[i], i / 2, i % 2);
    layout->addLayout(grid);
    auto *importRow = new QHBoxLayout;
    importRow->addStretch(1);
    importRow->addWidget(m_importFileButton);
    layout->addLayout(importRow);
}

void MainWindow::buildStatusArea(QVBoxLayout *layout) {
    // The caption reports the progress of the long routines, but a title bar cuts it off:
    // the status line shows it whole, with a bar where the step knows how far it is.
    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName("statusLine");
    m_statusLine->setWordWrap(true);
    m_statusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    m_statusLine->setFrameShape(QFrame::StyledPanel);
    m_statusProgress = new QProgressBar(this);
    m_statusProgress->setObjectName(kProgressBarName);
    m_statusProgress->setVisible(false);
    m_stopButton = makeButton(this, "stopButton", QStringLiteral("中止"));
    m_stopButton->setVisible(false);
    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(m_statusLine, 1);
    statusRow->addWidget(m_stopButton, 0, Qt::AlignTop);
    layout->addLayout(statusRow);
    layout->addWidget(m_statusProgress);
    connect(this, &QWidget::windowTitleChanged, this, [this] { showStatus(); });
    connect(m_stopButton, &QPushButton::clicked, this, [this] { stopUpdate(); });
    // The caption is too narrow for the progress and a note both.
    m_closeNote = new QLabel(this);
    m_closeNote->setObjectName(QString::fromLatin1(kStatusLineName));
    m_closeNote->setStyleSheet(QStringLiteral("color: #c00000;"));
    QFont small = m_closeNote->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_closeNote->setFont(small);
    m_closeNote->hide();
    layout->addWidget(m_closeNote);
}

void MainWindow::connectCommands() {
    auto launcher = [this](QPushButton *button, WindowKind kind) {
        connect(button, &QPushButton::clicked, this, [this, kind] {
            if (!isBusy())
                WindowHub::instance().show(kind);
        });
    };
    launcher(m_rankingButton, WindowKind::RankingTable);
    launcher(m_portfolioTableButton, WindowKind::PortfolioTable);
    launcher(m_portfolioEditorButton, WindowKind::PortfolioEditor);
    launcher(m_stockSearchButton, WindowKind::StockSearch);
    launcher(m_optionsButton, WindowKind::Options);
    launcher(m_watchRulesButton, WindowKind::WatchRules);
    launcher(m_signalsButton, WindowKind::Signals);
    connect(m_clipboardChartButton, &QPushButton::clicked, this, [this] {
        if (!isBusy())
            runCommand(this, [this] { openChartFromClipboard(); });
    });
    connect(m_updateButton, &QPushButton::clicked, this, [this] { runDataUpdate(); });
    connect(m_importFileButton, &QPushButton::clicked, this, [this] { importChosenFile(); });
    connect(m_trayButton, &QPushButton::clicked, this, [this] { goToTray(); });
    connect(m_homePageButton, &QPushButton::clicked, this,
            [this] { runCommand(this, [this] { openHomePage(); }); });
    connect(m_helpButton, &QPushButton::clicked, this,
            [this] { runCommand(this, [this] { openHelp(); }); });
}

// Buttons of windows that this build does not have yet stay disabled rather than do nothing.
void MainWindow::updateLauncherButtons() {
    const WindowHub &hub = WindowHub::instance();
    m_rankingButton->setEnabled(hub.canShow(WindowKind::RankingTable));
    m_portfolioTableButton->setEnabled(hub.canShow(WindowKind::PortfolioTable));
    m_portfolioEditorButton->setEnabled(hub.canShow(WindowKind::PortfolioEditor));
    m_stockSearchButton->setEnabled(hub.canShow(WindowKind::StockSearch));
    m_optionsButton->setEnabled(hub.canShow(WindowKind::Options));
    m_watchRulesButton->setEnabled(hub.canShow(WindowKind::WatchRules));
    m_signalsButton->setEnabled(hub.canShow(WindowKind::Signals));
    m_clipboardChartButton->setEnabled(hub.canOpenChart());
}

MainWindow::~MainWindow() {
    appState().startup_done = false;
    closeDatabase();
}

QString MainWindow::titleText() const {
    return QStringLiteral("Tesmo %1").arg(QStringLiteral(TESMO_VERSION_SHORT));
}

QString MainWindow::instanceSocketName(const QString &title) {
    // One name per user and title; the socket file lives in the runtime folder.
    QString name = QStringLiteral("tesmo-%1-").arg(QString::fromUtf8(qgetenv("USER")));
    for (QChar c : title)
        name += c.isLetterOrNumber() ? c : QChar('_');
    return name;
}

bool MainWindow::startUp() {
    RoutineScope scope(this);
    try {
        return startUpSteps();
    } catch (const StopRequested &) {
        return false;
    } catch (const std::exception &e) {
        // Like a failed portfolio attachment: the window stays usable, start-up ends here.
        showError(this, e);
        return true;
    }
}

bool MainWindow::startUpSteps() {
    updateLauncherButtons();
    AppState &app = appState();
    // Without a database start-up ends here, with the window open to say so.
    try {
        connectDatabase();
    } catch (const std::exception &e) {
        m_port.beep();
        m_port.message(shell::connectionFailureText(e.what()), "Tesmo", MsgIcon::Critical,
                       MsgButtons::Ok);
        m_startupFailed = true;
        return true;
    }
    app.desktop_dir = shell::startupDesktopDir();
    app.profile_dir = shell::startupProfileDir();
    // A second instance hands over to the first, or asks when the first sits in the tray.
    const QString title = titleText();
    switch (shell::singleInstanceGuard(std::time(nullptr))) {
    case shell::GuardVerdict::AskTray:
        if (m_port.message(shell::kAlreadyInTrayQuestion, "Tesmo", MsgIcon::Information,
                           MsgButtons::YesNo) == MsgAnswer::Yes)
            return false;
        break;
    case shell::GuardVerdict::ActivateOther:
        if (activateRunningInstance())
            return false;
        break;
    case shell::GuardVerdict::Start:
        break;
    }
    // Where the data come from, before the question about the portfolio: both only once this
    // instance stays.
    welcome();
    app.portfile_path = shell::choosePortfolioPath(m_port, "Tesmo");
    // The first tick comes soon; later ones every two seconds.
    m_heartbeat.start(400);
    setWindowTitle(title);
    listenForActivation();
    restorePosition();
    // First run: the help page, where the desktop has a way to open it; without one the
    // welcome window has said what to do.
    if (readSetting(keys::first) == "0") {
        if (shell::pageOpenerAvailable() && !firstMatchingFile(installPath("Tesmo.html")).empty())
            openHelp();
        writeSetting(keys::first, "1");
    }
    // Counters left by a session that crashed would keep the close-all question asking.
    for (const SettingKey *k : kWindowCounters)
        writeSetting(*k, "0");
    try {
        refreshNewestDate();
        m_changes.look(mainDatabase());
    } catch (const std::exception &e) {
        m_dateText->setText(QString());
        m_port.message(std::string("DBからデータを読めません。\r\n詳細:") + e.what(), "Tesmo",
                       MsgIcon::Critical, MsgButtons::Ok);
    }
    // A portfolio file that cannot be linked ends start-up; the window stays usable.
    if (!app.portfile_path.empty()) {
        try {
            app.port_link_table = portLinkTableName(shell::userIdNumber());
            shell::attachExternalPortfolio(mainDatabase(), m_port, app.portfile_path,
                                           app.port_link_table, us(title));
        } catch (const std::exception &e) {
            m_port.beep();
            m_port.message(shell::portfolioFailureText(e.what()), us(title), MsgIcon::Critical,
                           MsgButtons::Ok);
            return true;
        }
    }
    app.startup_done = true;
    // Without a tray the window simply shows; the button says why it cannot go there.
    if (readSetting(keys::autotaskt) != "0")
        enterTray();
    return true;
}

void MainWindow::refreshNewestDate() {
    showSource();
    m_dateText->setText(qs(shell::newestDateText(shell::newestDate(mainDatabase()))));
}

void MainWindow::showSource() {
    try {
        const shell::SourceState state = shell::sourceState();
        const bool usable = shell::sourceUsable(state);
        m_sourceText->setText(qs(shell::sourceText(state)));
        m_sourceText->setStyleSheet(usable ? QString() : QStringLiteral("color: #c00000;"));
        m_sourceText->setToolTip(
            usable ? QString()
                   : QStringLiteral("使えるデータ取得元がありません。[ｵﾌﾟｼｮﾝ]の[データ取得元]で"
                                    "設定してください。"));
    } catch (const std::exception &) {
        m_sourceText->clear(); // unreadable settings are said where they are used
    }
}

void MainWindow::welcome() {
    // Whatever the answer, the first start ends by opening the help page; a start without a
    // usable source welcomes again.
    if (!shell::welcomeWanted())
        return;
    WelcomeWindow window;
    window.exec();
    showSource();
}

bool MainWindow::closeChildWindows(bool forceIn) {
    // At the end of the session nobody is there to answer.
    const bool force = forceIn || SessionGuard::instance().sessionEnding();
    long long open = 0;
    for (const SettingKey *k : kWindowCounters) {
        try {
            open += readSettingInt(*k);
        } catch (const std::exception &) {
        }
    }
    if (open == 0)
        return false;
    if (!force &&
        m_port.message("閉じられていない子ｳｨﾝﾄﾞｳがあります。\r\n通常は子ｳｨﾝﾄﾞｳからこの操作をしま"
                       "す。\r\n\r\n強制的に終了する場合は以下の[いいえ]を選択します",
                       us(windowTitle()), MsgIcon::Information, MsgButtons::YesNo) != MsgAnswer::No)
        return true;
    // From here on nothing is asked and nothing stops the closing.
    std::vector<QPointer<QWidget>> windows;
    for (QWidget *w : QApplication::topLevelWidgets())
        windows.emplace_back(w);
    for (const QPointer<QWidget> &w : windows) {
        if (!w || w == this)
            continue;
        const QString name = w->objectName();
        bool child = w->property("tag").toString() == QStringLiteral("tesmochart");
        for (const char *cls : kChildClasses)
            child = child || name == QLatin1String(cls);
        if (!child)
            continue;
        // Gone at once, not at the next return to the event loop: a grid's connection to the
        // database would otherwise stay open through the compaction that may follow, which
        // needs the file to itself. (Qt clears the attribute when it closes the window.)
        const bool deleteOnClose = w->testAttribute(Qt::WA_DeleteOnClose);
        if (w->close() && w && deleteOnClose)
            delete w.data();
    }
    return false;
}

void MainWindow::runDataUpdate() {
    // Ends after the routine's scope, which takes the note of a refused close away: the window
    // then takes the size it had before the run once more, without the note's room.
    struct SizeAfterRun {
        MainWindow *form;
        ~SizeAfterRun() { form->restoreSizeBeforeRun(); }
    } sizeAfterRun{this};
    RoutineScope scope(this);
    shell::DataUpdateActions a;
    a.refreshNewestDate = [this] {
        // The connection would go on writing into a file that was deleted or emptied.
        mainDatabase().verifyFile();
        refreshNewestDate();
        return shell::newestDate(mainDatabase());
    };
    a.closeChildWindows = [this](bool force) { return closeChildWindows(force); };
    a.compactIfGrown = [this] { compactIfGrown(m_port); };
    a.scanDataSite = [this] {
        struct Run {
            MainWindow *form;
            ~Run() { form->endUpdateRun(); }
        } run{this};
        beginUpdateRun();
        return acquire::scanSelectedSource(mainDatabase(), m_port, m_http,
                                           [this] { refreshNewestDate(); });
    };
    a.versionCheck = [this](bool complete) {
        return update::versionCheck(m_http, m_port, complete);
    };
    a.runState = [] { return acquire::importRunState(); };
    a.runNote = [] { return acquire::sourceNote(); };
    a.isMinimized = [this] { return isMinimized(); };
    a.restoreWindow = [this] { tesmo::ui::showNormal(this); };
    a.databaseFile = [] { return mainDatabase().path(); };
    a.announceWatch = [this](const std::string &text) { return announceWatch(qs(text)); };
    a.startUpdaterAndExit = [this] {
        const std::string failure = update::startUpdater(m_port);
        m_port.setBusy(false);
        if (!failure.empty()) {
            m_port.message(failure, us(windowTitle()), MsgIcon::Critical, MsgButtons::Ok);
            return;
        }
        // update_exit is set: the child windows close without a question. Not from inside
        // this command, which is still on the stack.
        QTimer::singleShot(0, this, [this] { close(); });
    };
    if (shell::runDataUpdate(m_port, a, us(windowTitle()), std::time(nullptr)) ==
        shell::DataUpdateResult::Done)
        WindowHub::instance().refreshDataWindows();
}

namespace {
// The widest progress the status line shows: a day with its count and time left, and a step.
const char *const kWidestProgress[] = {
    "2026/12/30 100/100日 残り約1時間59分", "指標を計算中(月平均と比較 4400/4400銘柄)",
    "中止を受け付けました。取り込み中の日が終わりしだい中止します。"};
// Lines the status line keeps room for during a run: day, step and the note of a stop.
constexpr int kProgressLines = 3;
} // namespace

void MainWindow::showStatus() {
    QString text = qs(shell::plainProgress(us(windowTitle()), us(titleText())));
    if (m_port.stopAfterDayRequested())
        text += QStringLiteral("\n") + QString::fromUtf8(kWidestProgress[2]);
    m_statusLine->setText(text);
}

void MainWindow::beginUpdateRun() {
    m_sizeBeforeRun = size();
    m_shift = QPoint();
    m_port.setStopAfterDay(false);
    m_stopButton->setEnabled(true);
    m_stopButton->setVisible(true);
    const QFontMetrics metrics(m_statusLine->font());
    int width = 0;
    for (const char *line : kWidestProgress)
        width = std::max(width, metrics.horizontalAdvance(QString::fromUtf8(line)));
    const int frame = 2 * (m_statusLine->frameWidth() + m_statusLine->margin()) + 8;
    m_statusLine->setMinimumSize(width + frame, kProgressLines * metrics.lineSpacing() + frame);
    m_statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop); // the lines stay where they are
    adjustSize();
    // Grown to the right or down, the window stays on its screen.
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        const QRect frameRect = frameGeometry();
        QPoint shift;
        if (frameRect.right() > area.right())
            shift.setX(std::max(area.left() - frameRect.left(), area.right() - frameRect.right()));
        if (frameRect.bottom() > area.bottom())
            shift.setY(std::max(area.top() - frameRect.top(), area.bottom() - frameRect.bottom()));
        if (!shift.isNull()) {
            move(pos() + shift);
            m_shift = shift;
            m_movedTo = pos();
        }
    }
    showStatus();
}

void MainWindow::endUpdateRun() {
    m_stopButton->setVisible(false);
    m_port.setStopAfterDay(false);
    showStatus();
    m_statusLine->setMinimumSize(0, 0);
    m_statusLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Back to its size before the report shows; once more after the routine.
    restoreSizeBeforeRun(false);
}

void MainWindow::restoreSizeBeforeRun(bool last) {
    if (!m_sizeBeforeRun.isValid())
        return;
    // The window's least size follows its layout only once the layout is run again.
    layout()->activate();
    resize(m_sizeBeforeRun);
    // Back where it was, unless the user moved it since.
    if (!m_shift.isNull() && pos() == m_movedTo)
        move(pos() - m_shift);
    m_shift = QPoint();
    if (last)
        m_sizeBeforeRun = QSize();
}

void MainWindow::stopUpdate() {
    m_port.setStopAfterDay(true);
    m_stopButton->setEnabled(false);
    showStatus();
}

void MainWindow::importChosenFile() {
    if (isBusy())
        return;
    runCommand(this, [this] {
        setWindowTitle(titleText());
        FileDialogRequest request;
        request.title = "Tesmo用の更新ﾃﾞｰﾀを指定してください";
        // tesmodatadir holds the last chosen file's full path (or a folder).
        const std::string last = readSetting(keys::tesmodatadir);
        request.initialDir = std::filesystem::is_directory(last)
                                 ? last
                                 : std::filesystem::path(last).parent_path().string();
        request.filter = "Tesmo更新ﾃﾞｰﾀ (*.bnd *.lzh);;Tesmo更新ﾃﾞｰﾀ(*.bnd);;Lha圧縮ﾌｧｲﾙ(*.lzh)";
        const std::string file = m_port.openFileDialog(request);
        if (file.empty() || !std::filesystem::exists(file))
            return;
        // A database that is gone is said, not passed over like a file that cannot be copied.
        Database &db = mainDatabase();
        db.verifyFile();
        try {
            writeSetting(keys::tesmodatadir, file);
            m_port.setBusy(true);
            shell::manualImport(db, m_port, file, [this] { refreshNewestDate(); });
        } catch (const StopRequested &) {
            throw;
        } catch (const std::exception &) {
            // a file that cannot be copied ends the import without a word, as a cancel does
        }
        m_port.setBusy(false);
    });
    m_port.setBusy(false);
    WindowHub::instance().refreshDataWindows();
}

void MainWindow::openChartFromClipboard() {
    // A five-character code of the exchange's form opens that issue where the master has it.
    const auto inMaster = [](const std::string &code) {
        try {
            return !mainDatabase()
                        .openRecordset("SELECT CODE from master where CODE=? ;", {Value(code)})
                        .eof();
        } catch (const std::exception &) {
            return false;
        }
    };
    WindowHub::instance().openChart(
        qs(shell::codeFromClipboardText(m_port.clipboardText(), inMaster)));
}

void MainWindow::heartbeat() {
    if (m_instanceLock && !m_instanceLock->isLocked())
        listenForActivation();
    const std::string stamp = std::to_string(shell::heartbeatStamp(std::time(nullptr), false));
    try {
        writeSetting(keys::becon, stamp);
        if (!isVisible())
            writeSetting(keys::taskttime, stamp);
    } catch (const std::exception &) {
        // a missed heartbeat only weakens the guard against a second instance
    }
    followOtherPrograms();
}

// tesmoctl from a script or cron may import into the database while the program is open: the
// date and the open tables follow. Not while a routine runs, which refreshes what it changes
// itself; the change is then seen at the first quiet heartbeat.
void MainWindow::followOtherPrograms() {
    if (!isDatabaseConnected() || isBusy() || runningRoutines() > 0)
        return;
    try {
        const ChangeWatch::Change change = m_changes.look(mainDatabase());
        if (change == ChangeWatch::Change::None)
            return;
        const QString shown = m_dateText->text();
        refreshNewestDate();
        // A grid's own saved edit needs no refresh of the grids; new days or another
        // program's edits do.
        if (change == ChangeWatch::Change::OtherProgram || m_dateText->text() != shown)
            WindowHub::instance().refreshDataWindows();
    } catch (const std::exception &) {
        // the next heartbeat looks again
    }
}

void MainWindow::goToTray() {
    if (isBusy())
        return;
    if (!enterTray())
        runCommand(this, [this] {
            m_port.message("ﾀｽｸﾄﾚｲ(通知領域)がないため、常駐できません。\r\n"
                           "Tesmoはこのままウィンドウで動きます。",
                           us(windowTitle()), MsgIcon::Information, MsgButtons::Ok);
        });
}

TrayResidence &MainWindow::trayResidence() {
    if (!m_trayResidence)
        m_trayResidence = new TrayResidence(this, TrayResidence::hooksFor(this), this);
    return *m_trayResidence;
}

bool MainWindow::announceWatch(const QString &text) {
    return trayResidence().announce(text, [] { WindowHub::instance().show(WindowKind::Signals); });
}

bool MainWindow::enterTray() {
    if (isBusy())
        return false;
    m_port.setBusy(true);
    const bool added = trayResidence().add() == 1;
    m_port.setBusy(false);
    if (added) {
        hide();
        heartbeat();
    }
    return added;
}

void MainWindow::listenForActivation() {
    if (m_server && m_server->isListening())
        return;
    const QString name = instanceSocketName(titleText());
    // The socket belongs to whichever instance holds its lock. A second instance that the
    // user started anyway leaves the first one's socket alone, so that later starts still
    // reach the first; it takes the socket over at a heartbeat once the first has ended.
    if (!m_instanceLock)
        m_instanceLock =
            std::make_unique<QLockFile>(QDir(QDir::tempPath()).filePath(name + ".lock"));
    if (!m_instanceLock->isLocked() && !m_instanceLock->tryLock(0))
        return;
    QLocalServer::removeServer(name); // left behind by an instance that crashed
    if (!m_server) {
        m_server = new QLocalServer(this);
        connect(m_server, &QLocalServer::newConnection, this, [this] { onActivationRequest(); });
    }
    m_server->listen(name);
}

void MainWindow::onActivationRequest() {
    while (QLocalSocket *s = m_server->nextPendingConnection())
        s->deleteLater();
    if (m_trayResidence && m_trayResidence->isAdded())
        return; // sitting in the tray: the other instance asked the user already
    tesmo::ui::showNormal(this);
}

bool MainWindow::activateRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(instanceSocketName(titleText()));
    const bool ok = socket.waitForConnected(1000);
    socket.disconnectFromServer();
    return ok;
}

void MainWindow::openHelp() {
    openPage(this, installPath("Tesmo.html"), windowTitle());
}

void MainWindow::openHomePage() {
    std::string base = readSetting(keys::updatesite);
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    openPage(this, base + "/tesmo/", windowTitle());
}

void MainWindow::closeEvent(QCloseEvent *event) {
    // Closing ends the program and the database connection: not while any window works.
    if (refuseCloseWhileBusy(this, event, true))
        return;
    bool cancelled = false;
    runCommand(this, [&] { cancelled = closeChildWindows(appState().update_exit); });
    if (cancelled) {
        event->ignore();
        return;
    }
    closeDatabase();
    if (!isMinimized() && !isMaximized() && isVisible()) {
        try {
            savePosition();
        } catch (const std::exception &) {
            // the next start opens the window where it was before
        }
    }
    appState().startup_done = false;
    m_heartbeat.stop();
    if (m_trayResidence)
        m_trayResidence->remove();
    event->accept();
}

// The position is that of the client area, saved and restored alike, in twips: the frame's
// position saved and the client's restored would move the window by the title bar's height on
// every start.
void MainWindow::savePosition() {
    const QPoint p = geometry().topLeft();
    writeSetting(keys::mainf_top, std::to_string(std::lround(p.y() * twipsPerPixel(*this))));
    writeSetting(keys::mainf_left, std::to_string(std::lround(p.x() * twipsPerPixel(*this))));
}

void MainWindow::restorePosition() {
    bool okTop = false;
    bool okLeft = false;
    const double top = QString::fromStdString(readSetting(keys::mainf_top, "")).toDouble(&okTop);
    const double left = QString::fromStdString(readSetting(keys::mainf_left, "")).toDouble(&okLeft);
    if (!okTop || !okLeft)
        return;
    // Only the place is restored: a window not yet shown still has Qt's default size, which
    // would replace the size its controls ask for.
    if (!testAttribute(Qt::WA_Resized))
        adjustSize();
    QRect g = geometry();
    g.moveTopLeft(QPoint(static_cast<int>(std::lround(left / twipsPerPixel(*this))),
                         static_cast<int>(std::lround(top / twipsPerPixel(*this)))));
    setGeometry(g);
}

bool MainWindow::inTray() const {
    return m_trayResidence && m_trayResidence->isAdded();
}

void MainWindow::keyReleaseEvent(QKeyEvent *event) {
    if (!keyShortcut(event->key(), event->modifiers()))
        QWidget::keyReleaseEvent(event);
}

} // namespace tesmo::ui
