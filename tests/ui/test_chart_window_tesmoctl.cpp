// tesmoctl chart draws, without a display, the picture that the chart window paints.
#include "core/chart/chart_model.h"
#include "core/storage/connection.h"
#include "support/temp_env.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tesmo;
using tesmo::test::runCommand;
using tesmo::test::TempEnv;

namespace {

std::string ctl(const std::string &args, int *status) {
    const std::string bin = std::string(TESMO_BIN_DIR) + "/tesmoctl";
    EXPECT_TRUE(std::filesystem::exists(bin)) << "build tesmoctl first";
    return runCommand(bin + " " + args + " 2>&1", status);
}

QColor color(const chart::Rgb &c) {
    return QColor(c.r, c.g, c.b);
}

TEST(TesmoctlChart, PngShowsTheSameElementsAsTheWindow) {
    TempEnv env;
    const std::string db = env.newDatabase();
    {
        auto conn = storage::Database::open(db, storage::kConnectString);
        conn->execute("Insert into master(CODE,NAME,MARKET) Values('1301','極洋','東証1部')");
        conn->execute("Insert into master(CODE,NAME,MARKET) Values('1332','日水','東証1部')");
        const int prices[] = {1180, 1215, 1190, 1240, 1225, 1260};
        for (int d = 0; d < 6; ++d)
            conn->execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" +
                          std::to_string(20240104 + d) + ",'1301'," + std::to_string(prices[d]) +
                          "," + std::to_string(30000 + 7000 * (d % 3)) + ",4)");
        conn->execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK) Values(202312,'1301',"
                      "1170,31000,3)");
        conn->execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK) Values(202401,'1301',"
                      "1218,36000,4)");
    }
    const std::string png = env.path("chart.png");
    int status = -1;
    const std::string out =
        ctl("chart " + db + " 1301 --port-price 1150 --png " + png + " --size 640x420", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("(1301)極洋 [東証1部]\n"), std::string::npos) << out;

    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.size(), QSize(640, 420));

    chart::ChartModel m(db);
    m.code = "1301";
    m.mode = chart::ChartMode::Volume;
    m.port_price = 1150;
    m.setClientSize(640 * 15, 420 * 15);
    ASSERT_EQ(m.make_graph(), "");
    const auto &e = m.elements();

    // Every visible square shows, at its centre, the colour of the frontmost square there.
    int squares = 0;
    for (const chart::ElementArray *a : {&e.Aobj1, &e.Aobj2, &e.Aobj3, &e.Aobj4})
        for (const chart::Element &sq : *a) {
            if (!sq.visible)
                continue;
            ++squares;
            const double cx = sq.left + 30, cy = sq.top + 30;
            const chart::Element *front = e.squareAt(cx, cy);
            ASSERT_NE(front, nullptr);
            EXPECT_EQ(image.pixelColor(static_cast<int>(cx / 15), static_cast<int>(cy / 15)),
                      color(front->color))
                << sq.hover;
        }
    EXPECT_EQ(squares, 6 + 6 + 2 + 2);

    // The purchase-price line runs across the plot in its own colour.
    const chart::Element &line = e.L_price1;
    ASSERT_TRUE(line.visible);
    int onLine = 0;
    const int y = static_cast<int>(line.y1 / 15);
    for (int x = static_cast<int>(line.x1 / 15); x < static_cast<int>(line.x2 / 15); ++x)
        onLine += image.pixelColor(x, y) == QColor(0, 192, 192);
    EXPECT_GT(onLine, (line.x2 - line.x1) / 15 * 0.8);
    // The graph area is white where nothing is drawn.
    EXPECT_EQ(
        image.pixelColor(static_cast<int>(e.Ly.x1 / 15) + 3, static_cast<int>(e.Lx.y1 / 15) - 3),
        QColor(Qt::white));

    // Headless runs can be compared: the same database gives the same picture.
    const std::string again = env.path("again.png");
    ctl("chart " + db + " 1301 --port-price 1150 --png " + again + " --size 640x420", &status);
    EXPECT_EQ(QImage(QString::fromStdString(again)), image);
}

