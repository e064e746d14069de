#include "core/chart/chart_model.h"

#include "core/chart/make_unit.h"
#include "core/common/text.h"
#include "core/storage/settings_keys.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace tesmo::chart {
namespace {

using storage::Database;
using storage::ResultSet;
using storage::Value;

const std::string kCrLf = "\r\n";

// Axis ticks of one pass; make_unit keeps them near fifteen, so more means runaway values.
constexpr int kMaxTicks = 1000;
// Distance of the top of both value axes from the top of the graph area, in twips: the
// legend of the series lives above them.
constexpr double kAxisTop = 400;
// Widths of the day axis's texts as the label font sets them (two digits, "12/01") and the
// least room between two of them, in twips.
constexpr double kDayTextWidth = 180;
constexpr double kMonthDayTextWidth = 420;
constexpr double kLabelGap = 30;

struct ModeLook {
    const char *dayRanges;
    const char *monthRanges;
    const char *daySeries;
    const char *dayHover;
    const char *monthSeries;
    const char *monthHover;
    Rgb labelText;
    Rgb dayColor;
    Rgb monthColor;
};

// The code always travels as a bound value: a quote in it can neither break a statement nor
// add to it.
const ModeLook kVolume{
    "SELECT min(PRC),max(PRC),min(DVAL),max(DVAL) from T_NEARLY  where CODE=? ;",
    "SELECT min(AVDVAL),max(AVDVAL),min(AVPRC),max(AVPRC) from  T_MONTHLY  where CODE=?; ",
    "SELECT IDATE,PRC,DVAL from T_NEARLY  where CODE=?  order by IDATE ;",
    "日: 出来高=",
    "SELECT YYYYMM,AVDVAL,AVPRC from T_MONTHLY  where CODE=?  order by YYYYMM DESC ; ",
    "月 出来高平均=",
    {0, 128, 0},
    {0, 255, 0},
    {0, 128, 0}};
const ModeLook kTopic{
    "SELECT min(PRC),max(PRC),min(TALK),max(TALK) from T_NEARLY  where CODE=? ;",
    "SELECT min(AVTALK),max(AVTALK),min(AVPRC),max(AVPRC) from  T_MONTHLY  where CODE=?; ",
    "SELECT IDATE,PRC,TALK from T_NEARLY  where CODE=?  order by IDATE ;",
    "日: Web話題=",
    "SELECT YYYYMM,AVTALK,AVPRC from T_MONTHLY  where CODE=?  order by YYYYMM DESC ; ",
    "月 Web話題平均=",
    {0, 0, 128},
    {0, 0, 255},
    {0, 0, 128}};

const ModeLook &look(ChartMode mode) {
    return mode == ChartMode::Volume ? kVolume : kTopic;
}

double numberOr0(const Value &v) {
    return v.isNull() ? 0.0 : v.toDouble();
}

// A monthly average as the nearest whole number.
long long wholeNumber(double v) {
    const double r = roundHalfEven(v);
    if (!std::isfinite(r) || std::fabs(r) >= 9.2e18)
        throw ChartError(kOverflow);
    return static_cast<long long>(r);
}

// A segment joins two points; only a slot without a point (a null value) breaks the line.
bool hasPoint(const Element &square) {
    return !square.tag.empty();
}

// Whether `n` is a whole multiple of `unit`.
bool wholeMultiple(double n, double unit) {
    const double q = n / unit;
    return std::isfinite(q) && std::fabs(q - std::round(q)) < 1e-9;
}

// Width of a label's text in the chart's label font: a full-width character takes about 165
// twips, an ASCII one about half of it.
double textWidth(const std::string &utf8) {
    double w = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80)
            w += 90;
        else if (c >= 0xC0)
            w += 165;
    }
    return w;
}

std::string lastTwo(const std::string &s) {
    return s.size() <= 2 ? s : s.substr(s.size() - 2);
}

} // namespace

std::string replace_last(const std::string &s, const std::string &find, const std::string &repl) {
    if (find.empty() || find.size() > s.size())
        return s;
    for (size_t p = s.size() - find.size() + 1; p-- > 0;) {
        if (equalsIgnoringAsciiCase(std::string_view(s).substr(p, find.size()), find))
            return s.substr(0, p) + repl + s.substr(p + find.size());
    }
    return s;
}

