#include "core/watch/watch_evaluation.h"

#include "core/common/app_state.h"
#include "core/storage/db_error.h"
#include "core/storage/own_transaction.h"
#include "core/storage/watch_tables.h"
#include "core/watch/watch_rules.h"

#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace tesmo::watch {
namespace {

using storage::Database;
using storage::OwnTransaction;
using storage::RowView;
using storage::Value;

using Figure = std::optional<double>;

// One stock on the evaluated day: the figures of the watch columns in their order, and the
// average volume over the trailing month that a volume multiple is measured against.
struct StockDay {
    std::string code;
    std::string name;
    std::vector<Figure> figures;
    Figure monthVolume;
};

// A number, or nothing for a null or a text that is none: a text must never pass for a figure.
Figure figure(const RowView &row, int col) {
    switch (row.type(col)) {
    case Value::Type::Integer:
    case Value::Type::Real:
        return row.real(col);
    default:
        return std::nullopt;
    }
}

// The whole day in one read, in the order of codes. The month row of the day's month sums up
// the trading dates before it, as the indicators compare with; 平均出来高 is the previous
// month's, as the ranking shows it.
std::vector<StockDay> readDay(Database &db, long long date) {
    std::string select = "SELECT N.CODE, M.NAME, MM.AVDVAL";
    for (const WatchColumn &c : watchColumns())
        select += std::string(", ") + c.source;
    select += " FROM ((T_NEARLY AS N LEFT JOIN master AS M ON M.CODE = N.CODE)"
              " LEFT JOIN T_MONTHLY AS MM ON (MM.YYYYMM = ? AND MM.CODE = N.CODE))"
              " LEFT JOIN T_MONTHLY AS MM1 ON (MM1.YYYYMM = (SELECT pINT FROM T_config WHERE"
              " pID = 'MAXMM1') AND MM1.CODE = N.CODE)"
              " WHERE N.IDATE = ? ORDER BY N.CODE";
    std::vector<StockDay> day;
    const int columns = static_cast<int>(watchColumns().size());
    db.forEachRow(
        select,
        {Value(static_cast<std::int64_t>(date / 100)), Value(static_cast<std::int64_t>(date))},
        [&](const RowView &row) {
            StockDay s;
            s.code = std::string(row.text(0));
            s.name = std::string(row.text(1));
            s.monthVolume = figure(row, 2);
            s.figures.reserve(static_cast<size_t>(columns));
            for (int i = 0; i < columns; ++i)
                s.figures.push_back(figure(row, 3 + i));
            day.push_back(std::move(s));
        });
    return day;
}

struct Entry {
    std::string code;
    int group = 0;
    Figure price; // APRC
};

std::vector<Entry> readPortfolio(Database &db) {
    std::vector<Entry> entries;
    db.forEachRow("SELECT CODE, PSW, APRC FROM " + portfolioTable(), {}, [&](const RowView &row) {
        entries.push_back({std::string(row.text(0)),
                           row.type(1) == Value::Type::Null ? -1 : static_cast<int>(row.integer(1)),
                           figure(row, 2)});
    });
    return entries;
}

size_t columnIndex(const std::string &caption) {
    const auto &all = watchColumns();
    for (size_t i = 0; i < all.size(); ++i)
        if (caption == all[i].caption)
            return i;
    throw storage::DbError("列「" + caption + "」はありません。");
}

bool passes(Comparison c, double value, double threshold) {
    return c == Comparison::AtLeast ? value >= threshold : value <= threshold;
}

// What one rule selects on the day, as (code, value) in the order of codes.
std::vector<std::pair<std::string, double>>
select(const Rule &rule, const std::vector<StockDay> &day,
       const std::unordered_map<std::string, size_t> &byCode, const std::vector<Entry> &portfolio) {
    std::vector<std::pair<std::string, double>> hits;
    switch (rule.kind) {
    case RuleKind::Column: {
        const size_t col = columnIndex(rule.column);
        std::set<std::string> inGroup;
        if (rule.group)
            for (const Entry &e : portfolio)
                if (e.group == *rule.group)
                    inGroup.insert(e.code);
        for (const StockDay &s : day) {
            const Figure &v = s.figures[col];
            if (!v || (rule.group && !inGroup.contains(s.code)))
                continue;
            if (!rule.timesAverage) {
                if (passes(rule.comparison, *v, rule.threshold))
                    hits.emplace_back(s.code, *v);
            } else if (s.monthVolume && *s.monthVolume > 0 &&
                       passes(rule.comparison, *v, rule.threshold * *s.monthVolume)) {
                hits.emplace_back(s.code, *v / *s.monthVolume);
            }
        }
        break;
    }
    case RuleKind::Price: {
        const auto it = byCode.find(rule.code);
        if (it == byCode.end())
            break;
        const Figure &close = day[it->second].figures[columnIndex("終値")];
        if (close && passes(rule.comparison, *close, rule.threshold))
            hits.emplace_back(rule.code, *close);
        break;
    }
    case RuleKind::PortfolioGain:
    case RuleKind::PortfolioLoss: {
        // A code bought more than once counts once, with the entry that moved furthest.
        const bool gain = rule.kind == RuleKind::PortfolioGain;
        const size_t closeCol = columnIndex("終値");
        std::map<std::string, double> furthest;
        for (const Entry &e : portfolio) {
            if (rule.group && e.group != *rule.group)
                continue;
            const auto it = byCode.find(e.code);
            if (it == byCode.end() || !e.price || *e.price <= 0)
                continue;
            const Figure &close = day[it->second].figures[closeCol];
            if (!close)
                continue;
            const double change = (*close - *e.price) / *e.price;
            if (gain ? change < rule.threshold : change > -rule.threshold)
                continue;
            const auto [at, fresh] = furthest.emplace(e.code, change);
            if (!fresh && (gain ? change > at->second : change < at->second))
                at->second = change;
        }
        hits.assign(furthest.begin(), furthest.end());
        break;
    }
    }
    return hits;
}

} // namespace

