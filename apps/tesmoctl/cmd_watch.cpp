// watch: the watch rules of a database, and their matches on the newest day, for scripts and
// cron. The same routines as the 監視条件 and シグナル windows.
#include "commands.h"

#include "core/common/dates.h"
#include "core/storage/database.h"
#include "core/watch/watch_evaluation.h"
#include "core/watch/watch_rules.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace tesmoctl {
using namespace tesmo;
using nlohmann::json;

namespace {

const char *kindName(watch::RuleKind kind) {
    switch (kind) {
    case watch::RuleKind::Column:
        return "column";
    case watch::RuleKind::Price:
        return "price";
    case watch::RuleKind::PortfolioGain:
        return "portfolio-gain";
    case watch::RuleKind::PortfolioLoss:
        return "portfolio-loss";
    }
    return "column";
}

json ruleJson(const watch::Rule &r) {
    json j = {{"id", r.id},
              {"name", r.name},
              {"enabled", r.enabled},
              {"kind", kindName(r.kind)},
              {"op", r.comparison == watch::Comparison::AtLeast ? ">=" : "<="},
              {"threshold", r.threshold},
              {"description", watch::describeRule(r)}};
    if (r.kind == watch::RuleKind::Column) {
        j["column"] = r.column;
        j["timesAverage"] = r.timesAverage;
    }
    if (r.kind == watch::RuleKind::Price)
        j["code"] = r.code;
    j["group"] = r.group ? json(*r.group) : json(nullptr);
    return j;
}

void print(const json &j) {
    std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

int list(storage::Database &db, bool asJson) {
    const std::vector<watch::Rule> rules = watch::listRules(db);
    if (asJson) {
        json out = json::array();
        for (const watch::Rule &r : rules)
            out.push_back(ruleJson(r));
        print(out);
        return 0;
    }
    for (const watch::Rule &r : rules)
        std::printf("%lld\t%s\t%s\t%s\n", r.id, r.enabled ? "on" : "off", r.name.c_str(),
                    watch::describeRule(r).c_str());
    return 0;
}

// The options of `watch add` that take the next argument as their value.
bool takesValue(const std::string &option) {
    for (const char *o : {"--name", "--group", "--column", "--code", "--ge", "--le",
                          "--portfolio-gain", "--portfolio-loss"})
        if (option == o)
            return true;
    return false;
}

int add(storage::Database &db, const Args &args) {
    watch::RuleInput in;
    int kinds = 0;
    bool hasComparison = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--off") {
            in.enabled = false;
        } else if (a == "--times-average") {
            in.timesAverage = true;
        } else if (!hasValue || !takesValue(a)) {
            return usageError(commandNamed("watch"));
        } else if (a == "--name") {
            in.name = args[++i];
        } else if (a == "--group") {
            in.group = args[++i];
        } else if (a == "--column" || a == "--code") {
            in.kind = a == "--column" ? watch::RuleKind::Column : watch::RuleKind::Price;
            (a == "--column" ? in.column : in.code) = args[++i];
            ++kinds;
        } else if (a == "--ge" || a == "--le") {
            in.comparison = a == "--ge" ? watch::Comparison::AtLeast : watch::Comparison::AtMost;
            in.threshold = args[++i];
            hasComparison = true;
        } else if (a == "--portfolio-gain" || a == "--portfolio-loss") {
            in.kind = a == "--portfolio-gain" ? watch::RuleKind::PortfolioGain
                                              : watch::RuleKind::PortfolioLoss;
            in.threshold = args[++i];
            ++kinds;
        }
    }
    const bool portfolio =
        in.kind == watch::RuleKind::PortfolioGain || in.kind == watch::RuleKind::PortfolioLoss;
    if (kinds != 1 || hasComparison == portfolio)
        return usageError(commandNamed("watch"));
    long long id = 0;
    if (const std::string failure = watch::addRule(db, in, &id); !failure.empty())
        return fail(failure);
    std::printf("%lld\n", id);
    return 0;
}

// The rule a command line names by number or name.
std::optional<long long> namedRule(storage::Database &db, const std::string &typed) {
    const std::optional<long long> id = watch::findRule(db, typed);
    if (!id)
        fail("監視条件「" + typed + "」はありません。");
    return id;
}

int run(storage::Database &db, bool asJson) {
    const watch::Evaluation result = watch::evaluateNewestDay(db);
    if (!result.failure.empty())
        return fail(result.failure);
    const std::string announced = watch::announcement(result.stockCount());
    if (asJson) {
        json matches = json::array();
        for (const watch::Match &m : result.matches)
            matches.push_back({{"date", m.date},
                               {"rule", m.ruleId},
                               {"ruleName", m.ruleName},
                               {"code", m.code},
                               {"name", m.name},
                               {"value", m.value},
                               {"valueText", m.valueText}});
        print({{"date", result.date},
               {"rules", result.rules},
               {"stocks", result.stockCount()},
               {"announcement", announced},
               {"matches", matches}});
        return 0;
    }
    if (result.date == 0) {
        std::printf("データがまだありません。\n");
        return 0;
    }
    std::printf("%s %s\n", slashDate(result.date).c_str(),
                announced.empty() ? "監視条件に該当する銘柄はありません" : announced.c_str());
    for (const watch::Match &m : result.matches)
        std::printf("%s\t%s\t%s\t%s\n", m.ruleName.c_str(), m.code.c_str(), m.name.c_str(),
                    m.valueText.c_str());
    return 0;
}

} // namespace

int cmdWatch(const Args &args) {
    Args rest = args;
    const bool asJson = takeFlag(rest, "--json");
    if (rest.size() < 2)
        return usageError(commandNamed("watch"));
    const std::string action = rest[0];
    auto db = openNamedDatabase(rest[1]);
    const Args more(rest.begin() + 2, rest.end());
    if (action == "list" && more.empty())
        return list(*db, asJson);
    if (action == "run" && more.empty())
        return run(*db, asJson);
    if (action == "add")
        return add(*db, more);
    if ((action == "remove" || action == "on" || action == "off") && more.size() == 1) {
        const std::optional<long long> id = namedRule(*db, more[0]);
        if (!id)
            return 1;
        const std::string failure = action == "remove"
                                        ? watch::removeRule(*db, *id)
                                        : watch::switchRule(*db, *id, action == "on");
        return failure.empty() ? 0 : fail(failure);
    }
    return usageError(commandNamed("watch"));
}

} // namespace tesmoctl
