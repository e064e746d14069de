#pragma once
// The chart as a plain list of retained elements: lines, small filled squares, text labels
// and the white graph area, all in twips of the window's client area (y grows downwards).
// A drawing pass hides, moves and shows them; the window only paints what is visible, in
// stacking order, and asks which square lies under the mouse.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tesmo::chart {

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb &) const = default;
};

// The colour the axes, ticks and day labels are drawn in.
inline constexpr Rgb kWindowText{0, 0, 0};

// Candles and bars are boxes like squares, and like them carry a hover text.
enum class ElementKind { Area, Line, Square, Label, Candle, Bar };
enum class TextAlign { Left, Right };

// What a candle shows: a rising day (陽線, close above open), a falling day (陰線), a doji
// (十字線, open equal to close: a line across the body's width with its shadows), or a day whose
// open, high and low are unknown (the close alone, a line across the body's width).
enum class CandleKind { Up, Down, Doji, CloseOnly };

struct Element {
    ElementKind kind = ElementKind::Line;
    bool visible = false;
    // Stacking position: an element with a higher value covers one with a lower value.
    long z = 0;
    // Line colour, fill of squares, bars, candle bodies and of the area, text colour of labels.
    Rgb color = kWindowText;
    // Outline of bars and candle bodies, the shadows of a candle and the line of a doji.
    Rgb edge = kWindowText;
    // Lines: the two end points. Candles: the shadow from the high (x1, y1) to the low (x2, y2).
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    // Squares, bars, labels, the area and a candle's body (height 0: a line at `top`): the box.
    double left = 0, top = 0, width = 0, height = 0;
    CandleKind candle = CandleKind::Up;
    std::string text;  // caption of a label
    std::string hover; // hover text of a square
    // The plotted value of a square as text; empty when the slot has no point. A value of 0
    // is a point like any other.
    std::string tag;
    TextAlign align = TextAlign::Left;
};

// An indexed family of elements of one kind. Elements are created with the family's design
// size and colour when an index is first used, and never removed.
class ElementArray {
public:
    explicit ElementArray(Element proto) : m_proto(std::move(proto)) {}

    Element &ensure(size_t index);
    // Gives every element, and those created later, this colour.
    void recolor(Rgb color);
    size_t size() const { return m_items.size(); }
    Element &operator[](size_t index) { return m_items.at(index); }
    const Element &operator[](size_t index) const { return m_items.at(index); }
    std::vector<Element>::iterator begin() { return m_items.begin(); }
    std::vector<Element>::iterator end() { return m_items.end(); }
    std::vector<Element>::const_iterator begin() const { return m_items.begin(); }
    std::vector<Element>::const_iterator end() const { return m_items.end(); }

private:
    Element m_proto;
    std::vector<Element> m_items;
};

class ChartElements {
public:
    ChartElements();

    Element Sh_garea; // the white graph area, always at the back
    Element Lx;       // X axis
    Element Ly;       // left (price) axis
    Element Ly2;      // right (volume/topic) axis
    Element L_price1; // purchase-price line
    ElementArray Xscr, XLabel;
    ElementArray Y1scr, Y1Label, Y2scr, Y2Label;
    ElementArray Aobj1, Aobj2, Aobj3, Aobj4; // point squares: day price, day volume/topic,
                                             // month volume/topic, month price
    ElementArray Cobj1, Cobj2, Cobj3, Cobj4; // the segments of the same four series
    ElementArray Legend, LegendLabel;        // a short line and the name of each series
    ElementArray Candles, Bars;              // the candlestick chart's days and their volumes
    ElementArray MaLines;                    // segments of its moving averages, all of them

    void bringToFront(Element &e) { e.z = ++m_front; }

    // The visible elements, back to front.
    std::vector<const Element *> paintOrder() const;
    // The frontmost visible square, candle or bar whose box (a candle's with its shadows),
    // grown by `slack` on every side, holds the point.
    const Element *squareAt(double x, double y, double slack = 0) const;

private:
    template <class F> void forEach(F f) const;
    long m_front = 1;
};

} // namespace tesmo::chart
