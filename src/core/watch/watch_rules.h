#pragma once
// Watch rules: conditions on the newest day's figures that the user wants to be told about
// after a data update. They live in T_WATCH of the database file, so they travel with it.
#include "core/storage/database.h"

#include <optional>
#include <string>
#include <vector>

namespace tesmo::watch {

// What a column's numbers are, which decides how a threshold is typed and shown.
enum class Unit {
    Price, // yen: 1,500
    Count, // volumes, topic counts: whole numbers
    Ratio, // the indicators' fractions, typed and shown as percentages
    Score, // 推薦度: a plain number
};

// A column of the ranking (and 出来高 of the portfolio table) that a rule can watch.
struct WatchColumn {
    const char *caption; // as the grid shows it, and as T_WATCH.COL keeps it
    const char *field;   // the figure of the newest day it stands for
    Unit unit;
    const char *source; // where the evaluation reads it (see watch_evaluation.cpp)
};
const std::vector<WatchColumn> &watchColumns();
// The column a user named by caption or field, full width or half ("前比終値", "A1PRC").
const WatchColumn *findWatchColumn(const std::string &typed);

enum class RuleKind {
    Column,        // a column against a threshold, for every stock or one portfolio group
    Price,         // one code's close against a price (目標株価, 損切り)
    PortfolioGain, // portfolio entries whose close is at least a percentage above APRC
    PortfolioLoss, // ... at least a percentage below APRC
};
enum class Comparison { AtLeast, AtMost };

struct Rule {
    long long id = 0;
    std::string name;
    bool enabled = true;
    RuleKind kind = RuleKind::Column;
    std::string column; // caption, column rules only
    Comparison comparison = Comparison::AtLeast;
    // In the column's unit: a fraction for ratios and for the portfolio's percentages (0.05 for
    // 5 %), a multiple of the monthly average when timesAverage is set.
    double threshold = 0;
    bool timesAverage = false; // 出来高 against N × its average over the trailing month
    std::string code;          // price rules
    std::optional<int> group;  // a portfolio group (PSW); none: every stock (every group)
};

// A rule as the user typed it in a window or on the command line, before it is checked.
struct RuleInput {
    std::string name; // empty: the rule's description
    bool enabled = true;
    RuleKind kind = RuleKind::Column;
    std::string column;
    Comparison comparison = Comparison::AtLeast;
    std::string threshold; // "5%", "+５％", "1,500", "3倍"
    bool timesAverage = false;
    std::string code;
    std::string group; // "" for every stock, else 0 to 4
};

// The rule that `input` describes, or the message that says what is wrong with it ("列
// 「…」はありません", a threshold that is no number, a code that the master lacks, a name that
// another rule has). `ownId` is the rule being changed (0 for a new one), whose own name does
// not count as taken. Reads the master and T_WATCH; raises DbError when they cannot be read.
struct CheckedRule {
    std::optional<Rule> rule;
    std::string error;
};
CheckedRule checkRule(storage::Database &db, const RuleInput &input, long long ownId = 0);

// The rules in the order they were added. Raises DbError; a row that no longer describes a
// rule (edited by hand) raises with its number.
std::vector<Rule> listRules(storage::Database &db);

// Each returns the empty text on success, else a message for the user; nothing is stored
// then. `id` receives the new rule's number.
std::string addRule(storage::Database &db, const RuleInput &input, long long *id = nullptr);
std::string changeRule(storage::Database &db, long long id, const RuleInput &input);
// Deletes the rule and the matches it found.
std::string removeRule(storage::Database &db, long long id);
std::string switchRule(storage::Database &db, long long id, bool enabled);

// A stored rule as the user would type it: what an editor shows, and what checkRule reads back
// into the same rule.
RuleInput ruleInput(const Rule &rule);

// The number of the rule that `typed` names: its number, or else its name.
std::optional<long long> findRule(storage::Database &db, const std::string &typed);

// "前比終値 ≥ 5%", "出来高 ≥ 平均の3倍 (区分1)", "1301 終値 ≤ 1,500", "ﾎﾟｰﾄﾌｫﾘｵ 価格1比 +10%以上".
std::string describeRule(const Rule &rule);
// A matched value as the rule's column shows it: "5.20%", "3.4倍", "1,480", "12".
std::string valueText(const Rule &rule, double value);

} // namespace tesmo::watch
