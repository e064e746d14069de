#include "core/shell/startup.h"

#include "core/common/paths.h"
#include "core/common/shell_open.h"
#include "core/storage/connection.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tesmo::shell {

const char *const kAlreadyInTrayQuestion =
    "既にタスクトレイ上に起動しています。\r\n\r\n強制的に起動する場合、以下の[いいえ]を選択してく"
    "ださい";

// A question that the two answers read plainly: はい shows it again at the next start, いいえ
// not any more.
const char *const kPortfolioHint = "現在はポートフォリオが個別になっていません。\r\n"
                                   "\r\n"
                                   "【ポートフォリオを個別のファイルにするには】\r\n"
                                   "\r\n"
                                   "[ｵﾌﾟｼｮﾝ]でｳｨﾝﾄﾞｳを開いて\r\n"
                                   "[ﾎﾟｰﾄﾌｫﾘｵを外部DBにする]にチェックを入れます。\r\n"
                                   "[新規作成]ﾎﾞﾀﾝをクリックします。\r\n"
                                   "Tesmoのすべてのウィンドウを閉じて\r\n"
                                   "再度Tesmoを呼び出します。\r\n"
                                   "\r\n"
                                   "次回の起動時にも、この案内を表示しますか？";

long long heartbeatStamp(std::time_t now, bool lessThree) {
    std::tm t{};
    localtime_r(&now, &t);
    const long long mmdd = (t.tm_mon + 1) * 100 + t.tm_mday;
    return mmdd * 100000 + t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec - (lessThree ? 3 : 0);
}

GuardVerdict singleInstanceGuard(long long stamp, long long becon, long long taskttime) {
    if (becon == 0 || !(stamp < becon))
        return GuardVerdict::Start;
    return stamp < taskttime ? GuardVerdict::AskTray : GuardVerdict::ActivateOther;
}

GuardVerdict singleInstanceGuard(std::time_t now) {
    long long becon = 0;
    long long tray = 0;
    try {
        becon = storage::readSettingInt(storage::keys::becon);
        tray = storage::readSettingInt(storage::keys::taskttime);
    } catch (const std::exception &) {
        // a damaged stamp says nothing about a running instance
    }
    return singleInstanceGuard(heartbeatStamp(now, true), becon, tray);
}

std::string choosePortfolioPath(UiPort &port, const std::string &title) {
    using namespace storage;
    if (readSetting(keys::portopt) != "0")
        return readSetting(keys::portfile);
    if (readSetting(keys::usermdbconfirm) == "0") {
        if (port.message(kPortfolioHint, title, MsgIcon::Information, MsgButtons::YesNo) ==
            MsgAnswer::No)
            writeSetting(keys::usermdbconfirm, "1");
    }
    return {};
}

std::string startupDesktopDir() {
    std::error_code ec;
    std::string dir = profileDir();
    const std::string japanese = joinPath(dir, "デスクトップ");
    if (fs::is_directory(japanese, ec))
        dir = japanese;
    else if (const std::string xdg = desktopDir(); fs::is_directory(xdg, ec))
        dir = xdg;
    if (!fs::is_directory(dir, ec))
        dir = installDir();
    return dir;
}

std::string startupProfileDir() {
    std::error_code ec;
    const std::string dir = profileDir();
    return fs::is_directory(dir, ec) ? dir : installDir();
}

long long userIdNumber() {
    std::mt19937 gen(static_cast<unsigned>(std::time(nullptr)) ^ std::random_device{}());
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const long long drawn = static_cast<long long>(uniform(gen) * 250000 + 1);
    const std::string stored = storage::readSetting(storage::keys::useridno, std::to_string(drawn));
    long long id = drawn;
    try {
        id = std::stoll(stored);
    } catch (const std::exception &) {
        // an unreadable number is drawn again
    }
    if (id < 1)
        id = drawn;
    storage::writeSetting(storage::keys::useridno, std::to_string(id));
    return id;
}

void attachExternalPortfolio(storage::Database &db, UiPort &port, const std::string &portfile,
                             const std::string &linkName, const std::string &title) {
    if (firstMatchingFile(portfile).empty())
        throw std::runtime_error("ポートフォリオファイルが見つかりません: " + portfile);
    const bool existed = storage::attachPortfolioLink(db, linkName, portfile);
    if (!existed) {
        const long long linked = db.scalar("select count(*) from " + linkName).toInt();
        const long long local = db.scalar("select count(*) from T_PORT").toInt();
        if (linked == 0 && local != 0 &&
            port.message("個別ポートフォリオの作成が完了しました。\r\n\r\n登録されていたポートフォ"
                         "リオを\r\n個別側へコピーしますか？",
                         title, MsgIcon::Exclamation, MsgButtons::OkCancel) == MsgAnswer::Ok)
            db.execute("Insert into " + linkName + " select * from T_PORT ;");
    }
    db.openRecordset("select count(*) from " + linkName);
}

std::string connectionFailureText(const std::string &description) {
    return storage::debugMode()
               ? "DB接続ｴﾗｰ 詳細:" + description
               : std::string("DBに接続できません。ｵﾌﾟｼｮﾝの[DBの参照位置]を確認してください");
}

std::string portfolioFailureText(const std::string &description) {
    return storage::debugMode() ? "ﾕｰｻﾞﾎﾟｰﾄﾌｫﾘｵ接続ｴﾗｰ 詳細:" + description
                                : std::string("[ﾕｰｻﾞﾎﾟｰﾄﾌｫﾘｵ]の処理ができません。ｵﾌﾟｼｮﾝの[ﾎﾟｰﾄ"
                                              "ﾌｫﾘｵ]を確認してください");
}

} // namespace tesmo::shell
