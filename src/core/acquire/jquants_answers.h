#pragma once
// What the rows of J-Quants answers become before anything is stored: each bar checked and
// turned into a staging row, each row of the issue master into the name, market and product
// category of its issue, and the trading calendar checked whole. Functions of the rows alone,
// without a request or a database, so that the data update and the fuzzing harness apply the
// very same checks. Every refusal is an ApiError(BadAnswer) whose text names the row.
#include "core/acquire/jquants_client.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace tesmo::acquire::jquants {

// A day of the exchange lists some 4,400 issues, and the master about as many; ten times that
// is no answer of the exchange. The cap bounds the staging table and the master kept in memory.
inline constexpr long long kMaxIssues = 50000;

// Raises ApiError(BadAnswer) with `what`.
[[noreturn]] void badAnswer(const std::string &what);

// A code of the exchange as the API writes it: four characters, digits in the first and third
// place, a digit or a capital letter in the second and fourth ("1301", "130A"), and in the API's
// five-character form a digit after them ("13010", "130A0", "25935").
bool exchangeCode(const std::string &code);
// The master's key of a code: the API's five characters ("1301" -> "13010").
std::string apiCode(const std::string &code);

// One bar as the import takes it: DATE the asked day, CODE the database's code, PRC the close
// and DVAL the volume, all prices and the volume absent on a day without trades; the open, high
// and low kept beside the close, and the day's split factor (1 unless the day is the ex-date of
// a split or a consolidation).
struct StagedBar {
    long long date = 0;
    std::string code;
    std::optional<double> close;
    std::optional<double> volume;
    std::optional<double> open;
    std::optional<double> high;
    std::optional<double> low;
    double adjFactor = 1;
};
// The least and the greatest split factor taken: a split of one share into a thousand, or a
// consolidation of a thousand shares into one. A factor beyond them would turn the stored history
// into nonsense.
inline constexpr double kMinAdjFactor = 0.001;
inline constexpr double kMaxAdjFactor = 1000;
// The staging row of one bar of the answer for `day`. A bar must be an object dated the asked
// day, with a code of the exchange, and every number the API documents a number that is not
// negative, or null (absent too, except C and Vo); the high no lower than the open, the close
// and the low, the low no higher than the open and the close, and AdjFactor between
// kMinAdjFactor and kMaxAdjFactor. Anything else is no row of the API and raises
// ApiError(BadAnswer).
StagedBar stagedBar(long long day, const nlohmann::json &bar);

// An issue of the master as of one day.
struct Issue {
    std::string name;
    std::optional<std::string> market; // none when the master names none
    std::string category;              // ProdCat
};
using Master = std::unordered_map<std::string, Issue>; // by API code

// Adds one row of the master: its code of the exchange, CoName, ProdCat, and the market as the
// data site names it ("東証プライム" for the exchange's three markets of today, the API's own
// name for the others). Raises ApiError(BadAnswer) for a row of another shape or beyond
// kMaxIssues issues.
void addMasterRow(Master &master, const nlohmann::json &row);

// The product categories (ProdCat) whose issues are imported: stocks (domestic, preferred
// equity, foreign and depositary receipts), REITs and ETFs, domestic and foreign; an issue
// without a category too.
bool keptCategory(const std::string &prodCat);

// The NAME and MARKET of a staging row of `code` (the database's code): the master's issue;
// for a code the master lacks, `storedName()` (the name the database already has), else the
// code. nullopt for an issue of a category that is not kept: the row leaves the staging table.
struct StagedNames {
    std::string name;
    std::optional<std::string> market;
};
std::optional<StagedNames> stagedNames(const Master &master, const std::string &code,
                                       const std::function<std::string()> &storedName);

// The trading calendar from `from` to `to`, fed row by row. It must list every day of the range
// once with a division (HolDiv) of "0" (closed), "1" (business day), "2" (half-day session) or
// "3" (derivatives only): a day that is missing or that no division describes would pass as a
// holiday, and its bars would never be asked for.
class CalendarCheck {
public:
    CalendarCheck(long long from, long long to) : m_from(from), m_to(to) {}
    // Raises ApiError(BadAnswer) for a row that is no object, a date outside the range or no
    // date, a division that is not one of the four, or a date listed before.
    void add(const nlohmann::json &row);
    // The days with stock trading ("1" and "2"), ascending. Raises ApiError(BadAnswer) when the
    // calendar is empty or lacks a day of the range.
    std::vector<long long> businessDays() const;

private:
    long long m_from;
    long long m_to;
    std::set<long long> m_dates;
    std::vector<long long> m_business;
};

} // namespace tesmo::acquire::jquants
