// Windows open whole on their screen: the rule, and the windows that follow it.
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"
#include "ui/chart/chart_window.h"
#include "ui/common/screen_fit.h"
#include "ui/common/window_hub.h"
#include "ui/tables/ranking_table.h"

#include <QApplication>
#include <QScreen>

#include <gtest/gtest.h>

using namespace tesmo;

namespace {

namespace keys = storage::keys;

// A 1366 x 768 screen with a 28-pixel panel at the bottom, and a second screen to its right.
TEST(ScreenFit, ClientRectMovesAndShrinksIntoTheWorkArea) {
    const QRect laptop(0, 0, 1366, 740);
    const QRect second(1366, 0, 1920, 1050);
    const QMargins frame(1, 24, 1, 1);
    const struct {
        const char *what;
        QRect client, available, fitted;
    } cases[] = {
        {"chart placed low", {100, 374, 582, 409}, laptop, {100, 330, 582, 409}},
        {"options placed low", {273, 183, 820, 600}, laptop, {273, 139, 820, 600}},
        {"inside already", {10, 30, 300, 200}, laptop, {10, 30, 300, 200}},
        {"left of the screen", {-50, 10, 300, 200}, laptop, {1, 24, 300, 200}},
        {"beyond the right edge", {1200, 100, 400, 300}, laptop, {965, 100, 400, 300}},
        {"larger than the screen", {0, 0, 2000, 1000}, laptop, {1, 24, 1364, 715}},
        {"on the second screen", {1300, 100, 400, 300}, second, {1367, 100, 400, 300}},
        {"below the second screen", {2000, 1000, 400, 300}, second, {2000, 749, 400, 300}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ui::fitClientRect(c.client, frame, c.available), c.fitted) << c.what;
    EXPECT_EQ(ui::fitClientRect({5, 5, 100, 100}, {}, {0, 0, 50, 50}), QRect(0, 0, 50, 50));
}

bool whollyOn(const QWidget &w) {
    const QRect avail = w.screen()->availableGeometry();
    return avail.contains(w.frameGeometry());
}

// A chart taller than the screen and a ranking window saved below it open whole.
TEST(ScreenFit, WindowsOpenWholeOnTheirScreen) {
    test::TempEnv env;
    storage::writeSetting(keys::mdbpath, env.newDatabase());
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    const double twips = 15; // the offscreen screen's 96 dpi
    storage::writeSetting(keys::form2_height, std::to_string(int((avail.height() + 200) * twips)));
    ui::ChartWindow *chart = ui::openChartWindow(QStringLiteral("1301"));
    QApplication::processEvents();
    EXPECT_TRUE(whollyOn(*chart)) << chart->frameGeometry().height();
    chart->close();

    storage::writeSetting(keys::ranktb_top, std::to_string(int((avail.bottom() - 50) * twips)));
    storage::writeSetting(keys::ranktb_left, std::to_string(int((avail.right() - 100) * twips)));
    ui::RankingTable rank;
    ui::showNormal(&rank);
    QApplication::processEvents();
    EXPECT_TRUE(whollyOn(rank)) << rank.y() << "+" << rank.height();
    rank.close();
}

} // namespace
