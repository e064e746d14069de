// Windows under the offscreen platform while their routines run: a close or quit request that
// arrives at a routine's pause, windows opened without their database, message boxes without
// an escape path, and the event loop's last-resort guard.
#include "core/acquire/day_file_writer.h"
#include "core/common/cp932.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "message_box_answerer.h"
#include "support/http_test_server.h"
#include "support/temp_env.h"
#include "ui/chart/chart_window.h"
#include "ui/common/routine_scope.h"
#include "ui/common/session_guard.h"
#include "ui/common/window_hub.h"
#include "ui/shell/main_window.h"
#include "ui/shell/options_window.h"
#include "ui/tables/grid_window.h"
#include "ui/tables/register_tables.h"
#include "ui/update/update_splash.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tesmo;
using tesmo::test::MessageBoxAnswerer;
using tesmo::test::TempEnv;

namespace {

namespace keys = storage::keys;
constexpr long long kDay = 20240105;

// Records a window's captions and what its status line showed, and acts once when a caption
// contains `text`: routines set their captions through the port step by step, so what `act`
// posts arrives at that step's pause.
class CaptionWatch : public QObject {
public:
    CaptionWatch(QWidget *window, QString text = {}, std::function<void()> act = {})
        : m_text(std::move(text)), m_act(std::move(act)) {
        window->installEventFilter(this);
        if (auto *status = window->findChild<QLabel *>(QString::fromLatin1(ui::kStatusLineName)))
            status->installEventFilter(this);
    }
    QStringList titles;
    bool noteShown() const {
        return !titles.filter(QString::fromUtf8(ui::kBusyNote)).isEmpty() || m_statusNote;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show)
            if (auto *status = qobject_cast<QLabel *>(watched))
                m_statusNote = m_statusNote || status->text() == QString::fromUtf8(ui::kBusyNote);
        if (event->type() == QEvent::WindowTitleChange) {
            titles << static_cast<QWidget *>(watched)->windowTitle();
            if (m_act && !m_text.isEmpty() && titles.back().contains(m_text))
                std::exchange(m_act, {})();
        }
        return false;
    }
    bool m_statusNote = false;

private:
    QString m_text;
    std::function<void()> m_act;
};

