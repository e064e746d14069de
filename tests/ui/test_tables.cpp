// The table windows under the offscreen platform: open, sort, group, search, edit, copy, close.
#include "core/common/app_state.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"
#include "ui/chart/chart_window.h"
#include "ui/common/window_hub.h"
#include "ui/tables/portfolio_editor.h"
#include "ui/tables/portfolio_table.h"
#include "ui/tables/ranking_table.h"
#include "ui/tables/register_tables.h"
#include "ui/tables/result_set_model.h"
#include "ui/tables/stock_search_window.h"

#include "message_box_answerer.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace tesmo;
using tesmo::test::TempEnv;

namespace {

namespace keys = storage::keys;

QString caption(const QTableView *grid, int c) {
    return grid->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
}

QString cell(const QTableView *grid, int r, int c) {
    return grid->model()->data(grid->model()->index(r, c), Qt::DisplayRole).toString();
}

void clickHeader(QTableView *grid, int c) {
    emit grid->horizontalHeader()->sectionClicked(c);
}

class TablesWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = env.newDatabase();
        storage::writeSetting(keys::mdbpath, path);
        db = storage::Database::open(path, storage::kConnectString);
        db->execute("Update T_config set pINT = 20240105 Where pID = 'MAXDT'");
        const struct {
            const char *code, *name;
            double prc, axtalk, val2;
        } stocks[] = {{"1301", "極洋", 1200, 40, 0.5},
                      {"1332", "日水", 800, 10, 2.5},
                      {"7203", "トヨタ", 5000, 25, -1}};
        for (const auto &s : stocks) {
            db->execute("INSERT INTO master (CODE, NAME, MARKET) VALUES (?, ?, '東証1部')",
                        {s.code, s.name});
            db->execute("INSERT INTO T_NEARLY (IDATE, CODE, PRC, TALK, AXTALK, VAL2) VALUES "
                        "(20240105, ?, ?, 3, ?, ?)",
                        {s.code, s.prc, s.axtalk, s.val2});
        }
        db->execute("INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) VALUES "
                    "(20231201, '1301', 1, 1500, 1000), (20231202, '1332', 1, 836, 1000)");
        ui::WindowHub::instance().setChartOpener(
            [this](const QString &code, std::optional<double> price) {
                charts.emplace_back(code, price);
            });
    }
    void TearDown() override { ui::WindowHub::instance().setChartOpener({}); }

    TempEnv env;
    std::string path;
    std::unique_ptr<storage::Database> db;
    std::vector<std::pair<QString, std::optional<double>>> charts;
};

