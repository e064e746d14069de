// The drawing pass: what a stock's rows become on the chart.
#include "chart_test_env.h"
#include "core/chart/chart_model.h"

#include <algorithm>

using tesmo::chart::axisLabelText;
using tesmo::chart::ChartMode;
using tesmo::chart::ChartModel;
using tesmo::chart::Element;
using tesmo::chart::ElementArray;
using tesmo::chart::layoutForClient;
using tesmo::chart::replace_last;
using tesmo::chart::Rgb;
using tesmo::test::ChartTest;
using tesmo::test::kNull;
using tesmo::test::opt;

namespace {

// A client area of 9000 x 6000 twips puts the axes at round numbers: the left axis at x 615,
// the right one at 8265, the plot from y 415 (top) to 5350 (the X axis).
constexpr double kPlotTop = 415; // below the legend
constexpr double kXAxis = 5350;
constexpr double kLeftAxis = 615;
constexpr double kRightAxis = 8265;

ChartModel model(const std::string &code, ChartMode mode = ChartMode::Topic, bool marker = true) {
    ChartModel m;
    m.setClientSize(9000, 6000);
    m.code = code;
    m.mode = mode;
    m.marker = marker;
    return m;
}

size_t visibleCount(const ElementArray &a) {
    return static_cast<size_t>(
        std::count_if(a.begin(), a.end(), [](const Element &e) { return e.visible; }));
}

TEST(ChartLayout, ClientAreaIsRaisedToTheFloorFirst) {
    struct Case {
        double w, h, gw, gh;
    } cases[] = {{9000, 6000, 8900, 5935}, {3000, 2000, 3700, 3735}, {3800.4, 9000.6, 3700, 8936}};
    for (const Case &c : cases) {
        const auto l = layoutForClient(c.w, c.h);
        EXPECT_EQ(l.gareaWidth, c.gw) << c.w;
        EXPECT_EQ(l.gareaHeight, c.gh) << c.h;
    }
}

// One unit down a whole axis: the largest of 億, 百万 and 万 that every tick is a whole
// multiple of, else plain digits; 0 stays 0.
TEST(ChartText, OneUnitPerAxis) {
    const struct {
        std::vector<double> ticks;
        std::vector<std::string> labels;
    } axes[] = {
        {{4e6, 4.5e6, 5e6}, {"400万", "450万", "500万"}},
        {{0, 5e6, 1e7, 1.5e7}, {"0", "5百万", "10百万", "15百万"}},
        {{0, 5e7, 1e8}, {"0", "50百万", "100百万"}},
        {{1e8, 2e8}, {"1億", "2億"}},
        {{10000, 15000, 20000}, {"10000", "15000", "20000"}},
        {{-20000, 0, 20000}, {"-2万", "0", "2万"}},
        {{0.5, 1.5}, {"0.5", "1.5"}},
        {{}, {}},
    };
    for (const auto &a : axes)
        EXPECT_EQ(tesmo::chart::axisLabelTexts(a.ticks), a.labels) << a.labels.size();
}

TEST(ChartText, AxisLabelsAndReplaceLast) {
    const std::pair<double, const char *> labels[] = {
        {1e6, "1百万"},    {1e8, "1億"},    {2e4, "2万"},      {15000, "15000"}, {1.2e9, "12億"},
        {1.5e7, "15百万"}, {1.2e5, "12万"}, {850, "850"},      {0, "0"},         {-1, "-1"},
        {2e9, "20億"},     {1e7, "10百万"}, {1.05e6, "105万"}, {0.5, "0.5"},
    };
    for (const auto &[v, text] : labels)
        EXPECT_EQ(axisLabelText(v), text) << v;
    EXPECT_EQ(replace_last("aXbxc", "x", "-"), "aXb-c");
    EXPECT_EQ(replace_last("aXbc", "x", "-"), "a-bc"); // without regard to case
    EXPECT_EQ(replace_last("abc", "x", "-"), "abc");
    EXPECT_EQ(replace_last("ab", "abc", "-"), "ab");
}

TEST_F(ChartTest, OneDailyRowAndNoMonthlyRow) {
    calendar(5);
    stock("1301");
    day(20240103, "1301", opt(500), opt(1200), opt(7));
    ChartModel m = model("1301");
    ASSERT_EQ(m.make_graph(), "");
    EXPECT_EQ(m.caption(), "(1301)極洋 [東証1部]");
    EXPECT_FALSE(m.link().isOpen());
    const auto &e = m.elements();

    // Axes inside the graph area.
    EXPECT_EQ(e.Ly.x1, kLeftAxis);
    EXPECT_EQ(e.Ly.y1, kPlotTop);
    EXPECT_EQ(e.Ly.y2, 5900);
    EXPECT_EQ(e.Lx.y1, kXAxis);
    EXPECT_EQ(e.Lx.x1, 65);
    EXPECT_EQ(e.Lx.x2, 8865);
    EXPECT_EQ(e.Ly2.x1, kRightAxis);

    // The missing monthly row counts as 0, so the price axis runs from 0 to the price.
    EXPECT_EQ(m.day_count, 5);
    EXPECT_EQ(m.price_min, 0);
    EXPECT_EQ(m.price_max, 500);
    EXPECT_EQ(m.price_unit, 50);
    EXPECT_EQ(m.val_max, 7);
    EXPECT_EQ(m.val_unit, 1);
    EXPECT_EQ(m.x_step, (kRightAxis - kLeftAxis) / 5);

    // The stock's first row goes to slot 1, whatever its date.
    const Element &p = e.Aobj1[1];
    EXPECT_TRUE(p.visible);
    EXPECT_EQ(p.top, kPlotTop - 25);
    EXPECT_EQ(p.left, kLeftAxis - 5 + m.x_step - 20);
    EXPECT_EQ(p.hover, "03日: 終値=500");
    EXPECT_EQ(p.tag, "500");
    EXPECT_EQ(p.color, (Rgb{255, 0, 0}));
    EXPECT_FALSE(e.Cobj1[1].visible);
    EXPECT_EQ(e.Aobj2[1].hover, "03日: Web話題=7");
    EXPECT_EQ(e.Aobj2[1].top, kPlotTop - 25);
    EXPECT_EQ(visibleCount(e.Aobj3) + visibleCount(e.Aobj4), 0u);

    // Left axis: 0 to 500 in steps of 50, labels right-aligned 30 twips left of the axis.
    ASSERT_EQ(visibleCount(e.Y1Label), 11u);
    EXPECT_EQ(e.Y1Label[0].text, "0");
    EXPECT_EQ(e.Y1Label[10].text, "500");
    EXPECT_EQ(e.Y1scr[0].y1, kXAxis + 12);
    EXPECT_EQ(e.Y1scr[10].y1, kPlotTop + 12);
    EXPECT_EQ(e.Y1scr[10].x1, kLeftAxis - 50);
    EXPECT_EQ(e.Y1Label[10].top, kPlotTop + 12 - 165.0 / 2 - 30);
    EXPECT_EQ(e.Y1Label[10].left, kLeftAxis - 540 - 30);
    // Right axis: 0 to 7.
    ASSERT_EQ(visibleCount(e.Y2Label), 8u);
    EXPECT_EQ(e.Y2Label[7].text, "7");
    EXPECT_EQ(e.Y2Label[7].left, kRightAxis + 50);
    EXPECT_EQ(e.Y2scr[7].x2, kRightAxis + 50);

    // Day slots: slot 5 lies 5 twips left of the right axis; the reference tick stays hidden.
    EXPECT_FALSE(e.Xscr[0].visible);
    EXPECT_EQ(e.Xscr[5].x1, kRightAxis - 5);
    EXPECT_EQ(e.Xscr[5].y1, kXAxis - 50);
    EXPECT_EQ(e.Xscr[5].y2, kXAxis + 50);
    EXPECT_EQ(visibleCount(e.Xscr), 5u);
}

TEST_F(ChartTest, DayLabelsEverySecondSlotBackFromTheNewest) {
    calendar(6);
    stock("1301");
    day(20240102, "1301", opt(10), opt(1), opt(1));
    day(20240104, "1301", opt(11), opt(1), opt(1));
    day(20240106, "1301", opt(12), opt(1), opt(1));
    ChartModel m = model("1301");
    ASSERT_EQ(m.make_graph(), "");
    const auto &x = m.elements().XLabel;
    // The leftmost slot reads month and day.
    const std::pair<const char *, bool> want[] = {{"01/02", true}, {"04", true}, {"06", false},
                                                  {"4", true},     {"5", false}, {"6", true}};
    for (size_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(x[i].text, want[i - 1].first) << i;
        EXPECT_EQ(x[i].visible, want[i - 1].second) << i;
        EXPECT_EQ(x[i].top, kXAxis + 50);
        EXPECT_EQ(x[i].left, m.elements().Xscr[i].x1 - 50);
    }
}

TEST_F(ChartTest, AllPricesNullGiveTheTenStepAxesAndNoPoints) {
    calendar(3);
    stock("1301");
    for (int d : {20240101, 20240102, 20240103})
        day(d, "1301", kNull, kNull, kNull);
    ChartModel m = model("1301", ChartMode::Volume);
    ASSERT_EQ(m.make_graph(), "");
    EXPECT_EQ(m.price_min, 0);
    EXPECT_EQ(m.price_max, 10);
    EXPECT_EQ(m.price_unit, 1);
    EXPECT_EQ(m.val_max, 10);
    const auto &e = m.elements();
    EXPECT_EQ(visibleCount(e.Y1Label), 11u);
    for (const ElementArray *a :
         {&e.Aobj1, &e.Aobj2, &e.Aobj3, &e.Aobj4, &e.Cobj1, &e.Cobj2, &e.Cobj3, &e.Cobj4})
        EXPECT_EQ(visibleCount(*a), 0u);
    EXPECT_EQ(e.Aobj1[2].hover, "");
    EXPECT_EQ(e.XLabel[3].text, "03");
}

TEST_F(ChartTest, SegmentsJoinZerosAndBreakAtNulls) {
    calendar(5);
    stock("1301");
    // Prices 100, 0, 120, null, 130: the zero is a point joined on both sides, the null is
    // no point at all and breaks the line.
    day(20240101, "1301", opt(100), opt(5), opt(1));
    day(20240102, "1301", opt(0), opt(6), opt(1));
    day(20240103, "1301", opt(120), kNull, opt(1));
    day(20240104, "1301", kNull, opt(8), opt(1));
    day(20240105, "1301", opt(130), opt(9), opt(1));
    for (bool marker : {true, false}) {
        ChartModel m = model("1301", ChartMode::Volume, marker);
        ASSERT_EQ(m.make_graph(), "");
        const auto &e = m.elements();
        const bool squares[] = {false, true, true, true, false, true};
        const bool segments[] = {false, false, true, true, false, false};
        for (size_t i = 1; i <= 5; ++i) {
            EXPECT_EQ(e.Aobj1[i].visible, squares[i] && marker) << i;
            EXPECT_EQ(e.Cobj1[i].visible, segments[i]) << i;
        }
        // Hover texts and tags are set whether or not the squares show.
        EXPECT_EQ(e.Aobj1[2].hover, "02日: 終値=0");
        EXPECT_EQ(e.Aobj1[2].tag, "0");
        EXPECT_EQ(e.Aobj1[4].hover, "");
        EXPECT_EQ(e.Aobj1[4].tag, "");
        const Element &c = e.Cobj1[2];
        EXPECT_EQ(c.x1, e.Xscr[2].x1);
        EXPECT_EQ(c.y1, e.Aobj1[2].top + 12);
        EXPECT_EQ(c.x2, e.Xscr[1].x1);
        EXPECT_EQ(c.y2, e.Aobj1[1].top + 12);
        // Volumes 5, 6, null, 8, 9: a segment ends at every point after a point.
        const bool volSegments[] = {false, false, true, false, false, true};
        for (size_t i = 1; i <= 5; ++i)
            EXPECT_EQ(e.Cobj2[i].visible, volSegments[i]) << i;
        EXPECT_EQ(e.Aobj2[5].hover, "05日: 出来高=9");
    }
}

TEST_F(ChartTest, MonthlyPointsFillTheRightmostSlots) {
    calendar(5);
    stock("1301");
    day(20240105, "1301", opt(100), opt(4000), opt(3));
    month(202401, "1301", opt(100.5), opt(4820.5), opt(3));
    month(202402, "1301", opt(101.5), opt(4821.5), opt(4));
    ChartModel m = model("1301", ChartMode::Volume);
    ASSERT_EQ(m.make_graph(), "");
    const auto &e = m.elements();
    // Newest month in slot 5; averages rounded half to even.
    EXPECT_EQ(e.Aobj3[5].hover, "202402月 出来高平均=4822");
    EXPECT_EQ(e.Aobj4[5].hover, "202402月 終値平均=102");
    EXPECT_EQ(e.Aobj3[4].hover, "202401月 出来高平均=4820");
    EXPECT_EQ(e.Aobj4[4].hover, "202401月 終値平均=100");
    EXPECT_EQ(e.Aobj3[4].tag, "4820");
    EXPECT_EQ(e.Aobj3[4].left, e.Xscr[4].x1 - 20);
    EXPECT_EQ(e.Aobj3[4].top, kXAxis - (4820 - m.m_val_min) * m.m_val_scale - 25);
    EXPECT_TRUE(e.Cobj3[4].visible);
    EXPECT_FALSE(e.Cobj3[5].visible);
    EXPECT_EQ(e.Cobj4[4].x2, e.Xscr[5].x1);
    EXPECT_EQ(e.Cobj4[4].y2, e.Aobj4[5].top + 12);
    EXPECT_FALSE(e.Aobj3[3].visible);
    EXPECT_EQ(e.Aobj3[3].hover, "");
    EXPECT_EQ(e.Aobj3[5].color, (Rgb{0, 128, 0}));
    EXPECT_EQ(e.Aobj4[5].color, (Rgb{128, 0, 0}));
}

TEST_F(ChartTest, MoreMonthsThanSlotsDrawTheNewest) {
    calendar(5);
    stock("1301");
    day(20240105, "1301", opt(100), opt(4000), opt(3));
    for (int mm = 1; mm <= 7; ++mm)
        month(202300 + mm, "1301", opt(100 + mm), opt(4000 + mm), opt(mm));
    ChartModel m = model("1301");
    ASSERT_EQ(m.make_graph(), "");
    const auto &e = m.elements();
    EXPECT_EQ(e.Aobj4[5].hover, "202307月 終値平均=107");
    EXPECT_EQ(e.Aobj4[1].hover, "202303月 終値平均=103");
    EXPECT_EQ(e.Aobj3[1].hover, "202303月 Web話題平均=3");
    EXPECT_EQ(visibleCount(e.Aobj4), 5u);
    EXPECT_EQ(visibleCount(e.Cobj4), 4u);
    for (const Element &a : e.Aobj4)
        EXPECT_EQ(a.hover.find("202302"), std::string::npos);
}

TEST_F(ChartTest, LargeVolumesReadAsOkuAndHyakuman) {
    calendar(2);
    stock("1301");
    day(20240101, "1301", opt(100), opt(0), opt(1));
    day(20240102, "1301", opt(100), opt(1e8), opt(1));
    ChartModel m = model("1301", ChartMode::Volume);
    ASSERT_EQ(m.make_graph(), "");
    const auto &y2 = m.elements().Y2Label;
    EXPECT_EQ(visibleCount(y2), 11u);
    EXPECT_EQ(y2[0].text, "0");
    EXPECT_EQ(y2[1].text, "10百万");
    EXPECT_EQ(y2[10].text, "100百万"); // the axis's unit, not 1億
    EXPECT_EQ(y2[10].color, (Rgb{0, 128, 0}));
}

TEST_F(ChartTest, PurchasePriceLineWidensThePriceAxis) {
    calendar(2);
    stock("1301");
    day(20240101, "1301", opt(1000), opt(5), opt(1));
    day(20240102, "1301", opt(1100), opt(5), opt(1));
    month(202401, "1301", opt(1050), opt(5), opt(1));
    struct Case {
        int port;
        double min, max;
        bool line;
    } cases[] = {{800, 780, 1100, true},
                 {2000, 900, 2000, true},
                 {0, 990, 1100, false},
                 {-1, 990, 1100, false}};
    for (const Case &c : cases) {
        ChartModel m = model("1301");
        m.port_price = c.port;
        ASSERT_EQ(m.make_graph(), "");
        EXPECT_EQ(m.price_min, c.min) << c.port;
        EXPECT_EQ(m.price_max, c.max) << c.port;
        // The monthly price axis follows the daily one.
        EXPECT_EQ(m.m_price_min, c.min);
        const Element &line = m.elements().L_price1;
        ASSERT_EQ(line.visible, c.line) << c.port;
        if (!c.line)
            continue;
        EXPECT_EQ(line.x1, kLeftAxis);
        EXPECT_EQ(line.x2, kRightAxis);
        EXPECT_EQ(line.y1, kXAxis - (c.port - c.min) * m.price_scale + 12);
        EXPECT_EQ(line.color, (Rgb{0, 192, 192}));
        // Placed last, it lies above every series.
        EXPECT_EQ(m.elements().paintOrder().back(), &line);
    }
}

TEST_F(ChartTest, NoTradingDaysFailWithTheStepAndTheCause) {
    stock("1301");
    ChartModel m = model("1301");
    EXPECT_EQ(m.make_graph(), "不正な銘柄ｺｰﾄﾞあるいは、不正なﾃﾞｰﾀが見つかりました。\r\n\r\n"
                              "詳細:stp計算処理時点\r\nERROR:0 で除算しました。");
    EXPECT_EQ(m.caption(), "(1301)極洋 [東証1部]");
    EXPECT_FALSE(m.link().isOpen());
}

TEST_F(ChartTest, UnreachableDatabaseFailsAtTheConnection) {
    ChartModel m(env.path("missing.mdb"));
    m.code = "1301";
    const std::string r = m.make_graph();
    EXPECT_EQ(
        r.rfind(
            "不正な銘柄ｺｰﾄﾞあるいは、不正なﾃﾞｰﾀが見つかりました。\r\n\r\n詳細:DB接続処理時点\r\n"
            "ERROR:",
            0),
        0u)
        << r;
    EXPECT_EQ(m.caption(), "Tesmo ﾁｬｰﾄ");
}

TEST_F(ChartTest, UnknownCodesAndQuotesOnlyChangeTheCaption) {
    calendar(2);
    stock("1301");
    day(20240101, "1301", opt(100), opt(5), opt(1));
    for (const std::string code : {"0000", "12'4", "' OR '1'='1", "1301' --", ""}) {
        ChartModel m = model(code);
        EXPECT_EQ(m.make_graph(), "") << code;
        EXPECT_EQ(m.caption(), "見つかりません(" + code + ")");
        EXPECT_FALSE(m.link().isOpen());
        for (const Element *e : m.elements().paintOrder())
            EXPECT_NE(e->kind, tesmo::chart::ElementKind::Square);
        EXPECT_EQ(visibleCount(m.elements().Y1Label), 0u);
    }
    // A code with a quote that is in master draws like any other.
    stock("A'1", "引用符", "テスト");
    day(20240102, "A'1", opt(50), opt(5), opt(1));
    ChartModel m = model("A'1");
    ASSERT_EQ(m.make_graph(), "");
    EXPECT_EQ(m.caption(), "(A'1)引用符 [テスト]");
    EXPECT_EQ(m.elements().Aobj1[1].hover, "02日: 終値=50");
    EXPECT_EQ(db->scalar("select count(*) from master").toInt(), 3);
}

TEST_F(ChartTest, DebugModeMarksFlaggedStocks) {
    calendar(1);
    stock("1301", "極洋", "東証1部", 1);
    stock("1332", "日水", "", 0);
    for (bool debug : {false, true}) {
        tesmo::storage::writeSetting(tesmo::storage::keys::debugcode,
                                     debug ? tesmo::storage::kDebugCode : "");
        ChartModel m = model("1301");
        m.make_graph();
        EXPECT_EQ(m.caption(), debug ? "(1301)極洋 [東証1部][SWCO]" : "(1301)極洋 [東証1部]");
        ChartModel n = model("1332");
        n.make_graph();
        EXPECT_EQ(n.caption(), "(1332)日水 []");
    }
}

TEST_F(ChartTest, ModeColoursStackingAndTheSquareUnderTheMouse) {
    calendar(2);
    stock("1301");
    day(20240101, "1301", opt(100), opt(5), opt(1));
    day(20240102, "1301", opt(110), opt(6), opt(2));
    ChartModel m = model("1301", ChartMode::Volume);
    ASSERT_EQ(m.make_graph(), "");
    EXPECT_EQ(m.elements().Aobj2[1].color, (Rgb{0, 255, 0}));
    EXPECT_EQ(m.elements().Cobj2[2].color, (Rgb{0, 255, 0}));
    m.mode = ChartMode::Topic;
    ASSERT_EQ(m.make_graph(), "");
    const auto &e = m.elements();
    EXPECT_EQ(e.Aobj2[1].color, (Rgb{0, 0, 255}));
    EXPECT_EQ(e.Cobj2[2].color, (Rgb{0, 0, 255}));
    EXPECT_EQ(e.Y2Label[0].color, (Rgb{0, 0, 128}));
    EXPECT_EQ(e.Aobj3[2].color, (Rgb{0, 0, 128}));

    // Back to front: the area, ..., a segment, then its square covering the segment's end.
    const auto order = e.paintOrder();
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), &e.Sh_garea);
    const auto pos = [&](const Element *x) { return std::find(order.begin(), order.end(), x); };
    EXPECT_LT(pos(&e.Y1Label[0]), pos(&e.Xscr[1]));
    EXPECT_LT(pos(&e.Cobj1[2]), pos(&e.Aobj1[2]));
    EXPECT_LT(pos(&e.Aobj1[2]), pos(&e.Cobj2[2]));

    const Element &sq = e.Aobj1[1];
    EXPECT_EQ(e.squareAt(sq.left + 30, sq.top + 30), &sq);
    EXPECT_EQ(e.squareAt(sq.left - 10, sq.top), nullptr);
    EXPECT_EQ(e.squareAt(sq.left - 10, sq.top, 15), &sq);
    m.marker = false;
    ASSERT_EQ(m.make_graph(), "");
    EXPECT_EQ(e.squareAt(sq.left + 30, sq.top + 30), nullptr);
}

