#pragma once
// The tray's quick menu without its window: the entries, their highlight and key navigation,
// and whether the newest trading date shown at its top is current.
#include <array>
#include <ctime>
#include <string>

namespace tesmo::tables {

inline constexpr int kQuickMenuEntries = 10;
// No entry highlighted: what Down from the last entry leads to.
inline constexpr int kNoEntry = kQuickMenuEntries;
// The entry that opens the main window: where Up from no entry leads to.
inline constexpr int kOpenMainEntry = 8;

// Captions of the entries, top to bottom.
inline constexpr std::array<const char *, kQuickMenuEntries> kQuickMenuCaptions = {
    "データ更新",      "ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ", "ﾎﾟｰﾄﾌｫﾘｵ ﾃｰﾌﾞﾙ",
    "ﾎﾟｰﾄﾌｫﾘｵ ﾒﾝﾃﾅﾝｽ", "銘柄検索",     "ｸﾘｯﾌﾟﾎﾞｰﾄﾞからﾁｬｰﾄ表示",
    "シグナル",        "監視条件",     "Tesmoのﾒｲﾝｳｨﾝﾄﾞｳを開く",
    "Tesmoの終了"};
// Tops of the entries in twips; each entry is 300 twips high. A gap sets off the last two.
inline constexpr std::array<int, kQuickMenuEntries> kQuickMenuTops = {300,  600,  900,  1200, 1500,
                                                                      1800, 2100, 2400, 2760, 3120};
// The separator above the last two entries, and the menu's height, in twips.
inline constexpr int kQuickMenuLastGroupLine = 2730;
inline constexpr int kQuickMenuHeight = 3420;
inline constexpr int kQuickMenuEntryHeight = 300;
// The text before the newest date in the label at the top.
inline constexpr const char *kNewestDatePrefix = " 直近日付: ";

// Colours as 0xRRGGBB.
inline constexpr unsigned kHighlightText = 0xFFFFFF;
inline constexpr unsigned kHighlightBack = 0x000080; // navy
inline constexpr unsigned kNormalText = 0x000000;
inline constexpr unsigned kNormalBack = 0xC0C0C0;      // silver
inline constexpr unsigned kCurrentDateBack = 0x0000C0; // blue
inline constexpr unsigned kStaleDateBack = 0x800000;   // dark red

enum class QuickMenuAction {
    DataUpdate,
    RankTable,
    PortfolioTable,
    PortfolioMaintenance,
    StockSearch,
    ClipboardChart,
    Signals,
    WatchRules,
    OpenMainWindow,
    Exit,
    CloseOnly, // kNoEntry (or anything else): the menu only closes
};

QuickMenuAction quickMenuAction(int index);

// Whether the newest date `shownDate` ("yyyymmdd") is current at `now` (local time): today's
// date; before 23:00 on a weekday also the previous trading day (Friday on Monday); at the
// weekend Friday's.
bool newestDateIsCurrent(const std::string &shownDate, const std::tm &now);
bool newestDateIsCurrent(const std::string &shownDate, std::time_t now);

// The highlight of the menu and what the keys do with it.
class QuickMenuCursor {
public:
    enum class KeyResult { None, Close, Click };

    // The highlighted entry, kNoEntry when none is.
    int highlighted() const { return m_highlighted; }
    // Highlights entry `index`; an index outside the entries leaves none highlighted.
    void highlight(int index);
    // A key released while the menu has the focus (Windows key codes: Enter 13, Esc 27, Up 38,
    // Down 40). Click: run the highlighted entry (clickIndex()).
    KeyResult keyReleased(int keyCode);
    int clickIndex() const { return m_highlighted; }

private:
    int m_highlighted = kNoEntry;
};

inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEscape = 27;
inline constexpr int kKeyUp = 38;
inline constexpr int kKeyDown = 40;

} // namespace tesmo::tables
