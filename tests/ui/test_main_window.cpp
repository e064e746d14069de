#include "core/acquire/day_file_writer.h"
#include "core/common/app_state.h"
#include "core/common/dates.h"
#include "core/common/paths.h"
#include "core/shell/data_update.h"
#include "core/shell/startup.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/storage/shipped_database.h"
#include "message_box_answerer.h"
#include "support/jquants_stand_in.h"
#include "support/temp_env.h"
#include "ui/common/window_hub.h"
#include "ui/shell/main_window.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tesmo;
using tesmo::test::MessageBoxAnswerer;
using tesmo::test::TempEnv;

namespace {

// A data site on loopback and a start after the first: no welcome window.
void settledSource() {
    storage::writeSetting(storage::keys::myhpadd4, "http://127.0.0.1:9/cgi-bin/freedata/index.cgi");
    storage::writeSetting(storage::keys::first, "1");
}

std::string databaseWithTwoDates(const TempEnv &env) {
    settledSource();
    const std::string db = env.newDatabase();
    auto conn = storage::Database::open(db, storage::kConnectString);
    conn->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240105,'1301',1,2,3) ;");
    conn->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240104,'1301',1,2,3) ;");
    conn->execute(
        "Insert into T_PORT(PDATE,CODE,PSW,APRC,AVAL) Values(20240105,'1301',0,3000,1000);");
    storage::writeSetting(storage::keys::mdbpath, db);
    return db;
}

TEST(MainWindow, StartUpShowsTheNewestDateAndAsksThePortfolioHintOnce) {
    TempEnv env;
    databaseWithTwoDates(env);
    MessageBoxAnswerer boxes;
    {
        ui::MainWindow form;
        form.show();
        EXPECT_EQ(form.dateText(), QStringLiteral("<検索中>"));
        ASSERT_TRUE(form.startUp());
        EXPECT_FALSE(form.startupFailed());
        EXPECT_EQ(form.dateText(), QStringLiteral("20240105"));
        EXPECT_EQ(form.windowTitle(), form.titleText());
        EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Tesmo ")));
        EXPECT_TRUE(appState().startup_done);
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith(
            QStringLiteral("現在はポートフォリオが個別になっていません。")));
        EXPECT_EQ(storage::readSetting(storage::keys::usermdbconfirm), "1"); // answered No
        EXPECT_EQ(storage::readSetting(storage::keys::cnt_Form2), "0");
        form.heartbeat();
        EXPECT_NE(storage::readSetting(storage::keys::becon), "0");
        form.close();
        EXPECT_FALSE(storage::isDatabaseConnected());
        EXPECT_FALSE(appState().startup_done);
    }
    ui::MainWindow again;
    ASSERT_TRUE(again.startUp());
    EXPECT_EQ(boxes.texts.size(), 1); // declined once, never asked again
    again.close();
}

TEST(MainWindow, EmptyDatabaseShowsPlaceholderAndStartUpGoesOn) {
    TempEnv env;
    storage::writeSetting(storage::keys::mdbpath, env.newDatabase());
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    settledSource();
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    EXPECT_EQ(form.dateText(), QStringLiteral("ﾃﾞｰﾀなし"));
    EXPECT_TRUE(appState().startup_done);
    form.close();
}

TEST(MainWindow, ConnectionFailureIsShownAndKeepsTheCaption) {
    TempEnv env;
    storage::writeSetting(storage::keys::mdbpath, env.path("missing.mdb"));
    MessageBoxAnswerer boxes;
    for (bool debug : {false, true}) {
        storage::writeSetting(storage::keys::debugcode, debug ? storage::kDebugCode : "");
        ui::MainWindow form;
        form.show();
        EXPECT_TRUE(form.startUp()); // the window stays open
        EXPECT_TRUE(form.startupFailed());
        ASSERT_FALSE(boxes.texts.isEmpty());
        if (debug)
            EXPECT_TRUE(boxes.texts.back().startsWith(QStringLiteral("DB接続ｴﾗｰ 詳細:")));
        else
            EXPECT_EQ(
                boxes.texts.back(),
                QStringLiteral("DBに接続できません。ｵﾌﾟｼｮﾝの[DBの参照位置]を確認してください"));
        EXPECT_EQ(boxes.titles.back(), QStringLiteral("Tesmo"));
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Tesmo"));
        EXPECT_EQ(form.dateText(), QStringLiteral("<検索中>"));
        EXPECT_FALSE(appState().startup_done);
    }
}