TEST_F(ChartTest, ANewPassHidesWhatTheLastOnePlaced) {
    calendar(4);
    stock("1301");
    stock("1332");
    for (int d = 20240101; d <= 20240104; ++d)
        day(d, "1301", opt(100 + d % 10), opt(5), opt(1));
    day(20240104, "1332", opt(300), opt(5), opt(1));
    ChartModel m = model("1301");
    ASSERT_EQ(m.make_graph(), "");
    EXPECT_TRUE(m.elements().Aobj1[4].visible);
    m.code = "1332";
    ASSERT_EQ(m.make_graph(), "");
    const auto &e = m.elements();
    EXPECT_TRUE(e.Aobj1[1].visible);
    EXPECT_FALSE(e.Aobj1[4].visible);
    EXPECT_EQ(e.Aobj1[4].hover, "");
    EXPECT_EQ(e.Aobj1[4].tag, "");
    EXPECT_FALSE(e.Cobj1[4].visible);
    EXPECT_EQ(e.XLabel[3].text, "3");
}

// Over weeks of days the month is told where it starts: the leftmost slot and the first day
// of each month read month and day; day numbers that would run into those labels give way, and
// so does the leftmost label when a month starts right after it.
TEST_F(ChartTest, MonthStartsAndTheLeftEdgeReadMonthAndDay) {
    const struct {
        std::vector<int> dates;
        double width;                       // of the client area, in twips
        std::vector<std::string> monthDays; // the labels with a slash, left to right
        size_t visible;                     // labels shown in all
    } cases[] = {
        // Wide slots: every label fits.
        {{20241128, 20241129, 20241202, 20241203}, 9000, {"11/28", "12/02"}, 4},
        // 41 narrow slots across two month ends: 21 odd slots, 12/01 in an even one, and four
        // day numbers next to the month labels give way.
        {{}, 9000, {"11/18", "12/01", "01/08"}, 18},
        // A month starting one slot after the edge takes the edge's place.
        {{}, 5000, {"12/02", "01/06"}, 7},
        // 41 slots too narrow for a day number in two: the months alone.
        {{}, 3800, {"11/18", "12/01", "01/08"}, 3},
    };
    // Trading days from 2024-11-18: five a week, no holidays.
    std::vector<int> many;
    for (int m : {202411, 202412, 202501})
        for (int d = 1; d <= 31 && many.size() < 41; ++d)
            if ((m != 202411 || (d >= 18 && d <= 30)) && (m != 202501 || d >= 6) && d % 7 != 0 &&
                d % 7 != 6)
                many.push_back(m * 100 + d);
    std::vector<int> crowded = {20241129};
    for (int d : many)
        if (d >= 20241202 && crowded.size() < 12)
            crowded.push_back(d);
    crowded.push_back(20250106);
    int n = 0;
    for (auto c : cases) {
        if (c.dates.empty())
            c.dates = n == 1 || n == 3 ? many : crowded;
        SCOPED_TRACE(n++);
        db->execute("Delete * from T_NEARLY");
        db->execute("Delete * from master");
        stock("1301");
        for (int d : c.dates)
            day(d, "1301", opt(100), opt(5), opt(1));
        ChartModel m = model("1301");
        m.setClientSize(c.width, 6000);
        ASSERT_EQ(m.make_graph(), "");
        const auto &x = m.elements().XLabel;
        std::vector<std::string> monthDays;
        size_t visible = 0;
        double end = -1e9; // no two visible labels share their room
        for (size_t i = 1; i <= c.dates.size(); ++i) {
            if (!x[i].visible)
                continue;
            ++visible;
            if (x[i].text.find('/') != std::string::npos)
                monthDays.push_back(x[i].text);
            EXPECT_GE(x[i].left, end) << x[i].text;
            end = x[i].left + (x[i].text.size() > 3 ? 420 : 180);
        }
        EXPECT_EQ(monthDays, c.monthDays);
        EXPECT_EQ(visible, c.visible);
    }
    EXPECT_EQ(tesmo::chart::monthDayText(20241201), "12/01");
    EXPECT_EQ(tesmo::chart::monthDayText(20250110), "01/10");
}

