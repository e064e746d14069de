#pragma once
// The watch rules evaluated on the newest trading day, after every data update and on demand,
// and the matches kept per day in T_WATCH_HIT for the dates that T_NEARLY keeps.
#include "core/storage/database.h"

#include <string>
#include <vector>

namespace tesmo::watch {

struct Match {
    long long date = 0;
    long long ruleId = 0;
    std::string ruleName;
    std::string code;
    std::string name;      // the stock's name in the master
    double value = 0;      // what matched: the column's figure, the multiple of the average,
                           // the change against APRC as a fraction
    std::string valueText; // that value as the rule's column shows it ("5.20%", "3.41倍")
};

struct Evaluation {
    long long date = 0;         // the day evaluated; 0 while the database holds no day
    int rules = 0;              // rules switched on
    std::vector<Match> matches; // by rule in the order they were added, each rule's by code
    std::string failure;        // empty when the rules ran; then no match is reported
    // Stocks that at least one rule selected: what the announcement counts.
    int stockCount() const;
};

// Evaluates the rules that are switched on over the newest day of T_NEARLY and stores what
// they select in place of that day's earlier matches; matches of dates that T_NEARLY no longer
// keeps are dropped. A day of ~3,800 stocks is read once, whatever the number of rules. Never
// raises: a failure is reported in `failure` and leaves the stored matches as they were.
Evaluation evaluateNewestDay(storage::Database &db);

// The matches kept for `date`, in the order evaluateNewestDay reports them. Raises DbError.
std::vector<Match> storedMatches(storage::Database &db, long long date);
// The dates with kept matches, newest first. Raises DbError.
std::vector<long long> matchDates(storage::Database &db);

// "監視条件に3銘柄が該当しました"; empty for no stock.
std::string announcement(int stocks);

} // namespace tesmo::watch