std::vector<std::string> axisLabelTexts(const std::vector<double> &values) {
    // A unit per label would read "5百万, 450万, 4百万" down one axis.
    static const std::pair<double, const char *> units[] = {
        {1e8, "億"}, {1e6, "百万"}, {1e4, "万"}};
    const std::pair<double, const char *> *unit = nullptr;
    for (const auto &u : units) {
        if (std::all_of(values.begin(), values.end(),
                        [&](double v) { return wholeMultiple(v, u.first); })) {
            unit = &u;
            break;
        }
    }
    std::vector<std::string> texts;
    for (double v : values) {
        if (!unit || v == 0)
            texts.push_back(storage::formatDouble(v));
        else
            texts.push_back(storage::formatDouble(std::round(v / unit->first)) + unit->second);
    }
    return texts;
}

std::string axisLabelText(double v) {
    return axisLabelTexts({v}).front();
}

std::string monthDayText(long long yyyymmdd) {
    char buf[8];
    (void)std::snprintf(buf, sizeof buf, "%02d/%02d", static_cast<int>(yyyymmdd / 100 % 100),
                        static_cast<int>(yyyymmdd % 100));
    return buf;
}

ClientLayout layoutForClient(double clientWidth, double clientHeight) {
    const double w = std::max(roundHalfEven(clientWidth), 3800.0);
    const double h = std::max(roundHalfEven(clientHeight), 3800.0);
    ClientLayout l;
    l.gareaHeight = h - 15 - 50; // the graph area's top is 15
    l.gareaWidth = w - 100;
    return l;
}

ChartModel::ChartModel(std::string dbPath) : m_link(std::move(dbPath)) {
    setClientSize(8730, 6135);
}

void ChartModel::setClientSize(double clientWidth, double clientHeight) {
    const ClientLayout l = layoutForClient(clientWidth, clientHeight);
    m_el.Sh_garea.width = l.gareaWidth;
    m_el.Sh_garea.height = l.gareaHeight;
}

double ChartModel::yOf(double v, double axisMin, double scale) const {
    return m_el.Lx.y1 - (v - axisMin) * scale;
}

void ChartModel::resetElements() {
    m_el.L_price1.visible = false;
    for (ElementArray *a :
         {&m_el.Xscr, &m_el.XLabel, &m_el.Y1scr, &m_el.Y2scr, &m_el.Y1Label, &m_el.Y2Label,
          &m_el.Cobj1, &m_el.Cobj2, &m_el.Cobj3, &m_el.Cobj4, &m_el.Legend, &m_el.LegendLabel,
          &m_el.Candles, &m_el.Bars, &m_el.MaLines})
        for (Element &e : *a)
            e.visible = false;
    for (ElementArray *a : {&m_el.Aobj1, &m_el.Aobj2, &m_el.Aobj3, &m_el.Aobj4})
        for (Element &e : *a) {
            e.hover.clear();
            e.tag.clear();
            e.visible = false;
        }
    const ModeLook &l = look(mode);
    m_el.Y2Label.recolor(l.labelText);
    m_el.Aobj2.recolor(l.dayColor);
    m_el.Cobj2.recolor(l.dayColor);
    m_el.Aobj3.recolor(l.monthColor);
    m_el.Cobj3.recolor(l.monthColor);
}

void ChartModel::layoutAxes() {
    const double L = m_el.Sh_garea.left;
    const double T = m_el.Sh_garea.top;
    const double W = roundHalfEven(m_el.Sh_garea.width);
    const double H = roundHalfEven(m_el.Sh_garea.height);
    Element &ly = m_el.Ly;
    Element &ly2 = m_el.Ly2;
    Element &lx = m_el.Lx;
    ly.y1 = T + kAxisTop;
    ly.y2 = T + H - 50;
    ly.x1 = ly.x2 = L + 600;
    ly2.y1 = T + kAxisTop;
    ly2.y2 = T + H - 50;
    lx.y1 = lx.y2 = ly.y2 - 550;
    lx.x1 = L + 50;
    lx.x2 = L + W - 50;
    ly2.x1 = ly2.x2 = lx.x2 - 600;
    lx.visible = ly.visible = ly2.visible = true;
}

