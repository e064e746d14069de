// The watch rules on a real database file: what a typed rule becomes or why it is refused,
// what each kind of rule selects on the newest day, the matches kept per day, and a file of
// the layout before the rules.
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "core/storage/watch_tables.h"
#include "core/watch/watch_evaluation.h"
#include "core/watch/watch_rules.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

using namespace tesmo;
using storage::Value;
using watch::Comparison;
using watch::RuleInput;
using watch::RuleKind;

namespace {

constexpr long long kDay = 20240105;

// Five stocks on the newest day, the day before, this month's averages (the trailing window
// before the day) and last month's, and a portfolio in three groups.
class WatchDb : public ::testing::Test {
protected:
    void SetUp() override {
        path = env.newDatabase();
        storage::writeSetting(storage::keys::mdbpath, path);
        db = storage::Database::open(path, storage::kConnectString);
        db->execute("UPDATE T_config SET pINT = 202312 WHERE pID = 'MAXMM1'");
        //        code    PRC     DVAL    TALK A1PRC    month AVDVAL  last month AVDVAL
        stock("1301", 1500.0, 9000.0, 30.0, 0.05, 3000.0, 5000.0);
        stock("1302", 800.0, 2999.0, 0.0, 0.0499, 1000.0, 500.0);
        stock("1303", Value(), Value(), Value(), Value(), 1000.0, Value());
        stock("1304", 2000.0, 50000.0, 2.0, -0.06, Value(), Value());
        stock("1305", 100.0, 100.0, 1.0, -0.05, 0.0, Value());
        db->execute("INSERT INTO T_NEARLY (IDATE, CODE, PRC) VALUES (20240104, '1301', 1428)");
        port(20230101, "1301", 1, 1000);
        port(20230201, "1301", 0, 1400);
        port(20230301, "1304", 1, 2500);
        port(20230401, "1302", 2, 0);
        port(20230501, "1303", 0, 100);
    }

    void stock(const std::string &code, Value prc, Value dval, Value talk, Value a1prc,
               Value monthVolume, Value lastMonthVolume) {
        db->execute("INSERT INTO master (CODE, NAME) VALUES (?, ?)", {code, "銘柄" + code});
        db->execute("INSERT INTO T_NEARLY (IDATE, CODE, PRC, DVAL, TALK, A1PRC) VALUES "
                    "(20240105, ?, ?, ?, ?, ?)",
                    {code, prc, dval, talk, a1prc});
        db->execute("INSERT INTO T_MONTHLY (YYYYMM, CODE, AVDVAL) VALUES (202401, ?, ?)",
                    {code, monthVolume});
        db->execute("INSERT INTO T_MONTHLY (YYYYMM, CODE, AVDVAL) VALUES (202312, ?, ?)",
                    {code, lastMonthVolume});
    }
    void port(int pdate, const std::string &code, int group, double aprc) {
        db->execute("INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) VALUES (?, ?, ?, ?, 100)",
                    {pdate, code, group, aprc});
    }
    long long count(const std::string &table) {
        return db->scalar("SELECT count(*) FROM " + table).toInt();
    }