TEST(MainWindow, SecondInstanceActivatesTheFirstOrAsksWhenItIsInTheTray) {
    TempEnv env;
    databaseWithTwoDates(env);
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    const std::string fresh = std::to_string(shell::heartbeatStamp(std::time(nullptr), false));

    // A visible instance listens; the new one pokes it and quits without a message.
    ui::MainWindow probe;
    QLocalServer running;
    QLocalServer::removeServer(ui::MainWindow::instanceSocketName(probe.titleText()));
    ASSERT_TRUE(running.listen(ui::MainWindow::instanceSocketName(probe.titleText())));
    storage::writeSetting(storage::keys::becon, fresh);
    MessageBoxAnswerer boxes;
    {
        ui::MainWindow second;
        EXPECT_FALSE(second.startUp());
        EXPECT_TRUE(running.waitForNewConnection(1000) || running.hasPendingConnections());
        EXPECT_TRUE(boxes.texts.isEmpty());
    }
    running.close();

    // In the tray: Yes quits, No starts anyway. The first instance keeps its socket: once the
    // forced one has ended, a later start still reaches the first.
    storage::writeSetting(storage::keys::becon, "0");
    ui::MainWindow first;
    ASSERT_TRUE(first.startUp());
    storage::writeSetting(storage::keys::becon, fresh);
    storage::writeSetting(storage::keys::taskttime, fresh);
    boxes.answer(QMessageBox::Yes);
    {
        ui::MainWindow third;
        EXPECT_FALSE(third.startUp());
    }
    boxes.answer(QMessageBox::No);
    {
        ui::MainWindow fourth;
        EXPECT_TRUE(fourth.startUp());
        EXPECT_EQ(fourth.dateText(), QStringLiteral("20240105"));
        fourth.close();
    }
    QLocalSocket later;
    later.connectToServer(ui::MainWindow::instanceSocketName(first.titleText()));
    EXPECT_TRUE(later.waitForConnected(1000));
    first.close();
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("既にタスクトレイ上に起動しています。")));

    // A heartbeat older than three seconds is an instance that has ended.
    storage::writeSetting(storage::keys::becon, std::to_string(std::stoll(fresh) - 10));
    storage::writeSetting(storage::keys::taskttime, "0");
    ui::MainWindow fifth;
    EXPECT_TRUE(fifth.startUp());
    EXPECT_EQ(boxes.texts.size(), 2);
    fifth.close();
}

TEST(MainWindow, ExternalPortfolioIsLinkedAndAMissingFileIsReported) {
    TempEnv env;
    databaseWithTwoDates(env);
    const std::string port = env.path("portfolio.mdb");
    storage::createPortfolioDatabase(port);
    storage::writeSetting(storage::keys::portopt, "1");
    storage::writeSetting(storage::keys::portfile, port);
    MessageBoxAnswerer boxes;
    boxes.answer(QMessageBox::Ok);
    {
        ui::MainWindow form;
        ASSERT_TRUE(form.startUp());
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(
            boxes.texts[0].startsWith(QStringLiteral("個別ポートフォリオの作成が完了しました。")));
        const std::string link = appState().port_link_table;
        EXPECT_EQ(link.rfind("userportf", 0), 0u);
        EXPECT_EQ(storage::mainDatabase().scalar("select count(*) from " + link).toInt(), 1);
        EXPECT_EQ(portfolioTable(), link);
        form.close();
    }
    {
        ui::MainWindow form;
        ASSERT_TRUE(form.startUp());
        EXPECT_EQ(boxes.texts.size(), 1); // the link existed: replaced without a question
        form.close();
    }
    std::filesystem::remove(port);
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(
        boxes.texts[1],
        QStringLiteral("[ﾕｰｻﾞﾎﾟｰﾄﾌｫﾘｵ]の処理ができません。ｵﾌﾟｼｮﾝの[ﾎﾟｰﾄﾌｫﾘｵ]を確認してください"));
    EXPECT_EQ(form.dateText(), QStringLiteral("20240105")); // shown before the link failed
    EXPECT_FALSE(appState().startup_done);
    form.close();
}

