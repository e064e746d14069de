#include "core/acquire/indicators.h"

#include "core/acquire/step_label.h"
#include "core/storage/db_error.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace tesmo::acquire {
namespace {
using storage::Database;
using storage::ResultSet;
using storage::Value;

// One of the three passes of the computation: a joined select over the date's rows and the
// three columns it fills.
struct Pass {
    std::string sql;
    const char *progress;  // caption text before "(row/total)"
    const char *readLabel; // step label while a row is read
    size_t firstColumn;    // of the three it fills, in RowIndicators::ratios
    bool withScore;        // the pass that also gives VAL2
};

// What the passes give one row of the date. The three passes only read; the row is written
// once, after the last of them, instead of once per pass.
struct RowIndicators {
    Value code;
    // ANPRC, ANDVAL, ANTALK, A1PRC, .., AXTALK as their "0.0000" texts; null: not written.
    std::array<Value, 9> ratios;
    Value talkRatio; // AXTALK unrounded, for VAL2; null when VAL2 is not computed
};

// The rows of the date by code, in the order the passes first meet them.
struct DateRows {
    std::vector<RowIndicators> rows;
    std::unordered_map<std::string, size_t> byCode;

    RowIndicators &of(const Value &code, const std::string &codeText) {
        auto [it, added] = byCode.try_emplace(codeText, rows.size());
        if (added)
            rows.push_back({code, {}, {}});
        return rows[it->second];
    }
};

void runPass(Database &db, UiPort &port, StepLabel &step, const Pass &pass,
             const std::string &caption, const std::string &total, DateRows &out) {
    ResultSet rs = db.openRecordset(pass.sql);
    // The columns by name once, not in every row.
    auto column = [&](const char *name) {
        const int index = rs.fieldIndex(name);
        if (index < 0)
            throw storage::DbError(std::string("この項目はコレクションにありません: ") + name);
        return index;
    };
    const int codeColumn = column("CODE1");
    const std::array<int, 3> x1 = {column("PRC1"), column("DVAL1"), column("TALK1")};
    const std::array<int, 3> x2 = {column("PRC2"), column("DVAL2"), column("TALK2")};
    long long counter = 0;
    for (; !rs.eof(); rs.moveNext()) {
        ++counter;
        if (counter % 30 == 0) {
            port.setCaption(caption + pass.progress + std::to_string(counter) + "/" + total + ")");
            port.progress(counter, std::atoll(total.c_str()));
            port.repaint();
        }
        step = pass.readLabel;
        const Value &code = rs.field(codeColumn);
        const std::string codeText = code.textOr("");
        step = "ﾃﾞｰﾀ算出" + codeText;
        RowIndicators &row = out.of(code, codeText);
        for (size_t i = 0; i < 3; ++i) {
            const std::optional<double> ratio = ratioOf(rs.field(x1[i]), rs.field(x2[i]));
            if (!ratio)
                continue;
            row.ratios[pass.firstColumn + i] = formatRatio(*ratio);
            if (pass.withScore && i == 2)
                row.talkRatio = *ratio;
        }
    }
}

// Writes what the passes gave one row. The ratios go in as their "0.0000" texts, bound rather
// than pasted: the REAL column turns the text into the number that the same text as a literal
// gives. A ratio that was not computed leaves its column as it is (the three against the month
// row were cleared before the passes). VAL2 reads ANPRC and A1PRC as the row holds them after
// this update: the new text turned into a number the way the column turns it (CAST), or the
// value the row keeps.
constexpr const char *kWriteRow =
    "Update T_NEARLY set ANPRC=?1, ANDVAL=?2, ANTALK=?3, A1PRC=coalesce(?4, A1PRC), "
    "A1DVAL=coalesce(?5, A1DVAL), A1TALK=coalesce(?6, A1TALK), AXPRC=coalesce(?7, AXPRC), "
    "AXDVAL=coalesce(?8, AXDVAL), AXTALK=coalesce(?9, AXTALK), "
    "VAL2=coalesce(tesmo_score(?10, CAST(?1 AS REAL), CAST(coalesce(?4, A1PRC) AS REAL)), VAL2) "
    "Where CODE=?11 and IDATE=?12 ;";

// tesmo_score(AXTALK unrounded, ANPRC, A1PRC): the "0.0000" text of VAL2, null when one of
// them is null.
Value score(const std::vector<Value> &args) {
    for (const Value &v : args)
        if (v.isNull())
            return {};
    return Value(formatRatio((args[0].toDouble() * 1.4 / 2 * 10) + (args[1].toDouble() * 5) +
                             (args[2].toDouble() * 5)));
}

} // namespace

