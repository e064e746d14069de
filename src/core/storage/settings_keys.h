#pragma once
// Every settings key the programs use, with its section and default: the single place where
// these literals live. Readers go through readSetting() instead of repeating them.
#include <string>
#include <vector>

namespace tesmo::storage {

enum class SettingsApp { Main, UpdaterState, UpdaterHttp };

enum class DefaultKind {
    Text,         // `text` as it stands
    DatabaseFile, // the folder of the default database (FileKind::Database) joined with `text`
    InstallDir,   // the install folder
    ProfileDir,   // the user's profile folder
    DesktopDir,   // the user's desktop folder
    DataSite,     // the data site's base URL (deployment setting) followed by `text`
    UpdateSite,   // the update site's base URL
    RealtimeSite, // outside pages of the chart window
    InfoSite,
    QuoteSite,
    Caller, // only the reader knows it (a window's current geometry, a random number)
};

struct SettingKey {
    SettingsApp app;
    const char *section;
    const char *key;
    DefaultKind kind;
    const char *text;
};

namespace keys {
using K = SettingKey;
using D = DefaultKind;
constexpr SettingsApp M = SettingsApp::Main;
// section option
inline constexpr K nomoremsg{M, "option", "nomoremsg", D::Text, "0"};
inline constexpr K autotaskt{M, "option", "autotaskt", D::Text, "0"};
inline constexpr K portopt{M, "option", "portopt", D::Text, "0"};
inline constexpr K portfile{M, "option", "portfile", D::Text, ""};
inline constexpr K def_portdir{M, "option", "def_portdir", D::ProfileDir, ""};
inline constexpr K useridno{M, "option", "useridno", D::Caller, ""};
inline constexpr K tesmodatadir{M, "option", "tesmodatadir", D::InstallDir, ""};
inline constexpr K compyc{M, "option", "compyc", D::Text, "3000"};
inline constexpr K maxdtc{M, "option", "maxdtc", D::Text, "40"};
inline constexpr K myhpadd4{M, "option", "myhpadd4", D::DataSite, "/cgi-bin/freedata/index.cgi"};
inline constexpr K myhpad_data4{M, "option", "myhpad_data4", D::DataSite, "/freedata/"};
inline constexpr K noannounce{M, "option", "noannounce", D::Text, "0"};
inline constexpr K announcemsg{M, "option", "announcemsg", D::Text, ""};
inline constexpr K browser{M, "option", "browser", D::Text, ""};
inline constexpr K realcspd{M, "option", "realcspd", D::Text, "0"};
inline constexpr K cpseplt{M, "option", "cpseplt", D::Text, "0"};
inline constexpr K savecsvdir{M, "option", "savecsvdir", D::DesktopDir, ""};
inline constexpr K retimes{M, "option", "retimes", D::Text, "2"};
// "15" in the file fetch; the page fetch passes its own "60".
inline constexpr K resec{M, "option", "resec", D::Text, "15"};
inline constexpr K tosec{M, "option", "tosec", D::Text, "60"};
inline constexpr K proxychk{M, "option", "proxychk", D::Text, "0"};
inline constexpr K proxysv{M, "option", "proxysv", D::Text, ""};
inline constexpr K proxyid{M, "option", "proxyid", D::Text, ""};
inline constexpr K proxypd{M, "option", "proxypd", D::Text, ""};
// The source of the data update: "site" (the data site) or "jquants" (J-Quants API V2), the
// API's base URL, its key and the requests per minute the client allows itself.
inline constexpr K datasource{M, "option", "datasource", D::Text, "site"};
inline constexpr K jquantsapi{M, "option", "jquantsapi", D::Text, "https://api.jquants.com/v2"};
inline constexpr K jquantskey{M, "option", "jquantskey", D::Text, ""};
inline constexpr K jquantsrate{M, "option", "jquantsrate", D::Text, "5"};
// Deployment overrides of this platform: where the update site and the outside pages are.
inline constexpr K updatesite{M, "option", "updatesite", D::UpdateSite, ""};
inline constexpr K realtmsite{M, "option", "realtmsite", D::RealtimeSite, ""};
inline constexpr K infosite{M, "option", "infosite", D::InfoSite, ""};
inline constexpr K quotesite{M, "option", "quotesite", D::QuoteSite, ""};
// section tesmo
inline constexpr K mdbpath{M, "tesmo", "mdbpath", D::DatabaseFile, "tesmo.mdb"};
inline constexpr K DB_SIZE{M, "tesmo", "DB_SIZE", D::Text, "25000000"};
inline constexpr K debugcode{M, "tesmo", "debugcode", D::Text, ""};
inline constexpr K web1wait{M, "tesmo", "web1wait", D::Text, "6"};
inline constexpr K first{M, "tesmo", "first", D::Text, "0"};
inline constexpr K usermdbconfirm{M, "tesmo", "usermdbconfirm", D::Text, "0"};
// section formwork
inline constexpr K becon{M, "formwork", "becon", D::Text, "0"};
inline constexpr K taskttime{M, "formwork", "taskttime", D::Text, "0"};
inline constexpr K mainf_top{M, "formwork", "mainf_top", D::Caller, ""};
inline constexpr K mainf_left{M, "formwork", "mainf_left", D::Caller, ""};
inline constexpr K form2_height{M, "formwork", "form2_height", D::Text, "6135"};
inline constexpr K form2_width{M, "formwork", "form2_width", D::Text, "8730"};
inline constexpr K form2_marker{M, "formwork", "form2_marker", D::Text, "1"};
// The chart's style, "line" or "candle"; unset: candles while J-Quants is the source (it sends
// the open, high and low), lines while the data site is. Its moving averages in days
// ("5,25,75", empty: none) and the colours of its candles: "color" (陽線 red, 陰線 blue) or
// "print" (陽線 white, 陰線 black).
inline constexpr K form2_style{M, "formwork", "form2_style", D::Caller, ""};
inline constexpr K form2_ma{M, "formwork", "form2_ma", D::Text, "5,25,75"};
inline constexpr K form2_candlecolor{M, "formwork", "form2_candlecolor", D::Text, "color"};
inline constexpr K ranktb_height{M, "formwork", "ranktb_height", D::Caller, ""};
inline constexpr K ranktb_width{M, "formwork", "ranktb_width", D::Caller, ""};
inline constexpr K ranktb_top{M, "formwork", "ranktb_top", D::Caller, ""};
inline constexpr K ranktb_left{M, "formwork", "ranktb_left", D::Caller, ""};
inline constexpr K F_ranktbsorta{M, "formwork", "F_ranktbsorta", D::Text, "7"};
inline constexpr K F_ranktbsortb{M, "formwork", "F_ranktbsortb", D::Text, "-1"};
inline constexpr K porttb_height{M, "formwork", "porttb_height", D::Caller, ""};
inline constexpr K porttb_width{M, "formwork", "porttb_width", D::Caller, ""};
inline constexpr K porttb_top{M, "formwork", "porttb_top", D::Caller, ""};
inline constexpr K porttb_left{M, "formwork", "porttb_left", D::Caller, ""};
inline constexpr K F_porttbsorta{M, "formwork", "F_porttbsorta", D::Text, "1"};
inline constexpr K F_porttbsortb{M, "formwork", "F_porttbsortb", D::Text, "-1"};
inline constexpr K F_porttboptno{M, "formwork", "F_porttboptno", D::Text, "0"};
inline constexpr K portm_height{M, "formwork", "portm_height", D::Caller, ""};
inline constexpr K portm_width{M, "formwork", "portm_width", D::Caller, ""};
inline constexpr K portm_top{M, "formwork", "portm_top", D::Caller, ""};
inline constexpr K portm_left{M, "formwork", "portm_left", D::Caller, ""};
inline constexpr K F_portmsorta{M, "formwork", "F_portmsorta", D::Text, "1"};
inline constexpr K F_portmsortb{M, "formwork", "F_portmsortb", D::Text, "-1"};
inline constexpr K signal_height{M, "formwork", "signal_height", D::Caller, ""};
inline constexpr K signal_width{M, "formwork", "signal_width", D::Caller, ""};
inline constexpr K signal_top{M, "formwork", "signal_top", D::Caller, ""};
inline constexpr K signal_left{M, "formwork", "signal_left", D::Caller, ""};
// section formcnt: open windows per class
inline constexpr K cnt_F_opt{M, "formcnt", "F_opt", D::Text, "0"};
inline constexpr K cnt_F_portM{M, "formcnt", "F_portM", D::Text, "0"};
inline constexpr K cnt_F_porttb{M, "formcnt", "F_porttb", D::Text, "0"};
inline constexpr K cnt_F_ranktb{M, "formcnt", "F_ranktb", D::Text, "0"};
inline constexpr K cnt_Form2{M, "formcnt", "Form2", D::Text, "0"};
inline constexpr K cnt_Form3{M, "formcnt", "Form3", D::Text, "0"};
inline constexpr K cnt_F_signal{M, "formcnt", "F_signal", D::Text, "0"};
// updater state: the serial of the release installed last (older releases are refused) and
// the SHA-256 of its signed list (another list with the same serial is refused)
constexpr SettingsApp U = SettingsApp::UpdaterState;
inline constexpr K release_serial{U, "release", "serial", D::Text, "0"};
inline constexpr K release_digest{U, "release", "digest", D::Text, ""};
// updater's own HTTP settings (nothing writes them)
constexpr SettingsApp H = SettingsApp::UpdaterHttp;
inline constexpr K auto_retimes{H, "option", "retimes", D::Text, "2"};
inline constexpr K auto_resec{H, "option", "resec", D::Text, "15"};
inline constexpr K auto_proxy{H, "option", "proxy", D::Text, "0"};
inline constexpr K auto_setproxy{H, "option", "setproxy", D::Text, "<input proxy server name>"};
inline constexpr K auto_tosec{H, "option", "tosec", D::Text, "60"};
inline constexpr K auto_userid{H, "option", "userid", D::Text, ""};
inline constexpr K auto_userps{H, "option", "userps", D::Text, ""};
} // namespace keys

// Sections of the updater state (application updaterStateAppName()); their keys are file
// names from the update site's module table.
inline constexpr const char *kTrgDtSection = "trg_dt";
inline constexpr const char *kTrgSzSection = "trg_sz";
inline constexpr const char *kWebcheckSection = "webcheck";
inline constexpr const char *kTrgSzDefault = "999";
inline constexpr const char *kWebcheckDefault = "1080505";

// The debug code that switches on the technical messages and debug displays.
inline constexpr const char *kDebugCode = "mintcloudrays";

std::string appNameOf(SettingsApp app);
// The key's default as this user and this installation see it ("" for DefaultKind::Caller).
std::string defaultOf(const SettingKey &key);
std::string readSetting(const SettingKey &key);
std::string readSetting(const SettingKey &key, const std::string &callerDefault);
// The value as a whole number; raises SettingsError when it is not one.
long long readSettingInt(const SettingKey &key);
void writeSetting(const SettingKey &key, const std::string &value);
bool debugMode();
// The data update reads J-Quants API V2 instead of the data site (datasource "jquants").
bool jquantsSource();

// Every key above, for lookups by name (tesmoctl setting).
const std::vector<const SettingKey *> &allSettingKeys();
const SettingKey *findSettingKey(SettingsApp app, const std::string &section,
                                 const std::string &key);

} // namespace tesmo::storage
