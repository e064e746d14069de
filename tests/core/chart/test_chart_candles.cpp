// The candlestick chart: what a stock's closes, opens, highs, lows and volumes become, the
// moving averages, and the choices the settings keep.
#include "chart_test_env.h"
#include "core/chart/chart_model.h"

#include <algorithm>

namespace tesmo::test {
namespace {

using chart::CandleColors;
using chart::CandleKind;
using chart::ChartModel;
using chart::ChartStyle;
using chart::Element;
using chart::Rgb;

class CandleChart : public ChartTest {
protected:
    // A day of `code` with its open, high and low (none: a day of the data site).
    void bar(int date, const std::string &code, storage::Value open, storage::Value high,
             storage::Value low, storage::Value close, storage::Value volume = opt(1000)) {
        day(date, code, close, volume, kNull);
        if (!open.isNull())
            db->execute("Insert into T_OHLC(IDATE,CODE,OPRC,HPRC,LPRC,ADJF) Values(?,?,?,?,?,1)",
                        {date, code, open, high, low});
    }
    ChartModel candles(const std::string &code, std::vector<int> averages = {},
                       CandleColors colors = CandleColors::Color) {
        ChartModel m;
        m.setClientSize(9000, 6000);
        m.code = code;
        m.mode = chart::ChartMode::Volume;
        m.style = ChartStyle::Candle;
        m.movingAverages = std::move(averages);
        m.candleColors = colors;
        EXPECT_EQ(m.make_graph(), "");
        return m;
    }
    static std::vector<const Element *> visible(const chart::ElementArray &a) {
        std::vector<const Element *> out;
        for (const Element &e : a)
            if (e.visible)
                out.push_back(&e);
        return out;
    }
};

// Each day as its candle: 陽線 and 陰線 in their colours (or the print style's white and black)
// with the body between open and close and the shadows out to high and low, a doji as a line
// with its shadows, a close alone as a line without; a day without a close has no candle but
// its volume bar, and every day sits in the slot of its date.
TEST_F(CandleChart, EachDayBecomesItsCandle) {
    calendar(6);
    stock("1301");
    bar(20240101, "1301", opt(100), opt(110), opt(95), opt(105));
    bar(20240102, "1301", opt(105), opt(108), opt(96), opt(100));
    bar(20240103, "1301", opt(100), opt(104), opt(97), opt(100));
    bar(20240104, "1301", kNull, kNull, kNull, opt(102));
    bar(20240105, "1301", kNull, kNull, kNull, kNull, opt(500));
    bar(20240106, "1301", opt(101), opt(99), opt(98), opt(103)); // a high below the close
    struct Case {
        CandleKind kind;
        Rgb fill, edge, printFill, printEdge;
        size_t slot;
    };
    const Rgb black{0, 0, 0}, white{255, 255, 255}, red{220, 0, 0}, blue{0, 70, 210},
        gray{128, 128, 128};
    const Case cases[] = {
        {CandleKind::Up, red, red, white, black, 1},
        {CandleKind::Down, blue, blue, black, black, 2},
        {CandleKind::Doji, black, black, black, black, 3},
        {CandleKind::CloseOnly, gray, gray, gray, gray, 4},
        {CandleKind::Up, red, red, white, black, 6},
    };
    const ChartModel m = candles("1301");
    const ChartModel print = candles("1301", {}, CandleColors::Print);
    const auto shown = visible(m.elements().Candles);
    const auto printed = visible(print.elements().Candles);
    ASSERT_EQ(shown.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const Element &e = *shown[i];
        SCOPED_TRACE(e.hover);
        EXPECT_EQ(e.candle, c.kind);
        EXPECT_EQ(e.color, c.fill);
        EXPECT_EQ(e.edge, c.edge);
        EXPECT_EQ(printed[i]->color, c.printFill);
        EXPECT_EQ(printed[i]->edge, c.printEdge);
        EXPECT_DOUBLE_EQ(e.left + e.width / 2, m.elements().Xscr[c.slot].x1);
        if (c.kind == CandleKind::CloseOnly) {
            EXPECT_EQ(e.height, 0);
            EXPECT_EQ(e.y1, e.top);
            EXPECT_EQ(e.y2, e.top);
        } else if (c.kind == CandleKind::Doji) {
            EXPECT_EQ(e.height, 0);
            EXPECT_LT(e.y1, e.top);
            EXPECT_GT(e.y2, e.top);
        } else {
            EXPECT_GT(e.height, 0);
            EXPECT_LE(e.y1, e.top); // the high at or above the body
            EXPECT_GT(e.y2, e.top + e.height);
        }
    }
    EXPECT_EQ(shown[0]->hover, "01日: 始値=100 高値=110 安値=95 終値=105");
    EXPECT_EQ(shown[3]->hover, "04日: 終値=102");
    // The body of 100 to 105 and the close of 100 the next day: one price, one height.
    EXPECT_DOUBLE_EQ(shown[0]->top + shown[0]->height, shown[1]->top + shown[1]->height);
    EXPECT_DOUBLE_EQ(shown[4]->y1, shown[4]->top); // the close as the day's high

    const auto bars = visible(m.elements().Bars);
    ASSERT_EQ(bars.size(), 6u);
    for (const Element *b : bars)
        EXPECT_DOUBLE_EQ(b->top + b->height, m.elements().Lx.y1);
    EXPECT_EQ(bars[4]->hover, "05日: 出来高=500");
    EXPECT_GT(bars[4]->top, bars[0]->top);
    EXPECT_EQ(m.elements().squareAt(shown[0]->x1, shown[0]->y1 + 1), shown[0]);
    // The volumes stand below the prices: the lowest price tick above the highest bar.
    for (const Element *tick : visible(m.elements().Y1scr))
        EXPECT_LT(tick->y1, bars[0]->top);
}

// An average of n days starts at the stock's n-th close and goes on over a day without one; its
// point is the mean of the last n closes, and the legend names only the averages drawn.
TEST_F(CandleChart, MovingAveragesStartOnceEnoughClosesAreStored) {
    calendar(30);
    stock("1301");
    for (int k = 1; k <= 30; ++k)
        bar(20240100 + k, "1301", kNull, kNull, kNull, k == 12 ? kNull : opt(100 + 10 * k));
    struct Case {
        std::vector<int> averages;
        size_t segments;
        std::vector<std::string> legend;
    };
    const Case cases[] = {
        {{}, 0, {"出来高"}},
        {{5}, 24, {"5日", "出来高"}},
        {{5, 25}, 24 + 4, {"5日", "25日", "出来高"}},
        {{29, 30}, 0, {"出来高"}}, // 29 closes: one point of the first, none of the second
        {{3, 28}, 26 + 1, {"3日", "28日", "出来高"}},
    };
    for (const Case &c : cases) {
        const ChartModel m = candles("1301", c.averages);
        SCOPED_TRACE(c.legend.size());
        EXPECT_EQ(visible(m.elements().MaLines).size(), c.segments);
        std::vector<std::string> legend;
        for (const Element *e : visible(m.elements().LegendLabel))
            legend.push_back(e->text);
        EXPECT_EQ(legend, c.legend);
    }
    // Closes rising by 10 a day: the 3-day mean of a day is the close of the day before.
    const ChartModel m = candles("1301", {3});
    const auto segments = visible(m.elements().MaLines);
    const auto shown = visible(m.elements().Candles);
    ASSERT_EQ(shown.size(), 29u);
    EXPECT_DOUBLE_EQ(segments.back()->y2, shown[shown.size() - 2]->top);
    EXPECT_DOUBLE_EQ(segments.back()->x2, m.elements().Xscr[30].x1);
    EXPECT_DOUBLE_EQ(segments.front()->x1, m.elements().Xscr[3].x1);
}

// A stock without any day, and one whose dates start late, still draw: the former an empty
// chart on the ten-step axes, the latter in the rightmost slots.
TEST_F(CandleChart, FewOrNoDaysStillDraw) {
    calendar(10);
    stock("1301");
    stock("1302");
    bar(20240109, "1302", opt(50), opt(52), opt(49), opt(51));
    bar(20240110, "1302", opt(51), opt(53), opt(50), opt(52));
    const ChartModel none = candles("1301", {5});
    EXPECT_TRUE(visible(none.elements().Candles).empty());
    EXPECT_EQ(none.price_min, 0);
    EXPECT_EQ(none.price_max, 10);
    const ChartModel late = candles("1302", {5});
    const auto shown = visible(late.elements().Candles);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_DOUBLE_EQ(shown[1]->x1, late.elements().Xscr[10].x1);
    EXPECT_TRUE(visible(late.elements().MaLines).empty());
}

// The labels of the volume axis, in its quarter of the plot, stand at least a label's height
// apart whatever the volumes, and the highest bar stays under the highest tick.
TEST_F(CandleChart, VolumeLabelsDoNotRunIntoEachOther) {
    calendar(3);
    for (const double peak : {35e6, 8e6, 123456.0, 1000.0, 7.0}) {
        SCOPED_TRACE(peak);
        stock("1301");
        bar(20240101, "1301", opt(100), opt(110), opt(95), opt(105), opt(peak / 3));
        bar(20240102, "1301", opt(105), opt(108), opt(96), opt(100), opt(peak));
        bar(20240103, "1301", opt(100), opt(104), opt(97), opt(101), opt(peak / 2));
        const ChartModel m = candles("1301");
        const auto labels = visible(m.elements().Y2Label);
        const auto ticks = visible(m.elements().Y2scr);
        ASSERT_GE(labels.size(), 2u);
        for (size_t i = 1; i < labels.size(); ++i)
            EXPECT_GE(labels[i - 1]->top - labels[i]->top, labels[i]->height) << labels[i]->text;
        double highestTick = ticks[0]->y1;
        for (const Element *t : ticks)
            highestTick = std::min(highestTick, t->y1);
        for (const Element *b : visible(m.elements().Bars))
            EXPECT_GE(b->top + 12, highestTick) << b->tag;
        db->execute("Delete from T_NEARLY");
        db->execute("Delete from T_OHLC");
    }
}

TEST(ChartStyle, MovingAverageTexts) {
    const std::pair<const char *, std::optional<std::vector<int>>> cases[] = {
        {"5,25,75", std::vector<int>{5, 25, 75}},
        {" 75 , 5 ", std::vector<int>{5, 75}},
        {"７５、５", std::vector<int>{5, 75}},
        {"5,5", std::vector<int>{5}},
        {"", std::vector<int>{}},
        {"2,500", std::vector<int>{2, 500}},
        {"5,,25", std::nullopt},
        {"5,", std::nullopt},
        {"1", std::nullopt},
        {"501", std::nullopt},
        {"5日", std::nullopt},
        {"-5", std::nullopt},
        {"5,10,20,40,80", std::nullopt},
    };
    for (const auto &[text, days] : cases)
        EXPECT_EQ(chart::parseMovingAverages(text), days) << text;
    EXPECT_EQ(chart::movingAveragesText({5, 25, 75}), "5,25,75");
}

// Unset, the style follows the source; what the user chose stays, and a value that cannot be
// read counts as unset.
TEST(ChartStyle, PreferencesFollowTheSourceUntilChosen) {
    TempEnv env;
    namespace keys = storage::keys;
    const auto load = [] { return chart::loadChartPreferences(); };
    EXPECT_EQ(load().style, ChartStyle::Line);
    EXPECT_EQ(load().movingAverages, (std::vector<int>{5, 25, 75}));
    storage::writeSetting(keys::datasource, "jquants");
    EXPECT_EQ(load().style, ChartStyle::Candle);
    chart::saveChartPreferences({ChartStyle::Line, {13, 26}, CandleColors::Print});
    EXPECT_EQ(load().style, ChartStyle::Line);
    EXPECT_EQ(load().movingAverages, (std::vector<int>{13, 26}));
    EXPECT_EQ(load().colors, CandleColors::Print);
    EXPECT_EQ(storage::readSetting(keys::form2_ma), "13,26");
    storage::writeSetting(keys::form2_style, "bars");
    storage::writeSetting(keys::form2_ma, "x");
    EXPECT_EQ(load().style, ChartStyle::Candle);
    EXPECT_EQ(load().movingAverages, (std::vector<int>{5, 25, 75}));
}

} // namespace
} // namespace tesmo::test
