#include "core/shell/data_update.h"

#include "core/acquire/import_driver.h"
#include "core/common/dates.h"
#include "core/common/shell_open.h"
#include "core/common/text.h"
#include "core/shell/day_file_import.h"
#include "core/storage/settings_keys.h"
#include "core/storage/update_lock.h"
#include "core/update/update_start.h"

#include <regex>

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
// The imported days a J-Quants report lists before "ほかN日".
constexpr size_t kListedDays = 10;

// The first `count` lines of a day list (each day followed by CR LF), then "ほかN日" for the
// rest.
std::string firstDays(const std::string &list, size_t count) {
    std::string shown;
    size_t more = 0;
    for (const std::string &day : splitText(list, "\r\n")) {
        if (day.empty())
            continue;
        if (count > 0) {
            shown += day + "\r\n";
            --count;
        } else {
            ++more;
        }
    }
    return shown + (more ? "ほか" + std::to_string(more) + "日\r\n" : "");
}

// The rules' announcement, or why they could not be evaluated, below the run's report.
std::string withWatchNote(const std::string &report, const watch::Evaluation &watch) {
    const std::string note =
        watch.failure.empty() ? watch::announcement(watch.stockCount()) : watch.failure;
    if (note.empty())
        return report;
    return report + (report.ends_with("\r\n") ? "\r\n" : "\r\n\r\n") + note + "\r\n";
}

} // namespace

bool dataIsStale(std::optional<long long> newestDate, std::time_t now) {
    if (!newestDate)
        return false; // no data yet: the normal update fills the database
    return dayOrdinal(localDate(now)) - dayOrdinal(*newestDate) > 30;
}

std::string importedReport(const acquire::ImportRunState &run, bool jquants) {
    return withWatchNote(runReport(run, jquants), run.watch);
}

std::string runReport(const acquire::ImportRunState &run, bool jquants) {
    const std::string heading = jquants ? "[取り込んだ日]\r\n" : "[更新したﾃﾞｰﾀﾌｧｲﾙ]\r\n";
    const std::string list = jquants ? firstDays(run.importedList, kListedDays) : run.importedList;
    std::string skipped;
    for (const acquire::SkippedDay &s : run.skippedDays)
        skipped += "取得できなかった日: " + std::to_string(s.day) + " (" + s.reason + ")\r\n";
    if (run.stopped) {
        std::string text = "中止しました。\r\n\r\n";
        if (run.importedCount != 0)
            text += heading + list + "\r\n";
        if (run.givenUpDay)
            text += std::to_string(run.givenUpDay) +
                    "は取得の途中で中止したため、取り込んでいません。\r\n";
        text += run.stillMissing < 0
                    ? std::string("まだ取り込んでいない日があります")
                    : "まだ取り込んでいない日: " + std::to_string(run.stillMissing) + "日";
        return text + "(次回のデータ更新で取り込みます)\r\n" + skipped;
    }
    if (!skipped.empty())
        return (run.importedCount != 0 ? heading + list + "\r\n" : std::string()) + skipped;
    if (run.importedCount == 0)
        return jquants ? "J-Quantsに新しいデータはありませんでした。"
                       : "ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。";
    return "正常終了\r\n\r\n" + heading + list;
}

std::string plainProgress(const std::string &caption, const std::string &title) {
    std::string rest = caption;
    if (!title.empty() && rest.rfind(title, 0) == 0)
        rest.erase(0, title.size());
    // The day, its count and the time left, as the catch-ups write them after the title.
    static const std::regex head(R"(^ *\[(\d{8})\](?: (\d+/\d+日))?(?: (残り\S+))?)");
    std::string first;
    std::smatch m;
    if (std::regex_search(rest, m, head)) {
        first = slashDate(std::stoll(m[1].str()));
        for (int i = 2; i <= 3; ++i)
            if (m[i].matched)
                first += " " + m[i].str();
        rest = m.suffix();
    }
    static const std::pair<const char *, const char *> words[] = {
        {"ﾃﾞｰﾀ更新1処理中", "データを読み込み中"},   {"ﾃﾞｰﾀ更新2処理中", "銘柄と株価を登録中"},
        {"ﾃﾞｰﾀ更新4処理中", "指標を計算中"},         {"ﾃﾞｰﾀ更新4.1処理中", "日付の情報を更新中"},
        {"ﾃﾞｰﾀ更新4.3処理中", "仕上げ中"},           {"ﾃﾞｰﾀ更新4.4処理中", "仕上げ中"},
        {"処理中。。", " 受信したファイルを処理中"},
    };
    for (const auto &[numbered, plain] : words)
        replaceAll(rest, numbered, plain);
    static const std::regex pass(R"( *step([123])/3\((\d+/\d+)\))");
    static const char *const passNames[] = {"月平均と比較", "前日と比較", "月最大と比較"};
    while (std::regex_search(rest, m, pass))
        rest = m.prefix().str() + "(" + passNames[m[1].str()[0] - '1'] + " " + m[2].str() +
               "銘柄)" + m.suffix().str();
    const size_t start = rest.find_first_not_of(' ');
    rest = start == std::string::npos ? std::string() : rest.substr(start);
    if (first.empty())
        return rest.empty() ? caption : rest;
    return rest.empty() ? first : first + "\n" + rest;
}

