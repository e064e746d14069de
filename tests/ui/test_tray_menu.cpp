// The quick menu on the offscreen platform: its place, its colours, its keys and what its
// entries do to the main window.
#include "ui/shell/tray_menu.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>

#include <gtest/gtest.h>

using namespace tesmo;
using namespace tesmo::ui;

namespace {

std::time_t localTime(int y, int m, int d, int h, int min) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = min;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

QColor textOf(QLabel *l) {
    return l->palette().color(QPalette::WindowText);
}
QColor backOf(QLabel *l) {
    return l->palette().color(QPalette::Window);
}

void releaseKey(QWidget *w, Qt::Key key) {
    QKeyEvent event(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        main.setWindowTitle("Tesmo");
        hooks.dataUpdate = [this] {
            ++updates;
            visibleDuringUpdate = main.isVisible();
            // A menu popped up from the tray meanwhile closes the old one: not under its work.
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *menu = qobject_cast<TrayMenu *>(w))
                    menuClosedDuringUpdate = menuClosedDuringUpdate || menu->close();
        };
        hooks.clipChart = [this] { ++charts; };
        hooks.busy = [this] { return busy; };
        hooks.newestDate = [] { return QStringLiteral("20240108"); };
        hooks.clock = [this] { return now; };
    }
    QWidget main;
    QuickMenuHooks hooks;
    std::time_t now = localTime(2024, 1, 9, 22, 59);
    bool busy = false;
    bool visibleDuringUpdate = false;
    bool menuClosedDuringUpdate = false;
    int updates = 0;
    int charts = 0;
};

TEST_F(TrayMenuTest, OpensAtTheBottomRightWithTheLastEntryHighlighted) {
    TrayResidence tray(&main, hooks);
    QPointer<TrayMenu> menu = tray.popUp();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(menu->isVisible());
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(menu->frameGeometry().bottomRight(), work.bottomRight());
    EXPECT_EQ(menu->highlighted(), 9);
    EXPECT_EQ(textOf(menu->entry(9)), QColor(255, 255, 255));
    EXPECT_EQ(backOf(menu->entry(9)), QColor(0, 0, 128));
    EXPECT_EQ(textOf(menu->entry(0)), QColor(0, 0, 0));
    EXPECT_EQ(backOf(menu->entry(0)), QColor(192, 192, 192));
    EXPECT_EQ(menu->entry(8)->text(), QStringLiteral("Tesmoのﾒｲﾝｳｨﾝﾄﾞｳを開く"));
    // Every entry lies inside the menu.
    EXPECT_LE(menu->entry(9)->geometry().bottom(), menu->height());
    EXPECT_EQ(menu->dateLabel()->text(), QStringLiteral(" 直近日付: 20240108"));
    EXPECT_EQ(backOf(menu->dateLabel()), QColor(0, 0, 192)); // Tuesday 22:59: still current

    // A second pop-up replaces the first menu.
    QPointer<TrayMenu> second = tray.popUp();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(menu);
    ASSERT_TRUE(second);
    second->close();
}

TEST_F(TrayMenuTest, DateTurnsDarkRedAtElevenOnAWeekday) {
    now = localTime(2024, 1, 9, 23, 0);
    TrayMenu menu(&main, hooks, {});
    EXPECT_EQ(backOf(menu.dateLabel()), QColor(128, 0, 0));
}

TEST_F(TrayMenuTest, DownFromTheLastEntryThenEnterClosesAndUpFindsTheMainWindowEntry) {
    TrayResidence tray(&main, hooks);
    QPointer<TrayMenu> menu = tray.popUp();
    releaseKey(menu, Qt::Key_Down);
    EXPECT_EQ(menu->highlighted(), tables::kNoEntry);
    for (int i = 0; i < tables::kQuickMenuEntries; ++i)
        EXPECT_EQ(textOf(menu->entry(i)), QColor(0, 0, 0)) << i;
    releaseKey(menu, Qt::Key_Return);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(menu);
    EXPECT_EQ(updates + charts, 0);

    menu = tray.popUp();
    menu->highlight(tables::kNoEntry);
    releaseKey(menu, Qt::Key_Up);
    EXPECT_EQ(menu->highlighted(), tables::kOpenMainEntry);
    EXPECT_EQ(backOf(menu->entry(tables::kOpenMainEntry)), QColor(0, 0, 128));
    releaseKey(menu, Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(menu);
}

TEST_F(TrayMenuTest, EntriesActOnTheMainWindowUnlessItIsBusy) {
    int removed = 0;
    auto run = [&](int index) {
        QPointer<TrayMenu> menu = new TrayMenu(&main, hooks, [&] { ++removed; });
        menu->show();
        menu->activateEntry(index);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(menu) << "entry " << index << " leaves the menu open";
    };
    run(0); // data update: the main window shows meanwhile and hides again
    EXPECT_EQ(updates, 1);
    EXPECT_TRUE(visibleDuringUpdate);
    EXPECT_FALSE(menuClosedDuringUpdate);
    EXPECT_FALSE(main.isVisible());
    run(5);
    EXPECT_EQ(charts, 1);

    busy = true;
    run(0);
    run(8);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(removed, 0);
    EXPECT_FALSE(main.isVisible());
    // Exit while busy is not dropped: the main window is asked to close (and refuses with its
    // note while it works); the tray icon stays.
    struct CloseRequests : QObject {
        int count = 0;
        bool eventFilter(QObject *, QEvent *e) override {
            count += e->type() == QEvent::Close;
            return false;
        }
    } closeRequests;
    main.installEventFilter(&closeRequests);
    run(9);
    EXPECT_EQ(closeRequests.count, 1);
    EXPECT_EQ(removed, 0);
    main.removeEventFilter(&closeRequests);

    busy = false;
    run(8); // open the main window: the tray icon goes
    EXPECT_EQ(removed, 1);
    EXPECT_TRUE(main.isVisible());
    run(9); // exit: the main window closes
    EXPECT_EQ(removed, 2);
    EXPECT_FALSE(main.isVisible());
    run(tables::kNoEntry);
    EXPECT_EQ(updates, 1);
}

TEST_F(TrayMenuTest, TrayIconOnlyWhereTheDesktopHasATray) {
    TrayResidence tray(&main, hooks);
    const int added = tray.add();
    EXPECT_EQ(added, QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0);
    EXPECT_EQ(tray.isAdded(), added == 1);
    tray.remove();
    EXPECT_FALSE(tray.isAdded());
}

} // namespace
