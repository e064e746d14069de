// The 監視条件 and シグナル windows and the marks of the matched stocks in the ranking, on a real
// database file under the offscreen platform; and a data update from the main window against
// the sample site, whose matches the シグナル window shows as tesmoctl lists them.
#include "core/common/cp932.h"
#include "core/common/dates.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/watch/watch_evaluation.h"
#include "core/watch/watch_rules.h"
#include "message_box_answerer.h"
#include "sample_site.h"
#include "support/signed_release.h"
#include "support/temp_env.h"
#include "ui/common/window_hub.h"
#include "ui/shell/main_window.h"
#include "ui/tables/portfolio_table.h"
#include "ui/tables/ranking_table.h"
#include "ui/tables/register_tables.h"
#include "ui/tables/result_set_model.h"
#include "ui/watch/register_watch.h"
#include "ui/watch/signals_window.h"
#include "ui/watch/watch_rules_window.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QTimer>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <sstream>

using namespace tesmo;
using tesmo::test::MessageBoxAnswerer;
using tesmo::test::TempEnv;

namespace {

namespace keys = storage::keys;

QString cell(const QTableView *grid, int r, int c, int role = Qt::DisplayRole) {
    return grid->model()->data(grid->model()->index(r, c), role).toString();
}

// The rows of the シグナル window: date, rule, code, name, value.
QStringList gridRows(const ui::SignalsWindow &w) {
    QStringList rows;
    for (int r = 0; r < w.model()->dataRowCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < 5; ++c)
            fields << cell(w.DBGrid1, r, c);
        rows << fields.join('|');
    }
    return rows;
}

QStringList matchRows(const std::vector<watch::Match> &matches) {
    QStringList rows;
    for (const watch::Match &m : matches)
        rows << ui::qs(slashDate(m.date) + "|" + m.ruleName + "|" + m.code + "|" + m.name + "|" +
                       m.valueText);
    return rows;
}

class WatchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = env.newDatabase();
        storage::writeSetting(keys::mdbpath, path);
        db = storage::Database::open(path, storage::kConnectString);
        for (const auto &[code, name] : {std::pair{"1301", "極洋"},
                                         {"1332", "日水"},
                                         {"7203", "トヨタ"},
                                         {"9984", "ソフトバンクＧ"}})
            db->execute("INSERT INTO master (CODE, NAME, MARKET) VALUES (?, ?, '東証1部')",
                        {code, name});
        addDay(20240104, {{"1301", 1200, 0.08}, {"1332", 800, -0.02}, {"7203", 5000, 0.01}});
        ui::WindowHub::instance().setChartOpener(
            [this](const QString &code, std::optional<double>) { charts << code; });
        ui::registerWatchWindows();
    }
    void TearDown() override { ui::WindowHub::instance().setChartOpener({}); }

    struct Close {
        const char *code;
        double price, change;
    };
    // A day of closes, which becomes the newest day that the ranking shows.
    void addDay(long long day, std::initializer_list<Close> closes) {
        db->execute("Update T_config set pINT = ? Where pID = 'MAXDT'",
                    {storage::Value(static_cast<std::int64_t>(day))});
        for (const Close &c : closes)
            db->execute(
                "INSERT INTO T_NEARLY (IDATE, CODE, PRC, A1PRC, DVAL, TALK) VALUES "
                "(?, ?, ?, ?, 1000, 1)",
                {storage::Value(static_cast<std::int64_t>(day)), c.code, c.price, c.change});
    }
    long long add(const std::string &name, const std::string &column, const std::string &at,
                  const std::string &code = "") {
        watch::RuleInput in;
        in.name = name;
        in.kind = code.empty() ? watch::RuleKind::Column : watch::RuleKind::Price;
        in.column = column;
        in.code = code;
        in.comparison = at[0] == '<' ? watch::Comparison::AtMost : watch::Comparison::AtLeast;
        in.threshold = at.substr(1);
        long long id = 0;
        EXPECT_EQ(watch::addRule(*db, in, &id), "") << name;
        return id;
    }
    long long rows(const char *table) {
        return db->scalar(std::string("SELECT count(*) FROM ") + table).toInt();
    }

    TempEnv env;
    std::string path;
    std::unique_ptr<storage::Database> db;
    QStringList charts;
};