TEST(TesmoctlChart, UnknownCodesFailuresAndUsage) {
    TempEnv env;
    const std::string db = env.newDatabase();
    {
        auto conn = storage::Database::open(db, storage::kConnectString);
        conn->execute("Insert into master(CODE,NAME,MARKET) Values('1301','極洋','東証1部')");
    }
    int status = -1;
    const std::string png = env.path("x.png");
    const std::string notFound =
        ctl("chart " + db + " \"12'4\" --topic --no-markers --png " + png, &status);
    EXPECT_NE(notFound.find("見つかりません(12'4)\n"), std::string::npos) << notFound;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(582, 409));

    // No trading dates at all: the failure text, and a non-zero status.
    const std::string out = ctl("chart " + db + " 1301 --png " + png, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("詳細:stp計算処理時点\nERROR:0 で除算しました。"), std::string::npos) << out;

    ctl("chart " + db + " 1301", &status);
    EXPECT_EQ(status, 1);
    ctl("chart " + db + " 1301 --png " + png + " --size 12", &status);
    EXPECT_EQ(status, 1);
}

// --style candle: the candlestick chart of the same pass, 陽線 red and 陰線 blue in the bodies'
// middles, the 2-day average in its colour; choices that cannot be read fail with a word why.
TEST(TesmoctlChart, CandleStylePng) {
    TempEnv env;
    const std::string db = env.newDatabase();
    {
        auto conn = storage::Database::open(db, storage::kConnectString);
        conn->execute("Insert into master(CODE,NAME,MARKET) Values('1301','極洋','東証1部')");
        const int bars[][4] = {{1000, 1100, 980, 1080},
                               {1080, 1090, 900, 920},
                               {920, 1010, 910, 1000},
                               {1000, 1040, 960, 960}};
        for (int d = 0; d < 4; ++d) {
            const std::string date = std::to_string(20240104 + d);
            conn->execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL) Values(" + date + ",'1301'," +
                          std::to_string(bars[d][3]) + ",50000)");
            conn->execute("Insert into T_OHLC(IDATE,CODE,OPRC,HPRC,LPRC,ADJF) Values(" + date +
                          ",'1301'," + std::to_string(bars[d][0]) + "," +
                          std::to_string(bars[d][1]) + "," + std::to_string(bars[d][2]) + ",1)");
        }
    }
    const std::string png = env.path("candle.png");
    int status = -1;
    const std::string out = ctl(
        "chart " + db + " 1301 --style candle --ma 2 --png " + png + " --size 640x420", &status);
    ASSERT_EQ(status, 0) << out;
    const QImage image(QString::fromStdString(png));
    ASSERT_EQ(image.size(), QSize(640, 420));

    chart::ChartModel m(db);
    m.code = "1301";
    m.mode = chart::ChartMode::Volume;
    m.style = chart::ChartStyle::Candle;
    m.movingAverages = {2};
    m.setClientSize(640 * 15, 420 * 15);
    ASSERT_EQ(m.make_graph(), "");
    std::vector<chart::CandleKind> kinds;
    for (const chart::Element &c : m.elements().Candles) {
        if (!c.visible)
            continue;
        kinds.push_back(c.candle);
        // The body in its colour, but where the average's line crosses it.
        int inColour = 0, all = 0;
        for (int x = static_cast<int>(c.left / 15) + 1; x < (c.left + c.width) / 15 - 1; ++x)
            for (int y = static_cast<int>(c.top / 15) + 1; y < (c.top + c.height) / 15 - 1; ++y) {
                ++all;
                inColour += image.pixelColor(x, y) == color(c.color);
            }
        EXPECT_GT(all, 20) << c.hover;
        EXPECT_GT(inColour, all * 3 / 4) << c.hover;
    }
    EXPECT_EQ(kinds,
              (std::vector<chart::CandleKind>{chart::CandleKind::Up, chart::CandleKind::Down,
                                              chart::CandleKind::Up, chart::CandleKind::Down}));
    int averagePixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            averagePixels += image.pixelColor(x, y) == QColor(0, 150, 0);
    EXPECT_GT(averagePixels, 20);

    for (const char *bad : {"--ma 5日", "--ma 1000", "--style bars", "--colors pink"}) {
        const std::string refused =
            ctl("chart " + db + " 1301 " + bad + " --png " + env.path("no.png"), &status);
        EXPECT_EQ(status, 1) << bad;
        EXPECT_FALSE(std::filesystem::exists(env.path("no.png"))) << bad;
    }
    EXPECT_NE(ctl("chart " + db + " 1301 --ma x --png " + png, &status).find("移動平均の日数"),
              std::string::npos);
}

} // namespace
