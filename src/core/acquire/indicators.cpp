#include "acquire/indicators.h"

#include "acquire/step_label.h"

#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace tesmo::acquire {
namespace {
using storage::Database;
using storage::ResultSet;
using storage::Value;

// One of the three passes of the computation: a joined select over the date's rows and the
// three columns it fills.
struct Pass {
    std::string sql;
    const char *progress;                // caption text before "(row/total)"
    const char *readLabel;               // step label while a row is read
    std::array<const char *, 3> columns; // " ANPRC=" and its sisters
    bool withScore;                      // the pass that also writes VAL2
};

void runPass(Database &db, UiPort &port, StepLabel &step, const Pass &pass,
             const std::string &caption, const std::string &total, const std::string &date) {
    ResultSet rs = db.openRecordset(pass.sql);
    static const char *const kX1[] = {"PRC1", "DVAL1", "TALK1"};
    static const char *const kX2[] = {"PRC2", "DVAL2", "TALK2"};
    const std::string update = " Where CODE=?   and IDATE=" + date + " ;";
    long long counter = 0;
    for (; !rs.eof(); rs.moveNext()) {
        ++counter;
        if (counter % 30 == 0) {
            port.setCaption(caption + pass.progress + std::to_string(counter) + "/" + total + ")");
            port.repaint();
        }
        step = pass.readLabel;
        const Value &code = rs.field("CODE1");
        const std::string codeText = code.textOr("");
        step = "ﾃﾞｰﾀ算出" + codeText;
        std::string set;
        std::array<std::optional<double>, 3> ratios;
        for (size_t i = 0; i < 3; ++i) {
            ratios[i] = ratioOf(rs.field(kX1[i]), rs.field(kX2[i]));
            if (!ratios[i])
                continue;
            if (!set.empty())
                set += ",";
            set += pass.columns[i] + formatRatio(*ratios[i]);
        }
        if (pass.withScore && ratios[2]) {
            // The talk ratio unrounded, the two price ratios as the earlier passes stored them.
            const Value &anprc = rs.field("ANPRC");
            const Value &a1prc = rs.field("A1PRC");
            if (!anprc.isNull() && !a1prc.isNull()) {
                const double val2 =
                    (*ratios[2] * 1.4 / 2 * 10) + (anprc.toDouble() * 5) + (a1prc.toDouble() * 5);
                if (!set.empty())
                    set += ",";
                set += " VAL2=" + formatRatio(val2);
            }
        }
        if (set.empty())
            continue;
        step = "ﾃﾞｰﾀUpdate" + codeText;
        db.execute("Update T_NEARLY set " + set + update, {code});
    }
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
    const std::string text(buf, r.ptr);
    const size_t dot = text.find('.');
    std::string digits = text.substr(0, dot); // whole part, then four decimals
    const std::string frac = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    for (size_t i = 0; i < 4; ++i)
        digits += i < frac.size() ? frac[i] : '0';
    if (frac.size() > 4 && frac[4] >= '5') {
        size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[i - 1];
    }
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = (v < 0 && !zero) ? "-" : "";
    out += digits.substr(0, digits.size() - 4) + "." + digits.substr(digits.size() - 4);
    return out;
}

std::string ComputeIndicators(Database &db, UiPort &port, long long date) {
    StepLabel step;
    try {
        step = "前処理";
        const std::string caption = port.caption();
        const std::string d = std::to_string(date);

        step = "総処理数取得";
        const std::string total =
            db.scalar("Select count(*) From  T_NEARLY where IDATE=" + d + ";").toText();

        step = "初期ﾃﾞｰﾀ更新";
        db.execute(
            "Update T_NEARLY set   ANPRC  = Null ,ANDVAL = Null ,ANTALK = Null Where IDATE=" + d +
            " ;");

        step = "前営業日取得";
        ResultSet prev =
            db.openRecordset("Select max(IDATE) From  T_NEARLY where IDATE<" + d + ";");
        if (prev.eof())
            return "前営業日がみつかりません";
        // No earlier date gives a null, which is no date: the step fails.
        const std::string p = std::to_string(prev.field(0).toInt());

        step = "対象ﾃﾞｰﾀ読込(1)";
        const std::string m = std::to_string(monthOfDate(date));
        runPass(db, port, step,
                {"Select T1.CODE AS CODE1,T1.PRC    AS PRC1 ,T2.AVPRC  AS PRC2 "
                 ",T1.DVAL   AS DVAL1 ,T2.AVDVAL AS DVAL2 ,T1.TALK   AS TALK1 "
                 ",T2.AVTALK AS TALK2 From  T_NEARLY as T1 INNER JOIN T_MONTHLY as T2 "
                 "   ON T1.CODE = T2.CODE Where T1.IDATE =" +
                     d + "  and T2.YYYYMM=" + m + " ;",
                 " step1/3(",
                 "対象ﾃﾞｰﾀ読込(2)",
                 {" ANPRC=", " ANDVAL=", " ANTALK="},
                 false},
                caption, total, d);

        step = "前日比(1)";
        runPass(db, port, step,
                {"Select T1.CODE AS CODE1,T1.PRC  AS PRC1 ,T2.PRC  AS PRC2 ,T1.DVAL AS DVAL1 "
                 ",T2.DVAL AS DVAL2 ,T1.TALK AS TALK1 ,T2.TALK AS TALK2 "
                 "From  T_NEARLY as T1 INNER JOIN T_NEARLY as T2    ON T1.CODE = T2.CODE "
                 "Where T1.IDATE=" +
                     d + "  and T2.IDATE=" + p + " ;",
                 " step2/3(",
                 "前日比(2)",
                 {" A1PRC=", " A1DVAL=", " A1TALK="},
                 false},
                caption, total, d);

        step = "最大比(1)";
        runPass(db, port, step,
                {"Select T1.CODE AS CODE1,T1.PRC    AS PRC1 ,T2.MXPRC  AS PRC2 "
                 ",T1.DVAL   AS DVAL1 ,T2.MXDVAL AS DVAL2 ,T1.TALK   AS TALK1 "
                 ",T2.MXTALK AS TALK2 ,T1.ANPRC   ,T1.A1PRC   "
                 "From  T_NEARLY as T1 INNER JOIN T_MONTHLY as T2    ON T1.CODE = T2.CODE "
                 "Where T1.IDATE =" +
                     d + "  and T2.YYYYMM=" + m + " ;",
                 "  step3/3(",
                 "最大比(2)",
                 {" AXPRC=", " AXDVAL=", " AXTALK="},
                 true},
                caption, total, d);

        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

std::string UpdateDateMarkers(Database &db, UiPort &port) {
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
        auto write = [&](const char *label, const std::string &value, const char *id) {
            step = label;
            db.execute("Update T_config set pINT =" + value + " Where pID='" + id + "'  ;");
        };

        const auto a = read("直近日取得", "Select max(IDATE) From T_NEARLY ;");
        if (!a)
            return "直近日が見つかりません";
        write("直近日更新", *a, "MAXDT");
        const auto b = read("前日取得", "Select max(IDATE) From T_NEARLY where IDATE<" + *a + ";");
        if (!b)
            return "前日が見つかりません";
        write("前日更新", *b, "MAXDT1");
        const auto e = read("前月取得", "Select max(YYYYMM) From T_MONTHLY ;");
        if (!e)
            return "前月が見つかりません";
        write("前月更新", *e, "MAXMM");
        const auto f =
            read("前月2取得", "Select max(YYYYMM) From T_MONTHLY where YYYYMM<" + *e + ";");
        if (!f)
            return "前月2が見つかりません";
        write("前月2更新", *f, "MAXMM1");
        return {};
    } catch (const std::exception &e) {
        return step.failure(kStepFailedPhrase, e.what());
    }
}

} // namespace tesmo::acquire