TEST_F(WatchWindowTest, EditorRefusesBadInputWithTheCoreMessageAndAddsChangesDeletes) {
    MessageBoxAnswerer boxes;
    ui::WatchRulesWindow w;
    w.show();
    struct Bad {
        const char *what;
        int kind;
        const char *column, *threshold, *code;
    };
    const Bad bad[] = {
        {"no number", 0, "前比終値", "abc", ""},
        {"no threshold", 0, "終値", "", ""},
        {"percent on a price", 0, "終値", "5%", ""},
        {"code not in the master", 1, "", "1500", "9999"},
        {"no code", 1, "", "1500", ""},
    };
    for (const Bad &b : bad) {
        w.kindCombo->setCurrentIndex(b.kind);
        if (*b.column)
            w.columnCombo->setCurrentText(QString::fromUtf8(b.column));
        w.thresholdEdit->setText(QString::fromUtf8(b.threshold));
        w.codeEdit->setText(QString::fromUtf8(b.code));
        const std::string expected = watch::checkRule(*db, w.typedRule()).error;
        ASSERT_FALSE(expected.empty()) << b.what;
        boxes.texts.clear();
        w.addButton->click();
        ASSERT_EQ(boxes.texts.size(), 1) << b.what;
        EXPECT_EQ(boxes.texts[0].toStdString(), expected) << b.what;
        EXPECT_EQ(rows("T_WATCH"), 0) << b.what;
    }

    // Full-width digits, an empty name: the rule is named after its condition.
    w.kindCombo->setCurrentIndex(0);
    w.columnCombo->setCurrentText(QStringLiteral("前比終値"));
    w.comparisonCombo->setCurrentIndex(0);
    w.thresholdEdit->setText(QStringLiteral("５％"));
    w.nameEdit->clear();
    ASSERT_TRUE(w.addTyped());
    ASSERT_EQ(w.ruleList->rowCount(), 1);
    EXPECT_EQ(w.ruleList->item(0, 1)->text(), QStringLiteral("前比終値 ≥ 5%"));
    EXPECT_EQ(w.ruleList->item(0, 0)->text(), QStringLiteral("前比終値 ≥ 5%"));
    EXPECT_EQ(w.ruleList->item(0, 2)->checkState(), Qt::Checked);

    // A price level, then the first rule changed from what its row put into the fields.
    w.kindCombo->setCurrentIndex(1);
    w.nameEdit->setText(QStringLiteral("損切り"));
    w.codeEdit->setText(QStringLiteral("1301"));
    w.comparisonCombo->setCurrentIndex(1);
    w.thresholdEdit->setText(QStringLiteral("1,150"));
    ASSERT_TRUE(w.addTyped());
    EXPECT_EQ(w.ruleList->item(1, 1)->text(), QStringLiteral("1301 終値 ≤ 1,150"));
    w.selectRow(0);
    EXPECT_EQ(w.kindCombo->currentIndex(), 0);
    EXPECT_EQ(w.thresholdEdit->text(), QStringLiteral("5%"));
    w.nameEdit->setText(QStringLiteral("急騰"));
    w.thresholdEdit->setText(QStringLiteral("3%"));
    ASSERT_TRUE(w.changeSelected());
    std::vector<watch::Rule> stored = watch::listRules(*db);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].name, "急騰");
    EXPECT_DOUBLE_EQ(stored[0].threshold, 0.03);
    // A name another rule has is refused, nothing changes.
    w.nameEdit->setText(QStringLiteral("損切り"));
    boxes.texts.clear();
    EXPECT_FALSE(w.changeSelected());
    EXPECT_EQ(watch::listRules(*db)[0].name, "急騰");
    EXPECT_EQ(boxes.texts.size(), 1);

    // The switch of a row is stored at once.
    w.ruleList->item(1, 2)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(watch::listRules(*db)[1].enabled);

    // 削除 asks; No keeps the rule, Yes removes it.
    w.selectRow(1);
    boxes.texts.clear();
    boxes.answer(QMessageBox::No);
    EXPECT_FALSE(w.deleteSelected());
    EXPECT_EQ(rows("T_WATCH"), 2);
    boxes.answer(QMessageBox::Yes);
    EXPECT_TRUE(w.deleteSelected());
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("監視条件「損切り」を削除しますか？")));
    EXPECT_EQ(rows("T_WATCH"), 1);
    EXPECT_EQ(w.ruleList->rowCount(), 1);
    w.close();
}

