#include "shell/data_update.h"

#include "acquire/import_driver.h"
#include "common/dates.h"
#include "common/shell_open.h"
#include "shell/day_file_import.h"
#include "storage/settings_keys.h"
#include "storage/update_lock.h"
#include "update/update_start.h"

namespace tesmo::shell {
namespace {

bool messagesOff() {
    try {
        return storage::readSettingInt(storage::keys::nomoremsg) != 0;
    } catch (const std::exception &) {
        return storage::readSetting(storage::keys::nomoremsg) != "0";
    }
}

const char *const kUpdateCaption = "データ更新";

} // namespace

bool dataIsStale(std::optional<long long> newestDate, std::time_t now) {
    if (!newestDate)
        return false; // no data yet: the normal update fills the database
    return dayOrdinal(localDate(now)) - dayOrdinal(*newestDate) > 30;
}

std::string importedReport(int importedCount, const std::string &importedList,
                           const std::vector<acquire::SkippedDay> &skipped) {
    if (skipped.empty())
        return importedCount == 0 ? "ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。"
                                  : "正常終了\r\n\r\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n" + importedList;
    std::string text;
    if (importedCount != 0)
        text = "[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n" + importedList + "\r\n";
    for (const acquire::SkippedDay &s : skipped)
        text += "取得できなかった日: " + std::to_string(s.day) + " (" + s.reason + ")\r\n";
    return text;
}

DataUpdateResult Command1_Click_sub(UiPort &port, const DataUpdateActions &a,
                                    const std::string &title, std::time_t now) {
    if (port.busy())
        return DataUpdateResult::Busy;
    try {
        // 1. Stale data: offer a complete database instead. Not with J-Quants: the catch-up
        // fills any gap itself, and a plan twelve weeks behind is always "stale".
        const bool jquants = storage::jquantsSource();
        const std::optional<long long> newest = a.refreshNewestDate();
        if (!jquants && dataIsStale(newest, now)) {
            if (port.message("30日間以上データが更新されていません\r\n\r\nTesmoのﾎｰﾑﾍﾟｰｼﾞから、デー"
                             "タベースをダウンロードする事を\r\nをお勧めいたします。\r\n今すぐ、"
                             "ダウンロードを実行しますか？\r\n【ご注意】この処理は約20MBのデータを"
                             "ダウンロードする為時間が掛かります",
                             kUpdateCaption, MsgIcon::Information,
                             MsgButtons::OkCancel) != MsgAnswer::Ok)
                return DataUpdateResult::Cancelled;
            a.versionCheck(true);
            throwIfStopRequested(port);
            port.setBusy(true);
            a.startUpdaterAndExit();
            return DataUpdateResult::UpdaterStarted;
        }
        // 2. Confirmation.
        const bool quiet = messagesOff();
        if (!quiet &&
            port.message(std::string(jquants ? "この処理はJ-Quants APIにアクセスして"
                                             : "この処理はTesmoのﾎｰﾑﾍﾟｰｼﾞにアクセスして") +
                             "\r\n未更新のデータをすべて取込みます。\r\n実行してよろしいですか？",
                         kUpdateCaption, MsgIcon::Information,
                         MsgButtons::OkCancel) != MsgAnswer::Ok)
            return DataUpdateResult::Cancelled;
        // 3.-7. One data update at a time per database, whichever program runs it; the lock is
        // taken after the question, so that an unanswered question never blocks a script.
        std::optional<storage::UpdateLock> lock;
        if (a.databaseFile) {
            try {
                lock.emplace(a.databaseFile());
            } catch (const storage::UpdateRunning &refused) {
                port.message(refused.what(), kUpdateCaption, MsgIcon::Exclamation, MsgButtons::Ok);
                return DataUpdateResult::Refused;
            }
        }
        port.setBusy(true);
        a.closeAllForms(true);
        a.compactIfGrown();
        const std::string scan = a.scanDataSite();
        lock.reset();
        // The program is ending: what was imported stays, nothing more is fetched or shown.
        throwIfStopRequested(port);
        const std::string versions = a.versionCheck(false);
        port.setBusy(false);
        // 8. The scan's result.
        const std::vector<acquire::SkippedDay> skipped =
            a.skippedDays ? a.skippedDays() : std::vector<acquire::SkippedDay>();
        if (!scan.empty()) {
            if (a.isMinimized && a.isMinimized() && a.restoreWindow)
                a.restoreWindow();
            port.message(scan, "Tesmo", MsgIcon::Critical, MsgButtons::Ok);
        } else if (!skipped.empty()) {
            // Days that did not come in are no success: told whatever nomoremsg says.
            port.message(importedReport(a.importedCount(), a.importedList(), skipped), "Tesmo",
                         MsgIcon::Exclamation, MsgButtons::Ok);
        } else if (!quiet) {
            std::string report = importedReport(a.importedCount(), a.importedList());
            if (const std::string note = a.runNote ? a.runNote() : std::string(); !note.empty())
                report += (a.importedCount() ? "\r\n" : "\r\n\r\n") + note;
            port.message(report, "Tesmo", MsgIcon::Information, MsgButtons::Ok);
        } else {
            port.beep();
        }
        // 9.-11. The program update offer.
        if (versions.empty())
            return DataUpdateResult::Done;
        if (!update::askUpdateNow(port, title, update::kProgramUpdateLine) ||
            !update::confirmDatabaseReplace(port, title, versions))
            return DataUpdateResult::Done;
        // 12.
        port.setBusy(true);
        a.startUpdaterAndExit();
        return DataUpdateResult::UpdaterStarted;
    } catch (const StopRequested &) {
        port.setBusy(false);
        return DataUpdateResult::Stopped;
    } catch (const std::exception &e) {
        // Whatever a part let through is shown, and the window is usable again.
        port.setBusy(false);
        port.message(std::string("データ更新中にｴﾗｰが発生しました\r\n詳細:") + e.what(), "Tesmo",
                     MsgIcon::Critical, MsgButtons::Ok);
        return DataUpdateResult::Failed;
    }
}

std::string manualImport(storage::Database &db, UiPort &port, const std::string &file,
                         const std::function<void()> &refreshDate) {
    const LocalImport done = importLocalDayFile(db, port, file, refreshDate);
    port.setBusy(false);
    if (!done.unpackFailure.empty()) {
        port.message(done.unpackFailure, "Tesmo", MsgIcon::Critical, MsgButtons::Ok);
        return done.unpackFailure;
    }
    if (messagesOff())
        port.beep();
    else if (!done.result.empty())
        port.message(done.result, "Tesmo", MsgIcon::Critical, MsgButtons::Ok);
    else
        port.message("正常終了", "Tesmo", MsgIcon::Information, MsgButtons::Ok);
    return done.result;
}

} // namespace tesmo::shell
