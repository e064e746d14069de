#include "support/reference_import.h"

#include "core/acquire/day_cipher.h"
#include "core/acquire/day_file_decoder.h"
#include "core/acquire/indicators.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"
#include "support/recording_port.h"

#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace tesmo::test {
namespace {
using storage::DbError;
using storage::Value;

// The "0.0000" text of a ratio, null when there is none.
Value ratioText(std::optional<double> ratio) {
    return ratio ? Value(acquire::formatRatio(*ratio)) : Value();
}

// ratio(X1, X2): the "0.0000" text of (X1 - X2) / X2, null when it is not computable.
Value ratio(const std::vector<Value> &args) {
    return ratioText(acquire::ratioOf(args[0], args[1]));
}

// score(TALK, MXTALK, ANPRC, A1PRC): VAL2 from the unrounded talk ratio and the two price
// ratios as they are stored; null when one of them is missing.
Value score(const std::vector<Value> &args) {
    const auto talk = acquire::ratioOf(args[0], args[1]);
    if (!talk || args[2].isNull() || args[3].isNull())
        return {};
    return ratioText((*talk * 1.4 / 2 * 10) + (args[2].toDouble() * 5) + (args[3].toDouble() * 5));
}

class Statement {
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw DbError(sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, const Value &v) {
        if (storage::bindValue(m_stmt, index, v) != SQLITE_OK)
            throw DbError(sqlite3_errmsg(m_db));
        return *this;
    }
    // Runs to the end and resets; the columns of the first row, if there is one.
    std::vector<Value> run() {
        std::vector<Value> first;
        int rc;
        const storage::RowView row(m_stmt);
        while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW)
            if (first.empty())
                for (int c = 0; c < row.size(); ++c)
                    first.push_back(row.value(c));
        sqlite3_reset(m_stmt);
        if (rc != SQLITE_DONE)
            throw DbError(sqlite3_errmsg(m_db));
        return first;
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

void exec(sqlite3 *db, const char *sql) {
    Statement(db, sql).run();
}

Value first(sqlite3 *db, const char *sql) {
    const std::vector<Value> row = Statement(db, sql).run();
    return row.empty() ? Value() : row[0];
}

// The distinct dates of T_NEARLY (months of T_MONTHLY), newest first, walked by one index seek
// each: the one at position `position` counted from 0, or the last one when there are fewer,
// with its position. Null when the table is empty.
std::pair<Value, long long> newestAt(sqlite3 *db, bool months, long long position) {
    Statement st(
        db, months ? "WITH RECURSIVE d(n, x) AS (SELECT 0, (SELECT max(YYYYMM) FROM T_MONTHLY) "
                     "UNION ALL SELECT n + 1, (SELECT max(YYYYMM) FROM T_MONTHLY "
                     "WHERE YYYYMM < d.x) FROM d WHERE n < ?1 AND d.x IS NOT NULL) "
                     "SELECT x, n FROM d WHERE x IS NOT NULL ORDER BY n DESC LIMIT 1"
                   : "WITH RECURSIVE d(n, x) AS (SELECT 0, (SELECT max(IDATE) FROM T_NEARLY) "
                     "UNION ALL SELECT n + 1, (SELECT max(IDATE) FROM T_NEARLY "
                     "WHERE IDATE < d.x) FROM d WHERE n < ?1 AND d.x IS NOT NULL) "
                     "SELECT x, n FROM d WHERE x IS NOT NULL ORDER BY n DESC LIMIT 1");
    const std::vector<Value> row = st.bind(1, Value(static_cast<std::int64_t>(position))).run();
    if (row.empty())
        return {Value(), -1};
    return {row[0], row[1].toInt()};
}

void importRows(sqlite3 *db, const std::vector<std::vector<Value>> &rows, long long keep) {
    exec(db, "DELETE FROM wonton_dat01");

    // A new code comes in with its trimmed name and its market, stamped; a known one takes a
    // name that differs from the file's (trimmed) and a market that is missing or differs.
    Statement master(db, "INSERT INTO master(CODE, NAME, MARKET, [UPDATE]) "
                         "VALUES(?1, trim(?2), ?3, now()) ON CONFLICT(CODE) DO UPDATE SET "
                         "NAME = CASE WHEN NAME <> ?2 THEN trim(?2) ELSE NAME END, "
                         "MARKET = CASE WHEN MARKET IS NULL OR MARKET <> ?3 THEN ?3 "
                         "ELSE MARKET END, [UPDATE] = now() "
                         "WHERE NAME <> ?2 OR MARKET IS NULL OR MARKET <> ?3");
    Statement daily(db, "INSERT INTO T_NEARLY(IDATE, CODE, PRC, DVAL, TALK) "
                        "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(IDATE, CODE) DO UPDATE SET "
                        "PRC = excluded.PRC, DVAL = excluded.DVAL, TALK = excluded.TALK");
    for (const std::vector<Value> &row : rows) { // DATE, CODE, NAME, PRC, DVAL, TALK, MARKET
        master.bind(1, row[1]).bind(2, row[2]).bind(3, row[6]).run();
        daily.bind(1, row[0]).bind(2, row[1]).bind(3, row[3]).bind(4, row[4]).bind(5, row[5]).run();
    }
    exec(db, "UPDATE master SET NAME = trim(NAME) WHERE NAME <> trim(NAME)");

    const Value newest = first(db, "SELECT max(IDATE) FROM T_NEARLY");
    const Value month(static_cast<std::int64_t>(acquire::monthOfDate(newest.toInt())));

    if (const auto [oldest, at] = newestAt(db, false, keep); at == keep)
        Statement(db, "DELETE FROM T_NEARLY WHERE IDATE <= ?1").bind(1, oldest).run();

    Statement(db, "DELETE FROM T_MONTHLY WHERE YYYYMM = ?1").bind(1, month).run();
    Statement(db, "INSERT INTO T_MONTHLY(YYYYMM, CODE, AVPRC, AVDVAL, AVTALK, MXPRC, MXDVAL, "
                  "MXTALK, MIPRC, MIDVAL, MITALK) SELECT ?1, CODE, avg(PRC), avg(DVAL), "
                  "avg(TALK), max(PRC), max(DVAL), max(TALK), min(PRC), min(DVAL), min(TALK) "
                  "FROM T_NEARLY WHERE IDATE < ?2 AND IDATE >= ?3 GROUP BY CODE")
        .bind(1, month)
        .bind(2, newest)
        .bind(3, newestAt(db, false, 29).first)
        .run();

    // The months at positions 120 to 149, newest first, go.
    if (const auto [m120, at] = newestAt(db, true, 120); at == 120)
        Statement(db, "DELETE FROM T_MONTHLY WHERE YYYYMM <= ?1 AND YYYYMM >= ?2")
            .bind(1, m120)
            .bind(2, newestAt(db, true, 149).first)
            .run();

    // Every indicator of the newest date at once. A column whose ratio cannot be computed
    // keeps its value, except the three against the month row, which start empty; VAL2 reads
    // the two price ratios as the row stores them.
    Statement(db, "UPDATE T_NEARLY AS T SET "
                  "ANPRC = ratio(T.PRC, X.AVPRC), ANDVAL = ratio(T.DVAL, X.AVDVAL), "
                  "ANTALK = ratio(T.TALK, X.AVTALK), "
                  "A1PRC = coalesce(ratio(T.PRC, X.PPRC), T.A1PRC), "
                  "A1DVAL = coalesce(ratio(T.DVAL, X.PDVAL), T.A1DVAL), "
                  "A1TALK = coalesce(ratio(T.TALK, X.PTALK), T.A1TALK), "
                  "AXPRC = coalesce(ratio(T.PRC, X.MXPRC), T.AXPRC), "
                  "AXDVAL = coalesce(ratio(T.DVAL, X.MXDVAL), T.AXDVAL), "
                  "AXTALK = coalesce(ratio(T.TALK, X.MXTALK), T.AXTALK), "
                  "VAL2 = coalesce(score(T.TALK, X.MXTALK, CAST(ratio(T.PRC, X.AVPRC) AS REAL), "
                  "coalesce(CAST(ratio(T.PRC, X.PPRC) AS REAL), T.A1PRC)), T.VAL2) "
                  "FROM (SELECT N.CODE AS CODE, M.AVPRC, M.AVDVAL, M.AVTALK, M.MXPRC, M.MXDVAL, "
                  "M.MXTALK, P.PRC AS PPRC, P.DVAL AS PDVAL, P.TALK AS PTALK "
                  "FROM T_NEARLY AS N "
                  "LEFT JOIN T_MONTHLY AS M ON M.YYYYMM = ?2 AND M.CODE = N.CODE "
                  "LEFT JOIN T_NEARLY AS P ON P.IDATE = "
                  "(SELECT max(IDATE) FROM T_NEARLY WHERE IDATE < ?1) AND P.CODE = N.CODE "
                  "WHERE N.IDATE = ?1) AS X "
                  "WHERE T.IDATE = ?1 AND T.CODE = X.CODE")
        .bind(1, newest)
        .bind(2, month)
        .run();

    // A marker whose query finds nothing keeps its value.
    exec(db, "UPDATE T_config SET pINT = coalesce(CASE pID "
             "WHEN 'MAXDT' THEN (SELECT max(IDATE) FROM T_NEARLY) "
             "WHEN 'MAXDT1' THEN (SELECT max(IDATE) FROM T_NEARLY "
             "WHERE IDATE < (SELECT max(IDATE) FROM T_NEARLY)) "
             "WHEN 'MAXMM' THEN (SELECT max(YYYYMM) FROM T_MONTHLY) "
             "WHEN 'MAXMM1' THEN (SELECT max(YYYYMM) FROM T_MONTHLY "
             "WHERE YYYYMM < (SELECT max(YYYYMM) FROM T_MONTHLY)) END, pINT) "
             "WHERE pID IN ('MAXDT', 'MAXDT1', 'MAXMM', 'MAXMM1')");
}

} // namespace

std::string referenceImport(storage::Database &db, const std::string &dayFile) {
    sqlite3 *h = db.handle();
    db.defineFunction("ratio", 2, ratio);
    db.defineFunction("score", 4, score);
    const long long keep = storage::readSettingInt(storage::keys::maxdtc) + 1;

    RecordingPort port;
    std::vector<std::vector<Value>> rows;
    const std::string decoded =
        acquire::decodeDailyRows(dayFile, acquire::kDayFileKey, port,
                                 [&](const std::vector<Value> &row) { rows.push_back(row); });
    if (!decoded.empty())
        return decoded;

    exec(h, "BEGIN");
    try {
        importRows(h, rows, keep);
        exec(h, "COMMIT");
    } catch (const std::exception &) {
        sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return {};
}

std::string firstDifference(storage::Database &a, storage::Database &b) {
    static const char *const kTables[][2] = {{"master", "CODE"},
                                             {"T_NEARLY", "IDATE, CODE"},
                                             {"T_MONTHLY", "YYYYMM, CODE"},
                                             {"T_config", "pID"},
                                             {"wonton_dat01", "CODE"}};
    for (const auto &[table, key] : kTables) {
        const std::string sql = std::string("select * from ") + table + " order by " + key;
        const storage::ResultSet ra = a.openRecordset(sql);
        const storage::ResultSet rb = b.openRecordset(sql);
        if (ra.rowCount() != rb.rowCount())
            return std::string(table) + ": " + std::to_string(ra.rowCount()) + " vs " +
                   std::to_string(rb.rowCount()) + " rows";
        for (size_t r = 0; r < ra.rowCount(); ++r)
            for (int c = 0; c < ra.fieldCount(); ++c)
                if (!(ra.at(r, c) == rb.at(r, c)))
                    return std::string(table) + " (" + ra.at(r, 0).textOr("") + ", " +
                           ra.at(r, 1).textOr("") + ") " + ra.fieldName(c) + ": " +
                           ra.at(r, c).textOr("NULL") + " vs " + rb.at(r, c).textOr("NULL");
    }
    return {};
}

void fixClock(storage::Database &db, const std::string *clock) {
    db.defineFunction("now", 0, [clock](const std::vector<Value> &) { return Value(*clock); });
}

} // namespace tesmo::test
