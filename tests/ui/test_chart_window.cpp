// The chart window under the offscreen platform: toolbar, timer, resize, opening sequence.
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"
#include "ui/chart/chart_view.h"
#include "ui/chart/chart_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include "message_box_answerer.h"

#include <QKeyEvent>

#include "ui/chart/chart_painter.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

using namespace tesmo;
using tesmo::test::TempEnv;

namespace {

namespace keys = storage::keys;

class ChartWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = env.newDatabase();
        storage::writeSetting(keys::mdbpath, path);
        auto db = storage::Database::open(path, storage::kConnectString);
        db->execute("Insert into master(CODE,NAME,MARKET) Values('1301','極洋','東証1部')");
        db->execute("Insert into master(CODE,NAME,MARKET) Values('1332','日水','東証1部')");
        for (int d = 1; d <= 5; ++d)
            db->execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" +
                        std::to_string(20240100 + d) + ",'1301'," + std::to_string(1200 + d) +
                        ",5000,3)");
        db->execute("Update T_config set pINT =20240105 Where pID='MAXDT'  ;");
    }

    // Answers the next message box and returns its text.
    static void answerNextBox(QString *text) {
        QTimer::singleShot(0, [text] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    *text = box->text();
                    box->accept();
                }
        });
    }

    TempEnv env;
};

// The toolbar is an ordinary one: it stays, and the chart starts below it, so that nothing of
// the plot lies under it.
TEST_F(ChartWindowTest, ToolbarStaysAboveTheChartAndResizeRedrawsOnce) {
    ui::ChartWindow form;
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.twipsPerPixel(), 15);
    form.T_code->setText(QStringLiteral("1301"));
    EXPECT_EQ(form.portPrice(), -1);
    // The resize at show asked for a redraw; let it run so that the counters start clean.
    form.onRedrawTick();
    form.onRedrawTick();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("(1301)極洋 [東証1部]"));
    for (int i = 0; i < 4; ++i)
        form.onRedrawTick();
    EXPECT_TRUE(form.toolbarShown());
    auto *frame = form.findChild<QWidget *>(QStringLiteral("Frame1"));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(form.view()->y(), frame->height());
    EXPECT_EQ(form.view()->height(), form.height() - frame->height());
    EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("L_hikidasi")), nullptr);

    // A resize burst: the graph area follows at once (never below 3800 twips a side), the
    // size is saved, and the chart is drawn again on the second tick after the last resize.
    form.setWindowTitle(QStringLiteral("stale"));
    form.resize(700, 500);
    QApplication::processEvents();
    form.resize(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(form.redrawDelay(), 2);
    EXPECT_EQ(form.model().elements().Sh_garea.width, 4500 - 100);
    EXPECT_EQ(form.model().elements().Sh_garea.height, 3800 - 15 - 50);
    // The outer size is saved: the client area and the window's frame.
    const QSize outer = form.frameGeometry().size();
    EXPECT_EQ(storage::readSetting(keys::form2_width), std::to_string(outer.width() * 15));
    EXPECT_EQ(storage::readSetting(keys::form2_height), std::to_string(outer.height() * 15));
    form.onRedrawTick();
    EXPECT_EQ(form.redrawDelay(), 1);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("stale"));
    form.onRedrawTick();
    EXPECT_EQ(form.redrawDelay(), 0);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("(1301)極洋 [東証1部]"));

    // A maximised window keeps the stored size.
    form.showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(storage::readSetting(keys::form2_width), std::to_string(outer.width() * 15));
}

TEST_F(ChartWindowTest, OpeningSequenceCountsWindowsAndMarksThePurchasePrice) {
    storage::writeSetting(keys::form2_width, "6000");
    storage::writeSetting(keys::form2_height, "4500");
    QPointer<ui::ChartWindow> a = ui::openChartWindow(QStringLiteral("1301"), 1250.0);
    QPointer<ui::ChartWindow> b = ui::openChartWindow(QStringLiteral("1301"));
    EXPECT_EQ(storage::readSetting(keys::cnt_Form2), "2");
    EXPECT_EQ(a->property("tag").toString(), QStringLiteral("tesmochart"));
    EXPECT_EQ(a->objectName(), QStringLiteral("ChartWindow"));
    // The stored size is the outer one, frame included.
    EXPECT_EQ(a->frameGeometry().size(), QSize(400, 300));
    EXPECT_EQ(a->windowTitle(), QStringLiteral("(1301)極洋 [東証1部]"));
    EXPECT_EQ(a->portPrice(), 1250);
    EXPECT_TRUE(a->model().elements().L_price1.visible);
    EXPECT_FALSE(b->model().elements().L_price1.visible);

    // Editing the code drops the purchase price; the next draw has no line.
    a->T_code->setText(QStringLiteral("1301 "));
    a->T_code->setText(QStringLiteral("1301"));
    a->drawChart();
    EXPECT_FALSE(a->model().elements().L_price1.visible);

    // The hover text of a square is its tooltip; a click shows it in a message box.
    const auto &sq = a->model().elements().Aobj1[5];
    ASSERT_TRUE(sq.visible);
    const QPoint at(static_cast<int>((sq.left + 30) / 15), static_cast<int>((sq.top + 30) / 15));
    const chart::Element *hit = a->view()->squareAt(at);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->hover, "05日: 終値=1205");
    QString shown;
    answerNextBox(&shown);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), a->view()->mapToGlobal(QPointF(at)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at),
                        a->view()->mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(a->view(), &press);
    QApplication::sendEvent(a->view(), &release);
    EXPECT_EQ(shown, QStringLiteral("05日: 終値=1205"));

    a->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(storage::readSetting(keys::cnt_Form2), "1");
    b->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(storage::readSetting(keys::cnt_Form2), "0");
}