bool ChartModel::lookupStock(Database &db) {
    ResultSet rs = db.openRecordset("SELECT CODE,NAME,MARKET,SWCO from master  where CODE=?  ; ",
                                    {Value(code)});
    if (rs.eof()) {
        rs.close();
        m_link.close();
        m_caption = "見つかりません(" + code + ")";
        return false;
    }
    const Value &swco = rs.field(3);
    const bool flagged = !swco.isNull() && swco.toDouble() != 0;
    const std::string suffix = flagged && storage::debugMode() ? "[SWCO]" : "";
    m_caption =
        "(" + code + ")" + rs.field(1).textOr("") + " [" + rs.field(2).textOr("") + "]" + suffix;
    rs.close();
    return true;
}

void ChartModel::readRanges(Database &db) {
    day_count = static_cast<std::int32_t>(storedDates(db).size());

    const ModeLook &l = look(mode);
    ResultSet rs = db.openRecordset(l.dayRanges, {Value(code)});
    if (!rs.eof()) {
        price_min = numberOr0(rs.field(0));
        price_max = numberOr0(rs.field(1));
        val_min = numberOr0(rs.field(2));
        val_max = numberOr0(rs.field(3));
    }
    rs.close();
    rs = db.openRecordset(l.monthRanges, {Value(code)});
    if (!rs.eof()) {
        m_val_min = numberOr0(rs.field(0));
        m_val_max = numberOr0(rs.field(1));
        m_price_min = numberOr0(rs.field(2));
        m_price_max = numberOr0(rs.field(3));
    }
    rs.close();

    price_min = m_price_min = std::min(price_min, m_price_min);
    price_max = m_price_max = std::max(price_max, m_price_max);
    val_min = m_val_min = std::min(val_min, m_val_min);
    val_max = m_val_max = std::max(val_max, m_val_max);

    if (price_min == price_max)
        price_max = m_price_max = price_min + 10;
    if (val_min == val_max)
        val_max = m_val_max = val_min + 10;

    if (port_price > 0) {
        price_min = std::min(price_min, static_cast<double>(port_price));
        price_max = std::max(price_max, static_cast<double>(port_price));
    }
}

void ChartModel::placeAxis(ElementArray &ticks, ElementArray &labels, double vmin, double vmax,
                           double unit, double scale, double base, bool left) {
    const double axisX = left ? m_el.Ly.x1 : m_el.Ly2.x1;
    std::vector<double> values;
    for (double v = vmin; v <= vmax; v += unit) {
        if (values.size() >= kMaxTicks)
            throw ChartError(kOverflow);
        values.push_back(v);
    }
    const std::vector<std::string> texts = axisLabelTexts(values);
    for (size_t n = 0; n < values.size(); ++n) {
        const double v = values[n];
        ticks.ensure(n);
        labels.ensure(n);
        Element &t = ticks[n];
        t.x1 = axisX - 50;
        t.x2 = axisX + 50;
        t.y1 = t.y2 = base - (v - vmin) * scale + 12;
        t.visible = true;
        m_el.bringToFront(t);

        Element &lab = labels[n];
        lab.text = texts[n];
        lab.top = t.y1 - labels[0].height / 2 - 30;
        lab.left = left ? axisX - lab.width - 30 : axisX + 50;
        lab.visible = true;
        m_el.bringToFront(lab);
    }
}

void ChartModel::placeXAxis() {
    const double ly = m_el.Lx.y1;
    {
        Element &x0 = m_el.Xscr.ensure(0);
        x0.y1 = ly - 50;
        x0.y2 = ly + 50;
        x0.x1 = x0.x2 = m_el.Ly.x1 - 5;
    }
    const Element ref = m_el.Xscr[0];
    const size_t days = static_cast<size_t>(std::max(day_count, 0));
    m_el.Xscr.ensure(days);
    for (size_t i = 1; i <= days; ++i) {
        Element &x = m_el.Xscr[i];
        x.x1 = static_cast<double>(i) * x_step + ref.x1;
        x.x2 = static_cast<double>(i) * x_step + ref.x2;
        x.y1 = ref.y1;
        x.y2 = ref.y2;
        x.visible = true;
        m_el.bringToFront(x);
    }
    m_el.XLabel.ensure(days);
    m_el.XLabel[0].top = ly + 50;
    for (size_t i = 1; i <= days; ++i) {
        Element &lab = m_el.XLabel[i];
        lab.text = std::to_string(i);
        lab.top = ly + 50;
        lab.left = m_el.Xscr[i].x1 - 50;
        // Every second day is labelled, counted back from the newest, while two slots hold a
        // day number; a longer history is told by its month labels alone.
        lab.visible = (days - i) % 2 == 0 && 2 * x_step >= kDayTextWidth + kLabelGap;
        m_el.bringToFront(lab);
    }
}