long long monthOfDate(long long date) {
    return static_cast<long long>(std::nearbyint(static_cast<double>(date) / 100.0));
}

std::optional<double> ratioOf(const Value &x1, const Value &x2) {
    if (x1.isNull() || x2.isNull())
        return std::nullopt;
    const double a = x1.toDouble();
    const double b = x2.toDouble();
    if (a == 0 || b == 0)
        return std::nullopt;
    return (a - b) / b;
}

std::string formatRatio(double v) {
    if (!std::isfinite(v))
        throw std::domain_error("比率が有限の数ではありません。");
    // Shortest round-trip text in fixed notation: at most 309 digits before the point and
    // about 340 after it for the smallest subnormal.
    char buf[800];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed);
    const char *dot = std::find(buf, r.ptr, '.');
    const char *frac = dot == r.ptr ? r.ptr : dot + 1;
    // The whole part and four decimals, one spare place in front for a carry.
    char digits[320];
    char *first = digits + 1;
    char *end = std::copy(static_cast<const char *>(buf), dot, first);
    for (int i = 0; i < 4; ++i)
        *end++ = frac + i < r.ptr ? frac[i] : '0';
    if (frac + 4 < r.ptr && frac[4] >= '5') {
        char *p = end;
        while (p > first && p[-1] == '9')
            *--p = '0';
        if (p == first)
            *--first = '1';
        else
            ++p[-1];
    }
    const bool zero = std::all_of(first, end, [](char c) { return c == '0'; });
    std::string out;
    out.reserve(static_cast<size_t>(end - first) + 2);
    if (v < 0 && !zero)
        out += '-';
    out.append(first, end - 4);
    out += '.';
    out.append(end - 4, end);
    return out;
}