TEST_F(ChartWindowTest, FailuresAndTheAddCommandSpeakUp) {
    ui::ChartWindow form;
    form.show();
    // Not in master: only the caption says so.
    form.T_code->setText(QStringLiteral("9'99"));
    form.drawChart();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("見つかりません(9'99)"));

    // A pass that fails shows its failure text in a box and gives the cursor back.
    const std::string dbPath = storage::readSetting(keys::mdbpath);
    storage::writeSetting(keys::mdbpath, env.path("missing.mdb"));
    QString shown;
    answerNextBox(&shown);
    form.drawChart();
    EXPECT_TRUE(shown.startsWith(QStringLiteral(
        "不正な銘柄ｺｰﾄﾞあるいは、不正なﾃﾞｰﾀが見つかりました。\n\n詳細:DB接続処理時点\nERROR:")))
        << shown.toStdString();
    storage::writeSetting(keys::mdbpath, dbPath);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);

    form.T_code->setText(QStringLiteral("1301"));
    auto *add = form.findChild<QPushButton *>(QStringLiteral("C_addPort"));
    answerNextBox(&shown);
    add->click();
    EXPECT_EQ(shown, QStringLiteral("追加しました(新規)"));
    answerNextBox(&shown);
    add->click();
    EXPECT_EQ(shown, QStringLiteral("追加しました(株数追加)"));
}

// A code typed in full width or lower case draws its stored code; Enter in the code box draws.
TEST_F(ChartWindowTest, CodeBoxEnterDrawsTheStoredCode) {
    test::MessageBoxAnswerer answerer;
    ui::ChartWindow form;
    form.show();
    QApplication::processEvents();
    form.T_code->setFocus();
    form.T_code->setText(QStringLiteral("１３０１"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(form.T_code, &enter);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("(1301)極洋 [東証1部]"));
    EXPECT_EQ(form.T_code->text(), QStringLiteral("1301"));
    form.T_code->setText(QStringLiteral("9999"));
    form.drawChart();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("見つかりません(9999)"));
    form.close();
}