DataUpdateResult runDataUpdate(UiPort &port, const DataUpdateActions &a, const std::string &title,
                               std::time_t now) {
    if (port.busy())
        return DataUpdateResult::Busy;
    try {
        // Data more than 30 days old: a complete database is offered instead. Not with J-Quants:
        // the catch-up fills any gap itself, and a plan twelve weeks behind is always "stale".
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
        // The user confirms before anything is fetched, unless nomoremsg silences the question.
        const bool quiet = messagesOff();
        if (!quiet &&
            port.message(std::string(jquants ? "この処理はJ-Quants APIにアクセスして"
                                             : "この処理はTesmoのﾎｰﾑﾍﾟｰｼﾞにアクセスして") +
                             "\r\n未更新のデータをすべて取込みます。\r\n実行してよろしいですか？",
                         kUpdateCaption, MsgIcon::Information,
                         MsgButtons::OkCancel) != MsgAnswer::Ok)
            return DataUpdateResult::Cancelled;
        // One data update at a time per database, whichever program runs it; the lock is
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
        a.closeChildWindows(true);
        a.compactIfGrown();
        const std::string scan = a.scanDataSite();
        lock.reset();
        // The program is ending: what was imported stays, nothing more is fetched or shown.
        throwIfStopRequested(port);
        const acquire::ImportRunState run = a.runState ? a.runState() : acquire::ImportRunState();
        // A run the user stopped fetches nothing more, the program files neither.
        const std::string versions = run.stopped ? std::string() : a.versionCheck(false);
        port.setBusy(false);
        // Matches announced by the tray are not told a second time in the report; a failure of
        // the rules always is.
        const std::string announcement =
            run.watch.failure.empty() ? watch::announcement(run.watch.stockCount()) : "";
        const bool announced =
            !announcement.empty() && a.announceWatch && a.announceWatch(announcement);
        const auto report = [&] {
            return announced ? runReport(run, jquants) : importedReport(run, jquants);
        };
        // The scan's failure, a stopped run and missed days are always told; a plain success
        // only while messages are on.
        if (!scan.empty()) {
            if (a.isMinimized && a.isMinimized() && a.restoreWindow)
                a.restoreWindow();
            port.message(scan, "Tesmo", MsgIcon::Critical, MsgButtons::Ok);
        } else if (run.stopped) {
            // The days still missing are told whatever nomoremsg says.
            port.message(report(), "Tesmo", MsgIcon::Information, MsgButtons::Ok);
        } else if (!run.skippedDays.empty()) {
            // Days that did not come in are no success: told whatever nomoremsg says.
            port.message(report(), "Tesmo", MsgIcon::Exclamation, MsgButtons::Ok);
        } else if (!quiet) {
            std::string text = report();
            if (const std::string note = a.runNote ? a.runNote() : std::string(); !note.empty())
                text += (run.importedCount ? "\r\n" : "\r\n\r\n") + note;
            port.message(text, "Tesmo", MsgIcon::Information, MsgButtons::Ok);
        } else {
            port.beep();
        }
        // A newer program found on the way is offered, and installed only once the user also
        // agreed to replace the database files it brings.
        if (versions.empty())
            return DataUpdateResult::Done;
        if (!update::askUpdateNow(port, title, update::kProgramUpdateLine) ||
            !update::confirmDatabaseReplace(port, title, versions))
            return DataUpdateResult::Done;
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
