#include "core/watch/watch_rules.h"

#include "core/common/text.h"
#include "core/storage/db_error.h"
#include "core/storage/watch_tables.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace tesmo::watch {
namespace {

using storage::Database;
using storage::DbError;
using storage::Value;

constexpr const char *kVolumeField = "DVAL";
constexpr int kGroups = 5; // 区分0 to 区分4 of the portfolio table

std::string trimmed(const std::string &s) {
    const size_t start = s.find_first_not_of(' ');
    if (start == std::string::npos)
        return {};
    return s.substr(start, s.find_last_not_of(' ') - start + 1);
}

// The text as the user meant it: full-width digits and signs made half width, the minus sign
// of a Japanese input method (U+2212) an ASCII one, blanks around it gone.
std::string folded(const std::string &typed) {
    std::string s = halfWidthAscii(typed);
    replaceAll(s, "\u2212", "-");
    return trimmed(s);
}

bool endsWith(std::string &s, const std::string &suffix, bool strip) {
    if (s.size() < suffix.size() || s.compare(s.size() - suffix.size(), suffix.size(), suffix))
        return false;
    if (strip)
        s = trimmed(s.substr(0, s.size() - suffix.size()));
    return true;
}

// A decimal number with an optional sign and thousands separators; `exponent` shifts its
// decimal point, so that "0.1" percent becomes the double nearest to 0.001 rather than
// 0.1 / 100 with a second rounding.
std::optional<double> decimalNumber(std::string s, int exponent) {
    std::erase(s, ',');
    if (!s.empty() && s[0] == '+')
        s.erase(0, 1);
    if (s.empty() || s.find_first_not_of("0123456789.-") != std::string::npos)
        return std::nullopt;
    if (exponent != 0)
        s += "e" + std::to_string(exponent);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The threshold of `typed` in the rule's unit, or the message that says why it is none.
struct Threshold {
    double value = 0;
    std::string error;
};
Threshold readThreshold(const std::string &typed, bool percent, bool times,
                        const std::string &what) {
    std::string s = folded(typed);
    if (s.empty())
        return {0, "しきい値を指定してください。"};
    const bool hasPercent = endsWith(s, "%", true);
    const bool hasTimes = endsWith(s, "倍", true) || endsWith(s, "x", true);
    if (hasPercent && !percent)
        return {0, "しきい値「" + typed + "」: " + what +
                       "は割合ではないため、「%」は付けられません。"};
    if (hasTimes && !times)
        return {0, "しきい値「" + typed + "」: 「倍」は出来高を平均と比べるときだけ付けられます。"};
    const std::optional<double> v = decimalNumber(s, percent ? -2 : 0);
    if (!v)
        return {0, "しきい値「" + typed + "」は数値ではありません。"};
    return {*v, {}};
}

std::string columnList() {
    std::string list;
    for (const WatchColumn &c : watchColumns())
        list += std::string(list.empty() ? "" : "、") + c.caption;
    return list;
}

// Thousands separators for the whole part of a number's plain text.
std::string grouped(std::string text) {
    const size_t start = text[0] == '-' ? 1 : 0;
    size_t end = text.find('.');
    if (end == std::string::npos)
        end = text.size();
    for (size_t at = end; at > start + 3; at -= 3)
        text.insert(at - 3, ",");
    return text;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    (void)std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string percentText(double fraction) {
    return storage::formatDouble(fraction * 100) + "%";
}

std::string numberText(Unit unit, double v) {
    switch (unit) {
    case Unit::Price:
        return grouped(storage::formatDouble(v));
    case Unit::Count:
        return grouped(fixed(v, 0));
    case Unit::Ratio:
        return fixed(v * 100, 2) + "%";
    case Unit::Score:
        return storage::formatDouble(v);
    }
    return storage::formatDouble(v);
}

const char *kindName(RuleKind kind) {
    switch (kind) {
    case RuleKind::Column:
        return "column";
    case RuleKind::Price:
        return "price";
    case RuleKind::PortfolioGain:
        return "gain";
    case RuleKind::PortfolioLoss:
        return "loss";
    }
    return "column";
}

std::optional<RuleKind> kindNamed(const std::string &name) {
    for (RuleKind k :
         {RuleKind::Column, RuleKind::Price, RuleKind::PortfolioGain, RuleKind::PortfolioLoss})
        if (name == kindName(k))
            return k;
    return std::nullopt;
}

std::optional<long long> ruleWithName(Database &db, const std::string &name) {
    storage::ResultSet rs = db.openRecordset("SELECT WID FROM T_WATCH WHERE WNAME = ?", {name});
    if (rs.eof())
        return std::nullopt;
    return rs.field(0).toInt();
}

} // namespace

const std::vector<WatchColumn> &watchColumns() {
    // The ranking's columns in its order, with 出来高 of the portfolio table, which the
    // ranking shows only as its average.
    static const std::vector<WatchColumn> all = {
        {"終値", "PRC", Unit::Price, "N.PRC"},
        {"出来高", "DVAL", Unit::Count, "N.DVAL"},
        {"平均出来高", "MM1AVDVAL", Unit::Count, "MM1.AVDVAL"},
        {"Web話題", "TALK", Unit::Count, "N.TALK"},
        {"平均終値", "ANPRC", Unit::Ratio, "N.ANPRC"},
        {"最大Web話", "AXTALK", Unit::Ratio, "N.AXTALK"},
        {"推薦度", "VAL1", Unit::Score, "N.VAL2"},
        {"前比終値", "A1PRC", Unit::Ratio, "N.A1PRC"},
        {"前比Web話", "A1TALK", Unit::Ratio, "N.A1TALK"},
    };
    return all;
}

const WatchColumn *findWatchColumn(const std::string &typed) {
    const std::string s = folded(typed);
    for (const WatchColumn &c : watchColumns())
        if (lowerAscii(s) == lowerAscii(c.caption) || lowerAscii(s) == lowerAscii(c.field))
            return &c;
    return nullptr;
}

CheckedRule checkRule(Database &db, const RuleInput &in, long long ownId) {
    Rule rule;
    rule.id = ownId;
    rule.enabled = in.enabled;
    rule.kind = in.kind;
    rule.comparison = in.comparison;
    const auto refuse = [](std::string message) {
        return CheckedRule{std::nullopt, std::move(message)};
    };

    if (const std::string g = folded(in.group); !g.empty()) {
        if (g.size() != 1 || g[0] < '0' || g[0] >= '0' + kGroups)
            return refuse("区分「" + in.group + "」は0から4の数字で指定してください。");
        rule.group = g[0] - '0';
    }

    Threshold t;
    switch (in.kind) {
    case RuleKind::Column: {
        if (folded(in.column).empty())
            return refuse("監視する列を指定してください。使える列: " + columnList());
        const WatchColumn *col = findWatchColumn(in.column);
        if (!col)
            return refuse("列「" + in.column + "」はありません。使える列: " + columnList());
        rule.column = col->caption;
        rule.timesAverage = in.timesAverage;
        if (in.timesAverage && std::string(col->field) != kVolumeField)
            return refuse("平均の何倍かで比べられるのは出来高だけです。");
        t = readThreshold(in.threshold, col->unit == Unit::Ratio && !in.timesAverage,
                          in.timesAverage, col->caption);
        if (t.error.empty() && in.timesAverage && t.value <= 0)
            return refuse("平均の何倍かは0より大きい数値で指定してください。");
        break;
    }
    case RuleKind::Price: {
        rule.code = normalizeStockCode(in.code);
        if (rule.code.empty())
            return refuse("銘柄ｺｰﾄﾞを指定してください。");
        if (db.openRecordset("SELECT CODE FROM master WHERE CODE = ?", {rule.code}).rowCount() == 0)
            return refuse("銘柄ｺｰﾄﾞ「" + in.code + "」は銘柄マスタにありません。");
        rule.column = "終値";
        rule.group.reset(); // one code: no group applies
        t = readThreshold(in.threshold, false, false, "終値");
        if (t.error.empty() && t.value <= 0)
            return refuse("価格は0より大きい数値で指定してください。");
        break;
    }
    case RuleKind::PortfolioGain:
    case RuleKind::PortfolioLoss:
        t = readThreshold(in.threshold, true, false, "損益");
        if (t.error.empty() && t.value < 0)
            return refuse(
                "損益の割合は0以上の数値で指定してください (損は「損」の条件で指定します)。");
        rule.comparison =
            in.kind == RuleKind::PortfolioGain ? Comparison::AtLeast : Comparison::AtMost;
        break;
    }
    if (!t.error.empty())
        return refuse(t.error);
    rule.threshold = t.value;

    rule.name = singleLine(in.name, 100);
    if (rule.name.empty())
        rule.name = describeRule(rule);
    storage::ensureWatchTables(db);
    if (const auto other = ruleWithName(db, rule.name); other && *other != ownId)
        return refuse("同じ名前の監視条件がすでにあります: " + rule.name);
    return {rule, {}};
}

std::vector<Rule> listRules(Database &db) {
    storage::ensureWatchTables(db);
    std::vector<Rule> rules;
    storage::ResultSet rs = db.openRecordset(
        "SELECT WID, WNAME, ENABLED, KIND, COL, OP, THRESHOLD, AVGX, CODE, PSW FROM T_WATCH "
        "ORDER BY WID");
    for (; !rs.eof(); rs.moveNext()) {
        Rule r;
        r.id = rs.field(0).toInt();
        const auto broken = [&r](const std::string &what) {
            return DbError("監視条件" + std::to_string(r.id) + "の内容が正しくありません (" + what +
                           ")。");
        };
        r.name = rs.field(1).textOr("");
        r.enabled = !rs.field(2).isNull() && rs.field(2).toInt() != 0;
        const std::optional<RuleKind> kind = kindNamed(rs.field(3).textOr(""));
        if (!kind)
            throw broken("KIND=" + rs.field(3).textOr(""));
        r.kind = *kind;
        r.column = rs.field(4).textOr("");
        const std::string op = rs.field(5).textOr("");
        if (op != ">=" && op != "<=")
            throw broken("OP=" + op);
        r.comparison = op == ">=" ? Comparison::AtLeast : Comparison::AtMost;
        if (rs.field(6).isNull())
            throw broken("THRESHOLD");
        r.threshold = rs.field(6).toDouble();
        r.timesAverage = !rs.field(7).isNull() && rs.field(7).toInt() != 0;
        r.code = rs.field(8).textOr("");
        if (!rs.field(9).isNull())
            r.group = static_cast<int>(rs.field(9).toInt());
        if (r.kind == RuleKind::Column && !findWatchColumn(r.column))
            throw broken("COL=" + r.column);
        rules.push_back(std::move(r));
    }
    return rules;
}

namespace {

// A rule's columns of T_WATCH, in the order WNAME, ENABLED, KIND, COL, OP, THRESHOLD, AVGX,
// CODE, PSW; what a rule does not use is stored as null.
std::vector<Value> storedFields(const Rule &r) {
    return {r.name,
            r.enabled ? 1 : 0,
            kindName(r.kind),
            r.column.empty() ? Value() : Value(r.column),
            r.comparison == Comparison::AtLeast ? ">=" : "<=",
            r.threshold,
            r.timesAverage ? 1 : 0,
            r.code.empty() ? Value() : Value(r.code),
            r.group ? Value(*r.group) : Value()};
}

} // namespace

std::string addRule(Database &db, const RuleInput &input, long long *id) {
    try {
        const CheckedRule checked = checkRule(db, input);
        if (!checked.rule)
            return checked.error;
        const Rule &r = *checked.rule;
        db.verifyFile();
        db.execute("INSERT INTO T_WATCH (WNAME, ENABLED, KIND, COL, OP, THRESHOLD, AVGX, CODE, "
                   "PSW) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   storedFields(r));
        // Another program may have taken the name since the check: the row was dropped then.
        if (db.changes() != 1)
            return "同じ名前の監視条件がすでにあります: " + r.name;
        if (id)
            *id = db.scalar("SELECT last_insert_rowid()").toInt();
        return {};
    } catch (const std::exception &e) {
        return std::string("監視条件を保存できません: ") + e.what();
    }
}

std::string changeRule(Database &db, long long id, const RuleInput &input) {
    try {
        const CheckedRule checked = checkRule(db, input, id);
        if (!checked.rule)
            return checked.error;
        const Rule &r = *checked.rule;
        db.verifyFile();
        std::vector<Value> fields = storedFields(r);
        fields.emplace_back(static_cast<std::int64_t>(id));
        db.execute("UPDATE T_WATCH SET WNAME = ?, ENABLED = ?, KIND = ?, COL = ?, OP = ?, "
                   "THRESHOLD = ?, AVGX = ?, CODE = ?, PSW = ? WHERE WID = ?",
                   fields);
        if (db.changes() != 1)
            return "監視条件" + std::to_string(id) + "はありません。";
        // What the rule found before no longer answers it.
        db.execute("DELETE FROM T_WATCH_HIT WHERE WID = ?", {Value(static_cast<std::int64_t>(id))});
        return {};
    } catch (const std::exception &e) {
        return std::string("監視条件を保存できません: ") + e.what();
    }
}

std::string removeRule(Database &db, long long id) {
    try {
        storage::ensureWatchTables(db);
        db.verifyFile();
        db.execute("DELETE FROM T_WATCH WHERE WID = ?", {Value(static_cast<std::int64_t>(id))});
        if (db.changes() != 1)
            return "監視条件" + std::to_string(id) + "はありません。";
        db.execute("DELETE FROM T_WATCH_HIT WHERE WID = ?", {Value(static_cast<std::int64_t>(id))});
        return {};
    } catch (const std::exception &e) {
        return std::string("監視条件を削除できません: ") + e.what();
    }
}

std::string switchRule(Database &db, long long id, bool enabled) {
    try {
        storage::ensureWatchTables(db);
        db.verifyFile();
        db.execute("UPDATE T_WATCH SET ENABLED = ? WHERE WID = ?",
                   {enabled ? 1 : 0, Value(static_cast<std::int64_t>(id))});
        if (db.changes() != 1)
            return "監視条件" + std::to_string(id) + "はありません。";
        return {};
    } catch (const std::exception &e) {
        return std::string("監視条件を保存できません: ") + e.what();
    }
}

std::optional<long long> findRule(Database &db, const std::string &typed) {
    storage::ensureWatchTables(db);
    const std::string s = folded(typed);
    if (!s.empty() && s.find_first_not_of("0123456789") == std::string::npos && s.size() < 18) {
        const long long id = std::stoll(s);
        if (db.openRecordset("SELECT WID FROM T_WATCH WHERE WID = ?",
                             {Value(static_cast<std::int64_t>(id))})
                .rowCount() != 0)
            return id;
    }
    return ruleWithName(db, singleLine(typed));
}

RuleInput ruleInput(const Rule &r) {
    RuleInput in;
    in.name = r.name;
    in.enabled = r.enabled;
    in.kind = r.kind;
    in.column = r.kind == RuleKind::Column ? r.column : std::string();
    in.comparison = r.comparison;
    in.timesAverage = r.timesAverage;
    in.code = r.code;
    in.group = r.group ? std::to_string(*r.group) : std::string();
    const WatchColumn *col = r.kind == RuleKind::Column ? findWatchColumn(r.column) : nullptr;
    const bool percent = r.kind == RuleKind::PortfolioGain || r.kind == RuleKind::PortfolioLoss ||
                         (col && col->unit == Unit::Ratio && !r.timesAverage);
    in.threshold = percent ? percentText(r.threshold) : storage::formatDouble(r.threshold);
    return in;
}

std::string describeRule(const Rule &r) {
    const std::string op = r.comparison == Comparison::AtLeast ? " ≥ " : " ≤ ";
    const std::string group = r.group ? " (区分" + std::to_string(*r.group) + ")" : "";
    switch (r.kind) {
    case RuleKind::Column: {
        const WatchColumn *col = findWatchColumn(r.column);
        if (r.timesAverage)
            return r.column + op + "平均の" + storage::formatDouble(r.threshold) + "倍" + group;
        const std::string t = col && col->unit == Unit::Ratio
                                  ? percentText(r.threshold)
                                  : numberText(col ? col->unit : Unit::Score, r.threshold);
        return r.column + op + t + group;
    }
    case RuleKind::Price:
        return r.code + " 終値" + op + numberText(Unit::Price, r.threshold);
    case RuleKind::PortfolioGain:
        return "ﾎﾟｰﾄﾌｫﾘｵ 価格1比 +" + percentText(r.threshold) + "以上" + group;
    case RuleKind::PortfolioLoss:
        return "ﾎﾟｰﾄﾌｫﾘｵ 価格1比 -" + percentText(r.threshold) + "以下" + group;
    }
    return r.name;
}

std::string valueText(const Rule &r, double value) {
    switch (r.kind) {
    case RuleKind::Column: {
        if (r.timesAverage)
            return fixed(value, 2) + "倍";
        const WatchColumn *col = findWatchColumn(r.column);
        return numberText(col ? col->unit : Unit::Score, value);
    }
    case RuleKind::Price:
        return numberText(Unit::Price, value);
    case RuleKind::PortfolioGain:
    case RuleKind::PortfolioLoss:
        return (value >= 0 ? "+" : "") + fixed(value * 100, 2) + "%";
    }
    return storage::formatDouble(value);
}

} // namespace tesmo::watch
