#include "core/shell/options.h"

#include "core/acquire/jquants_client.h"
#include "core/common/app_state.h"
#include "core/common/dates.h"
#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/shell/day_file_import.h"
#include "core/storage/settings_keys.h"

#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::shell {
namespace {

using storage::readSetting;
using storage::writeSetting;
namespace keys = storage::keys;

constexpr const char *kDefaultTitle = "Tesmo";
constexpr const char *kDropFailurePhrase = "何らかのｴﾗｰが発生しました。詳細:";

std::string profileFolder() {
    const std::string &dir = appState().profile_dir;
    return dir.empty() ? profileDir() : dir;
}

// The portfolio file that the window offers before the user chose one.
std::string defaultPortfile() {
    return joinPath(profileFolder(), "portfolio.mdb");
}

bool ticked(const std::string &value) {
    return !value.empty() && value != "0";
}
std::string tickText(bool on) {
    return on ? "1" : "0";
}

bool messagesOff() {
    try {
        return storage::readSettingInt(keys::nomoremsg) != 0;
    } catch (const std::exception &) {
        return ticked(readSetting(keys::nomoremsg));
    }
}

bool isFile(const std::string &path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

} // namespace

std::optional<long long> rateNumber(const std::string &text) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long long v = std::stoll(text);
    return v >= 1 ? std::optional<long long>(v) : std::nullopt;
}