namespace {

struct PointPlace {
    double top;
    std::string hover;
    std::string tag;
};

} // namespace

void ChartModel::placeDailySeries(Database &db) {
    const ModeLook &l = look(mode);
    ResultSet rs = db.openRecordset(l.daySeries, {Value(code)});
    // Slots follow the stock's own rows, not the calendar: a missing date shifts the later
    // points one slot to the left.
    size_t i = 0;
    std::vector<long long> slotDates{0};
    auto place = [&](ElementArray &squares, ElementArray &segments, const PointPlace &p) {
        squares.ensure(i);
        segments.ensure(i);
        const double x = m_el.Xscr.ensure(i).x1;
        Element &a = squares[i];
        a.top = p.top;
        a.left = x - 20;
        a.hover = p.hover;
        a.tag = p.tag;
        const Element &prev = squares[i - 1];
        if (hasPoint(prev)) {
            Element &c = segments[i];
            c.x1 = x;
            c.y1 = a.top + 12;
            c.x2 = m_el.Xscr[i - 1].x1;
            c.y2 = prev.top + 12;
            m_el.bringToFront(c);
            c.visible = true;
        }
        if (marker) {
            a.visible = true;
            m_el.bringToFront(a);
        }
    };
    for (; !rs.eof(); rs.moveNext()) {
        ++i;
        const std::string day = lastTwo(rs.field(0).textOr(""));
        slotDates.push_back(rs.field(0).isNull() ? 0
                                                 : static_cast<long long>(rs.field(0).toDouble()));
        m_el.XLabel.ensure(i).text = day;
        m_el.Aobj1.ensure(i);
        m_el.Cobj1.ensure(i);
        const Value &prc = rs.field(1);
        if (!prc.isNull())
            place(m_el.Aobj1, m_el.Cobj1,
                  {yOf(prc.toDouble(), price_min, price_scale) - 25,
                   day + "日: 終値" + "=" + prc.toText(), prc.toText()});
        m_el.Aobj2.ensure(i);
        m_el.Cobj2.ensure(i);
        const Value &val = rs.field(2);
        if (val.isNull())
            continue;
        place(m_el.Aobj2, m_el.Cobj2,
              {yOf(val.toDouble(), val_min, val_scale) - 25, day + l.dayHover + val.toText(),
               val.toText()});
    }
    rs.close();
    labelMonthStarts(slotDates);
}

// Day numbers alone do not tell the month: the leftmost slot and the first day of every month
// read "12/01". Those labels are wider than the day numbers, so day numbers that would run
// into one give way, and so does the leftmost label when a month starts right after it.
void ChartModel::labelMonthStarts(const std::vector<long long> &slotDates) {
    const auto left = [this](size_t i) { return m_el.Xscr.ensure(i).x1 - 50; };
    std::vector<size_t> starts;
    for (size_t i = 1; i < slotDates.size(); ++i)
        if (slotDates[i] > 0 && (i == 1 || slotDates[i] / 100 != slotDates[i - 1] / 100))
            starts.push_back(i);
    std::vector<size_t> kept;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t i = starts[k];
        const bool crowdedEdge = i == 1 && k + 1 < starts.size() &&
                                 left(1) + kMonthDayTextWidth + kLabelGap > left(starts[k + 1]);
        if (crowdedEdge)
            continue;
        if (!kept.empty() && left(kept.back()) + kMonthDayTextWidth + kLabelGap > left(i))
            continue;
        kept.push_back(i);
    }
    for (size_t i = 1; i < m_el.XLabel.size() && i < m_el.Xscr.size(); ++i) {
        Element &lab = m_el.XLabel[i];
        if (!lab.visible)
            continue;
        for (size_t k : kept) {
            const bool clear = left(i) + kDayTextWidth + kLabelGap <= left(k) ||
                               left(k) + kMonthDayTextWidth + kLabelGap <= left(i);
            if (!clear)
                lab.visible = false;
        }
    }
    for (size_t k : kept) {
        Element &lab = m_el.XLabel[k];
        lab.text = monthDayText(slotDates[k]);
        lab.visible = true;
    }
}