// Lets posted events, zero timers and deferred deletions run.
void settle() {
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

class WindowSafety : public ::testing::Test {
protected:
    void SetUp() override {
        dbPath = env.newDatabase();
        // No trading date yet: the data update runs the scan whatever today's date is.
        storage::Database::open(dbPath, storage::kConnectString)
            ->execute("Insert into master(CODE,NAME,MARKET) Values('1301','極洋','東証1部')");
        const std::pair<const storage::SettingKey &, std::string> settings[] = {
            {keys::mdbpath, dbPath},
            {keys::usermdbconfirm, "1"},
            {keys::noannounce, "1"},
            {keys::compyc, "5"},
            {keys::browser, "/bin/true"}, // the outside pages open nowhere
            {keys::web1wait, "1"},
            {keys::myhpadd4, server.url("/cgi-bin/freedata/index.cgi")},
            {keys::myhpad_data4, server.url("/freedata/")},
            {keys::updatesite, server.url()},
        };
        for (const auto &[key, value] : settings)
            storage::writeSetting(key, value);
        server.serve("/cgi-bin/freedata/index.cgi",
                     utf8ToCp932("<!- tesmo daily data start --><br>\r\n<a href=\"x\">" +
                                 std::to_string(kDay) +
                                 ".bnd</a><br>\r\n<!- tesmo daily data end --><br>\r\n"));
        server.serve("/cgi-bin/wcnt315/wwwcount.cgi", "GIF89a", 200, "image/gif");
        server.serve("/prg_msg.html", utf8ToCp932("<!- tesmo announce start --><!- tesmo "
                                                  "announce end -->"));
        server.serve("/freedata/" + std::to_string(kDay) + ".bnd",
                     acquire::dayFileBytes(acquire::sampleDayRecords(kDay, 6)));
        ui::registerTableWindows();
        ui::registerOptionsWindow();
        ui::WindowHub::instance().setChartOpener(
            [](const QString &code, std::optional<double> price) {
                ui::openChartWindow(code, price);
            });
        ui::SessionGuard::instance().install(*qobject_cast<QApplication *>(qApp), [this] {
            ++ended;
            if (endTarget)
                endTarget->close();
        });
    }
    void TearDown() override {
        ui::SessionGuard::instance().reset();
        storage::closeDatabase();
    }

    ui::MainWindow *startMainWindow() {
        auto *form = new ui::MainWindow;
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->show();
        EXPECT_TRUE(form->startUp());
        return form;
    }
    long long dayRows() {
        auto db = storage::Database::open(dbPath, storage::kConnectString);
        EXPECT_EQ(db->scalar("PRAGMA integrity_check").toText(), "ok");
        return db->scalar("select count(*) from T_NEARLY where IDATE=" + std::to_string(kDay))
            .toInt();
    }

    TempEnv env;
    test::HttpTestServer server;
    MessageBoxAnswerer boxes; // every question gets OK
    std::string dbPath;
    int ended = 0;
    QPointer<QWidget> endTarget;
};

TEST_F(WindowSafety, ACloseOrQuitRequestDuringARoutineWaitsForItsEnd) {
    const struct Case {
        const char *what;
        std::function<QWidget *()> open;
        // Runs the routine and has `post` called at its step.
        std::function<void(QWidget *, const std::function<void()> &post)> run;
        long long rowsAfterClose, rowsAfterQuit;
    } cases[] = {
        {"main window during an import", [this] { return startMainWindow(); },
         [](QWidget *w, const std::function<void()> &post) {
             storage::mainDatabase().execute("Delete from T_NEARLY where IDATE=" +
                                             std::to_string(kDay));
             CaptionWatch atImport(w, QStringLiteral("ﾃﾞｰﾀ更新1処理中"), post);
             static_cast<ui::MainWindow *>(w)->runDataUpdate();
         },
         6, 0},
        // The import above left the day's stocks for the chart and the ranking.
        {"chart window during the Web1 wait",
         [] { return ui::openChartWindow(QStringLiteral("1301")); },
         [](QWidget *w, const std::function<void()> &post) {
             post();
             w->findChild<QPushButton *>(QStringLiteral("web1Button"))->click();
         },
         -1, -1},
        {"grid window during a copy",
         [] { return ui::WindowHub::instance().show(ui::WindowKind::RankingTable); },
         [](QWidget *w, const std::function<void()> &post) {
             post();
             static_cast<ui::GridWindow *>(w)->copyTable();
         },
         -1, -1},
        {"options window during a dropped file's import",
         [] {
             storage::connectDatabase();
             return ui::WindowHub::instance().show(ui::WindowKind::Options);
         },
         [this](QWidget *w, const std::function<void()> &post) {
             const std::string file = acquire::writeDayFile(env.path("20240108.bnd"),
                                                            acquire::sampleDayRecords(20240108, 6));
             CaptionWatch atImport(w, QStringLiteral("ﾃﾞｰﾀ更新1処理中"), post);
             static_cast<ui::OptionsWindow *>(w)->importDroppedFiles(
                 {QString::fromStdString(file)});
         },
         -1, -1},
    };
    for (const Case &c : cases) {
        for (const bool quit : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (quit ? ", quit request" : ", close request"));
            QPointer<QWidget> w = c.open();
            ASSERT_TRUE(w);
            CaptionWatch captions(w);
            const int endedBefore = ended;
            endTarget = w;
            c.run(w, [w, quit] {
                // The session manager's quit request comes from the event loop as the session
                // ends; the window manager's close request is an event of the window.
                if (quit)
                    QTimer::singleShot(0, [] {
                        QEvent request(QEvent::Quit);
                        QCoreApplication::sendEvent(qApp, &request);
                    });
                else
                    QCoreApplication::postEvent(w->windowHandle(), new QCloseEvent);
            });
            ASSERT_TRUE(w) << "destroyed under its routine";
            settle();
            if (quit) {
                // The routine stopped at its pause, then the program ended its own way.
                EXPECT_EQ(ended, endedBefore + 1);
                EXPECT_FALSE(w);
                ui::SessionGuard::instance().reset();
                if (c.rowsAfterQuit >= 0) {
                    EXPECT_EQ(dayRows(), c.rowsAfterQuit);
                }
                continue;
            }
            // Refused with the note, which goes once the routine has ended.
            ASSERT_TRUE(w);
            EXPECT_EQ(ended, endedBefore);
            EXPECT_TRUE(captions.noteShown()) << captions.titles.join(" | ").toStdString();
            EXPECT_FALSE(w->windowTitle().contains(QString::fromUtf8(ui::kBusyNote)));
            EXPECT_FALSE(ui::hasBusyNote(w));
            if (c.rowsAfterClose >= 0) {
                EXPECT_EQ(dayRows(), c.rowsAfterClose);
            }
            EXPECT_TRUE(w->close());
            settle();
            EXPECT_FALSE(w);
        }
    }
}

