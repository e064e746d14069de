#include "core/update/update_start.h"

#include "core/common/app_state.h"
#include "core/common/paths.h"
#include "core/common/process.h"
#include "core/common/text.h"
#include "core/update/version_check.h"

#include <cstdio>
#include <filesystem>
#include <initializer_list>

namespace fs = std::filesystem;

namespace tesmo::update {
namespace {

std::string lines(std::initializer_list<const char *> parts) {
    std::string out;
    bool first = true;
    for (const char *p : parts) {
        if (!first)
            out += "\r\n";
        out += p;
        first = false;
    }
    return out;
}

bool okCancel(UiPort &port, const std::string &text, const std::string &title) {
    return port.message(text, title, MsgIcon::Information, MsgButtons::OkCancel) == MsgAnswer::Ok;
}

// Runs the check with the busy pointer showing.
std::string checkBusy(net::HttpClient &client, UiPort &port, bool completeDb) {
    port.setBusy(true);
    std::string selection = versionCheck(client, port, completeDb);
    port.setBusy(false);
    return selection;
}

UpdateOutcome confirmAndStart(UiPort &port, const std::string &title, const char *firstLine,
                              const std::string &selection) {
    if (!askUpdateNow(port, title, firstLine))
        return UpdateOutcome::Declined;
    if (!confirmDatabaseReplace(port, title, selection))
        return UpdateOutcome::Declined;
    const std::string failure = startUpdater(port);
    if (failure.empty())
        return UpdateOutcome::Started;
    port.message(failure, title, MsgIcon::Critical, MsgButtons::Ok);
    return UpdateOutcome::Failed;
}

} // namespace

bool askUpdateNow(UiPort &port, const std::string &title, const std::string &firstLine) {
    char size[64];
    (void)std::snprintf(size, sizeof size, "%.2f", static_cast<double>(updateSize()) / 1000000.0);
    const std::string text = firstLine + "\r\n" + "ダウンロードするトータルサイズ = 約" + size +
                             "MB" + "\r\n" +
                             lines({"いますぐ、バージョンアップを行いますか？", "",
                                    "後で行う場合は[ｷｬﾝｾﾙ]ボタンをクリックしてください"});
    return okCancel(port, text, title);
}

bool selectionHasDatabase(const std::string &selection) {
    std::string s = lowerAscii(selection);
    const std::string package = kCompleteDatabaseFile;
    for (size_t at = s.find(package); at != std::string::npos; at = s.find(package, at + 1))
        s.replace(at, package.size(), "x");
    return s.find(kDatabaseFile) != std::string::npos;
}

bool confirmDatabaseReplace(UiPort &port, const std::string &title, const std::string &selection) {
    if (!selectionHasDatabase(selection))
        return true;
    return okCancel(
        port,
        lines({"今回のバージョンアップには、DBが含まれています。",
               "もし、ポートフォリオを外部DBにしていない場合は、",
               "ポートフォリオ情報が消えてしまいます。", "バージョンアップを続行しますか？", "",
               "バージョンアップを後で行う場合は[ｷｬﾝｾﾙ]ボタンをクリックしてください",
               "※ポートフォリオを外部DBにする場合は[ｵﾌﾟｼｮﾝ]から操作できます"}),
        title);
}

std::string startUpdater(UiPort &port) {
    std::string step;
    port.setBusy(true);
    try {
        step = "ダウンロードフォルダの準備";
        const std::string folder = pathFor(FileKind::UpdateDownload, kDownloadFolder);
        fs::create_directories(folder);
        // Only the files go: the updater fetches into the folder itself.
        for (const auto &entry : fs::directory_iterator(folder))
            if (!entry.is_directory())
                fs::remove(entry.path());

        step = "tesmo_autoの起動";
        const std::string updater = installPath("tesmo_auto");
        if (startProcess(updater) == kStartFailed)
            throw std::runtime_error("起動できません: " + updater);
        appState().update_exit = true;
        return {};
    } catch (const std::exception &e) {
        port.setBusy(false);
        return "自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟを開始できませんでした(" + step + ")" + "\r\n" + "詳細:" + e.what();
    }
}

UpdateOutcome runProgramUpdate(net::HttpClient &client, UiPort &port, const std::string &title) {
    if (!programFolderWritable()) {
        port.message(kPackageManagerNote, title, MsgIcon::Information, MsgButtons::Ok);
        return UpdateOutcome::SystemManaged;
    }
    const std::string selection = checkBusy(client, port, false);
    if (selection.empty()) {
        port.message(lines({"自動更新できる新しいバージョンアップは", "ありませんでした。"}), title,
                     MsgIcon::Information, MsgButtons::Ok);
        return UpdateOutcome::NothingNew;
    }
    return confirmAndStart(port, title, kProgramUpdateLine, selection);
}

UpdateOutcome runDatabaseRefetch(net::HttpClient &client, UiPort &port, const std::string &title) {
    if (!okCancel(port,
                  lines({"この処理は、TesmoのホームページからDBを再取得する処理です。",
                         // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one line, split
                         "【ご注意】通常の更新を数日おきにでも行っていた場合は、"
                         "この処理は必要ありません。",
                         "通常は１ヶ月ほど、更新をしていなかった場合に使用します。", "",
                         "実行してよろしですか？"}),
                  title))
        return UpdateOutcome::Declined;
    const std::string selection = checkBusy(client, port, true);
    if (selection.empty()) {
        port.message("20分経過した後にもう一度処理してみてください。", title, MsgIcon::Information,
                     MsgButtons::Ok);
        return UpdateOutcome::NothingNew;
    }
    return confirmAndStart(port, title, kDatabaseUpdateLine, selection);
}

} // namespace tesmo::update