void ChartModel::placeMonthlySeries(Database &db) {
    const size_t days = static_cast<size_t>(std::max(day_count, 0));
    for (ElementArray *a : {&m_el.Aobj3, &m_el.Cobj3, &m_el.Aobj4, &m_el.Cobj4})
        a->ensure(days);
    const ModeLook &l = look(mode);
    ResultSet rs = db.openRecordset(l.monthSeries, {Value(code)});
    // Newest month in the rightmost slot, one slot further left per month; months beyond the
    // leftmost slot are not drawn.
    size_t i = days;
    auto place = [&](ElementArray &squares, ElementArray &segments, double top,
                     const std::string &hover, const std::string &tag) {
        const double x = m_el.Xscr.ensure(i).x1;
        Element &a = squares[i];
        a.top = top;
        a.left = x - 20;
        a.hover = hover;
        a.tag = tag;
        if (i < days && hasPoint(squares[i + 1])) {
            Element &c = segments[i];
            c.x1 = x;
            c.y1 = a.top + 12;
            c.x2 = m_el.Xscr.ensure(i + 1).x1;
            c.y2 = squares[i + 1].top + 12;
            m_el.bringToFront(c);
            c.visible = true;
        }
        if (marker) {
            a.visible = true;
            m_el.bringToFront(a);
        }
    };
    for (; !rs.eof() && i >= 1; rs.moveNext(), --i) {
        const std::string month = rs.field(0).textOr("");
        const Value &av = rs.field(1);
        if (!av.isNull()) {
            const long long v = wholeNumber(av.toDouble());
            place(m_el.Aobj3, m_el.Cobj3, yOf(static_cast<double>(v), m_val_min, m_val_scale) - 25,
                  month + l.monthHover + std::to_string(v), std::to_string(v));
        }
        const Value &ap = rs.field(2);
        if (!ap.isNull()) {
            const long long v = wholeNumber(ap.toDouble());
            place(m_el.Aobj4, m_el.Cobj4,
                  yOf(static_cast<double>(v), m_price_min, m_price_scale) - 25,
                  month + "月 終値平均=" + std::to_string(v), std::to_string(v));
        }
    }
    rs.close();
}

// Names the four series in their colours above the plot, against its right end where the
// monthly averages run; where the plot is too narrow for all four, the monthly ones.
void ChartModel::placeLegend() {
    const ModeLook &l = look(mode);
    const bool volume = mode == ChartMode::Volume;
    placeLegendItems({{"終値", {255, 0, 0}},
                      {volume ? "出来高" : "Web話題", l.dayColor},
                      {"月平均終値", {128, 0, 0}},
                      {volume ? "月平均出来高" : "月平均Web話題", l.monthColor}},
                     2);
}

void ChartModel::placeLegendItems(std::vector<LegendItem> items, size_t dropTogether) {
    constexpr double kLine = 180, kBeforeText = 45, kBetween = 120;
    const auto widthOf = [&](const std::vector<LegendItem> &list) {
        double w = 0;
        for (const LegendItem &it : list)
            w += kLine + kBeforeText + textWidth(it.name) + kBetween;
        return w - kBetween;
    };
    const double room = m_el.Ly2.x1 - m_el.Ly.x1;
    while (widthOf(items) > room && items.size() > dropTogether)
        items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(dropTogether));
    double x = std::max(m_el.Ly.x1, m_el.Ly2.x1 - widthOf(items));
    const double top = m_el.Sh_garea.top + 100;
    for (size_t n = 0; n < items.size(); ++n) {
        Element &line = m_el.Legend.ensure(n);
        line.color = items[n].color;
        line.x1 = x;
        line.x2 = x + kLine;
        line.y1 = line.y2 = top + 82;
        line.visible = true;
        m_el.bringToFront(line);
        Element &lab = m_el.LegendLabel.ensure(n);
        lab.text = items[n].name;
        lab.color = items[n].color;
        lab.left = x + kLine + kBeforeText;
        lab.top = top;
        lab.width = textWidth(lab.text);
        lab.visible = true;
        m_el.bringToFront(lab);
        x = lab.left + lab.width + kBetween;
    }
}