TEST_F(TablesWindowTest, RankingOpensSortsAndRestoresItsOrder) {
    {
        ui::RankingTable w;
        w.show();
        QApplication::processEvents();
        EXPECT_EQ(w.windowTitle(), QStringLiteral("ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ"));
        EXPECT_EQ(w.font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        EXPECT_EQ(w.dataSource().recordSource(), "select * from V_RANK ORDER BY KEY2 DESC ;");
        EXPECT_EQ(caption(w.DBGrid1, 7), QStringLiteral("▼最大Web話"));
        EXPECT_EQ(w.DBGrid1->horizontalHeader()->sectionSize(7),
                  std::lround((2037 + 230) / (1440.0 / w.logicalDpiX())));
        EXPECT_EQ(cell(w.DBGrid1, 0, 0), QStringLiteral("1301"));
        EXPECT_EQ(w.navigatorCaption(), QStringLiteral(" 1 / 3"));
        w.DBGrid1->setCurrentIndex(w.DBGrid1->model()->index(2, 0));
        EXPECT_EQ(w.navigatorCaption(), QStringLiteral(" 3 / 3"));
        EXPECT_EQ(storage::readSetting(keys::cnt_F_ranktb), "1");

        clickHeader(w.DBGrid1, 3);
        clickHeader(w.DBGrid1, 3);
        EXPECT_EQ(caption(w.DBGrid1, 3), QStringLiteral("▲終値"));
        EXPECT_EQ(caption(w.DBGrid1, 7), QStringLiteral("最大Web話"));
        EXPECT_EQ(cell(w.DBGrid1, 0, 0), QStringLiteral("1332"));

        // While the hourglass shows, a header click changes nothing.
        w.port().setBusy(true);
        clickHeader(w.DBGrid1, 8);
        EXPECT_EQ(caption(w.DBGrid1, 3), QStringLiteral("▲終値"));
        w.port().setBusy(false);

        w.recommendationButton->click();
        EXPECT_EQ(cell(w.DBGrid1, 0, 1), QStringLiteral("日水"));
        w.recommendationButton->click();
        EXPECT_EQ(caption(w.DBGrid1, 8), QStringLiteral("▼推薦度"));
        clickHeader(w.DBGrid1, 3);
        clickHeader(w.DBGrid1, 3);

        emit w.DBGrid1->doubleClicked(w.DBGrid1->model()->index(1, 2));
        ASSERT_EQ(charts.size(), 1u);
        EXPECT_EQ(charts[0].first, QStringLiteral("1301"));
        EXPECT_EQ(charts[0].second, std::nullopt);
        w.close();
    }
    EXPECT_EQ(storage::readSetting(keys::cnt_F_ranktb), "0");
    EXPECT_NE(storage::readSetting(keys::ranktb_width, "none"), "none");

    ui::RankingTable again;
    EXPECT_EQ(again.dataSource().recordSource(), "select * from V_RANK ORDER BY PRC ;");
    EXPECT_EQ(caption(again.DBGrid1, 3), QStringLiteral("▲終値"));
}

// A new order or a new search shows its first row at the top. Volumes read as grouped whole
// numbers; with J-Quants the topic columns and the two buttons that sort on them are gone.
TEST_F(TablesWindowTest, NewOrdersOpenAtTheTopAndJQuantsHidesTopicColumns) {
    db->execute("Update T_config set pINT = 202312 Where pID = 'MAXMM1'");
    db->execute("INSERT INTO T_MONTHLY (YYYYMM, CODE, AVDVAL) VALUES (202312, '1301', "
                "1744827.5862069)");
    for (int i = 0; i < 200; ++i) {
        const std::string code = std::to_string(2000 + i);
        db->execute("INSERT INTO master (CODE, NAME, MARKET) VALUES (?, '銘柄', '東証1部')",
                    {code});
        db->execute("INSERT INTO T_NEARLY (IDATE, CODE, PRC, A1PRC) VALUES (20240105, ?, ?, ?)",
                    {code, 100 + i, i / 1000.0});
    }
    ui::RankingTable w;
    w.show();
    QApplication::processEvents();
    QAbstractItemModel *m = w.DBGrid1->model();
    int row1301 = -1;
    for (int r = 0; r < m->rowCount(); ++r)
        if (cell(w.DBGrid1, r, 0) == QStringLiteral("1301"))
            row1301 = r;
    ASSERT_GE(row1301, 0);
    EXPECT_EQ(cell(w.DBGrid1, row1301, 4), QStringLiteral("1,744,828"));

    const auto atTheTop = [&] {
        return w.DBGrid1->currentIndex().row() == 0 &&
               w.DBGrid1->verticalScrollBar()->value() == 0 &&
               w.navigatorCaption().startsWith(" 1 /");
    };
    const auto goToTheEnd = [&] {
        w.DBGrid1->setCurrentIndex(m->index(m->rowCount() - 1, 0));
        w.DBGrid1->scrollToBottom();
        ASSERT_GT(w.DBGrid1->verticalScrollBar()->value(), 0);
    };
    goToTheEnd();
    clickHeader(w.DBGrid1, 3);
    EXPECT_TRUE(atTheTop());
    goToTheEnd();
    w.recommendationButton->click();
    EXPECT_TRUE(atTheTop());
    for (int c : {5, 7, 8, 10})
        EXPECT_FALSE(w.DBGrid1->isColumnHidden(c)) << c;
    EXPECT_TRUE(w.maxTopicButton->isEnabled());
    w.close();

    storage::writeSetting(keys::datasource, "jquants");
    ui::RankingTable jq;
    jq.show();
    EXPECT_EQ(jq.dataSource().recordSource(), "select * from V_RANK ORDER BY A1PRC DESC ;");
    for (int c = 0; c < jq.DBGrid1->model()->columnCount(); ++c)
        EXPECT_EQ(jq.DBGrid1->isColumnHidden(c), c == 5 || c == 7 || c == 8 || c == 10) << c;
    EXPECT_FALSE(jq.maxTopicButton->isEnabled());
    EXPECT_FALSE(jq.recommendationButton->isEnabled());
    jq.close();

    ui::StockSearchWindow find;
    find.show();
    QApplication::processEvents();
    find.DBGrid1->setCurrentIndex(find.DBGrid1->model()->index(150, 0));
    find.T_findtxt->setText(QStringLiteral("銘柄"));
    EXPECT_EQ(find.DBGrid1->currentIndex().row(), 0);
    EXPECT_EQ(find.DBGrid1->verticalScrollBar()->value(), 0);
    find.close();
}

TEST_F(TablesWindowTest, CopyPutsTheWholeTableOnTheClipboard) {
    storage::writeSetting(keys::nomoremsg, "1");
    ui::RankingTable w;
    w.copyTable();
    const QString text = QApplication::clipboard()->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("\"銘柄ｺｰﾄﾞ\"\t\"銘柄名称\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"▼最大Web話\"")));
    EXPECT_EQ(text.count(QStringLiteral("\r\n")), 4);
}

