#include "core/acquire/day_record.h"

#include "core/common/text.h"
#include "core/storage/value.h"

#include <charconv>
#include <cstdlib>

namespace tesmo::acquire {
namespace {
using storage::Value;

constexpr const char *kFieldNames[] = {"DATE", "CODE", "NAME", "PRC", "DVAL", "TALK", "MARKET"};

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool allDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

[[noreturn]] void badField(int index, std::string_view text, const char *expected) {
    throw DayRecordError(std::string(kFieldNames[index]) + " が" + expected +
                         "ではありません: " + std::string(text));
}

// "text" with doubled quotes inside -> text; the inverse of quoteDoubled().
std::string quotedText(int index, std::string_view field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"')
        badField(index, field, "ダブルクォートで囲んだ文字列");
    std::string out;
    const std::string_view inner = field.substr(1, field.size() - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '"') {
            if (i + 1 >= inner.size() || inner[i + 1] != '"')
                badField(index, field, "ダブルクォートで囲んだ文字列");
            ++i;
        }
        out += inner[i];
    }
    return out;
}

// An integer stays an integer (so 1200 reads back as 1200), a decimal becomes a double.
Value numberValue(int index, std::string_view field) {
    if (field.empty())
        return {};
    std::string_view digits = field;
    if (digits.front() == '-')
        digits.remove_prefix(1);
    const size_t dot = digits.find('.');
    const std::string_view whole = digits.substr(0, dot);
    const std::string_view frac =
        dot == std::string_view::npos ? std::string_view() : digits.substr(dot + 1);
    const bool wholeOk = whole.empty() || allDigits(whole);
    const bool fracOk = frac.empty() || allDigits(frac);
    if (!wholeOk || !fracOk || (whole.empty() && frac.empty()))
        badField(index, field, "数値");
    if (dot == std::string_view::npos) {
        std::int64_t v = 0;
        const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
        if (r.ec == std::errc() && r.ptr == field.data() + field.size())
            return Value(v);
        // Too large for a whole number: the engine would keep it as a double as well.
    }
    const std::string text(field);
    return Value(std::strtod(text.c_str(), nullptr));
}

// A day that the calendar has: 00000000, month 13 or 30 February would become a trading date
// that every later step (months, markers, charts) stumbles over.
bool isCalendarDate(long long yyyymmdd) {
    const long long y = yyyymmdd / 10000, m = yyyymmdd / 100 % 100, d = yyyymmdd % 100;
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::string numberText(const std::optional<double> &v) {
    return v ? storage::formatDouble(*v) : std::string();
}

} // namespace

std::string formatDayRecord(const DayRecord &r) {
    std::string out = std::to_string(r.date);
    out += ',';
    out += allDigits(r.code) ? r.code : quoteDoubled(r.code, '"');
    out += ',' + quoteDoubled(r.name, '"');
    out += ',' + numberText(r.prc);
    out += ',' + numberText(r.dval);
    out += ',' + numberText(r.talk);
    out += ',' + quoteDoubled(r.market, '"');
    return out;
}

std::vector<Value> stagingValues(const std::vector<std::string_view> &fieldsIn) {
    if (fieldsIn.size() != 7)
        throw DayRecordError("項目数が 7 ではありません: " + std::to_string(fieldsIn.size()));
    std::string_view f[7];
    for (int i = 0; i < 7; ++i)
        f[i] = trimBlanks(fieldsIn[static_cast<size_t>(i)]);

    std::vector<Value> values;
    values.reserve(7);
    if (f[0].size() != 8 || !allDigits(f[0]) || !isCalendarDate(std::stoll(std::string(f[0]))))
        badField(0, f[0], "8 桁の日付");
    values.emplace_back(static_cast<std::int64_t>(std::stoll(std::string(f[0]))));
    values.emplace_back(allDigits(f[1]) ? std::string(f[1]) : quotedText(1, f[1]));
    values.emplace_back(quotedText(2, f[2]));
    for (int i = 3; i <= 5; ++i)
        values.push_back(numberValue(i, f[i]));
    if (f[6].empty() || f[6] == "\"\"")
        values.emplace_back();
    else
        values.emplace_back(quotedText(6, f[6]));
    return values;
}

std::vector<std::string_view> splitRecordFields(std::string_view text) {
    std::vector<std::string_view> fields;
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        fields.push_back(
            text.substr(from, (comma == std::string_view::npos ? text.size() : comma) - from));
        if (comma == std::string_view::npos)
            return fields;
        from = comma + 1;
    }
}

} // namespace tesmo::acquire