void ChartModel::placePortfolioLine(double base) {
    if (port_price <= 0)
        return;
    Element &p = m_el.L_price1;
    p.x1 = m_el.Ly.x1;
    p.x2 = m_el.Ly2.x1;
    p.y1 = p.y2 = base - (static_cast<double>(port_price) - price_min) * price_scale + 12;
    p.visible = true;
    m_el.bringToFront(p);
}

// Widens [lo, hi] to whole units from the start that make_unit chose.
std::string ChartModel::fitAxis(std::string &step, const char *unitStep, const char *widenStep,
                                double &lo, double &hi, double &unit) {
    step = unitStep;
    double start = 0;
    const std::string r = make_unit(lo, hi, start, unit);
    if (!r.empty())
        return step + " " + r;
    step = widenStep;
    lo = start;
    double run = start;
    for (int n = 0; run < hi; ++n) {
        if (n >= kMaxTicks)
            throw ChartError(kOverflow);
        run += unit;
    }
    hi = run;
    return {};
}

std::string ChartModel::make_graph() {
    std::string step;
    try {
        step = "初期処理";
        resetElements();
        step = "DB接続";
        Database &db = m_link.connect();
        step = "初期処理2";
        layoutAxes();
        step = "銘柄固有情報取得";
        if (!lookupStock(db))
            return {};
        const auto finish = [&] {
            step = "DB開放";
            m_link.close();
            redraw_delay = 0;
            step.clear();
            return std::string();
        };
        if (style == ChartStyle::Candle) {
            if (std::string failure = placeCandleChart(db, step); !failure.empty()) {
                m_link.closeQuietly();
                return failure;
            }
            return finish();
        }
        step = "min,max取得";
        readRanges(db);

        std::string unitFailure =
            fitAxis(step, "unit調整1", "unit調整2", price_min, price_max, price_unit);
        if (unitFailure.empty())
            unitFailure = fitAxis(step, "unit調整3", "unit調整4", val_min, val_max, val_unit);
        if (!unitFailure.empty()) {
            m_link.closeQuietly();
            return unitFailure;
        }
        m_price_max = price_max;
        m_price_min = price_min;
        m_val_max = val_max;
        m_val_min = val_min;

        step = "stp計算";
        x_step = divide(m_el.Ly2.x1 - m_el.Ly.x1, day_count);
        const double h = m_el.Lx.y1 - m_el.Ly.y1;
        price_scale = divide(h, price_max - price_min);
        val_scale = divide(h, val_max - val_min);
        m_val_scale = divide(h, m_val_max - m_val_min);
        m_price_scale = divide(h, m_price_max - m_price_min);

        step = "unit表示1";
        m_el.Xscr.ensure(static_cast<size_t>(day_count));
        placeAxis(m_el.Y1scr, m_el.Y1Label, price_min, price_max, price_unit, price_scale,
                  m_el.Lx.y1, true);
        step = "unit表示2";
        placeAxis(m_el.Y2scr, m_el.Y2Label, val_min, val_max, val_unit, val_scale, m_el.Lx.y1,
                  false);
        step = "X軸表示1";
        placeXAxis();
        step = "日次ﾃﾞｰﾀ処理";
        placeDailySeries(db);
        step = "月次ﾃﾞｰﾀ処理";
        placeMonthlySeries(db);
        step = "凡例";
        placeLegend();
        step = "ﾎﾟｰﾄﾌｫﾘｵ価格表示ﾗｲﾝ";
        placePortfolioLine(m_el.Lx.y1);
        step = "Other(1)";
        return finish();
    } catch (const std::exception &e) {
        // The connection lives for one pass, so a failed pass gives it back as well.
        m_link.closeQuietly();
        return "不正な銘柄ｺｰﾄﾞあるいは、不正なﾃﾞｰﾀが見つかりました。" + kCrLf + kCrLf +
               "詳細:" + step + "処理時点" + kCrLf + "ERROR:" + e.what();
    }
}

} // namespace tesmo::chart
