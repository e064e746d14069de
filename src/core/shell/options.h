#pragma once
// The options window's logic: the settings it shows, how OK saves them, the new portfolio file
// made from the template, picking a portfolio file, and the import of files dropped onto
// "DB再取得".
#include "core/common/ui_port.h"
#include "core/storage/database.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tesmo::shell {

// Caption of the options window, the title of its messages.
inline constexpr const char *kOptionsCaption = "ｵﾌﾟｼｮﾝ";
// The empty portfolio database beside the program that new portfolio files are copied from.
inline constexpr const char *kPortfolioTemplate = "tempportfolio.gbf";

// Every value the window edits, as its controls hold it. Texts are kept as typed.
struct OptionValues {
    std::string mdbpath;      // T_wontonton
    std::string compyc;       // T_compyC
    std::string debugcode;    // T_debugcode
    std::string web1wait;     // T_web1sleep
    std::string myhpadd4;     // T_myhpadd
    std::string myhpad_data4; // T_myhpad_data
    std::string maxdtc;       // T_maxDTc
    std::string browser;      // T_browser
    bool autotaskt = false;   // C_autoTaskT
    bool noannounce = false;  // C_noAnnounce
    bool nomoremsg = false;   // C_nomoremsg
    bool realcspd = false;    // Chk_realc_spd
    int cpseplt = 0;          // Op_sep: 0 tab, 1 comma
    bool portopt = false;     // Ch_portOPT
    std::string portfile;     // T_portfile
    bool proxychk = false;    // Ch_proxy
    std::string proxysv;      // T_poxysv
    std::string proxyid;      // T_poxyid
    std::string proxypd;      // T_poxypd
    bool jquants = false;     // Op_source: false データサイト, true J-Quants
    std::string jquantskey;   // T_jqkey (masked)
    std::string jquantsrate;  // T_jqrate
};

// The stored settings with the window's defaults (portfile: the profile folder's
// "portfolio.mdb").
OptionValues loadOptions();

enum class OptionsSaveResult {
    PortfolioMissing, // nothing saved; the window stays open
    RateInvalid,      // J-Quants chosen with a rate that is no whole number from 1 on: the same
    KeptDaysInvalid,  // 日次データ保管数 outside kMinKeptDays to kMaxKeptDays: the same
    Saved,
    SavedRestartNeeded, // the database or the portfolio changed (told unless nomoremsg)
};

// OK: refuses while the portfolio is switched on with a missing file, then saves every value
// in the window's order and tells the user to restart when mdbpath or the portfolio changed.
OptionsSaveResult saveOptions(const OptionValues &values, UiPort &port);

// The J-Quants request rate as typed: a whole number from 1 on, else nothing.
std::optional<long long> rateNumber(const std::string &text);

// The days that the database keeps before the newest one (maxdtc): up to enough for a 200-day
// moving average and more, down to a week.
inline constexpr long long kMinKeptDays = 5;
inline constexpr long long kMaxKeptDays = 500;
// maxdtc as typed (full-width digits and blanks around allowed): a whole number in that range,
// else nothing.
std::optional<long long> keptDaysNumber(const std::string &text);

// "接続テスト": one request to J-Quants with the key and rate the window holds (and the stored
// jquantsapi), under the busy pointer; the answer is shown, titled "接続テスト". Returns
// whether the key works.
bool testJQuantsConnection(const OptionValues &values, UiPort &port);

// "新規作成": copies the template to `path`; never overwrites an existing file. True when the
// file was made.
bool createPortfolioFile(const std::string &path, UiPort &port);

// The portfolio file dialog; saves the chosen file's folder as def_portdir. Returns the chosen
// path, empty when the user cancelled.
std::string pickPortfolioFile(UiPort &port);

// One dropped file: copied (or unpacked from its .lzh) into the install folder and imported as
// a day file, then `refreshDate` runs. Returns the import's message, empty on success and for
// a file that does not exist.
std::string importDroppedFile(storage::Database &db, UiPort &port, const std::string &file,
                              const std::function<void()> &refreshDate);

// Files dropped onto "DB再取得": imported in order until the first one that returns a message,
// under the busy pointer; then "正常終了" or "エラー" with that message. Does nothing while
// busy. Returns the message (empty when every file came in).
std::string importDroppedFiles(storage::Database &db, UiPort &port,
                               const std::vector<std::string> &files,
                               const std::function<void()> &refreshDate);

// The formcnt/F_opt counter: +1 when the window loads, -1 when it unloads.
void countOptionsWindow(int delta);

} // namespace tesmo::shell
