#include "acquire/import_driver.h"

#include "acquire/day_cipher.h"
#include "acquire/day_file_decoder.h"
#include "acquire/day_record.h"
#include "acquire/indicators.h"
#include "acquire/step_label.h"
#include "storage/settings_keys.h"
#include "storage/sql_translator.h"

#include <stdexcept>

namespace tesmo::acquire {
namespace {
using storage::Database;
using storage::ResultSet;
using storage::Value;

// The file's name must be "<yyyymmdd>.bnd" (any case). Only checked: the day number that
// the run state records is the caller's.
void checkDayFileName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    std::string name =
        storage::asciiLower(slash == std::string::npos ? path : path.substr(slash + 1));
    for (size_t at; (at = name.find(".bnd")) != std::string::npos;)
        name.erase(at, 4);
    bool ok = !name.empty() && name.size() <= 18;
    for (char c : name)
        ok = ok && c >= '0' && c <= '9';
    if (!ok)
        throw std::invalid_argument("型が一致しません: ファイル名 '" + name +
                                    "' が日付の数字ではありません。");
}

// The dates (or months) of a grouped, newest-first select: at most `limit` of them.
std::vector<std::string> newestFirst(Database &db, const std::string &sql, size_t limit) {
    ResultSet rs = db.openRecordset(sql);
    std::vector<std::string> out;
    for (; !rs.eof() && out.size() < limit; rs.moveNext())
        out.push_back(rs.field(0).toText());
    return out;
}

} // namespace

ImportRunState &importRunState() {
    static ImportRunState state;
    return state;
}

std::string ImportDayFile(Database &db, const std::string &path, UiPort &port,
                          long long dayNumber) {
    return ImportDayFile(db, path, port, dayNumber, importRunState());
}

