#include "core/acquire/import_driver.h"

#include "core/acquire/day_cipher.h"
#include "core/acquire/day_file_decoder.h"
#include "core/acquire/day_ohlc.h"
#include "core/acquire/day_record.h"
#include "core/acquire/indicators.h"
#include "core/acquire/step_label.h"
#include "core/common/text.h"
#include "core/storage/settings_keys.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
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
    std::string name = lowerAscii(slash == std::string::npos ? path : path.substr(slash + 1));
    for (size_t at; (at = name.find(".bnd")) != std::string::npos;)
        name.erase(at, 4);
    bool ok = !name.empty() && name.size() <= 18;
    for (char c : name)
        ok = ok && c >= '0' && c <= '9';
    if (!ok)
        throw std::invalid_argument("型が一致しません: ファイル名 '" + name +
                                    "' が日付の数字ではありません。");
}

// The distinct values of `column` in `table` (dates of T_NEARLY, months of T_MONTHLY), newest
// first, at most `limit` of them: what "Select IDATE from T_NEARLY group by IDATE order by IDATE
// desc" lists, found by one index seek per value. The grouped select walks every row's index
// entry, about a million with a year of dates.
std::vector<std::string> newestFirst(Database &db, const std::string &table,
                                     const std::string &column,
                                     size_t limit = std::numeric_limits<size_t>::max()) {
    const std::string max = "Select Max(" + column + ") from " + table;
    const std::string before = max + " where " + column + " < ? ;";
    std::vector<std::string> out;
    for (Value v = db.scalar(max + " ;"); !v.isNull() && out.size() < limit;
         v = db.openRecordset(before, {v}).field(0))
        out.push_back(v.toText());
    return out;
}

// A number of the window as the engine orders it: whole numbers exactly, else as doubles.
struct Number {
    bool isWhole;
    std::int64_t i;
    double d; // also for a whole number

    static Number whole(std::int64_t i) { return {true, i, static_cast<double>(i)}; }
    bool operator<(const Number &o) const { return isWhole && o.isWhole ? i < o.i : d < o.d; }
    Value value() const { return isWhole ? Value(i) : Value(d); }
};