TEST_F(WatchWindowTest, SignalsShowTheStoredMatchesOfEachDaySortCopyAndOpenCharts) {
    add("急騰", "前比終値", ">5%");
    add("損切り", "", "<1200", "1301");
    ASSERT_EQ(watch::evaluateNewestDay(*db).failure, "");
    addDay(20240105, {{"1301", 1100, -0.08}, {"1332", 880, 0.10}, {"7203", 5400, 0.08}});
    ASSERT_EQ(watch::evaluateNewestDay(*db).failure, "");

    MessageBoxAnswerer boxes;
    ui::SignalsWindow w;
    w.show();
    ASSERT_EQ(w.dateCombo->count(), 2);
    EXPECT_EQ(w.dateCombo->currentText(), QStringLiteral("2024/01/05"));
    EXPECT_EQ(w.shownDate(), 20240105);
    const QStringList newest = matchRows(watch::storedMatches(*db, 20240105));
    ASSERT_EQ(newest.size(), 3); // 1332 and 7203 jumped, 1301 fell below 1,200
    EXPECT_EQ(gridRows(w), newest);
    EXPECT_EQ(w.summary->text(), QStringLiteral("監視条件に3銘柄が該当しました"));
    EXPECT_EQ(w.navigatorCaption(), QStringLiteral(" 1 / 3"));

    // The earlier kept day on request.
    w.dateCombo->setCurrentIndex(1);
    EXPECT_EQ(gridRows(w), matchRows(watch::storedMatches(*db, 20240104)));
    EXPECT_EQ(gridRows(w).size(), 2); // 1301 jumped 8% and was at 1,200
    w.showDate(20240105);

    // 値 sorts on the value, not on its text; a second click turns the order.
    emit w.DBGrid1->horizontalHeader()->sectionClicked(4);
    EXPECT_EQ(cell(w.DBGrid1, 0, 2), QStringLiteral("1301"));
    EXPECT_EQ(cell(w.DBGrid1, 1, 2), QStringLiteral("1332"));
    emit w.DBGrid1->horizontalHeader()->sectionClicked(4);
    EXPECT_EQ(cell(w.DBGrid1, 0, 2), QStringLiteral("7203"));
    EXPECT_EQ(cell(w.DBGrid1, 2, 2), QStringLiteral("1301"));

    // The CSV file holds exactly the rows shown, in their order.
    storage::writeSetting(keys::cpseplt, "1");
    const std::string csv = env.dir() + "/signals.csv";
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QFileDialog *>(top); dialog && dialog->isVisible()) {
                dialog->selectFile(QString::fromStdString(csv));
                QMetaObject::invokeMethod(dialog, "accept");
            }
    });
    chooser.start(5);
    w.saveTableToFile();
    chooser.stop();
    std::ifstream in(csv, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string expected = "\"日付\",\"条件名\",\"コード\",\"銘柄名\",\"▲値\"\r\n";
    for (int r = 0; r < w.model()->dataRowCount(); ++r)
        expected += "\"" + ui::us(cell(w.DBGrid1, r, 0)) + "\",\"" + ui::us(cell(w.DBGrid1, r, 1)) +
                    "\",\"" + ui::us(cell(w.DBGrid1, r, 2)) + "\",\"" +
                    ui::us(cell(w.DBGrid1, r, 3)) + "\"," + ui::us(cell(w.DBGrid1, r, 4)) + "\r\n";
    EXPECT_EQ(cp932ToUtf8(bytes.str()), expected + "\r\n");

    emit w.DBGrid1->doubleClicked(w.DBGrid1->model()->index(1, 3));
    EXPECT_EQ(charts, QStringList{cell(w.DBGrid1, 1, 2)});

    // 再評価 finds what a rule added meanwhile found.
    add("トヨタ高値", "終値", ">5000");
    w.evaluateNow();
    EXPECT_EQ(gridRows(w).size(), 4);
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('\n').toStdString();
    w.close();
}