// The legend names the four lines in their colours above the plot, against its right end; a
// narrow chart keeps the two monthly ones.
TEST_F(ChartTest, LegendNamesTheLinesAndTheMonthlyAverages) {
    calendar(3);
    stock("1301");
    day(20240103, "1301", opt(500), opt(1200), opt(7));
    const struct {
        ChartMode mode;
        double width;
        std::vector<std::string> names;
    } cases[] = {
        {ChartMode::Volume, 9000, {"終値", "出来高", "月平均終値", "月平均出来高"}},
        {ChartMode::Topic, 9000, {"終値", "Web話題", "月平均終値", "月平均Web話題"}},
        {ChartMode::Volume, 3800, {"月平均終値", "月平均出来高"}},
    };
    for (const auto &c : cases) {
        ChartModel m = model("1301", c.mode);
        m.setClientSize(c.width, 6000);
        ASSERT_EQ(m.make_graph(), "");
        const auto &e = m.elements();
        std::vector<std::string> names;
        for (const Element &lab : e.LegendLabel)
            if (lab.visible)
                names.push_back(lab.text);
        EXPECT_EQ(names, c.names);
        const Element &first = e.Legend[0];
        const Element &last = e.LegendLabel[names.size() - 1];
        EXPECT_GE(first.x1, e.Ly.x1);
        EXPECT_LE(last.left + last.width, e.Ly2.x1 + 1);
        EXPECT_LT(last.top + last.height, e.Ly.y1 - 100); // above the top tick's label
        EXPECT_EQ(e.Legend[names.size() - 1].color, last.color);
        EXPECT_EQ(last.color, c.mode == ChartMode::Volume ? (Rgb{0, 128, 0}) : (Rgb{0, 0, 128}));
    }
}

} // namespace
