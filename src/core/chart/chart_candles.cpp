// The candlestick chart of ChartModel: a candle per day from T_NEARLY's close and T_OHLC's open,
// high and low, the moving averages of the close over it, and the volumes (or web topic counts)
// as bars in a panel of their own under the prices. Days sit in the slots of their dates, so a
// stock that came to the market late starts further right, and the axis labels each month.
#include "core/chart/chart_model.h"
#include "core/chart/make_unit.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>

namespace tesmo::chart {
namespace {

using storage::Database;
using storage::Value;

// The share of the plot that the bars take, and the room between them and the prices, in twips.
constexpr double kBarPanelShare = 0.25;
constexpr double kPanelGap = 150;
// A candle's body takes this share of a day slot, within these widths (a pixel and ten).
constexpr double kBodyShare = 0.6;
constexpr double kMinBody = 15;
constexpr double kMaxBody = 150;

struct CandleLook {
    Rgb upFill, upEdge, downFill, downEdge, doji, closeOnly, upBar, downBar, otherBar;
};
const CandleLook kColorLook{{220, 0, 0},     {220, 0, 0},     {0, 70, 210},
                            {0, 70, 210},    {0, 0, 0},       {128, 128, 128},
                            {240, 160, 160}, {160, 180, 235}, {185, 185, 185}};
const CandleLook kPrintLook{{255, 255, 255}, {0, 0, 0},       {0, 0, 0},
                            {0, 0, 0},       {0, 0, 0},       {128, 128, 128},
                            {185, 185, 185}, {100, 100, 100}, {185, 185, 185}};
// The averages' colours in the order of their days: apart from each other and from the candles.
const Rgb kAverageColors[] = {{0, 150, 0}, {235, 125, 0}, {150, 0, 200}, {0, 150, 200}};
const Rgb kBarLegend{128, 128, 128};

// One stored row of the stock.
struct Day {
    size_t slot = 0;
    std::string day; // day of the month, two digits
    std::optional<double> open, high, low, close, value;