    test::TempEnv env;
    std::string path;
    std::unique_ptr<storage::Database> db;
};

RuleInput column(const std::string &col, Comparison c, const std::string &threshold,
                 const std::string &group = "", bool times = false) {
    RuleInput in;
    in.column = col;
    in.comparison = c;
    in.threshold = threshold;
    in.group = group;
    in.timesAverage = times;
    return in;
}
RuleInput price(const std::string &code, Comparison c, const std::string &threshold) {
    RuleInput in = column("", c, threshold);
    in.kind = RuleKind::Price;
    in.code = code;
    return in;
}
RuleInput portfolio(RuleKind kind, const std::string &percent, const std::string &group = "") {
    RuleInput in = column("", Comparison::AtLeast, percent, group);
    in.kind = kind;
    return in;
}

using Hits = std::map<std::string, double>;

TEST_F(WatchDb, EachKindOfRuleSelectsItsStocksOnTheNewestDay) {
    const Comparison ge = Comparison::AtLeast;
    const Comparison le = Comparison::AtMost;
    struct Case {
        const char *what;
        RuleInput rule;
        Hits hits;
    };
    const Case cases[] = {
        {"a ratio at its bound", column("前比終値", ge, "5%"), {{"1301", 0.05}}},
        {"a ratio below", column("前比終値", le, "-5"), {{"1304", -0.06}, {"1305", -0.05}}},
        {"nulls never match",
         column("終値", le, "100000"),
         {{"1301", 1500}, {"1302", 800}, {"1304", 2000}, {"1305", 100}}},
        {"a count", column("出来高", ge, "3000"), {{"1301", 9000}, {"1304", 50000}}},
        {"a topic count of zero",
         column("Web話題", ge, "1"),
         {{"1301", 30}, {"1304", 2}, {"1305", 1}}},
        {"volume against the month's average, zero and missing averages skipped",
         column("出来高", ge, "3", "", true),
         {{"1301", 3.0}}},
        {"the ranking's 平均出来高 is last month's",
         column("平均出来高", ge, "1000"),
         {{"1301", 5000}}},
        {"one portfolio group", column("終値", ge, "1000", "1"), {{"1301", 1500}, {"1304", 2000}}},
        {"another group", column("終値", ge, "1000", "0"), {{"1301", 1500}}},
        {"a price level", price("1301", le, "1500"), {{"1301", 1500}}},
        {"a price level not reached", price("1302", ge, "1000"), {}},
        {"a gain, the entry that moved furthest",
         portfolio(RuleKind::PortfolioGain, "10%"),
         {{"1301", 0.5}}},
        {"a gain in one group",
         portfolio(RuleKind::PortfolioGain, "5", "0"),
         {{"1301", 100.0 / 1400}}},
        {"a gain too small in that group", portfolio(RuleKind::PortfolioGain, "10", "0"), {}},
        {"a loss", portfolio(RuleKind::PortfolioLoss, "20%"), {{"1304", -0.2}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        long long id = 0;
        ASSERT_EQ(watch::addRule(*db, c.rule, &id), "");
        const watch::Evaluation result = watch::evaluateNewestDay(*db);
        EXPECT_EQ(result.failure, "");
        EXPECT_EQ(result.date, kDay);
        Hits got;
        for (const watch::Match &m : result.matches) {
            EXPECT_EQ(m.ruleId, id);
            EXPECT_EQ(m.name, "銘柄" + m.code);
            got[m.code] = m.value;
        }
        ASSERT_EQ(got.size(), c.hits.size());
        for (const auto &[code, value] : c.hits)
            EXPECT_NEAR(got[code], value, 1e-12) << code;
        EXPECT_EQ(watch::removeRule(*db, id), "");
    }
}

TEST_F(WatchDb, MatchesAreKeptPerDayReplacedAndPruned) {
    long long ratio = 0, volume = 0;
    ASSERT_EQ(watch::addRule(*db, column("前比終値", Comparison::AtMost, "-5%"), &ratio), "");
    ASSERT_EQ(watch::addRule(*db, column("出来高", Comparison::AtLeast, "3000"), &volume), "");
    // A day that T_NEARLY no longer keeps, and the day before, which it keeps.
    db->execute("INSERT INTO T_WATCH_HIT (IDATE, WID, CODE, HVAL) VALUES (20231201, ?, '1301', 1)",
                {Value(static_cast<std::int64_t>(volume))});
    db->execute("INSERT INTO T_WATCH_HIT (IDATE, WID, CODE, HVAL) VALUES (20240104, ?, '1301', 1)",
                {Value(static_cast<std::int64_t>(volume))});

    watch::Evaluation result = watch::evaluateNewestDay(*db);
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(result.rules, 2);
    EXPECT_EQ(result.matches.size(), 4u); // 1304 and 1305, then 1301 and 1304
    EXPECT_EQ(result.stockCount(), 3);
    EXPECT_EQ(watch::announcement(result.stockCount()), "監視条件に3銘柄が該当しました");
    EXPECT_EQ(watch::announcement(0), "");

    const std::vector<watch::Match> stored = watch::storedMatches(*db, kDay);
    ASSERT_EQ(stored.size(), result.matches.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].ruleId, result.matches[i].ruleId);
        EXPECT_EQ(stored[i].code, result.matches[i].code);
        EXPECT_EQ(stored[i].valueText, result.matches[i].valueText);
    }
    EXPECT_EQ(stored.front().valueText, "-6.00%");
    EXPECT_EQ(watch::matchDates(*db), (std::vector<long long>{kDay, 20240104}));

    // A rule switched off finds nothing more, and its matches of the day go.
    ASSERT_EQ(watch::switchRule(*db, ratio, false), "");
    result = watch::evaluateNewestDay(*db);
    EXPECT_EQ(result.rules, 1);
    EXPECT_EQ(result.stockCount(), 2);
    EXPECT_EQ(watch::storedMatches(*db, kDay).size(), 2u);
    // Removing a rule removes what it found on every day.
    ASSERT_EQ(watch::removeRule(*db, volume), "");
    EXPECT_EQ(count("T_WATCH_HIT"), 0);
    EXPECT_NE(watch::removeRule(*db, volume), "");
}

TEST_F(WatchDb, TypedRulesAreReadOrRefusedWithAMessage) {
    const Comparison ge = Comparison::AtLeast;
    struct Case {
        RuleInput rule;
        const char *error; // a part of the message; empty: accepted
        double threshold;
    };
    RuleInput emptyCode = price("", ge, "100");
    const Case cases[] = {
        {column("前比終値", ge, "５％"), "", 0.05},
        {column("前比終値", ge, "＋５．５％"), "", 0.055},
        {column("前比終値", ge, "\u2212５"), "", -0.05},
        {column("ｗｅｂ話題", ge, "10"), "", 10},
        {column("A1PRC", ge, "0.1%"), "", 0.001},
        {column("終値", ge, "１，５００"), "", 1500},
        {column("出来高", ge, "3倍", "", true), "", 3},
        {price("１３０１", ge, "1500"), "", 1500},
        {portfolio(RuleKind::PortfolioLoss, "10%", "４"), "", 0.1},
        {column("存在しない列", ge, "5"), "列「存在しない列」はありません。使える列: 終値", 0},
        {column("", ge, "5"), "監視する列を指定してください", 0},
        {column("前比終値", ge, "abc"), "しきい値「abc」は数値ではありません", 0},
        {column("前比終値", ge, "1.2.3"), "は数値ではありません", 0},
        {column("前比終値", ge, "1e3"), "は数値ではありません", 0},
        {column("前比終値", ge, "nan"), "は数値ではありません", 0},
        {column("前比終値", ge, ""), "しきい値を指定してください", 0},
        {column("終値", ge, "5%"), "終値は割合ではないため", 0},
        {column("前比終値", ge, "3倍"), "「倍」は出来高を平均と比べるときだけ", 0},
        {column("終値", ge, "3", "", true), "出来高だけ", 0},
        {column("出来高", ge, "0", "", true), "0より大きい", 0},
        {column("終値", ge, "100", "5"), "区分「5」は0から4の数字で", 0},
        {price("9999", ge, "100"), "銘柄ｺｰﾄﾞ「9999」は銘柄マスタにありません", 0},
        {emptyCode, "銘柄ｺｰﾄﾞを指定してください", 0},
        {price("1301", ge, "-5"), "価格は0より大きい", 0},
        {portfolio(RuleKind::PortfolioGain, "-3%"), "0以上", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rule.column + c.rule.code + " " + c.rule.threshold);
        long long id = 0;
        const std::string error = watch::addRule(*db, c.rule, &id);
        if (*c.error == '\0') {
            ASSERT_EQ(error, "");
            const std::vector<watch::Rule> rules = watch::listRules(*db);
            ASSERT_EQ(rules.size(), 1u);
            EXPECT_EQ(rules[0].threshold, c.threshold);
            EXPECT_EQ(rules[0].name, watch::describeRule(rules[0]));
            // What an editor shows of the rule reads back into the same rule.
            const watch::CheckedRule again = watch::checkRule(*db, watch::ruleInput(rules[0]), id);
            ASSERT_TRUE(again.rule) << again.error;
            EXPECT_EQ(watch::describeRule(*again.rule), watch::describeRule(rules[0]));
            EXPECT_EQ(again.rule->threshold, rules[0].threshold);
            EXPECT_EQ(again.rule->group, rules[0].group);
            ASSERT_EQ(watch::removeRule(*db, id), "");
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_EQ(count("T_WATCH"), 0);
        }
    }
    // Names are the user's handle on a rule: no two alike.
    RuleInput named = column("終値", ge, "100");
    named.name = "目標株価";
    ASSERT_EQ(watch::addRule(*db, named), "");
    EXPECT_EQ(watch::addRule(*db, named), "同じ名前の監視条件がすでにあります: 目標株価");
    EXPECT_EQ(count("T_WATCH"), 1);
    EXPECT_EQ(watch::findRule(*db, "目標株価"), watch::listRules(*db).at(0).id);
}

// A file of the layout before the rules gains their tables when the program opens it, and keeps
// every row it had.
TEST_F(WatchDb, AFileOfTheEarlierLayoutGainsTheTablesOnOpen) {
    db->executeNative("DROP TABLE T_WATCH; DROP TABLE T_WATCH_HIT;");
    const char *tables[] = {"master", "T_NEARLY", "T_MONTHLY", "T_PORT", "T_config"};
    std::map<std::string, long long> before;
    for (const char *t : tables)
        before[t] = count(t);
    db->close();
    db.reset();

    storage::connectDatabase();
    storage::Database &opened = storage::mainDatabase();
    for (const char *t : tables)
        EXPECT_EQ(opened.scalar(std::string("SELECT count(*) FROM ") + t).toInt(), before[t]) << t;
    EXPECT_EQ(opened.scalar("SELECT count(*) FROM T_WATCH").toInt(), 0);
    EXPECT_EQ(watch::addRule(opened, column("終値", Comparison::AtLeast, "1")), "");
    EXPECT_EQ(watch::evaluateNewestDay(opened).stockCount(), 4);
    storage::closeDatabase();
}

} // namespace