TEST_F(TablesWindowTest, PortfolioTableSwitchesGroupsAndShowsTotals) {
    db->execute("INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) VALUES "
                "(20231203, '7203', 2, 4000, 10)");
    ui::PortfolioTable w;
    w.show();
    EXPECT_EQ(w.dataSource().recordSource(),
              "select * from V_PORT where PSW= 0  ORDER BY CODE DESC ;");
    EXPECT_EQ(w.model()->dataRowCount(), 0);
    EXPECT_EQ(w.L_pval->text(), QStringLiteral("[区分0] "));
    w.showGroup(1);
    EXPECT_EQ(w.model()->dataRowCount(), 2);
    EXPECT_EQ(w.L_pval->text(), QStringLiteral("[区分1]   時価総額= \\2,000,000  差額= -336,000"));
    EXPECT_EQ(w.L_pval->toolTip(), w.L_pval->text());
    clickHeader(w.DBGrid1, 4);
    clickHeader(w.DBGrid1, 4);
    EXPECT_EQ(caption(w.DBGrid1, 4), QStringLiteral("▲価格1"));
    EXPECT_EQ(cell(w.DBGrid1, 0, 1), QStringLiteral("1332"));
    w.showGroup(2);
    EXPECT_EQ(w.dataSource().recordSource(), "select * from V_PORT where PSW= 2  ORDER BY APRC ;");

    w.showGroup(1);
    w.openChartOfRow(1);
    ASSERT_EQ(charts.size(), 1u);
    EXPECT_EQ(charts[0].first, QStringLiteral("1301"));
    EXPECT_EQ(charts[0].second, 1500.0);
    w.close();

    ui::PortfolioTable again;
    EXPECT_TRUE(again.groupButtons[1]->isChecked());
    EXPECT_EQ(again.dataSource().recordSource(),
              "select * from V_PORT where PSW= 1  ORDER BY APRC ;");
}

