#include "core/chart/chart_elements.h"

#include <algorithm>

namespace tesmo::chart {
namespace {

Element line(Rgb color) {
    Element e;
    e.kind = ElementKind::Line;
    e.color = color;
    return e;
}

Element square(Rgb fill) {
    Element e;
    e.kind = ElementKind::Square;
    e.color = fill;
    e.width = 60;
    e.height = 60;
    return e;
}

Element label(double width, Rgb color, TextAlign align) {
    Element e;
    e.kind = ElementKind::Label;
    e.color = color;
    e.width = width;
    e.height = 165;
    e.align = align;
    return e;
}

Element box(ElementKind kind) {
    Element e;
    e.kind = kind;
    return e;
}

// Axis labels keep their design size with the text inside; the left axis's labels hold their
// text against the axis, so that it ends where a label sized to its text would end.
constexpr double kAxisLabelWidth = 540;
constexpr double kDayLabelWidth = 465;

} // namespace

Element &ElementArray::ensure(size_t index) {
    while (m_items.size() <= index)
        m_items.push_back(m_proto);
    return m_items[index];
}

void ElementArray::recolor(Rgb color) {
    m_proto.color = color;
    for (Element &e : m_items)
        e.color = color;
}

ChartElements::ChartElements()
    : Xscr(line(kWindowText)), XLabel(label(kDayLabelWidth, kWindowText, TextAlign::Left)),
      Y1scr(line(kWindowText)), Y1Label(label(kAxisLabelWidth, {128, 0, 0}, TextAlign::Right)),
      Y2scr(line(kWindowText)), Y2Label(label(kAxisLabelWidth, {0, 0, 128}, TextAlign::Left)),
      Aobj1(square({255, 0, 0})), Aobj2(square({0, 0, 255})), Aobj3(square({0, 0, 128})),
      Aobj4(square({128, 0, 0})), Cobj1(line({255, 0, 0})), Cobj2(line({0, 0, 255})),
      Cobj3(line({0, 0, 128})), Cobj4(line({128, 0, 0})), Legend(line(kWindowText)),
      LegendLabel(label(0, kWindowText, TextAlign::Left)), Candles(box(ElementKind::Candle)),
      Bars(box(ElementKind::Bar)), MaLines(line(kWindowText)) {
    Sh_garea.kind = ElementKind::Area;
    Sh_garea.color = {255, 255, 255};
    Sh_garea.left = 15;
    Sh_garea.top = 15;
    Sh_garea.visible = true;
    Sh_garea.z = 0;
    Lx = line(kWindowText);
    Ly = line(kWindowText);
    Ly2 = line(kWindowText);
    // The axes lie just above the graph area; everything a pass places comes in front.
    Lx.z = Ly.z = Ly2.z = 1;
    L_price1 = line({0, 192, 192});
}

template <class F> void ChartElements::forEach(F f) const {
    for (const Element *e : {&Sh_garea, &Lx, &Ly, &Ly2, &L_price1})
        f(*e);
    for (const ElementArray *a :
         {&Xscr, &XLabel, &Y1scr, &Y1Label, &Y2scr, &Y2Label, &Aobj1, &Aobj2, &Aobj3, &Aobj4,
          &Cobj1, &Cobj2, &Cobj3, &Cobj4, &Legend, &LegendLabel, &Candles, &Bars, &MaLines})
        for (const Element &e : *a)
            f(e);
}

std::vector<const Element *> ChartElements::paintOrder() const {
    std::vector<const Element *> out;
    forEach([&out](const Element &e) {
        if (e.visible)
            out.push_back(&e);
    });
    std::stable_sort(out.begin(), out.end(),
                     [](const Element *a, const Element *b) { return a->z < b->z; });
    return out;
}

const Element *ChartElements::squareAt(double x, double y, double slack) const {
    const Element *hit = nullptr;
    forEach([&](const Element &e) {
        const bool target = e.kind == ElementKind::Square || e.kind == ElementKind::Candle ||
                            e.kind == ElementKind::Bar;
        if (!target || !e.visible)
            return;
        double top = e.top;
        double bottom = e.top + e.height;
        if (e.kind == ElementKind::Candle) {
            top = std::min({top, e.y1, e.y2});
            bottom = std::max({bottom, e.y1, e.y2});
        }
        if (x < e.left - slack || x > e.left + e.width + slack || y < top - slack ||
            y > bottom + slack)
            return;
        if (!hit || e.z > hit->z)
            hit = &e;
    });
    return hit;
}

} // namespace tesmo::chart