// The updater's splash stays while the update runs: closing it then would leave the update
// half done and nothing to start the main program again.
TEST(UpdateSplash, RefusesToCloseWhileTheUpdateRuns) {
    TempEnv env;
    storage::writeSetting(keys::updatesite, "http://127.0.0.1:9");
    ui::UpdateSplash splash;
    splash.show();
    // Whatever the update has to say, it says from inside the update: a close must wait.
    int refusals = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                refusals += splash.close() ? 0 : 1;
                box->button(QMessageBox::Ok)->click();
            }
    });
    poll.start(5);
    for (int tick = 0; tick < 12; ++tick)
        splash.onClockTick();
    for (int i = 0; i < 500 && !splash.updateRan(); ++i)
        settle();
    ASSERT_TRUE(splash.updateRan());
    EXPECT_GT(refusals, 0);
    EXPECT_EQ(splash.findChild<QLabel *>(QStringLiteral("Label1"))->text(),
              QString::fromUtf8(ui::kBusyNote));
    EXPECT_FALSE(splash.isVisible()); // closed by the update once it was done
}

// The database file is deleted or emptied while the program runs: every window and command
// says so, naming the file, and the program goes on.
TEST_F(WindowSafety, WindowsWithoutTheirDatabaseSayWhyAndGoOn) {
    const struct {
        const char *what;
        std::function<void(const std::string &)> breakFile;
        const char *cause;
    } faults[] = {
        {"deleted", [](const std::string &p) { std::filesystem::remove(p); }, "見つかりません"},
        {"emptied", [](const std::string &p) { std::ofstream(p, std::ios::trunc).close(); },
         "データベースファイルではありません"},
    };
    using ui::WindowKind;
    for (const auto &f : faults) {
        SCOPED_TRACE(f.what);
        std::filesystem::remove(dbPath);
        std::filesystem::copy_file(env.newDatabase("again.mdb"), dbPath);
        std::filesystem::remove(env.path("again.mdb"));
        QPointer<ui::MainWindow> form = startMainWindow();
        f.breakFile(dbPath);
        const std::function<void()> steps[] = {
            [] { ui::WindowHub::instance().show(WindowKind::RankingTable); },
            [] { ui::WindowHub::instance().show(WindowKind::PortfolioTable); },
            [] { ui::WindowHub::instance().show(WindowKind::PortfolioEditor); },
            [] { ui::WindowHub::instance().show(WindowKind::StockSearch); },
            [] { ui::openChartWindow(QStringLiteral("1301")); },
            [&] { form->runDataUpdate(); },
            [] {
                auto *options = static_cast<ui::OptionsWindow *>(
                    ui::WindowHub::instance().show(WindowKind::Options));
                options->importDroppedFiles({QStringLiteral("/nonexistent/20240105.bnd")});
            },
        };
        for (const auto &step : steps) {
            const qsizetype before = boxes.texts.size();
            step();
            settle();
            ASSERT_EQ(boxes.texts.size(), before + 1) << boxes.texts.join(" | ").toStdString();
            EXPECT_TRUE(boxes.texts.back().contains(QString::fromStdString(dbPath)))
                << boxes.texts.back().toStdString();
            EXPECT_TRUE(boxes.texts.back().contains(QString::fromUtf8(f.cause)))
                << boxes.texts.back().toStdString();
        }
        ASSERT_TRUE(form);
        EXPECT_TRUE(form->close());
        settle();
    }
}

// A Yes/No question waits for its answer: Esc and the close button would pick the forcing
// No. An OK/Cancel question takes Esc for Cancel.
TEST(MessageBoxes, YesNoHasNoEscapePathOkCancelEscapesToCancel) {
    const struct {
        MsgButtons buttons;
        MsgAnswer afterEscape; // Ok: the box stayed open and Yes/OK was clicked after all
    } cases[] = {{MsgButtons::YesNo, MsgAnswer::Yes}, {MsgButtons::OkCancel, MsgAnswer::Cancel}};
    for (const auto &c : cases) {
        QTimer::singleShot(20, [] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible())
                    continue;
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(box, &esc);
                if (box->isVisible())
                    box->close();
                if (box->isVisible())
                    box->button(QMessageBox::Yes)->click();
            }
        });
        EXPECT_EQ(ui::showMessage(nullptr, "?", "Tesmo", MsgIcon::Information, c.buttons),
                  c.afterEscape);
    }
}

TEST(GuardedApplication, AnErrorThatEscapesAHandlerBecomesACriticalMessage) {
    MessageBoxAnswerer boxes;
    QTimer::singleShot(0, [] { throw std::runtime_error("壊れた"); });
    settle();
    for (int i = 0; i < 50 && boxes.texts.isEmpty(); ++i)
        settle();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("予期しないエラーが発生しました。\n詳細:壊れた"));
}

} // namespace