std::optional<long long> keptDaysNumber(const std::string &text) {
    std::string t = halfWidthAscii(text);
    const size_t first = t.find_first_not_of(' ');
    const size_t last = t.find_last_not_of(' ');
    t = first == std::string::npos ? "" : t.substr(first, last - first + 1);
    if (t.empty() || t.size() > 4 || t.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long long v = std::stoll(t);
    if (v < kMinKeptDays || v > kMaxKeptDays)
        return std::nullopt;
    return v;
}

OptionValues loadOptions() {
    OptionValues v;
    v.mdbpath = readSetting(keys::mdbpath);
    v.compyc = readSetting(keys::compyc);
    v.debugcode = readSetting(keys::debugcode);
    v.web1wait = readSetting(keys::web1wait);
    v.myhpadd4 = readSetting(keys::myhpadd4);
    v.myhpad_data4 = readSetting(keys::myhpad_data4);
    v.maxdtc = readSetting(keys::maxdtc);
    v.browser = readSetting(keys::browser);
    v.autotaskt = ticked(readSetting(keys::autotaskt));
    v.noannounce = ticked(readSetting(keys::noannounce));
    v.nomoremsg = ticked(readSetting(keys::nomoremsg));
    v.realcspd = ticked(readSetting(keys::realcspd));
    v.cpseplt = ticked(readSetting(keys::cpseplt)) ? 1 : 0;
    v.portopt = ticked(readSetting(keys::portopt));
    v.portfile = readSetting(keys::portfile, defaultPortfile());
    v.proxychk = ticked(readSetting(keys::proxychk));
    v.proxysv = readSetting(keys::proxysv);
    v.proxyid = readSetting(keys::proxyid);
    v.proxypd = readSetting(keys::proxypd);
    v.jquants = storage::jquantsSource();
    v.jquantskey = readSetting(keys::jquantskey);
    v.jquantsrate = readSetting(keys::jquantsrate);
    return v;
}

OptionsSaveResult saveOptions(const OptionValues &v, UiPort &port) {
    if (v.portopt && !isFile(v.portfile)) {
        port.message("ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + v.portfile + " が見つかりません。", kDefaultTitle,
                     MsgIcon::Information, MsgButtons::Ok);
        return OptionsSaveResult::PortfolioMissing;
    }
    // Every import prunes to maxdtc + 1 days: a slip of the finger would delete the history.
    const std::optional<long long> keptDays = keptDaysNumber(v.maxdtc);
    if (!keptDays) {
        port.message("[日次データ保管数]には" + std::to_string(kMinKeptDays) + "～" +
                         std::to_string(kMaxKeptDays) + "の数値を入力してください。",
                     kOptionsCaption, MsgIcon::Information, MsgButtons::Ok);
        return OptionsSaveResult::KeptDaysInvalid;
    }
    // The rate paces every request of the data update; a text that is no number would only
    // fail there, after the user has left this window.
    if (v.jquants && !rateNumber(v.jquantsrate)) {
        port.message("[ﾘｸｴｽﾄ数/分]には1以上の数値を入力してください。", kOptionsCaption,
                     MsgIcon::Information, MsgButtons::Ok);
        return OptionsSaveResult::RateInvalid;
    }
    writeSetting(keys::compyc, v.compyc);
    writeSetting(keys::debugcode, v.debugcode);
    writeSetting(keys::web1wait, v.web1wait);
    writeSetting(keys::myhpadd4, v.myhpadd4);
    writeSetting(keys::myhpad_data4, v.myhpad_data4);
    writeSetting(keys::maxdtc, std::to_string(*keptDays));
    writeSetting(keys::browser, v.browser);
    writeSetting(keys::autotaskt, tickText(v.autotaskt));
    writeSetting(keys::noannounce, tickText(v.noannounce));
    writeSetting(keys::cpseplt, v.cpseplt == 0 ? "0" : "1");

    bool changed = v.mdbpath != readSetting(keys::mdbpath);
    writeSetting(keys::mdbpath, v.mdbpath);

    long long storedPortopt = -1; // a stored text that is no number counts as a change
    try {
        storedPortopt = storage::readSettingInt(keys::portopt);
    } catch (const std::exception &) {
    }
    if (storedPortopt != (v.portopt ? 1 : 0) ||
        v.portfile != readSetting(keys::portfile, defaultPortfile()))
        changed = true;
    writeSetting(keys::portopt, tickText(v.portopt));
    writeSetting(keys::portfile, v.portfile);

    writeSetting(keys::proxychk, tickText(v.proxychk));
    writeSetting(keys::proxyid, v.proxyid);
    writeSetting(keys::proxypd, v.proxypd);
    writeSetting(keys::proxysv, v.proxysv);
    writeSetting(keys::nomoremsg, tickText(v.nomoremsg));
    writeSetting(keys::realcspd, tickText(v.realcspd));
    writeSetting(keys::datasource, v.jquants ? "jquants" : "site");
    writeSetting(keys::jquantskey, v.jquantskey);
    writeSetting(keys::jquantsrate, v.jquantsrate);

    if (!changed)
        return OptionsSaveResult::Saved;
    // The running program keeps its database and portfolio until it is started again.
    if (!v.nomoremsg)
        port.message("[DBの参照位置]もしくは[ﾎﾟｰﾄﾌｫﾘｵ]が変更されました。\r\n\r\n"
                     "Tesmoを一度終了してから再度起動してください",
                     kOptionsCaption, MsgIcon::Information, MsgButtons::Ok);
    return OptionsSaveResult::SavedRestartNeeded;
}

bool testJQuantsConnection(const OptionValues &values, UiPort &port) {
    if (port.busy())
        return false;
    acquire::jquants::Settings settings;
    settings.base = readSetting(keys::jquantsapi);
    settings.key = values.jquantskey;
    settings.rate = static_cast<int>(rateNumber(values.jquantsrate).value_or(1));
    port.setBusy(true);
    const acquire::jquants::ConnectionReport report =
        acquire::jquants::testConnection(settings, port, localDate(std::time(nullptr)));
    port.setBusy(false);
    port.message(report.text, "接続テスト", report.ok ? MsgIcon::Information : MsgIcon::Critical,
                 MsgButtons::Ok);
    return report.ok;
}

bool createPortfolioFile(const std::string &path, UiPort &port) {
    const std::string templ = installPath(kPortfolioTemplate);
    if (!isFile(templ)) {
        port.message("ｼｽﾃﾑﾌｧｲﾙ tempportfolio.gb が足りません。\r\nTesmoを再ｲﾝｽﾄｰﾙしてみて下さい。",
                     kDefaultTitle, MsgIcon::Critical, MsgButtons::Ok);
        return false;
    }
    std::error_code ec;
    if (!path.empty() && fs::exists(path, ec)) {
        port.message("ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + path + " は既に存在しています。", kDefaultTitle,
                     MsgIcon::Information, MsgButtons::Ok);
        return false;
    }
    // copy_options::none refuses an existing target, so a file that appeared meanwhile is
    // left alone too.
    if (path.empty() || !fs::copy_file(templ, path, fs::copy_options::none, ec) || ec) {
        port.message("ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + path + " を作成できませんでした。\r\n詳細:" +
                         (ec ? ec.message() : std::string("ファイル名がありません")),
                     kDefaultTitle, MsgIcon::Critical, MsgButtons::Ok);
        return false;
    }
    if (messagesOff())
        port.beep();
    else
        port.message("ﾎﾟｰﾄﾌｫﾘｵﾌｧｲﾙ: " + path + " を作成しました。", kDefaultTitle,
                     MsgIcon::Information, MsgButtons::Ok);
    return true;
}

std::string pickPortfolioFile(UiPort &port) {
    FileDialogRequest request;
    request.title = "外部ﾎﾟｰﾄﾌｫﾘｵ用のMDBﾌｧｲﾙを指定してください";
    request.initialDir = readSetting(keys::def_portdir, profileFolder());
    request.initialName = "*.mdb";
    request.filter = "外部ﾎﾟｰﾄﾌｫﾘｵ用のMDBﾌｧｲﾙ(.mdb) (*.mdb)";
    std::string chosen = port.openFileDialog(request);
    if (chosen.empty())
        return {};
    try {
        writeSetting(keys::def_portdir, fs::path(chosen).parent_path().string());
    } catch (const std::exception &) {
        // the dialog's folder is a convenience; the choice itself still counts
    }
    return chosen;
}

std::string importDroppedFile(storage::Database &db, UiPort &port, const std::string &file,
                              const std::function<void()> &refreshDate) {
    try {
        if (!isFile(file))
            return {};
        const LocalImport done = importLocalDayFile(db, port, file, refreshDate);
        if (!done.unpackFailure.empty()) {
            port.message(done.unpackFailure, kDefaultTitle, MsgIcon::Critical, MsgButtons::Ok);
            return kDropFailurePhrase;
        }
        return done.result;
    } catch (const std::exception &e) {
        return std::string(kDropFailurePhrase) + e.what();
    }
}

std::string importDroppedFiles(storage::Database &db, UiPort &port,
                               const std::vector<std::string> &files,
                               const std::function<void()> &refreshDate) {
    if (port.busy())
        return {};
    port.setBusy(true);
    std::string failure;
    for (const std::string &file : files) {
        failure = importDroppedFile(db, port, file, refreshDate);
        if (!failure.empty())
            break;
    }
    port.setBusy(false);
    port.message(failure.empty() ? std::string("正常終了") : "エラー\r\n" + failure, kDefaultTitle,
                 MsgIcon::None, MsgButtons::Ok);
    return failure;
}

void countOptionsWindow(int delta) {
    long long count = 0;
    try {
        count = storage::readSettingInt(keys::cnt_F_opt);
    } catch (const std::exception &) {
    }
    try {
        writeSetting(keys::cnt_F_opt, std::to_string(count + delta));
    } catch (const std::exception &) {
        // a lost count only makes the closing question ask about one window too many
    }
}

} // namespace tesmo::shell