// Every axis label, as painted, lies inside the chart below the toolbar and clear of the right
// edge, no two labels of the day axis run into each other (the month starts read "01/01"),
// and the newest day has its label.
TEST_F(ChartWindowTest, LabelsStayInsideTheClientArea) {
    // 1332: 41 trading days from November to January.
    {
        auto db =
            storage::Database::open(storage::readSetting(keys::mdbpath), storage::kConnectString);
        int n = 0;
        for (int m : {202311, 202312, 202401})
            for (int d = 1; d <= 31; ++d)
                if ((m != 202311 || d >= 20) && (m != 202312 || d < 23 || d > 28) &&
                    (m != 202401 || d <= 5) && !(m == 202311 && d > 30))
                    db->execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(?,'1332',?,"
                                "?,1)",
                                {m * 100 + d, 800 + (++n), 4500000 + n * 10000});
        ASSERT_EQ(n, 41);
    }
    ui::ChartWindow form;
    form.show();
    QApplication::processEvents();
    for (const char *code : {"1301", "1332"}) {
        SCOPED_TRACE(code);
        form.T_code->setText(QString::fromLatin1(code));
        form.drawChart();
        const double tpp = form.twipsPerPixel();
        const QFontMetricsF fm(ui::chartLabelFont());
        const QRectF client(0, 0, form.view()->width() - 2, form.view()->height());
        const chart::ChartElements &e = form.model().elements();
        int checked = 0;
        for (const chart::ElementArray *labels :
             {&e.Y1Label, &e.Y2Label, &e.XLabel, &e.LegendLabel}) {
            for (const chart::Element &l : *labels) {
                if (!l.visible)
                    continue;
                const QRectF box(l.left / tpp, l.top / tpp, l.width / tpp, l.height / tpp);
                const QRectF text = fm.boundingRect(
                    box,
                    static_cast<int>(
                        (l.align == chart::TextAlign::Right ? Qt::AlignRight : Qt::AlignLeft) |
                        Qt::AlignTop | Qt::TextDontClip),
                    QString::fromStdString(l.text));
                EXPECT_TRUE(client.contains(text))
                    << l.text << " at " << text.x() << "," << text.y();
                ++checked;
            }
        }
        EXPECT_GT(checked, 10);
        // As painted, no two labels of the day axis run into each other, nor two of the legend.
        for (const chart::ElementArray *row : {&e.XLabel, &e.LegendLabel}) {
            double end = -1;
            for (const chart::Element &l : *row) {
                if (!l.visible)
                    continue;
                const double left = l.left / tpp;
                EXPECT_GE(left, end) << l.text;
                end = left + fm.horizontalAdvance(QString::fromStdString(l.text));
            }
        }
        const chart::ElementArray &days = e.XLabel;
        int newest = 0;
        for (size_t i = 1; i < days.size(); ++i)
            if (!days[i].text.empty())
                newest = static_cast<int>(i);
        ASSERT_GT(newest, 0);
        EXPECT_TRUE(days[static_cast<size_t>(newest)].visible);
    }
    // The month starts of the 41 days read month and day.
    QStringList months;
    for (const chart::Element &l : form.model().elements().XLabel)
        if (l.visible && l.text.find('/') != std::string::npos)
            months << QString::fromStdString(l.text);
    EXPECT_EQ(months, (QStringList{"11/20", "12/01", "01/01"}));
    form.close();
}

// The candles and the segments of the averages that the last pass placed, and the kinds of
// the candles in date order.
struct Look {
    int candles = 0, maSegments = 0, lineSquares = 0;
    std::vector<chart::CandleKind> kinds;
    std::vector<chart::Rgb> upFills;
};
Look lookOf(const ui::ChartWindow &form) {
    Look l;
    const chart::ChartElements &e = form.model().elements();
    for (const chart::Element &c : e.Candles)
        if (c.visible) {
            ++l.candles;
            l.kinds.push_back(c.candle);
            if (c.candle == chart::CandleKind::Up)
                l.upFills.push_back(c.color);
        }
    for (const chart::Element &m : e.MaLines)
        l.maSegments += m.visible ? 1 : 0;
    for (const chart::Element &q : e.Aobj1)
        l.lineSquares += q.visible ? 1 : 0;
    return l;
}

class ChartLookTest : public ChartWindowTest {
protected:
    void SetUp() override {
        ChartWindowTest::SetUp();
        auto db =
            storage::Database::open(storage::readSetting(keys::mdbpath), storage::kConnectString);
        // Closes 1201 to 1205: up, down, up, doji, and a day of the close alone.
        const int opens[] = {1199, 1205, 1200, 1204};
        for (int d = 1; d <= 4; ++d)
            db->execute("Insert into T_OHLC(IDATE,CODE,OPRC,HPRC,LPRC) Values(?,'1301',?,?,?)",
                        {20240100 + d, opens[d - 1], 1210, 1190});
    }
    template <typename T> static T *child(ui::ChartWindow &form, const char *name) {
        T *c = form.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static void enter(QLineEdit *box, const QString &text) {
        box->setFocus();
        box->setText(text);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &key);
    }
};