TEST(MainWindow, CloseAllFormClosesChildWindowsWhenForcedOrConfirmed) {
    TempEnv env;
    databaseWithTwoDates(env);
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    EXPECT_FALSE(form.closeChildWindows(false)); // no counters: nothing to ask

    auto openChildren = [] {
        std::vector<QWidget *> ws;
        for (int i = 0; i < 3; ++i) {
            auto *chart = new QWidget;
            chart->setObjectName("ChartWindow");
            chart->setProperty("tag", "tesmochart");
            ws.push_back(chart);
        }
        auto *opt = new QWidget;
        opt->setObjectName("OptionsWindow");
        ws.push_back(opt);
        for (QWidget *w : ws) {
            w->setAttribute(Qt::WA_DeleteOnClose);
            w->show();
        }
        storage::writeSetting(storage::keys::cnt_Form2, "3");
        storage::writeSetting(storage::keys::cnt_F_opt, "1");
    };
    auto visibleChildren = [] {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() &&
                (w->objectName() == "ChartWindow" || w->objectName() == "OptionsWindow"))
                ++n;
        return n;
    };
    openChildren();
    MessageBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    EXPECT_TRUE(form.closeChildWindows(false)); // Yes: keep everything open
    EXPECT_EQ(visibleChildren(), 4);
    EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("閉じられていない子ｳｨﾝﾄﾞｳがあります。")));
    EXPECT_FALSE(form.closeChildWindows(true)); // forced: no question
    EXPECT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(visibleChildren(), 0);
    // Gone at once, with whatever connection they held: a compaction may follow.
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_NE(w->objectName(), QStringLiteral("ChartWindow"));
    form.close();
}

// tesmoctl from a script imports beside the open program: the heartbeat sees the commit of
// another program and the date follows.
TEST(MainWindow, HeartbeatFollowsWhatAnotherProgramWrote) {
    TempEnv env;
    const std::string db = databaseWithTwoDates(env);
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    form.heartbeat();
    EXPECT_EQ(form.dateText(), QStringLiteral("20240105"));
    int status = -1;
    const std::string out =
        test::runCommand(std::string(TESMO_BIN_DIR) + "/tesmoctl sql " + db +
                             " \"Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) "
                             "Values(20240110,'1301',1,2,3)\" 2>&1",
                         &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(form.dateText(), QStringLiteral("20240105"));
    form.heartbeat();
    EXPECT_EQ(form.dateText(), QStringLiteral("20240110"));
    form.close();
}

TEST(MainWindow, PositionSurvivesRestartsWithoutCreeping) {
    TempEnv env;
    databaseWithTwoDates(env);
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    for (int run = 0; run < 3; ++run) {
        ui::MainWindow form;
        ASSERT_TRUE(form.startUp());
        form.show();
        if (run == 0)
            form.setGeometry(QRect(QPoint(123, 234), form.size()));
        EXPECT_EQ(form.geometry().topLeft(), QPoint(123, 234)) << run;
        form.close();
        // Twips, as every window geometry of the program.
        const double twips = 1440.0 / form.logicalDpiY();
        EXPECT_EQ(storage::readSetting(storage::keys::mainf_left),
                  std::to_string(std::lround(123 * twips)));
        EXPECT_EQ(storage::readSetting(storage::keys::mainf_top),
                  std::to_string(std::lround(234 * twips)));
    }
}

// The status line shows the caption in words while an import reports in it; the bar shows
// where a step knows how far it is.
TEST(MainWindow, StatusLineMirrorsTheCaptionDuringAnImport) {
    TempEnv env;
    databaseWithTwoDates(env);
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    storage::writeSetting(storage::keys::compyc, "40");
    setInstallDirOverride(env.dir());
    const std::string file = env.path("upload/20240108.bnd");
    std::filesystem::create_directories(env.path("upload"));
    acquire::writeDayFile(file, acquire::sampleDayRecords(20240108, 40, 1));
    MessageBoxAnswerer boxes;
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    form.show();
    QStringList seen;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&] { seen << form.statusText(); });
    shell::manualImport(storage::mainDatabase(), form.port(), file, {});
    EXPECT_TRUE(seen.contains(QStringLiteral("データを読み込み中")))
        << seen.join('|').toStdString();
    EXPECT_EQ(form.statusText(), form.titleText());
    auto *bar = form.findChild<QProgressBar *>(QString::fromUtf8(ui::kProgressBarName));
    ASSERT_NE(bar, nullptr);
    form.port().progress(30, 40);
    EXPECT_TRUE(bar->isVisibleTo(&form));
    EXPECT_EQ(bar->value(), 750);
    form.port().progress(0, 0);
    EXPECT_FALSE(bar->isVisibleTo(&form));
    form.close();
    setInstallDirOverride("");
}