std::string ImportDayFile(Database &db, const std::string &path, UiPort &port, long long dayNumber,
                          ImportRunState &state) {
    StepLabel step;
    try {
        step = "初期処理";
        const std::string caption = port.caption();
        checkDayFileName(path);

        step = "Delete from wonton_dat01";
        db.execute("Delete from wonton_dat01 ");

        step = "Encode処理";
        port.setCaption(caption + " ﾃﾞｰﾀ更新1処理中");
        const std::string decoded = DecodeDailyFile(db, path, kDayFileKey, port);
        if (!decoded.empty())
            return dayNumber > 0 ? std::string() : decoded;

        step = "基本ﾃﾞｰﾀ更新(3)";
        port.setCaption(caption + " ﾃﾞｰﾀ更新2処理中");
        db.execute("UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE "
                   "SET master.NAME = wonton_dat01.NAME ,   master.[UPDATE]=now() "
                   "where master.NAME <> wonton_dat01.NAME;");

        // Rows whose code is already in master break its unique key and are dropped.
        step = "基本ﾃﾞｰﾀ更新(4)";
        db.execute(" insert into master(CODE,NAME) "
                   "select wonton_dat01.CODE,wonton_dat01.NAME FROM wonton_dat01 ;");

        step = "基本ﾃﾞｰﾀ更新(5)";
        db.execute("Update master set NAME = trim(NAME) ;");

        step = "基本ﾃﾞｰﾀ更新(7)";
        db.execute("UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE "
                   "SET master.MARKET = wonton_dat01.MARKET ,   master.[UPDATE]=now() "
                   "where  master.MARKET is Null or master.MARKET <> wonton_dat01.MARKET;");

        // The figures are numbers the staging table holds, written back in their plain
        // decimal form; the code came from the file and is bound, never pasted.
        ResultSet staging = db.openRecordset("select DATE,CODE,PRC,DVAL,TALK from wonton_dat01  ;");
        for (; !staging.eof(); staging.moveNext()) {
            const std::string date = staging.field(0).toText();
            const Value &code = staging.field(1);
            const Value count =
                db.openRecordset("select count(*) from T_NEARLY  where IDATE =" + date +
                                     "    and CODE  =?; ",
                                 {code})
                    .field(0);
            const std::string prc = staging.field(2).textOr("NULL");
            const std::string dval = staging.field(3).textOr("NULL");
            const std::string talk = staging.field(4).textOr("NULL");
            if (count.toInt() == 0) {
                const std::string head =
                    "Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" + date + ",";
                const std::string tail = "," + prc + "," + dval + "," + talk + ") ;";
                step = "基本ﾃﾞｰﾀ更新(7)Add" + head + quoteDoubled(code.textOr(""), '\'') + tail;
                db.execute(head + "?" + tail, {code});
            } else {
                const std::string head = "Update T_NEARLY SET PRC  = " + prc +
                                         "    ,DVAL = " + dval + "    ,TALK = " + talk +
                                         " Where  IDATE =" + date + "   and  CODE  = ";
                step = "基本ﾃﾞｰﾀ更新(7)Mod";
                db.execute(head + "? ;", {code});
            }
        }

        step = "対象月取得";
        const long long newest = db.scalar("Select Max(IDATE) from T_NEARLY ; ").toInt();
        const std::string d = std::to_string(newest);
        const std::string m = std::to_string(monthOfDate(newest));

        step = "基本ﾃﾞｰﾀ更新(8)旧日付削除";
        const std::vector<std::string> dates = newestFirst(
            db, "Select IDATE from T_NEARLY group by IDATE order by IDATE desc ; ", 100);

        step = "基本ﾃﾞｰﾀ更新(9)";
        const long long keep = storage::readSettingInt(storage::keys::maxdtc) + 1;
        if (keep < 0)
            throw std::out_of_range("maxdtc が負の値です: " + std::to_string(keep - 1));
        for (size_t i = static_cast<size_t>(keep); i < dates.size(); ++i)
            db.execute("Delete * from T_NEARLY where IDATE = " + dates[i] + " ;");

        step = "基本ﾃﾞｰﾀ更新(10)";
        db.execute("Delete * from T_MONTHLY where YYYYMM = " + m + " ;");

        step = "30前営業日取得";
        const std::vector<std::string> window = newestFirst(
            db, "Select IDATE  From  T_NEARLY Group by IDATE Order by IDATE DESC ;", 30);
        const std::string start = window.empty() ? "0" : window.back();

        // The month row sums up the trading dates before the newest one, not the newest.
        step = "基本ﾃﾞｰﾀ更新(11)";
        db.execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK,"
                   "MIPRC,MIDVAL,MITALK) SELECT " +
                   m +
                   ",T_NEARLY.CODE , Avg(T_NEARLY.PRC) , Avg(T_NEARLY.DVAL) , Avg(T_NEARLY.TALK) "
                   ", Max(T_NEARLY.PRC)  , Max(T_NEARLY.DVAL) , Max(T_NEARLY.TALK) "
                   ", Min(T_NEARLY.PRC)  , Min(T_NEARLY.DVAL) , Min(T_NEARLY.TALK) "
                   "from T_NEARLY where IDATE < " +
                   d + "  and IDATE >= " + start + " GROUP BY T_NEARLY.CODE;");

        step = "基本ﾃﾞｰﾀ更新(12)";
        const std::vector<std::string> months = newestFirst(
            db, "Select YYYYMM from T_MONTHLY group by YYYYMM order by YYYYMM desc ; ", 150);

        step = "基本ﾃﾞｰﾀ更新(13)";
        for (size_t i = 120; i < months.size(); ++i)
            db.execute("Delete * from T_MONTHLY where YYYYMM = " + months[i] + " ;");

        port.setCaption(caption + " ﾃﾞｰﾀ更新4処理中");
        if (std::string msg = ComputeIndicators(db, port, newest); !msg.empty())
            return "daily3:" + msg;

        port.setCaption(caption + " ﾃﾞｰﾀ更新4.1処理中");
        if (std::string msg = UpdateDateMarkers(db, port); !msg.empty())
            return "other1:" + msg;

        port.setCaption(caption + " ﾃﾞｰﾀ更新4.3処理中");
        port.setCaption(caption + " ﾃﾞｰﾀ更新4.4処理中");

        // In debug mode the staging rows stay for inspection.
        if (!storage::debugMode())
            db.execute("Delete from wonton_dat01 ");

        ++state.importedCount;
        state.importedList += std::to_string(dayNumber) + "\r\n";
        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

} // namespace tesmo::acquire
