#include "core/acquire/day_ohlc.h"

#include "core/acquire/indicators.h"

#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace tesmo::acquire {
namespace {

using storage::Database;
using storage::Value;

// Factors by code, multiplied together when a code has several.
using Factors = std::unordered_map<std::string, double>;

Factors factorsOf(Database &db, const std::string &where, long long day) {
    Factors out;
    db.forEachRow("select CODE, ADJF from T_OHLC where " + where + " and ADJF <> 1 ;",
                  {Value(static_cast<std::int64_t>(day))}, [&](const storage::RowView &row) {
                      out.try_emplace(std::string(row.text(0)), 1.0).first->second *= row.real(1);
                  });
    return out;
}

double factorOf(const Factors &factors, const std::string &code) {
    const auto it = factors.find(code);
    return it == factors.end() ? 1.0 : it->second;
}

// Two factors that the API's rounding cannot tell apart are the same.
bool sameFactor(double a, double b) {
    return std::fabs(a / b - 1) < 1e-9;
}

// A price of the day, adjusted and rounded to a tenth of a yen; null stays null.
Value adjustedPrice(const std::optional<double> &price, double factor) {
    if (!price)
        return {};
    return Value(factor == 1 ? *price : std::round(*price * factor * 10) / 10);
}

} // namespace

void adjustHistory(Database &db, const std::string &code, long long day, double factor) {
    const std::vector<Value> byDay = {Value(factor), Value(code),
                                      Value(static_cast<std::int64_t>(day))};
    db.execute("Update T_NEARLY set PRC = round(PRC * ?1, 1), DVAL = round(DVAL / ?1) "
               "where CODE = ?2 and IDATE < ?3 ;",
               byDay);
    db.execute("Update T_OHLC set OPRC = round(OPRC * ?1, 1), HPRC = round(HPRC * ?1, 1), "
               "LPRC = round(LPRC * ?1, 1) where CODE = ?2 and IDATE < ?3 ;",
               byDay);
    db.execute("Update T_MONTHLY set AVPRC = AVPRC * ?1, MXPRC = round(MXPRC * ?1, 1), "
               "MIPRC = round(MIPRC * ?1, 1), AVDVAL = AVDVAL / ?1, MXDVAL = round(MXDVAL / ?1), "
               "MIDVAL = round(MIDVAL / ?1) where CODE = ?2 and YYYYMM < ?3 ;",
               {Value(factor), Value(code), Value(static_cast<std::int64_t>(monthOfDate(day)))});
}

void storeDayOhlc(Database &db, long long day, const DayOhlc &ohlc) {
    const Value date(static_cast<std::int64_t>(day));
    std::unordered_set<std::string> staged;
    db.forEachRow("select CODE from wonton_dat01 ;", {},
                  [&](const storage::RowView &row) { staged.emplace(row.text(0)); });
    const Factors later = factorsOf(db, "IDATE > ?", day);
    const Factors applied = factorsOf(db, "IDATE = ?", day);
    db.execute("Delete from T_OHLC where IDATE = ? ;", {date});
    for (const jquants::StagedBar &bar : ohlc.bars()) {
        if (!staged.count(bar.code))
            continue;
        const double scale = factorOf(later, bar.code);
        if (scale != 1)
            db.execute("Update wonton_dat01 set PRC = round(PRC * ?1, 1), DVAL = round(DVAL / ?1) "
                       "where CODE = ?2 ;",
                       {Value(scale), Value(bar.code)});
        const double before = factorOf(applied, bar.code);
        if (!sameFactor(bar.adjFactor, before))
            adjustHistory(db, bar.code, day, bar.adjFactor / before);
        db.execute("Insert into T_OHLC(IDATE,CODE,OPRC,HPRC,LPRC,ADJF) Values(?,?,?,?,?,?) ;",
                   {date, Value(bar.code), adjustedPrice(bar.open, scale),
                    adjustedPrice(bar.high, scale), adjustedPrice(bar.low, scale),
                    Value(bar.adjFactor)});
    }
}

void pruneDayOhlc(Database &db) {
    db.execute("Delete from T_OHLC where IDATE < (select min(IDATE) from T_NEARLY) "
               "or not exists (select IDATE from T_NEARLY) ;");
}

} // namespace tesmo::acquire