std::string computeIndicators(Database &db, UiPort &port, long long date) {
    StepLabel step;
    const ProgressScope progress(port);
    try {
        step = "前処理";
        const std::string caption = port.caption();
        const std::string d = std::to_string(date);
        const Value dateValue(static_cast<std::int64_t>(date));

        step = "総処理数取得";
        const std::string total =
            db.scalar("Select count(*) From  T_NEARLY where IDATE=" + d + ";").toText();

        // Only the rows that hold a value: a new date's rows have none, and rewriting them all
        // for nothing cost as much as one of the passes.
        step = "初期ﾃﾞｰﾀ更新";
        db.execute(
            "Update T_NEARLY set   ANPRC  = Null ,ANDVAL = Null ,ANTALK = Null Where IDATE=" + d +
            " and (ANPRC is not null or ANDVAL is not null or ANTALK is not null) ;");

        step = "前営業日取得";
        ResultSet prev =
            db.openRecordset("Select max(IDATE) From  T_NEARLY where IDATE<" + d + ";");
        if (prev.eof())
            return "前営業日がみつかりません";
        // A young database has no earlier date (a null): the previous-date pass is skipped and
        // the A1 columns stay as they are. Failing here would make the first import into an
        // empty database an error although its rows were stored.
        const std::optional<std::string> p =
            prev.field(0).isNull() ? std::nullopt
                                   : std::optional(std::to_string(prev.field(0).toInt()));

        step = "対象ﾃﾞｰﾀ読込(1)";
        const std::string m = std::to_string(monthOfDate(date));
        DateRows rows;
        runPass(db, port, step,
                {"Select T1.CODE AS CODE1,T1.PRC    AS PRC1 ,T2.AVPRC  AS PRC2 "
                 ",T1.DVAL   AS DVAL1 ,T2.AVDVAL AS DVAL2 ,T1.TALK   AS TALK1 "
                 ",T2.AVTALK AS TALK2 From  T_NEARLY as T1 INNER JOIN T_MONTHLY as T2 "
                 "   ON T1.CODE = T2.CODE Where T1.IDATE =" +
                     d + "  and T2.YYYYMM=" + m + " ;",
                 " step1/3(", "対象ﾃﾞｰﾀ読込(2)", 0, false},
                caption, total, rows);

        step = "前日比(1)";
        if (p)
            runPass(db, port, step,
                    {"Select T1.CODE AS CODE1,T1.PRC  AS PRC1 ,T2.PRC  AS PRC2 ,T1.DVAL AS DVAL1 "
                     ",T2.DVAL AS DVAL2 ,T1.TALK AS TALK1 ,T2.TALK AS TALK2 "
                     "From  T_NEARLY as T1 INNER JOIN T_NEARLY as T2    ON T1.CODE = T2.CODE "
                     "Where T1.IDATE=" +
                         d + "  and T2.IDATE=" + *p + " ;",
                     " step2/3(", "前日比(2)", 3, false},
                    caption, total, rows);

        step = "最大比(1)";
        runPass(db, port, step,
                {"Select T1.CODE AS CODE1,T1.PRC    AS PRC1 ,T2.MXPRC  AS PRC2 "
                 ",T1.DVAL   AS DVAL1 ,T2.MXDVAL AS DVAL2 ,T1.TALK   AS TALK1 "
                 ",T2.MXTALK AS TALK2 "
                 "From  T_NEARLY as T1 INNER JOIN T_MONTHLY as T2    ON T1.CODE = T2.CODE "
                 "Where T1.IDATE =" +
                     d + "  and T2.YYYYMM=" + m + " ;",
                 "  step3/3(", "最大比(2)", 6, true},
                caption, total, rows);

        db.defineFunction("tesmo_score", 3, score);
        std::vector<Value> values(12);
        values[11] = dateValue;
        for (const RowIndicators &row : rows.rows) {
            if (std::all_of(row.ratios.begin(), row.ratios.end(),
                            [](const Value &v) { return v.isNull(); }))
                continue;
            step = "ﾃﾞｰﾀUpdate" + row.code.textOr("");
            std::copy(row.ratios.begin(), row.ratios.end(), values.begin());
            values[9] = row.talkRatio;
            values[10] = row.code;
            db.execute(kWriteRow, values);
        }

        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

std::string updateDateMarkers(Database &db, UiPort &port) {
    (void)port; // the markers are quick: no progress to show
    StepLabel step;
    try {
        step = "初期";
        // The value of a one-value query as statement text, nothing when it is null.
        auto read = [&](const char *label, const std::string &sql) -> std::optional<std::string> {
            step = label;
            const Value v = db.scalar(sql);
            if (v.isNull())
                return std::nullopt;
            return std::to_string(v.toInt());
        };
        // A marker without a value (a young database: one date, no month row or a single
        // month) keeps what it holds, and the markers after it are still written. Ending here
        // with "前日が見つかりません" and its sisters would make every import into a young
        // database report an error.
        auto write = [&](const char *label, const std::optional<std::string> &value,
                         const char *id) {
            if (!value)
                return;
            step = label;
            db.execute("Update T_config set pINT =" + *value + " Where pID='" + id + "'  ;");
        };

        const auto a = read("直近日取得", "Select max(IDATE) From T_NEARLY ;");
        write("直近日更新", a, "MAXDT");
        // Without a newest date there is no earlier one either.
        const auto b =
            a ? read("前日取得", "Select max(IDATE) From T_NEARLY where IDATE<" + *a + ";")
              : std::nullopt;
        write("前日更新", b, "MAXDT1");
        const auto e = read("前月取得", "Select max(YYYYMM) From T_MONTHLY ;");
        write("前月更新", e, "MAXMM");
        const auto f =
            e ? read("前月2取得", "Select max(YYYYMM) From T_MONTHLY where YYYYMM<" + *e + ";")
              : std::nullopt;
        write("前月2更新", f, "MAXMM1");
        return {};
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

} // namespace tesmo::acquire
