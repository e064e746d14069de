// Axis units: the worked ranges, a sweep over many ranges, and the failure text.
#include "core/chart/make_unit.h"

#include <gtest/gtest.h>

#include <cmath>

using tesmo::chart::make_unit;
using tesmo::chart::roundHalfEven;

namespace {

struct UnitCase {
    double min, max, start, unit;
};

TEST(MakeUnit, WorkedRanges) {
    const UnitCase
        cases[] =
            {
                {812, 1270, 800, 50}, // f1 458 -> 45.8, R(45.8 / 5) = 9
                {0, 37, 0, 5},        // R(7.4) = 7 at once
                {0, 10, 0, 1},        // every price null: 0 to 0 widened to 0 to 10
                {0, 1, -1, 1},        // below 2: one below the minimum, unit 1
                {1270, 1270.5, 1269, 1},
                {850, 1300, 800, 50}, // a minimum on a multiple starts one unit below it
                {40, 100, 35, 5},     // R(60 / 5) = 12
                {0, 77.5, 0, 10},     // R(77.5) = 78, R(38.75) = 39, R(15.5) = 16: one shrink
                {-37, 0, -40, 5},     // negative minimum: the multiple at or below it
                {-40, 0, -40, 5},
                {0, 100000000, 0, 10000000},
                {3, 5, 2, 1}, // 2 <= d <= 4.5: unit 1, start as for any other range
                {100, 103, 99, 1},
                {100.5, 104.5, 100, 1},
                {-3, 1, -3, 1},
                {0, 4.5, 0, 1},
            };
    for (const UnitCase &c : cases) {
        double mn = c.min, mx = c.max, start = -999, unit = -999;
        EXPECT_EQ(make_unit(mn, mx, start, unit), "") << c.min << "-" << c.max;
        EXPECT_EQ(start, c.start) << c.min << "-" << c.max;
        EXPECT_EQ(unit, c.unit) << c.min << "-" << c.max;
        EXPECT_EQ(mn, c.min);
        EXPECT_EQ(mx, c.max);
    }
}

bool isOneTwoFiveDecade(double unit) {
    for (double decade = 1; decade <= 1e15; decade *= 10)
        for (double f : {1.0, 2.0, 5.0})
            if (unit == f * decade)
                return true;
    return false;
}

TEST(MakeUnit, SweepAlwaysEndsWithFiveToFifteenSteps) {
    const double minima[] = {-123456, -1000, -37, -0.5, 0, 0.25, 1, 812, 99999, 3.2e7};
    int checked = 0;
    for (double mn : minima) {
        for (double d = 0; d < 5e9; d = d < 10 ? d + 0.25 : d * 1.37) {
            double lo = mn, hi = mn + d, start = 0, unit = 0;
            ASSERT_EQ(make_unit(lo, hi, start, unit), "") << mn << " " << d;
            const double dd = hi - lo;
            if (dd < 2) {
                EXPECT_EQ(unit, 1);
                EXPECT_EQ(start, lo - 1);
                continue;
            }
            ++checked;
            ASSERT_TRUE(isOneTwoFiveDecade(unit)) << unit;
            if (dd > 4.5) {
                const double steps = roundHalfEven(std::fabs(dd / unit));
                EXPECT_GE(steps, 5) << lo << "-" << hi << " unit " << unit;
                EXPECT_LE(steps, 15) << lo << "-" << hi << " unit " << unit;
            } else {
                EXPECT_EQ(unit, 1);
            }
            // The start is a multiple of the unit at or below the minimum, and the next one
            // up is not below it; a non-negative minimum never starts below 0.
            EXPECT_EQ(std::fmod(start, unit), 0) << start << " " << unit;
            EXPECT_LE(start, lo);
            EXPECT_GE(start + unit, lo);
            if (lo >= 0) {
                EXPECT_GE(start, 0);
                if (lo > unit) {
                    EXPECT_LT(start, lo);
                }
            } else {
                EXPECT_GT(start + unit, lo);
            }
        }
    }
    EXPECT_GT(checked, 500);
}

TEST(MakeUnit, RunawayValuesGiveTheFailureText) {
    double mn = 0, mx = INFINITY, start = 0, unit = 0;
    EXPECT_EQ(make_unit(mn, mx, start, unit),
              "Make Unit parm=0-Infinity\r\n初期時のｴﾗｰ 詳細:オーバーフローしました。");
    // A start that steps of the unit can no longer count to.
    mn = 1e21;
    mx = 1e21 + 2e5;
    const std::string text = make_unit(mn, mx, start, unit);
    EXPECT_EQ(text.rfind("Make Unit parm=", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nStart検出時のｴﾗｰ 詳細:オーバーフローしました。"), std::string::npos)
        << text;
}

} // namespace