TEST_F(WatchWindowTest, RankingAndPortfolioMarkTheMatchedStocksAndFollowTheRules) {
    const long long jump = add("急騰", "前比終値", ">5%");
    ASSERT_EQ(watch::evaluateNewestDay(*db).failure, "");
    db->execute("INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) VALUES "
                "(20231201, '1301', 0, 1000, 100), (20231202, '1332', 0, 800, 100)");
    ui::registerTableWindows();
    auto *ranking = static_cast<ui::RankingTable *>(
        ui::WindowHub::instance().show(ui::WindowKind::RankingTable));
    auto *portfolio = static_cast<ui::PortfolioTable *>(
        ui::WindowHub::instance().show(ui::WindowKind::PortfolioTable));
    ASSERT_TRUE(ranking && portfolio);
    const auto marked = [](const ui::GridWindow &w, int codeColumn) {
        std::set<QString> codes;
        for (int r = 0; r < w.model()->dataRowCount(); ++r) {
            const QVariant back = w.model()->data(w.model()->index(r, 0), Qt::BackgroundRole);
            if (back.isValid()) {
                EXPECT_EQ(back.value<QColor>(), QColor(ui::kMatchedRowBack));
                EXPECT_TRUE(w.model()
                                ->data(w.model()->index(r, 2), Qt::ToolTipRole)
                                .toString()
                                .contains(QStringLiteral("急騰 (8.00%)")));
                codes.insert(w.model()->text(r, codeColumn));
            }
        }
        return codes;
    };
    EXPECT_EQ(marked(*ranking, 0), std::set<QString>{QStringLiteral("1301")});
    EXPECT_EQ(marked(*portfolio, 1), std::set<QString>{QStringLiteral("1301")});

    // A rule deleted in the editor takes its marks along.
    ui::WatchRulesWindow editor;
    MessageBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    editor.selectRow(0);
    ASSERT_EQ(editor.rules().at(0).id, jump);
    ASSERT_TRUE(editor.deleteSelected());
    EXPECT_TRUE(marked(*ranking, 0).empty());
    EXPECT_TRUE(marked(*portfolio, 1).empty());
    ranking->close();
    portfolio->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A data update from the main window against the sample site with three rules: the report
// announces the matched stocks once, and the シグナル window lists what tesmoctl lists.
TEST(WatchEndToEnd, MainWindowUpdateShowsInSignalsWhatTesmoctlLists) {
    TempEnv env;
    const long long end = sample_site::lastTradingDayBefore(localDate(std::time(nullptr)));
    const test::SampleSiteProcess site(
        {"--end", std::to_string(end), "--days", "6", "--stocks", "200"}, env.dir());
    const std::string path = env.newDatabase();
    for (const auto &[key, value] :
         {std::pair{&keys::myhpadd4, site.url() + "/cgi-bin/freedata/index.cgi"},
          {&keys::myhpad_data4, site.url() + "/freedata/"},
          {&keys::updatesite, site.url()},
          {&keys::compyc, std::string("40")},
          {&keys::noannounce, std::string("1")},
          {&keys::first, std::string("1")},
          {&keys::mdbpath, path}})
        storage::writeSetting(*key, value);
    {
        auto db = storage::Database::open(path, storage::kConnectString);
        db->execute("INSERT INTO master (CODE, NAME) VALUES ('1301', '極洋')");
        for (const char *rule : {"急騰|前比終値|5%", "出来高急増|出来高|3", "損切り||100000"}) {
            const QStringList f = QString::fromUtf8(rule).split('|');
            watch::RuleInput in;
            in.name = ui::us(f[0]);
            in.kind = f[1].isEmpty() ? watch::RuleKind::Price : watch::RuleKind::Column;
            in.column = ui::us(f[1]);
            in.code = f[1].isEmpty() ? "1301" : "";
            in.comparison = f[1].isEmpty() ? watch::Comparison::AtMost : watch::Comparison::AtLeast;
            in.timesAverage = f[0] == QStringLiteral("出来高急増");
            in.threshold = ui::us(f[2]);
            ASSERT_EQ(watch::addRule(*db, in), "") << rule;
        }
    }
    ui::registerWatchWindows();
    MessageBoxAnswerer boxes;
    ui::MainWindow form;
    ASSERT_TRUE(form.startUp());
    form.show();
    form.runDataUpdate();

    int status = -1;
    const nlohmann::json run =
        nlohmann::json::parse(env.tesmoctl("watch run " + path + " --json", &status));
    ASSERT_EQ(status, 0);
    QStringList listed;
    for (const auto &m : run["matches"])
        listed << ui::qs(slashDate(m["date"].get<long long>()) + "|" +
                         m["ruleName"].get<std::string>() + "|" + m["code"].get<std::string>() +
                         "|" + m["name"].get<std::string>() + "|" +
                         m["valueText"].get<std::string>());
    ASSERT_GT(listed.size(), 1);
    const QString announcement = ui::qs(run["announcement"].get<std::string>());
    ASSERT_FALSE(announcement.isEmpty());
    // Offscreen there is no tray: the report carries the announcement, once.
    EXPECT_EQ(boxes.texts.join('\n').count(announcement), 1)
        << boxes.texts.join('\n').toStdString();

    auto *signalsWindow =
        qobject_cast<ui::SignalsWindow *>(ui::WindowHub::instance().show(ui::WindowKind::Signals));
    ASSERT_TRUE(signalsWindow);
    EXPECT_EQ(gridRows(*signalsWindow), listed);
    EXPECT_EQ(signalsWindow->summary->text(), announcement);
    form.close();
}

} // namespace
