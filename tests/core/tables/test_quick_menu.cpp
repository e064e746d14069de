// The quick menu's date colour with an injected clock, and its key navigation.
#include "core/tables/quick_menu.h"

#include <gtest/gtest.h>

using namespace tesmo::tables;

namespace {

std::tm at(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    std::mktime(&t); // fills in the weekday
    return t;
}

TEST(QuickMenu, NewestDateIsCurrentUntilTheNextFileIsDue) {
    struct Case {
        const char *when;
        std::tm now;
        const char *shown;
        bool current;
    } cases[] = {
        {"Saturday 10:00, Friday", at(2024, 1, 6, 10, 0), "20240105", true},
        {"Sunday 23:30, Friday", at(2024, 1, 7, 23, 30), "20240105", true},
        {"Saturday 10:00, Thursday", at(2024, 1, 6, 10, 0), "20240104", false},
        {"Monday 09:00, Friday", at(2024, 1, 8, 9, 0), "20240105", true},
        {"Monday 23:30, Friday", at(2024, 1, 8, 23, 30), "20240105", false},
        {"Monday 23:30, Monday", at(2024, 1, 8, 23, 30), "20240108", true},
        {"Tuesday 22:59, Monday", at(2024, 1, 9, 22, 59), "20240108", true},
        {"Tuesday 23:00, Monday", at(2024, 1, 9, 23, 0), "20240108", false},
        {"Tuesday 10:00, Friday", at(2024, 1, 9, 10, 0), "20240105", false},
        {"Monday 1 April, Friday 29 March", at(2024, 4, 1, 8, 0), "20240329", true},
        {"Wednesday 1 January, 31 December", at(2025, 1, 1, 12, 0), "20241231", true},
        {"no date yet", at(2024, 1, 9, 10, 0), "", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(newestDateIsCurrent(c.shown, c.now), c.current) << c.when;
}

TEST(QuickMenu, KeysMoveTheHighlightAndLeaveTheListBelowTheLastEntry) {
    QuickMenuCursor cursor;
    cursor.highlight(kQuickMenuEntries - 1); // as the menu opens
    EXPECT_EQ(cursor.keyReleased(kKeyDown), QuickMenuCursor::KeyResult::None);
    EXPECT_EQ(cursor.highlighted(), kNoEntry);
    EXPECT_EQ(cursor.keyReleased(kKeyEnter), QuickMenuCursor::KeyResult::Close);
    EXPECT_EQ(cursor.keyReleased(kKeyUp), QuickMenuCursor::KeyResult::None);
    EXPECT_EQ(cursor.highlighted(), kOpenMainEntry);

    cursor.highlight(kNoEntry);
    cursor.keyReleased(kKeyDown);
    EXPECT_EQ(cursor.highlighted(), 0);
    cursor.keyReleased(kKeyUp);
    EXPECT_EQ(cursor.highlighted(), 0);
    cursor.keyReleased(kKeyDown);
    cursor.keyReleased(kKeyDown);
    EXPECT_EQ(cursor.keyReleased(kKeyEnter), QuickMenuCursor::KeyResult::Click);
    EXPECT_EQ(cursor.clickIndex(), 2);
    EXPECT_EQ(cursor.keyReleased(65), QuickMenuCursor::KeyResult::None);
    EXPECT_EQ(cursor.highlighted(), 2);
    EXPECT_EQ(cursor.keyReleased(kKeyEscape), QuickMenuCursor::KeyResult::Close);

    cursor.highlight(-1);
    EXPECT_EQ(cursor.highlighted(), kNoEntry);
    cursor.highlight(kQuickMenuEntries);
    EXPECT_EQ(cursor.highlighted(), kNoEntry);
}

TEST(QuickMenu, EntriesMapToTheirActions) {
    EXPECT_EQ(quickMenuAction(0), QuickMenuAction::DataUpdate);
    EXPECT_EQ(quickMenuAction(5), QuickMenuAction::ClipboardChart);
    EXPECT_EQ(quickMenuAction(6), QuickMenuAction::Signals);
    EXPECT_EQ(quickMenuAction(7), QuickMenuAction::WatchRules);
    EXPECT_EQ(quickMenuAction(kOpenMainEntry), QuickMenuAction::OpenMainWindow);
    EXPECT_EQ(quickMenuAction(9), QuickMenuAction::Exit);
    EXPECT_EQ(quickMenuAction(kNoEntry), QuickMenuAction::CloseOnly);
    EXPECT_EQ(quickMenuAction(-1), QuickMenuAction::CloseOnly);
}

} // namespace