TEST_F(TablesWindowTest, MaintenanceRefusesBadValuesAndWritesGoodOnes) {
    test::MessageBoxAnswerer answerer;
    ui::PortfolioEditor w;
    w.show();
    EXPECT_EQ(w.dataSource().recordSource(), "select * from M_PORT ORDER BY CODE DESC ;");
    ASSERT_EQ(w.model()->dataRowCount(), 2);
    EXPECT_EQ(w.model()->rowCount(), 3); // the new row
    QAbstractItemModel *m = w.DBGrid1->model();
    EXPECT_FALSE(m->flags(m->index(0, 2)) & Qt::ItemIsEditable); // 銘柄名称
    EXPECT_TRUE(m->flags(m->index(0, 4)) & Qt::ItemIsEditable);

    // Row 0 is 1332. Text in a number column is refused and the row keeps its value.
    EXPECT_FALSE(m->setData(m->index(0, 4), QStringLiteral("abc"), Qt::EditRole));
    QApplication::processEvents();
    EXPECT_EQ(db->scalar("select APRC from T_PORT where CODE='1332'").toText(), "836");
    EXPECT_TRUE(m->setData(m->index(0, 4), QStringLiteral("900"), Qt::EditRole));
    QApplication::processEvents();
    EXPECT_EQ(db->scalar("select APRC from T_PORT where CODE='1332'").toText(), "900");
    EXPECT_EQ(cell(w.DBGrid1, 0, 4), QStringLiteral("900"));
    // A double-click opens the chart even on an editable cell, with the purchase price.
    emit w.DBGrid1->doubleClicked(m->index(0, 4));
    ASSERT_EQ(charts.size(), 1u);
    EXPECT_EQ(charts[0].first, QStringLiteral("1332"));
    EXPECT_EQ(charts[0].second, 900.0);

    // A new entry is written once it has its date and code.
    const int newRow = w.model()->dataRowCount();
    EXPECT_FALSE(m->setData(m->index(newRow, 0), QStringLiteral("2024/01/05"), Qt::EditRole));
    EXPECT_TRUE(m->setData(m->index(newRow, 0), QStringLiteral("20240105"), Qt::EditRole));
    EXPECT_EQ(db->scalar("select count(*) from T_PORT").toInt(), 2);
    EXPECT_TRUE(m->setData(m->index(newRow, 1), QStringLiteral("7203"), Qt::EditRole));
    QApplication::processEvents();
    EXPECT_EQ(db->scalar("select PSW from T_PORT where CODE='7203'").toText(), "0");
    EXPECT_EQ(w.model()->dataRowCount(), 3);

    // A code typed in full width and lower case is stored as the code.
    EXPECT_TRUE(m->setData(m->index(0, 1), QStringLiteral("１３３ｂ"), Qt::EditRole));
    QApplication::processEvents();
    EXPECT_EQ(db->scalar("select count(*) from T_PORT where CODE='133B'").toInt(), 1);

    // Delete asks first: No keeps the row, Yes removes it.
    w.DBGrid1->selectRow(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    const int asked = static_cast<int>(answerer.texts.size());
    answerer.answer(QMessageBox::No);
    QApplication::sendEvent(w.DBGrid1, &del);
    EXPECT_EQ(db->scalar("select count(*) from T_PORT").toInt(), 3);
    answerer.answer(QMessageBox::Yes);
    QApplication::sendEvent(w.DBGrid1, &del);
    EXPECT_EQ(db->scalar("select count(*) from T_PORT").toInt(), 2);
    EXPECT_EQ(w.model()->dataRowCount(), 2);
    ASSERT_EQ(answerer.texts.size(), asked + 2);
    EXPECT_EQ(answerer.texts[asked],
              QStringLiteral("選択した1行をﾎﾟｰﾄﾌｫﾘｵから削除します。\nよろしいですか？"));
    EXPECT_EQ(answerer.buttons[asked], QStringLiteral("はい/いいえ"));
    ASSERT_GE(answerer.texts.size(), 2);
    EXPECT_EQ(answerer.texts[0], QStringLiteral("「価格1」には数値を入力してください。"));
}

TEST_F(TablesWindowTest, SearchFiltersAsYouTypeAndHidesMaintenance) {
    ui::StockSearchWindow w;
    w.show();
    EXPECT_FALSE(w.Ch_mstmnt->isVisible());
    EXPECT_EQ(w.model()->dataRowCount(), 3);
    EXPECT_TRUE(w.DBGrid1->isColumnHidden(3));
    w.T_findtxt->setText(QStringLiteral("30"));
    EXPECT_EQ(w.model()->dataRowCount(), 1);
    EXPECT_EQ(w.navigatorCaption(), QStringLiteral(" 1 / 1"));
    w.T_findtxt->setText(QStringLiteral("\"'"));
    EXPECT_EQ(w.model()->dataRowCount(), 0);
    w.T_findtxt->setText(QStringLiteral("  "));
    EXPECT_EQ(w.model()->dataRowCount(), 3);
    EXPECT_FALSE(w.DBGrid1->model()->flags(w.DBGrid1->model()->index(0, 1)) & Qt::ItemIsEditable);
    w.openChartOfRow(0);
    ASSERT_EQ(charts.size(), 1u);
    EXPECT_EQ(charts[0].second, std::nullopt);

    storage::writeSetting(keys::debugcode, storage::kDebugCode);
    ui::StockSearchWindow debug;
    debug.show();
    EXPECT_TRUE(debug.Ch_mstmnt->isVisible());
    debug.Ch_mstmnt->click();
    EXPECT_FALSE(debug.DBGrid1->isColumnHidden(4));
    QAbstractItemModel *m = debug.DBGrid1->model();
    EXPECT_TRUE(m->setData(m->index(0, 1), QStringLiteral("極洋'\""), Qt::EditRole));
    EXPECT_EQ(db->scalar("select NAME from master where CODE='1301'").toText(), "極洋'\"");
}

// An open portfolio window follows "ﾎﾟｰﾄﾌｫﾘｵに追加" in a chart: it re-reads its rows and keeps
// its sort order and its selected stock.
TEST_F(TablesWindowTest, PortfolioWindowRefreshesAfterAnAddInAChart) {
    ui::registerTableWindows();
    test::MessageBoxAnswerer answerer;
    auto *maint = qobject_cast<ui::PortfolioEditor *>(
        ui::WindowHub::instance().show(ui::WindowKind::PortfolioEditor));
    ASSERT_NE(maint, nullptr);
    const std::string source = maint->dataSource().recordSource();
    ASSERT_EQ(maint->model()->dataRowCount(), 2);
    maint->DBGrid1->selectRow(1);
    const QString selected = cell(maint->DBGrid1, 1, 1);

    ui::ChartWindow chart;
    chart.show();
    chart.T_code->setText(QStringLiteral("7203"));
    chart.findChild<QPushButton *>(QStringLiteral("C_addPort"))->click();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.texts[0], QStringLiteral("追加しました(新規)"));
    EXPECT_EQ(maint->model()->dataRowCount(), 3);
    EXPECT_EQ(maint->dataSource().recordSource(), source);
    EXPECT_EQ(cell(maint->DBGrid1, 0, 1), QStringLiteral("7203")); // CODE DESC
    EXPECT_EQ(cell(maint->DBGrid1, maint->DBGrid1->currentIndex().row(), 1), selected);
    maint->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(TablesWindowTest, LaunchersAndShortcutsShowEachWindowOnce) {
    ui::registerTableWindows();
    ui::WindowHub &hub = ui::WindowHub::instance();
    QWidget *rank = hub.show(ui::WindowKind::RankingTable);
    ASSERT_NE(qobject_cast<ui::RankingTable *>(rank), nullptr);
    EXPECT_EQ(hub.show(ui::WindowKind::RankingTable), rank);
    EXPECT_TRUE(ui::keyShortcut(Qt::Key_F, Qt::ControlModifier));
    ASSERT_NE(qobject_cast<ui::StockSearchWindow *>(hub.existing(ui::WindowKind::StockSearch)),
              nullptr);
    // Ctrl+P released in the ranking grid shows the portfolio table.
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_P, Qt::ControlModifier);
    QApplication::sendEvent(static_cast<ui::RankingTable *>(rank)->DBGrid1, &release);
    ASSERT_NE(qobject_cast<ui::PortfolioTable *>(hub.existing(ui::WindowKind::PortfolioTable)),
              nullptr);
    static_cast<ui::PortfolioTable *>(hub.existing(ui::WindowKind::PortfolioTable))
        ->editorButton->click();
    ASSERT_NE(qobject_cast<ui::PortfolioEditor *>(hub.existing(ui::WindowKind::PortfolioEditor)),
              nullptr);
    for (auto kind : {ui::WindowKind::RankingTable, ui::WindowKind::StockSearch,
                      ui::WindowKind::PortfolioTable, ui::WindowKind::PortfolioEditor})
        hub.existing(kind)->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(hub.existing(ui::WindowKind::RankingTable), nullptr);
    EXPECT_EQ(storage::readSetting(keys::cnt_F_porttb), "0");
}

} // namespace