// The month row of `month`, one per code, over the dates from `start` up to `newest`
// (excluded). It stands for
//   Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,..,MITALK) SELECT month, CODE, Avg(PRC), Avg(DVAL),
//   Avg(TALK), Max(..), Min(..) from T_NEARLY where IDATE < newest and IDATE >= start
//   GROUP BY CODE
// which the engine runs by sorting and aggregating some 29 times as many rows as there are
// stocks: more than the whole rest of the import. Here the window is read once in the order of
// date and code and summed up per code as the engine sums up: Avg is the double sum of the
// non-null values in date order divided by their count, Max and Min keep the first of equal
// values, null when a code has no value. Each date lists the codes in order, so a cursor
// through the codes met so far finds a row's code without a lookup. A text in the window,
// which the engine orders after every number, leaves the work to the statement itself. The
// rows go in under one savepoint, so that a failure leaves none of them, as a failing
// statement does.
void insertMonthRows(Database &db, long long newest, long long month, long long start) {
    struct Stat {
        long long count = 0;
        double sum = 0;
        std::optional<Number> max, min;
    };
    struct MonthRow {
        std::string code;
        std::array<Stat, 3> stats; // PRC, DVAL, TALK
    };
    std::vector<MonthRow> rows; // by code
    size_t cursor = 0;
    std::int64_t date = 0;
    bool numbersOnly = true;
    db.forEachRow(
        "select IDATE,CODE,PRC,DVAL,TALK from T_NEARLY where IDATE < ? and IDATE >= ? "
        "order by IDATE,CODE ;",
        {Value(static_cast<std::int64_t>(newest)), Value(static_cast<std::int64_t>(start))},
        [&](const storage::RowView &fields) {
            if (!numbersOnly)
                return;
            if (fields.integer(0) != date) {
                date = fields.integer(0);
                cursor = 0;
            }
            const std::string_view code = fields.text(1);
            while (cursor < rows.size() && rows[cursor].code < code)
                ++cursor;
            if (cursor == rows.size() || rows[cursor].code != code)
                rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(cursor),
                            MonthRow{std::string(code), {}});
            MonthRow &row = rows[cursor++];
            for (int c = 0; c < 3; ++c) {
                const Value::Type type = fields.type(c + 2);
                if (type == Value::Type::Null)
                    continue;
                if (type == Value::Type::Text) {
                    numbersOnly = false;
                    return;
                }
                const Number n = type == Value::Type::Integer
                                     ? Number::whole(fields.integer(c + 2))
                                     : Number{false, 0, fields.real(c + 2)};
                Stat &s = row.stats[static_cast<size_t>(c)];
                ++s.count;
                s.sum += n.d;
                if (!s.max || *s.max < n)
                    s.max = n;
                if (!s.min || n < *s.min)
                    s.min = n;
            }
        });
    const std::string m = std::to_string(month);
    if (!numbersOnly) {
        db.execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK,"
                   "MIPRC,MIDVAL,MITALK) SELECT " +
                   m +
                   ",T_NEARLY.CODE , Avg(T_NEARLY.PRC) , Avg(T_NEARLY.DVAL) , Avg(T_NEARLY.TALK) "
                   ", Max(T_NEARLY.PRC)  , Max(T_NEARLY.DVAL) , Max(T_NEARLY.TALK) "
                   ", Min(T_NEARLY.PRC)  , Min(T_NEARLY.DVAL) , Min(T_NEARLY.TALK) "
                   "from T_NEARLY where IDATE < " +
                   std::to_string(newest) + "  and IDATE >= " + std::to_string(start) +
                   " GROUP BY T_NEARLY.CODE;");
        return;
    }
    db.execute("SAVEPOINT month_row");
    try {
        std::vector<Value> values(11);
        values[0] = Value(static_cast<std::int64_t>(month));
        for (const MonthRow &row : rows) {
            values[1] = row.code;
            for (size_t c = 0; c < 3; ++c) {
                const Stat &s = row.stats[c];
                values[2 + c] = s.count ? Value(s.sum / static_cast<double>(s.count)) : Value();
                values[5 + c] = s.max ? s.max->value() : Value();
                values[8 + c] = s.min ? s.min->value() : Value();
            }
            db.execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK,"
                       "MIPRC,MIDVAL,MITALK) Values(?,?,?,?,?,?,?,?,?,?,?) ;",
                       values);
        }
        db.execute("RELEASE month_row");
    } catch (const std::exception &) {
        try {
            db.execute("ROLLBACK TO month_row");
            db.execute("RELEASE month_row");
        } catch (const std::exception &) {
        }
        throw;
    }
}

// One import runs as one transaction. In WAL mode each statement on its own commits and writes
// its pages to the log, which made a day of a few thousand rows take seconds. Whatever ran is
// committed on every way out, a failing step included, so the database ends as an import that
// committed each statement on its own would leave it; only a crash midway differs, and it
// leaves the database as it was before the import. A caller that runs its own transaction
// keeps it: nothing is begun or committed here then.
class ImportTransaction {
public:
    explicit ImportTransaction(Database &db) : m_db(db), m_own(!db.inTransaction()) {
        if (m_own)
            m_db.execute("BEGIN");
    }
    ~ImportTransaction() {
        try {
            commit();
        } catch (const std::exception &) {
            // Reached only when an earlier failure is being returned: that text stands. The
            // work that cannot be committed is given up rather than left open.
            rollback();
        }
    }
    ImportTransaction(const ImportTransaction &) = delete;
    ImportTransaction &operator=(const ImportTransaction &) = delete;

    // Raises what the engine reports; the transaction then stays open for the destructor.
    void commit() {
        // An I/O error or a full disk may have rolled the whole transaction back already.
        if (m_own && m_db.inTransaction())
            m_db.execute("COMMIT");
        m_own = false;
    }

private:
    void rollback() noexcept {
        try {
            if (m_own && m_db.inTransaction())
                m_db.execute("ROLLBACK");
        } catch (const std::exception &) {
        }
        m_own = false;
    }

    Database &m_db;
    bool m_own;
};

} // namespace

