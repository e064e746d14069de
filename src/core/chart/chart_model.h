#pragma once
// The per-stock chart: daily closing prices with daily volumes or web topic counts, and the
// monthly averages of both, on a price axis (left) and a volume/topic axis (right). One call
// of make_graph reads the stock's rows and places every element of the chart; the window
// paints the result and shows the failure text, if any.
#include "core/chart/chart_db.h"
#include "core/chart/chart_elements.h"
#include "core/chart/chart_style.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tesmo::chart {

// Which quantity fills the second series: the option pair Ch_dval1, element 0 "Web話題"
// (topic counts, selected when a window opens) or element 1 "出来高" (volumes).
enum class ChartMode { Topic, Volume };

// The design caption of the chart window, shown until the first pass names the stock.
inline constexpr const char *kChartCaption = "Tesmo ﾁｬｰﾄ";

// If `find` occurs in `s` (ASCII letters compared without case), its last occurrence is
// replaced by `repl`; otherwise `s` comes back unchanged.
std::string replace_last(const std::string &s, const std::string &find, const std::string &repl);

// The labels of one axis, in one unit for all of them: the largest of 億, 百万 and 万 that
// every value is a whole multiple of, else the plain digits (0, 5百万, 10百万; 400万, 450万,
// 500万; 15000, 16000).
std::vector<std::string> axisLabelTexts(const std::vector<double> &values);
// The label of a single value under the same rule: 1億, 15百万, 12万, 15000, 850.
std::string axisLabelText(double v);

// The label of a day slot that starts a month, or the leftmost slot: month and day ("12/01").
std::string monthDayText(long long yyyymmdd);

// Where the graph area goes for a client area of the given size in twips: each side is taken
// as a whole number and raised to at least 3800 first.
struct ClientLayout {
    double gareaWidth = 0;
    double gareaHeight = 0;
};
ClientLayout layoutForClient(double clientWidth, double clientHeight);

class ChartModel {
public:
    // `dbPath` empty: the configured database (mdbpath).
    explicit ChartModel(std::string dbPath = {});

    // Inputs that the window's controls hold.
    std::string code; // T_code
    ChartMode mode = ChartMode::Topic;
    bool marker = true; // Ch_marker ticked
    ChartStyle style = ChartStyle::Line;
    // The candlestick chart's moving averages, in days; each is drawn from the day on which
    // the stock has that many closes stored.
    std::vector<int> movingAverages = kDefaultMovingAverages;
    CandleColors candleColors = CandleColors::Color;
    // Purchase price to mark with a horizontal line; 0 or below means none.
    std::int32_t port_price = 0;
    // Timer ticks until a pending redraw; a pass that ends normally clears it.
    std::int32_t redraw_delay = 0;

    // Sizes the graph area (and so the axes of the next pass) for a client area in twips.
    void setClientSize(double clientWidth, double clientHeight);

    // One complete drawing pass for `code`. Returns the empty text when it ends normally or
    // when the code is not in master (the caption then says so), otherwise the failure text.
    std::string make_graph();

    const ChartElements &elements() const { return m_el; }
    const std::string &caption() const { return m_caption; }
    ChartDbLink &link() { return m_link; }

    // The state of the last pass.
    std::int32_t day_count = 0;
    double price_min = 0, price_max = 0, val_min = 0, val_max = 0;
    double m_price_min = 0, m_price_max = 0, m_val_min = 0, m_val_max = 0;
    double price_unit = 0, val_unit = 0;
    double x_step = 0;
    double price_scale = 0, val_scale = 0, m_price_scale = 0, m_val_scale = 0;

private:
    void resetElements();
    void layoutAxes();
    bool lookupStock(storage::Database &db);
    void readRanges(storage::Database &db);
    // `base` is the height of `vmin`.
    void placeAxis(ElementArray &ticks, ElementArray &labels, double vmin, double vmax, double unit,
                   double scale, double base, bool left);
    void placeXAxis();
    void placeDailySeries(storage::Database &db);
    void labelMonthStarts(const std::vector<long long> &slotDates);
    void placeMonthlySeries(storage::Database &db);
    void placePortfolioLine(double base);
    void placeLegend();
    struct LegendItem {
        std::string name;
        Rgb color;
    };
    // Drops `dropTogether` items at a time from the front while they do not fit above the plot.
    void placeLegendItems(std::vector<LegendItem> items, size_t dropTogether);
    double yOf(double v, double axisMin, double scale) const;

    // make_unit's unit for [lo, hi], which widens to whole units from its start; the step label
    // names the two steps. Returns make_unit's failure after the label, empty on success.
    static std::string fitAxis(std::string &step, const char *unitStep, const char *widenStep,
                               double &lo, double &hi, double &unit);
    // The candlestick chart, after the stock's lookup (chart_candles.cpp). Returns a make_unit
    // failure as make_graph does; raises on other failures, with `step` naming the step.
    std::string placeCandleChart(storage::Database &db, std::string &step);
    void placeDayLabels(const std::vector<long long> &dates);

    ChartDbLink m_link;
    ChartElements m_el;
    std::string m_caption = kChartCaption;
};

} // namespace tesmo::chart
