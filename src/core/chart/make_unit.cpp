#include "core/chart/make_unit.h"

#include "core/storage/value.h"

#include <algorithm>
#include <cmath>

namespace tesmo::chart {
namespace {

using storage::formatDouble;

void requireFinite(double v) {
    if (!std::isfinite(v))
        throw ChartError(kOverflow);
}

bool fits(double f) {
    const double r = roundHalfEven(std::fabs(f));
    return r >= 5 && r <= 15;
}

// Beyond 2^52 steps a multiple of the unit can no longer be told apart from its neighbour.
constexpr double kMaxSteps = 4503599627370496.0;

// The axis start for a minimum mn and a unit u (a whole number >= 1): for mn < 0 the largest
// multiple of u that is <= mn; otherwise 0 when mn <= u, else the largest multiple below mn.
// That is where counting down from 0 (or up from 0) in steps of u stops; the quotient finds
// the spot at once and the two loops settle it exactly where the counting would.
double startFor(double mn, double u) {
    if (std::fabs(mn) / u > kMaxSteps)
        throw ChartError(kOverflow);
    double s;
    if (mn < 0) {
        s = std::floor(mn / u) * u;
        for (int guard = 0; s > mn; ++guard) {
            if (guard > 4)
                throw ChartError(kOverflow);
            s -= u;
        }
        for (int guard = 0; s + u <= mn; ++guard) {
            if (guard > 4)
                throw ChartError(kOverflow);
            s += u;
        }
    } else {
        s = std::max(0.0, (std::ceil(mn / u) - 1) * u);
        for (int guard = 0; s > 0 && s >= mn; ++guard) {
            if (guard > 4)
                throw ChartError(kOverflow);
            s -= u;
        }
        for (int guard = 0; s + u < mn; ++guard) {
            if (guard > 4)
                throw ChartError(kOverflow);
            s += u;
        }
    }
    return s;
}

} // namespace

double divide(double a, double b) {
    if (b == 0)
        throw ChartError(kDivisionByZero);
    const double q = a / b;
    if (!std::isfinite(q))
        throw ChartError(kOverflow);
    return q;
}

double roundHalfEven(double x) {
    return std::nearbyint(x);
}

std::string make_unit(double &min, double &max, double &start, double &unit) {
    std::string step;
    try {
        step = "初期";
        const double mx = max;
        const double mn = min;
        requireFinite(mx);
        requireFinite(mn);
        const double d = mx - mn;
        requireFinite(d);
        if (d < 2) {
            start = mn - 1;
            unit = 1;
            step.clear();
            return {};
        }
        double f1 = d;
        double keta = 1;
        int sel = 0;
        // From 2 to 4.5 no candidate fits (R(d) is 2 to 4, R(d/2) and R(d/5) smaller still) and
        // shrinking f1 only moves it further away, so such a range takes the smallest unit
        // allowed, 1, and its start is found below like any other. Wider ranges always meet a
        // fitting candidate: 4.5 < f1 < 77.5 fits at once and larger ones shrink into it.
        if (d <= 4.5)
            sel = 1;
        while (sel == 0) {
            step = "F1=" + formatDouble(f1) + " ";
            if (fits(f1))
                sel = 1;
            else if (fits(f1 / 2))
                sel = 2;
            else if (fits(f1 / 5))
                sel = 5;
            step = "LoopNext f1=" + formatDouble(f1);
            if (sel == 0) {
                f1 = f1 * 0.1;
                keta = keta * 10;
                requireFinite(keta);
            }
        }
        step = "Unit算出";
        const double u = keta * sel;
        requireFinite(u);
        step = "Start検出";
        const double s = startFor(mn, u);
        start = s;
        unit = u;
        step.clear();
        return {};
    } catch (const std::exception &e) {
        return "Make Unit parm=" + formatDouble(min) + "-" + formatDouble(max) + "\r\n" + step +
               "時のｴﾗｰ 詳細:" + e.what();
    }
}

} // namespace tesmo::chart
