// What the programs with windows set up first: Tesmo's icon on every window (the tray takes the
// main window's), the desktop's id of the menu entry and the window class it names.
#include "support/temp_env.h"
#include "ui/chart/chart_window.h"
#include "ui/common/application.h"
#include "ui/shell/main_window.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace tesmo;

namespace {

TEST(Application, EveryWindowShowsTesmosIconAtEverySize) {
    test::TempEnv env;
    ui::setUpApplication(*qApp, QStringLiteral("Tesmo"));
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral(TESMO_APP_ID));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Tesmo")); // StartupWMClass
    const QIcon icon = QApplication::windowIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    // The tile fills the middle of even the smallest rendering.
    EXPECT_EQ(icon.pixmap(16).toImage().pixelColor(8, 8).alpha(), 255);

    ui::MainWindow main;
    ui::ChartWindow chart;
    for (const QWidget *w :
         {static_cast<const QWidget *>(&main), static_cast<const QWidget *>(&chart)})
        EXPECT_EQ(w->windowIcon().cacheKey(), icon.cacheKey()) << w->metaObject()->className();
}

} // namespace