// 中止 shows while a data update runs and stops it after the day under way; closing is still
// refused. The status line reads the day, its count and the step in words, wide enough for
// them, and the window takes its size again afterwards.
TEST(MainWindow, StopButtonEndsACatchUpAfterItsDay) {
    TempEnv env;
    // A day of long ago: the date field shows digits before and after, as tall.
    const std::string db = env.newDatabase();
    storage::Database::open(db, storage::kConnectString)
        ->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(20200106,'1301',1) ;");
    test::FakeClock clock;
    sample_site::JQuantsOptions o;
    o.endDate = sample_site::lastTradingDayBefore(localDate(std::time(nullptr)));
    o.stocks = 30;
    o.rate = 0;
    test::JQuantsStandIn stand(o, clock);
    namespace keys = storage::keys;
    for (const auto &[key, value] : {std::pair{&keys::mdbpath, db},
                                     {&keys::usermdbconfirm, "1"},
                                     {&keys::datasource, "jquants"},
                                     {&keys::jquantsapi, stand.base()},
                                     {&keys::jquantskey, "tesmo-sample-key"},
                                     {&keys::jquantsrate, "500"},
                                     {&keys::maxdtc, "4"},
                                     {&keys::compyc, "30"}})
        storage::writeSetting(*key, value);
    MessageBoxAnswerer boxes;
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    form.show();
    const QSize before = form.size();
    EXPECT_FALSE(form.stopButton()->isVisible());
    QStringList seen;
    int widthWhileRunning = 0;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&] {
        seen << form.statusText();
        QPushButton *stop = form.stopButton();
        if (stop->isVisible() && stop->isEnabled() && form.windowTitle().contains("] 2/5日")) {
            widthWhileRunning = form.width();
            stop->click();
            EXPECT_FALSE(form.close()); // refused with its note, which leaves no room behind
        }
    });
    form.runDataUpdate();

    ASSERT_FALSE(boxes.texts.isEmpty());
    EXPECT_TRUE(boxes.texts.last().startsWith(QStringLiteral("中止しました。")));
    EXPECT_TRUE(boxes.texts.last().contains(QStringLiteral("まだ取り込んでいない日: 3日")));
    const std::string all = seen.join('|').toStdString();
    for (const char *words : {" 2/5日 残り", "\nデータを読み込み中", "\n中止を受け付けました。"})
        EXPECT_NE(all.find(words), std::string::npos) << words << all;
    EXPECT_GT(widthWhileRunning, before.width());
    EXPECT_FALSE(form.stopButton()->isVisible());
    EXPECT_EQ(form.size(), before);
    EXPECT_EQ(form.statusText(), form.titleText());
    form.close();
}

// The clipboard's code, with the master deciding about five characters: 25935 (a preferred
// share in the master) opens itself, 72030 (J-Quants' form of 7203) the common share.
TEST(MainWindow, ClipChartOpensTheCodeOnTheClipboard) {
    TempEnv env;
    const std::string db = databaseWithTwoDates(env);
    storage::Database::open(db, storage::kConnectString)
        ->execute("Insert into master(CODE,NAME,MARKET) Values('25935','伊藤園(優先)','東証P')");
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    QStringList opened;
    ui::WindowHub::instance().setChartOpener(
        [&](const QString &code, std::optional<double>) { opened << code; });
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    for (const char *text :
         {"130A 新興テック", "１３０ａ", "銘柄 7203 トヨタ", "no digits", "25935", "72030"}) {
        QApplication::clipboard()->setText(QString::fromUtf8(text));
        form.openChartFromClipboard();
    }
    EXPECT_EQ(opened, (QStringList{"130A", "130A", "7203", "", "25935", "7203"}));
    ui::WindowHub::instance().setChartOpener({});
    form.close();
}