// The style, the averages and the colours are kept in the settings as soon as they are chosen,
// redraw the chart at once, and are what the next window opens with; days that cannot be
// averaged are refused with the hint and change nothing.
TEST_F(ChartLookTest, ChoicesAreSavedRestoredAndRedrawAtOnce) {
    test::MessageBoxAnswerer boxes;
    {
        QPointer<ui::ChartWindow> form = ui::openChartWindow(QStringLiteral("1301"));
        auto *candle = child<QAbstractButton>(*form, "Op_candle");
        auto *ma = child<QLineEdit>(*form, "T_ma");
        auto *colors = child<QComboBox>(*form, "Cb_colors");
        EXPECT_TRUE(child<QAbstractButton>(*form, "Op_line")->isChecked());
        EXPECT_FALSE(ma->isEnabled());
        EXPECT_EQ(lookOf(*form).candles, 0);
        EXPECT_EQ(lookOf(*form).lineSquares, 5);

        candle->click();
        EXPECT_EQ(storage::readSetting(keys::form2_style), "candle");
        EXPECT_TRUE(ma->isEnabled() && colors->isEnabled());
        // Choosing the style leaves the volumes as they were.
        EXPECT_TRUE(child<QAbstractButton>(*form, "Ch_dval1_0")->isChecked());
        using K = chart::CandleKind;
        EXPECT_EQ(lookOf(*form).kinds,
                  (std::vector<K>{K::Up, K::Down, K::Up, K::Doji, K::CloseOnly}));
        EXPECT_EQ(lookOf(*form).maSegments, 0); // 5 closes: the 5-day average is one point

        enter(ma, QStringLiteral("２、５"));
        EXPECT_EQ(ma->text(), QStringLiteral("2,5"));
        EXPECT_EQ(storage::readSetting(keys::form2_ma), "2,5");
        EXPECT_EQ(lookOf(*form).maSegments, 3);

        const chart::Rgb red = lookOf(*form).upFills.at(0);
        colors->setCurrentIndex(1);
        emit colors->activated(1);
        EXPECT_EQ(storage::readSetting(keys::form2_candlecolor), "print");
        EXPECT_NE(lookOf(*form).upFills.at(0), red);

        for (const char *bad : {"5,abc", "1", "501", "5,10,20,40,80"}) {
            SCOPED_TRACE(bad);
            boxes.texts.clear();
            enter(ma, QString::fromUtf8(bad));
            EXPECT_EQ(boxes.texts,
                      QStringList{QString::fromStdString(chart::movingAveragesHint())});
            EXPECT_EQ(storage::readSetting(keys::form2_ma), "2,5");
            EXPECT_EQ(form->preferences().movingAverages, (std::vector<int>{2, 5}));
            EXPECT_EQ(ma->text(), QString::fromUtf8(bad)); // left to be mended
        }
        form->close();
    }
    ui::ChartWindow again;
    EXPECT_TRUE(child<QAbstractButton>(again, "Op_candle")->isChecked());
    EXPECT_EQ(child<QLineEdit>(again, "T_ma")->text(), QStringLiteral("2,5"));
    EXPECT_EQ(child<QComboBox>(again, "Cb_colors")->currentText(), QStringLiteral("白黒"));
    again.T_code->setText(QStringLiteral("1301"));
    again.drawChart();
    EXPECT_EQ(lookOf(again).candles, 5);
    EXPECT_EQ(lookOf(again).maSegments, 3);

    child<QAbstractButton>(again, "Op_line")->click();
    EXPECT_EQ(storage::readSetting(keys::form2_style), "line");
    EXPECT_EQ(lookOf(again).candles, 0);
    EXPECT_EQ(lookOf(again).lineSquares, 5);
}

// Until the user chooses a style the window follows the source: candles for J-Quants, whose
// days have open, high and low, lines for the data site. Changing the averages does not pin it.
TEST_F(ChartLookTest, DefaultStyleFollowsTheSourceUntilOneIsChosen) {
    const struct {
        const char *source, *stored, *checked;
    } cases[] = {{"site", "", "Op_line"},
                 {"jquants", "", "Op_candle"},
                 {"jquants", "line", "Op_line"},
                 {"site", "candle", "Op_candle"},
                 {"jquants", "bars", "Op_candle"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.stored);
        storage::writeSetting(keys::datasource, c.source);
        storage::writeSetting(keys::form2_style, c.stored);
        ui::ChartWindow form;
        EXPECT_TRUE(child<QAbstractButton>(form, c.checked)->isChecked());
    }
    storage::writeSetting(keys::datasource, "jquants");
    storage::writeSetting(keys::form2_style, "");
    ui::ChartWindow form;
    form.show();
    enter(child<QLineEdit>(form, "T_ma"), QStringLiteral("10,20"));
    EXPECT_EQ(storage::readSetting(keys::form2_ma), "10,20");
    EXPECT_EQ(storage::readSetting(keys::form2_style), "");
}

// Every caption of the toolbar is whole at the window's default size: no control is narrower
// than its text wants, and none reaches past the window's right edge.
TEST_F(ChartWindowTest, ToolbarCaptionsFitAtTheDefaultSize) {
    ui::ChartWindow form;
    form.show();
    QApplication::processEvents();
    const QWidget *bar = form.findChild<QWidget *>(QStringLiteral("Frame1"));
    ASSERT_NE(bar, nullptr);
    int checked = 0;
    for (QWidget *w : bar->findChildren<QWidget *>()) {
        if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QLabel *>(w) &&
            !qobject_cast<QComboBox *>(w))
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        // A push button's hint holds a minimum width of the style; its caption is what counts.
        if (auto *button = qobject_cast<QPushButton *>(w))
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, w->width());
        else
            EXPECT_LE(w->sizeHint().width(), w->width());
        EXPECT_LE(w->geometry().right(), form.width());
        EXPECT_LE(w->geometry().bottom(), bar->height());
        ++checked;
    }
    EXPECT_EQ(checked, 13);
}

} // namespace
