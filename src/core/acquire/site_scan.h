#pragma once
// The data-site scan of a data update: reads the index page, downloads, unpacks and imports
// every listed day that the database does not hold in full, and shows a new announcement.
#include "core/acquire/import_driver.h"
#include "core/common/ui_port.h"
#include "core/net/http_fetch.h"
#include "core/storage/database.h"

#include <functional>
#include <string>
#include <vector>

namespace tesmo::acquire {

inline constexpr const char *kDailyStartMarker = "<!- tesmo daily data start -->";
inline constexpr const char *kDailyEndMarker = "<!- tesmo daily data end -->";
inline constexpr const char *kAnnounceStartMarker = "<!- tesmo announce start -->";
inline constexpr const char *kAnnounceEndMarker = "<!- tesmo announce end -->";
// Fixed places on the data site, on the host of the index page.
inline constexpr const char *kCounterPath = "/cgi-bin/wcnt315/wwwcount.cgi?gif";
inline constexpr const char *kAnnouncePath = "/prg_msg.html";
// Files the scan keeps in the install folder.
inline constexpr const char *kIndexPageFile = "tmp_tesmo_html.tmp";
inline constexpr const char *kCounterFile = "tmp_tesmo_cnt.gbf";
inline constexpr const char *kArchiveFile = "tmp_data.lzh";

// What the scan returns when the index page cannot be fetched (outside debug mode).
inline constexpr const char *kSiteUnreachable = "データ取得元のホームページに接続できません\r\n"
                                                "しばらくしてからやり直してみるか、あるいは\r\n"
                                                "インターネットへの接続を再確認してみてください。";

// The link texts of the day files on an index page (UTF-8), in page order: the links after
// the chunk of the start marker, up to and including the chunk of the end marker. Raises
// std::runtime_error for a link chunk without a link text.
std::vector<std::string> dayLinks(const std::string &page);

// The announcement between its markers, with "<b>", "</b>" and line breaks dropped and
// "<br>" turned into CR LF. Raises std::runtime_error when the page has no markers.
std::string announcementText(const std::string &page);

// "scheme://host[:port]" of a URL: where the counter and the announcement page live.
std::string siteOrigin(const std::string &url);

// Runs one scan. `db` is the main database, `port` the main window (its caption shows the
// progress), `setLaterDate` refreshes the newest date the window shows and runs after each
// imported day. `state` is reset and then counts the imported days; a day that cannot be
// downloaded, unpacked or decoded is passed over and listed in it with the reason. Returns the
// empty text on success, else a message for the user; days imported before a failure stay.
std::string scanDataSite(storage::Database &db, UiPort &port, net::HttpClient &client,
                         const std::function<void()> &setLaterDate,
                         ImportRunState &state = importRunState());

} // namespace tesmo::acquire