// The first start: the welcome window explains the sources and takes the J-Quants key (the
// data site of this build has no address), then the portfolio question follows. The main
// window shows the source; the welcome comes again only while no source can be used.
TEST(MainWindow, FirstStartWelcomesThenAsksAboutThePortfolio) {
    TempEnv env;
    storage::writeSetting(storage::keys::mdbpath, env.newDatabase());
    MessageBoxAnswerer boxes;
    QString siteNote;
    bool siteSelectable = true;
    boxes.onWelcome = [&](QWidget *w) {
        auto *site = w->findChild<QRadioButton *>(QStringLiteral("Op_source_0"));
        siteSelectable = site->isEnabled();
        siteNote = w->findChild<QLabel *>(QStringLiteral("L_siteNote"))->text();
        w->findChild<QRadioButton *>(QStringLiteral("Op_source_1"))->click();
        w->findChild<QLineEdit *>(QStringLiteral("T_jqkey"))->setText(QStringLiteral("my-key"));
        auto *plan = w->findChild<QComboBox *>(QStringLiteral("Cb_plan"));
        plan->setCurrentIndex(plan->findData(QStringLiteral("60")));
        w->findChild<QPushButton *>(QStringLiteral("C_OK"))->click();
    };
    {
        ui::MainWindow form;
        ASSERT_TRUE(form.startUp());
        EXPECT_EQ(boxes.welcomes, 1);
        EXPECT_FALSE(siteSelectable);
        EXPECT_TRUE(siteNote.contains(QStringLiteral("接続先が設定されていない")))
            << siteNote.toStdString();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(
            boxes.texts[0].endsWith(QStringLiteral("次回の起動時にも、この案内を表示しますか？")));
        EXPECT_EQ(storage::readSetting(storage::keys::datasource), "jquants");
        EXPECT_EQ(storage::readSetting(storage::keys::jquantskey), "my-key");
        EXPECT_EQ(storage::readSetting(storage::keys::jquantsrate), "60");
        EXPECT_EQ(storage::readSetting(storage::keys::first), "1");
        EXPECT_EQ(form.sourceText(), QStringLiteral("J-Quants"));
        form.close();
    }
    boxes.onWelcome = {};
    {
        ui::MainWindow form; // a usable source: straight to the main window
        ASSERT_TRUE(form.startUp());
        EXPECT_EQ(boxes.welcomes, 1);
        form.close();
    }
    storage::writeSetting(storage::keys::jquantskey, "");
    ui::MainWindow form; // the key is gone: welcomed again, and "あとで設定する" leaves it so
    ASSERT_TRUE(form.startUp());
    EXPECT_EQ(boxes.welcomes, 2);
    EXPECT_EQ(form.sourceText(), QStringLiteral("J-Quants (キー未設定)"));
    // The source and the date stay readable in the narrowest main window.
    form.show();
    form.resize(form.minimumSizeHint());
    QApplication::processEvents();
    auto *date = form.findChild<QLabel *>(QStringLiteral("dateText"));
    EXPECT_LE(date->fontMetrics().horizontalAdvance(date->text()), date->contentsRect().width());
    auto *source = form.findChild<QLabel *>(QStringLiteral("sourceText"));
    EXPECT_LE(source->heightForWidth(source->width()), source->height());
    EXPECT_LE(source->fontMetrics().horizontalAdvance(source->text()),
              source->contentsRect().width()); // on one line
    form.close();
}

// The small things of the main window: the manual import's caption, and the tray button on a
// desktop without a tray says so and keeps the window.
TEST(MainWindow, ImportButtonAndTrayWithoutATray) {
    TempEnv env;
    databaseWithTwoDates(env);
    storage::writeSetting(storage::keys::usermdbconfirm, "1");
    MessageBoxAnswerer boxes;
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    form.show();
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("importFileButton"))->text(),
              QStringLiteral("ﾌｧｲﾙ取込"));
    form.findChild<QPushButton *>(QStringLiteral("trayButton"))->click();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("ﾀｽｸﾄﾚｲ(通知領域)がないため")));
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(form.inTray());
    }
    form.close();
}

} // namespace
