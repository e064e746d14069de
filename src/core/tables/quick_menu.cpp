#include "core/tables/quick_menu.h"

#include <cstdio>

namespace tesmo::tables {
namespace {

// The date `days` before `day` as "yyyymmdd"; mktime carries over months and years.
std::string daysBefore(const std::tm &day, int days) {
    std::tm t{};
    t.tm_year = day.tm_year;
    t.tm_mon = day.tm_mon;
    t.tm_mday = day.tm_mday - days;
    t.tm_hour = 12; // away from midnight, so that a change of summer time cannot move the day
    t.tm_isdst = -1;
    (void)std::mktime(&t); // only normalises the fields: the day before the 1st, ...
    char text[48];
    (void)std::snprintf(text, sizeof text, "%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                        t.tm_mday);
    return text;
}

} // namespace

QuickMenuAction quickMenuAction(int index) {
    if (index < 0 || index >= kQuickMenuEntries)
        return QuickMenuAction::CloseOnly;
    return static_cast<QuickMenuAction>(index);
}

bool newestDateIsCurrent(const std::string &shownDate, const std::tm &now) {
    const int weekday = now.tm_wday == 0 ? 7 : now.tm_wday; // Monday 1 .. Sunday 7
    // At the weekend the newest possible date is Friday's.
    const std::string today = daysBefore(now, weekday >= 6 ? weekday - 5 : 0);
    if (today == shownDate)
        return true;
    // Until 23:00 on a weekday today's file may not be out yet.
    if (weekday <= 5 && now.tm_hour < 23)
        return daysBefore(now, weekday == 1 ? 3 : 1) == shownDate;
    return false;
}

bool newestDateIsCurrent(const std::string &shownDate, std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    return newestDateIsCurrent(shownDate, local);
}

void QuickMenuCursor::highlight(int index) {
    m_highlighted = index >= 0 && index < kQuickMenuEntries ? index : kNoEntry;
}

QuickMenuCursor::KeyResult QuickMenuCursor::keyReleased(int keyCode) {
    const bool none = m_highlighted == kNoEntry;
    switch (keyCode) {
    case kKeyEnter:
        return none ? KeyResult::Close : KeyResult::Click;
    case kKeyEscape:
        return KeyResult::Close;
    case kKeyUp:
        highlight(none ? kOpenMainEntry : (m_highlighted > 0 ? m_highlighted - 1 : 0));
        return KeyResult::None;
    case kKeyDown:
        // From the last entry the highlight leaves the list.
        highlight(none ? 0 : m_highlighted + 1);
        return KeyResult::None;
    default:
        return KeyResult::None;
    }
}

} // namespace tesmo::tables