int Evaluation::stockCount() const {
    std::set<std::string> codes;
    for (const Match &m : matches)
        codes.insert(m.code);
    return static_cast<int>(codes.size());
}

Evaluation evaluateNewestDay(Database &db) {
    Evaluation out;
    try {
        storage::ensureWatchTables(db);
        const std::vector<Rule> rules = listRules(db);
        const Value newest = db.scalar("SELECT max(IDATE) FROM T_NEARLY");
        if (newest.isNull())
            return out;
        out.date = newest.toInt();

        std::vector<StockDay> day;
        std::vector<Entry> portfolio;
        bool needsPortfolio = false;
        for (const Rule &r : rules) {
            if (!r.enabled)
                continue;
            ++out.rules;
            needsPortfolio = needsPortfolio || r.group || r.kind == RuleKind::PortfolioGain ||
                             r.kind == RuleKind::PortfolioLoss;
        }
        if (out.rules > 0)
            day = readDay(db, out.date);
        if (needsPortfolio)
            portfolio = readPortfolio(db);
        std::unordered_map<std::string, size_t> byCode;
        for (size_t i = 0; i < day.size(); ++i)
            byCode.emplace(day[i].code, i);

        std::vector<Match> matches;
        for (const Rule &r : rules) {
            if (!r.enabled)
                continue;
            for (const auto &[code, value] : select(r, day, byCode, portfolio)) {
                const auto it = byCode.find(code);
                matches.push_back({out.date, r.id, r.name, code,
                                   it == byCode.end() ? std::string() : day[it->second].name, value,
                                   valueText(r, value)});
            }
        }

        db.verifyFile();
        OwnTransaction transaction(db);
        db.execute("DELETE FROM T_WATCH_HIT WHERE IDATE = ?",
                   {Value(static_cast<std::int64_t>(out.date))});
        for (const Match &m : matches)
            db.execute("INSERT INTO T_WATCH_HIT (IDATE, WID, CODE, HVAL) VALUES (?, ?, ?, ?)",
                       {Value(static_cast<std::int64_t>(m.date)),
                        Value(static_cast<std::int64_t>(m.ruleId)), m.code, m.value});
        db.execute("DELETE FROM T_WATCH_HIT WHERE IDATE < (SELECT min(IDATE) FROM T_NEARLY)");
        transaction.commit();
        out.matches = std::move(matches);
    } catch (const std::exception &e) {
        out.matches.clear();
        out.failure = std::string("監視条件の評価中にｴﾗｰが発生しました\r\n詳細:") + e.what();
    }
    return out;
}

std::vector<Match> storedMatches(Database &db, long long date) {
    storage::ensureWatchTables(db);
    std::map<long long, Rule> rules;
    for (Rule &r : listRules(db))
        rules.emplace(r.id, std::move(r));
    std::vector<Match> out;
    db.forEachRow("SELECT H.WID, H.CODE, H.HVAL, M.NAME FROM T_WATCH_HIT AS H LEFT JOIN master "
                  "AS M ON M.CODE = H.CODE WHERE H.IDATE = ? ORDER BY H.WID, H.CODE",
                  {Value(static_cast<std::int64_t>(date))}, [&](const RowView &row) {
                      const auto rule = rules.find(row.integer(0));
                      if (rule == rules.end())
                          return; // a rule removed by another program meanwhile
                      const double value = row.real(2);
                      out.push_back({date, rule->first, rule->second.name, std::string(row.text(1)),
                                     std::string(row.text(3)), value,
                                     valueText(rule->second, value)});
                  });
    return out;
}

std::vector<long long> matchDates(Database &db) {
    storage::ensureWatchTables(db);
    std::vector<long long> dates;
    db.forEachRow("SELECT DISTINCT IDATE FROM T_WATCH_HIT ORDER BY IDATE DESC", {},
                  [&](const RowView &row) { dates.push_back(row.integer(0)); });
    return dates;
}

std::string announcement(int stocks) {
    if (stocks <= 0)
        return {};
    return "監視条件に" + std::to_string(stocks) + "銘柄が該当しました";
}

} // namespace tesmo::watch
