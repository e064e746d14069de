#include "core/tables/table_edits.h"

#include "core/common/text.h"
#include "core/storage/database.h"
#include "core/storage/db_error.h"

#include <cerrno>
#include <cstdlib>

namespace tesmo::tables {
using storage::Value;
namespace {

std::string trimmed(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool parseWhole(const std::string &t, long long *out) {
    if (t.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    *out = std::strtoll(t.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool parseNumber(const std::string &t, double *out) {
    if (t.empty() || t.find_first_not_of("0123456789.-+") != std::string::npos)
        return false;
    errno = 0;
    char *end = nullptr;
    *out = std::strtod(t.c_str(), &end);
    return errno == 0 && end && *end == '\0';
}

Value numberValue(const std::string &caption, const std::string &t, bool allowEmpty) {
    if (t.empty() && allowEmpty)
        return Value();
    long long whole = 0;
    if (parseWhole(t, &whole))
        return Value(static_cast<std::int64_t>(whole));
    double d = 0;
    if (parseNumber(t, &d))
        return Value(d);
    throw EditError("「" + caption + "」には数値を入力してください。");
}

Value wholeValue(const std::string &caption, const std::string &t) {
    long long whole = 0;
    if (!parseWhole(t, &whole))
        throw EditError("「" + caption + "」には整数を入力してください。");
    return Value(static_cast<std::int64_t>(whole));
}

// The engine drops an INSERT that violates the unique key and reports a failed UPDATE; both
// mean another entry already has this date and code.
constexpr const char *kDuplicateEntry = "同じ登録日と銘柄ｺｰﾄﾞの行が既にあります。";

} // namespace

Value portValue(const std::string &field, const std::string &caption, const std::string &text) {
    // Digits and codes typed in full width count as their half-width forms.
    const std::string t = trimmed(halfWidthAscii(text));
    if (field == "PDATE") {
        long long d = 0;
        if (!parseWhole(t, &d) || t.size() != 8 || d / 100 % 100 < 1 || d / 100 % 100 > 12 ||
            d % 100 < 1 || d % 100 > 31)
            throw EditError("「" + caption + "」には日付を yyyymmdd の8桁で入力してください。");
        return Value(static_cast<std::int64_t>(d));
    }
    if (field == "CODE") {
        if (t.empty())
            throw EditError("「" + caption + "」を入力してください。");
        return Value(normalizeStockCode(t));
    }
    if (field == "PSW")
        return wholeValue(caption, t);
    if (field == "APRC" || field == "AVAL")
        return numberValue(caption, t, true);
    throw EditError("「" + caption + "」は変更できません。");
}

void updatePortField(storage::Database &db, const std::string &table, const Value &pdate,
                     const std::string &code, const std::string &field, const Value &value) {
    try {
        db.execute("UPDATE " + table + " SET " + field + " = ? WHERE PDATE = ? AND CODE = ?",
                   {value, pdate, code});
    } catch (const storage::DbError &) {
        if (field == "PDATE" || field == "CODE")
            throw EditError(kDuplicateEntry);
        throw;
    }
}

void insertPortEntry(storage::Database &db, const std::string &table, const Value &pdate,
                     const std::string &code, const Value &psw, const Value &aprc,
                     const Value &aval) {
    db.execute("INSERT INTO " + table + " (PDATE, CODE, PSW, APRC, AVAL) VALUES (?, ?, ?, ?, ?)",
               {pdate, code, psw.isNull() ? Value(0) : psw, aprc, aval});
    if (db.changes() != 1)
        throw EditError(kDuplicateEntry);
}

void deletePortEntry(storage::Database &db, const std::string &table, const Value &pdate,
                     const std::string &code) {
    db.execute("DELETE FROM " + table + " WHERE PDATE = ? AND CODE = ?", {pdate, code});
}

Value masterValue(const std::string &field, const std::string &caption, const std::string &text) {
    const std::string t = trimmed(text);
    if (field == "CODE") {
        if (normalizeStockCode(t).empty())
            throw EditError("「" + caption + "」を入力してください。");
        return Value(normalizeStockCode(t));
    }
    if (field == "NAME" || field == "MARKET")
        return t.empty() ? Value() : Value(t);
    if (field == "SWCO" || field == "SWIDX")
        return wholeValue(caption, t);
    throw EditError("「" + caption + "」は変更できません。");
}

void updateMasterField(storage::Database &db, const std::string &code, const std::string &field,
                       const Value &value) {
    try {
        db.execute("UPDATE master SET " + field + " = ? WHERE CODE = ?", {value, code});
    } catch (const storage::DbError &) {
        if (field == "CODE")
            throw EditError("同じ銘柄ｺｰﾄﾞの行が既にあります。");
        throw;
    }
}

} // namespace tesmo::tables