    bool complete() const { return open && high && low && close; }
};

std::optional<double> number(const storage::RowView &row, int col) {
    if (row.type(col) == Value::Type::Null)
        return std::nullopt;
    return row.real(col);
}

std::string text(double v) {
    return storage::formatDouble(v);
}

CandleKind kindOf(const Day &d) {
    if (!d.complete())
        return CandleKind::CloseOnly;
    if (*d.close > *d.open)
        return CandleKind::Up;
    return *d.close < *d.open ? CandleKind::Down : CandleKind::Doji;
}

// The stock's rows in date order, each in the slot of its date. Without T_OHLC (a file of the
// earlier layout that could not be upgraded, being read-only) every day is a close alone.
std::vector<Day> readDays(Database &db, const std::string &code, ChartMode mode,
                          const std::vector<long long> &dates) {
    const std::string value = mode == ChartMode::Volume ? "DVAL" : "TALK";
    const bool withOhlc =
        !db.openRecordset("SELECT name FROM sqlite_schema WHERE type='table' AND name='T_OHLC'")
             .eof();
    const std::string sql =
        withOhlc ? "SELECT N.IDATE, N.PRC, N." + value +
                       ", O.OPRC, O.HPRC, O.LPRC FROM T_NEARLY AS N LEFT JOIN T_OHLC AS O "
                       "ON (O.IDATE = N.IDATE AND O.CODE = N.CODE) WHERE N.CODE = ? "
                       "ORDER BY N.IDATE ;"
                 : "SELECT IDATE, PRC, " + value +
                       ", NULL, NULL, NULL FROM T_NEARLY WHERE CODE = ? ORDER BY IDATE ;";
    std::vector<Day> days;
    db.forEachRow(sql, {Value(code)}, [&](const storage::RowView &row) {
        const long long date = row.integer(0);
        const auto at = std::lower_bound(dates.begin(), dates.end(), date);
        if (at == dates.end() || *at != date)
            return;
        Day d;
        d.slot = static_cast<size_t>(at - dates.begin()) + 1;
        d.day = std::to_string(date % 100 + 100).substr(1);
        d.close = number(row, 1);
        d.value = number(row, 2);
        d.open = number(row, 3);
        d.high = number(row, 4);
        d.low = number(row, 5);
        days.push_back(std::move(d));
    });
    return days;
}

} // namespace

std::string ChartModel::placeCandleChart(Database &db, std::string &step) {
    step = "min,max取得";
    const std::vector<long long> dates = storedDates(db);
    day_count = static_cast<std::int32_t>(dates.size());
    const std::vector<Day> days = readDays(db, code, mode, dates);
    std::optional<double> lo, hi, top;
    for (const Day &d : days) {
        if (d.close) {
            const double low = d.complete() ? std::min({*d.low, *d.open, *d.close}) : *d.close;
            const double high = d.complete() ? std::max({*d.high, *d.open, *d.close}) : *d.close;
            lo = std::min(lo.value_or(low), low);
            hi = std::max(hi.value_or(high), high);
        }
        if (d.value)
            top = std::max(top.value_or(*d.value), *d.value);
    }
    price_min = lo.value_or(0);
    price_max = hi.value_or(0);
    if (price_min == price_max)
        price_max = price_min + 10;
    if (port_price > 0) {
        price_min = std::min(price_min, static_cast<double>(port_price));
        price_max = std::max(price_max, static_cast<double>(port_price));
    }
    val_min = 0;
    val_max = std::max(top.value_or(0), 0.0);
    if (val_max == val_min)
        val_max = val_min + 10;

    if (std::string failure =
            fitAxis(step, "unit調整1", "unit調整2", price_min, price_max, price_unit);
        !failure.empty())
        return failure;
    if (std::string failure = fitAxis(step, "unit調整3", "unit調整4", val_min, val_max, val_unit);
        !failure.empty())
        return failure;
    m_price_min = price_min;
    m_price_max = price_max;
    m_val_min = val_min;
    m_val_max = val_max;

    step = "stp計算";
    const double bottom = m_el.Lx.y1;
    const double barHeight = std::round((bottom - m_el.Ly.y1) * kBarPanelShare);
    const double priceBase = bottom - barHeight - kPanelGap;
    // The bars have a quarter of the plot: the unit grows by whole multiples until the labels
    // of the right axis stand a label's height apart instead of on each other.
    const double labelRoom = m_el.Y2Label.ensure(0).height + 15;
    const double steps = std::round((val_max - val_min) / val_unit);
    if (steps > 0 && barHeight > 0 && barHeight / steps < labelRoom) {
        const double k = std::ceil(labelRoom * steps / barHeight);
        val_unit *= k;
        val_max = m_val_max = val_min + std::ceil(steps / k) * val_unit;
    }
    x_step = divide(m_el.Ly2.x1 - m_el.Ly.x1, day_count);
    price_scale = m_price_scale = divide(priceBase - m_el.Ly.y1, price_max - price_min);
    val_scale = m_val_scale = divide(barHeight, val_max - val_min);
    const auto priceY = [&](double v) { return priceBase - (v - price_min) * price_scale; };
    const auto valueY = [&](double v) { return bottom - (v - val_min) * val_scale; };

    step = "unit表示1";
    m_el.Xscr.ensure(static_cast<size_t>(day_count));
    placeAxis(m_el.Y1scr, m_el.Y1Label, price_min, price_max, price_unit, price_scale, priceBase,
              true);
    step = "unit表示2";
    placeAxis(m_el.Y2scr, m_el.Y2Label, val_min, val_max, val_unit, val_scale, bottom, false);
    step = "X軸表示1";
    placeXAxis();
    placeDayLabels(dates);

    step = "ﾛｰｿｸ足処理";
    const CandleLook &look = candleColors == CandleColors::Print ? kPrintLook : kColorLook;
    const double body = std::clamp(x_step * kBodyShare, kMinBody, kMaxBody);
    const char *valueHover = mode == ChartMode::Volume ? "日: 出来高=" : "日: Web話題=";
    size_t candles = 0;
    size_t bars = 0;
    for (const Day &d : days) {
        const double x = m_el.Xscr.ensure(d.slot).x1;
        const CandleKind kind = kindOf(d);
        if (d.value) {
            Element &b = m_el.Bars.ensure(bars++);
            b.left = x - body / 2;
            b.width = body;
            b.top = valueY(*d.value);
            b.height = bottom - b.top;
            b.color = b.edge = !d.close || kind == CandleKind::CloseOnly || kind == CandleKind::Doji
                                   ? look.otherBar
                               : kind == CandleKind::Up ? look.upBar
                                                        : look.downBar;
            b.hover = d.day + valueHover + text(*d.value);
            b.tag = text(*d.value);
            b.visible = true;
            m_el.bringToFront(b);
        }
        if (!d.close)
            continue;
        Element &c = m_el.Candles.ensure(candles++);
        c.candle = kind;
        c.left = x - body / 2;
        c.width = body;
        c.x1 = c.x2 = x;
        c.tag = text(*d.close);
        if (kind == CandleKind::CloseOnly) {
            c.top = c.y1 = c.y2 = priceY(*d.close);
            c.height = 0;
            c.color = c.edge = look.closeOnly;
            c.hover = d.day + "日: 終値=" + text(*d.close);
        } else {
            c.y1 = priceY(std::max({*d.high, *d.open, *d.close}));
            c.y2 = priceY(std::min({*d.low, *d.open, *d.close}));
            c.top = priceY(std::max(*d.open, *d.close));
            c.height = priceY(std::min(*d.open, *d.close)) - c.top;
            c.color = kind == CandleKind::Up     ? look.upFill
                      : kind == CandleKind::Down ? look.downFill
                                                 : look.doji;
            c.edge = kind == CandleKind::Up     ? look.upEdge
                     : kind == CandleKind::Down ? look.downEdge
                                                : look.doji;
            c.hover = d.day + "日: 始値=" + text(*d.open) + " 高値=" + text(*d.high) +
                      " 安値=" + text(*d.low) + " 終値=" + text(*d.close);
        }
        c.visible = true;
        m_el.bringToFront(c);
    }

    // An average of n days starts at the stock's n-th close; days without a close are passed
    // over, and the line goes on from the last point before them.
    step = "移動平均処理";
    std::vector<LegendItem> legend;
    size_t segments = 0;
    for (size_t k = 0; k < movingAverages.size(); ++k) {
        const size_t n = static_cast<size_t>(std::max(movingAverages[k], 1));
        const Rgb color = kAverageColors[k % std::size(kAverageColors)];
        std::deque<double> window;
        double sum = 0;
        std::optional<std::pair<double, double>> last;
        bool drawn = false;
        for (const Day &d : days) {
            if (!d.close)
                continue;
            window.push_back(*d.close);
            sum += *d.close;
            if (window.size() > n) {
                sum -= window.front();
                window.pop_front();
            }
            if (window.size() < n)
                continue;
            const std::pair<double, double> point{m_el.Xscr.ensure(d.slot).x1,
                                                  priceY(sum / static_cast<double>(n))};
            if (last) {
                Element &l = m_el.MaLines.ensure(segments++);
                l.color = color;
                l.x1 = last->first;
                l.y1 = last->second;
                l.x2 = point.first;
                l.y2 = point.second;
                l.visible = true;
                m_el.bringToFront(l);
                drawn = true;
            }
            last = point;
        }
        if (drawn)
            legend.push_back({std::to_string(n) + "日", color});
    }

    step = "凡例";
    legend.push_back({mode == ChartMode::Volume ? "出来高" : "Web話題", kBarLegend});
    placeLegendItems(legend, 1);
    step = "ﾎﾟｰﾄﾌｫﾘｵ価格表示ﾗｲﾝ";
    placePortfolioLine(priceBase);
    return {};
}

// The day of the month under the slots that the axis labels, and the month with the day at
// each month's first slot.
void ChartModel::placeDayLabels(const std::vector<long long> &dates) {
    std::vector<long long> slotDates{0};
    for (size_t i = 1; i <= dates.size(); ++i) {
        Element &lab = m_el.XLabel.ensure(i);
        lab.text = std::to_string(dates[i - 1] % 100 + 100).substr(1);
        slotDates.push_back(dates[i - 1]);
    }
    labelMonthStarts(slotDates);
}

} // namespace tesmo::chart