void ImportRunState::skip(long long day, const std::string &reason) {
    // One line per day: the reasons are made for a message box of their own.
    skippedDays.push_back({day, singleLine(reason)});
}

ImportRunState &importRunState() {
    static ImportRunState state;
    return state;
}

std::string importDayFile(Database &db, const std::string &path, UiPort &port,
                          long long dayNumber) {
    return importDayFile(db, path, port, dayNumber, importRunState());
}

std::string importDayFile(Database &db, const std::string &path, UiPort &port, long long dayNumber,
                          ImportRunState &state) {
    StepLabel step;
    try {
        step = "初期処理";
        const std::string caption = port.caption();
        checkDayFileName(path);
        ImportTransaction transaction(db);

        step = "Delete from wonton_dat01";
        db.execute("Delete from wonton_dat01 ");

        step = "Encode処理";
        port.setCaption(caption + " ﾃﾞｰﾀ更新1処理中");
        std::string decoded = decodeDailyFile(db, path, kDayFileKey, port);
        if (!decoded.empty()) {
            if (dayNumber <= 0)
                return decoded;
            state.skip(dayNumber, decoded);
            return {};
        }

        std::string result = importStagedDay(db, port, caption, dayNumber, state);
        if (result.empty())
            transaction.commit();
        return result;
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

std::optional<std::string> shownText(std::string_view text) {
    std::string shown = withoutControlCharacters(text);
    if (shown.empty())
        return std::nullopt;
    return shown;
}

std::string importStagedDay(Database &db, UiPort &port, const std::string &caption,
                            long long dayNumber, ImportRunState &state) {
    StepLabel step;
    try {
        ImportTransaction transaction(db);

        // Names and markets come from the network or from a file that anyone may have made:
        // a control character breaks the lines of an export and a right-to-left override
        // turns a name round in every table, so both sources lose them here. A name of
        // nothing else becomes the code, a market of nothing else null.
        step = "名称確認";
        db.defineFunction("tesmo_shown_text", 2, [](const std::vector<Value> &v) {
            if (v[0].isNull())
                return Value();
            std::optional<std::string> text = shownText(v[0].toText());
            return text ? Value(std::move(*text)) : v[1];
        });
        db.execute("Update wonton_dat01 set NAME = tesmo_shown_text(NAME, CODE) "
                   "where NAME <> tesmo_shown_text(NAME, '') ;");
        db.execute("Update wonton_dat01 set MARKET = tesmo_shown_text(MARKET, Null) "
                   "where MARKET <> tesmo_shown_text(MARKET, '') ;");

        step = "基本ﾃﾞｰﾀ更新(3)";
        port.setCaption(caption + " ﾃﾞｰﾀ更新2処理中");
        db.execute("UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE "
                   "SET master.NAME = wonton_dat01.NAME ,   master.[UPDATE]=now() "
                   "where master.NAME <> wonton_dat01.NAME;");

        // Rows whose code is already in master break its unique key and are dropped.
        step = "基本ﾃﾞｰﾀ更新(4)";
        db.execute(" insert into master(CODE,NAME) "
                   "select wonton_dat01.CODE,wonton_dat01.NAME FROM wonton_dat01 ;");

        // Only the names that change: rewriting every row of master left the same names and
        // cost a few thousand row writes per import.
        step = "基本ﾃﾞｰﾀ更新(5)";
        db.execute("Update master set NAME = trim(NAME) where NAME <> trim(NAME) ;");

        step = "基本ﾃﾞｰﾀ更新(7)";
        db.execute("UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE "
                   "SET master.MARKET = wonton_dat01.MARKET ,   master.[UPDATE]=now() "
                   "where  master.MARKET is Null or master.MARKET <> wonton_dat01.MARKET;");

        // Every value of a staging row is bound, so that the statements keep one text each and
        // are prepared once per import; the code came from the file and is never pasted. The
        // insert itself is the existence test: the engine drops a row whose date and code are
        // already there (the unique key of T_NEARLY): a row already stored is updated, not
        // inserted again, without a count(*) before each row. The step label, which shows the
        // statement with the row's values, is only written out when the row fails.
        ResultSet staging = db.openRecordset("select DATE,CODE,PRC,DVAL,TALK from wonton_dat01  ;");
        for (; !staging.eof(); staging.moveNext()) {
            const Value &date = staging.field(0);
            const Value &code = staging.field(1);
            const Value &prc = staging.field(2);
            const Value &dval = staging.field(3);
            const Value &talk = staging.field(4);
            const std::string dateText = date.toText(); // a null date fails, as pasted it would
            bool modify = false;
            try {
                db.execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(?,?,?,?,?) ;",
                           {date, code, prc, dval, talk});
                modify = db.changes() == 0;
                if (modify)
                    db.execute("Update T_NEARLY SET PRC  = ?    ,DVAL = ?    ,TALK = ? "
                               "Where  IDATE =?   and  CODE  = ? ;",
                               {prc, dval, talk, date, code});
            } catch (const std::exception &) {
                step = modify ? std::string("基本ﾃﾞｰﾀ更新(7)Mod")
                              : "基本ﾃﾞｰﾀ更新(7)AddInsert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) "
                                "Values(" +
                                    dateText + "," + quoteDoubled(code.textOr(""), '\'') + "," +
                                    prc.textOr("NULL") + "," + dval.textOr("NULL") + "," +
                                    talk.textOr("NULL") + ") ;";
                throw;
            }
        }

        step = "対象月取得";
        const long long newest = db.scalar("Select Max(IDATE) from T_NEARLY ; ").toInt();
        const long long month = monthOfDate(newest);
        const std::string m = std::to_string(month);

        // Every date, not only the newest 100: with maxdtc 99 or more nothing would ever be
        // deleted and T_NEARLY would grow without bound.
        step = "基本ﾃﾞｰﾀ更新(8)旧日付削除";
        const std::vector<std::string> dates = newestFirst(db, "T_NEARLY", "IDATE");

        step = "基本ﾃﾞｰﾀ更新(9)";
        const long long keep = storage::readSettingInt(storage::keys::maxdtc) + 1;
        if (keep < 0)
            throw std::out_of_range("maxdtc が負の値です: " + std::to_string(keep - 1));
        for (size_t i = static_cast<size_t>(keep); i < dates.size(); ++i)
            db.execute("Delete * from T_NEARLY where IDATE = " + dates[i] + " ;");
        pruneDayOhlc(db);

        step = "基本ﾃﾞｰﾀ更新(10)";
        db.execute("Delete * from T_MONTHLY where YYYYMM = " + m + " ;");

        step = "30前営業日取得";
        const std::vector<std::string> window = newestFirst(db, "T_NEARLY", "IDATE", 30);
        const long long start = window.empty() ? 0 : std::stoll(window.back());

        // The month row sums up the trading dates before the newest one, not the newest.
        step = "基本ﾃﾞｰﾀ更新(11)";
        insertMonthRows(db, newest, month, start);

        step = "基本ﾃﾞｰﾀ更新(12)";
        const std::vector<std::string> months = newestFirst(db, "T_MONTHLY", "YYYYMM", 150);

        step = "基本ﾃﾞｰﾀ更新(13)";
        for (size_t i = 120; i < months.size(); ++i)
            db.execute("Delete * from T_MONTHLY where YYYYMM = " + months[i] + " ;");

        port.setCaption(caption + " ﾃﾞｰﾀ更新4処理中");
        if (std::string msg = computeIndicators(db, port, newest); !msg.empty())
            return "daily3:" + msg;

        port.setCaption(caption + " ﾃﾞｰﾀ更新4.1処理中");
        if (std::string msg = updateDateMarkers(db, port); !msg.empty())
            return "other1:" + msg;

        port.setCaption(caption + " ﾃﾞｰﾀ更新4.3処理中");
        port.setCaption(caption + " ﾃﾞｰﾀ更新4.4処理中");

        // In debug mode the staging rows stay for inspection.
        if (!storage::debugMode())
            db.execute("Delete from wonton_dat01 ");
        transaction.commit();

        ++state.importedCount;
        state.importedList += std::to_string(dayNumber) + "\r\n";
        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

} // namespace tesmo::acquire
