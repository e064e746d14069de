#include "core/acquire/jquants_answers.h"

#include "core/common/dates.h"
#include "core/common/text.h"

#include <algorithm>

namespace tesmo::acquire::jquants {
namespace {

using nlohmann::json;

// The numbers of a bar that the API documents; each is a number, or null on a day without
// trades. C and Vo are what the database keeps, so they must be there.
constexpr const char *kRequiredNumbers[] = {"C", "Vo"};
constexpr const char *kOptionalNumbers[] = {"O",    "H",    "L",    "Va",   "AdjFactor",
                                            "AdjO", "AdjH", "AdjL", "AdjC", "AdjVo"};

// A value of an answer quoted in a message: short, on one line.
std::string quoted(const json &v) {
    return singleLine(v.is_string() ? "\"" + v.get<std::string>() + "\"" : v.dump(), 40);
}

const json *member(const json &row, const char *name) {
    const auto it = row.find(name);
    return it == row.end() ? nullptr : &*it;
}

// A text member: absent and null read as empty, anything but a string is a broken answer.
std::string textMember(const json &row, const char *name, const std::string &what) {
    const json *v = member(row, name);
    if (!v || v->is_null())
        return {};
    if (!v->is_string())
        badAnswer(what + ": " + name + " が文字列ではありません: " + quoted(*v));
    return v->get<std::string>();
}

std::string codeMember(const json &row, const std::string &what) {
    const json *v = member(row, "Code");
    if (!v || !v->is_string() || !exchangeCode(v->get<std::string>()))
        badAnswer(what + ": 銘柄コードが読めない行があります: " + (v ? quoted(*v) : quoted(row)));
    return v->get<std::string>();
}

// A number of a bar: a JSON number, or null; absent only when not `required`.
std::optional<double> numberMember(const json &bar, const char *name, bool required,
                                   const std::string &code) {
    const json *v = member(bar, name);
    if (!v && !required)
        return std::nullopt;
    if (!v || !(v->is_number() || v->is_null()))
        badAnswer(std::string(name) + " が数値ではない行があります: " + code + " " +
                  (v ? quoted(*v) : std::string("なし")));
    if (v->is_null())
        return std::nullopt;
    const double d = v->get<double>();
    if (d < 0)
        badAnswer(std::string(name) + " が負の行があります: " + code + " " + quoted(*v));
    return d;
}

// The high tops the day's other prices and the low lies under them; a price that is null takes
// no part. A candle drawn from a bar that breaks this would be no candle.
void checkPriceRange(const StagedBar &bar, const std::string &code) {
    for (const std::optional<double> &p : {bar.open, bar.close, bar.low})
        if (bar.high && p && *p > *bar.high)
            badAnswer("高値(H)が始値・終値・安値より低い行があります: " + code);
    for (const std::optional<double> &p : {bar.open, bar.close})
        if (bar.low && p && *p < *bar.low)
            badAnswer("安値(L)が始値・終値より高い行があります: " + code);
}

} // namespace

void badAnswer(const std::string &what) {
    throw ApiError(ApiError::Kind::BadAnswer, what);
}

bool exchangeCode(const std::string &code) {
    if (code.size() != 4 && code.size() != 5)
        return false;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto digitOrLetter = [&](char c) { return digit(c) || (c >= 'A' && c <= 'Z'); };
    return digit(code[0]) && digitOrLetter(code[1]) && digit(code[2]) && digitOrLetter(code[3]) &&
           (code.size() == 4 || digit(code[4]));
}

std::string apiCode(const std::string &code) {
    return code.size() == 4 ? code + "0" : code;
}

StagedBar stagedBar(long long day, const json &bar) {
    if (!bar.is_object())
        badAnswer("行がオブジェクトではありません: " + quoted(bar));
    const json *date = member(bar, "Date");
    if (!date || !date->is_string() || parseIsoDate(date->get<std::string>()) != day)
        badAnswer("日付が" + isoDate(day) +
                  "ではない行があります: " + (date ? quoted(*date) : quoted(bar)));
    const std::string code = codeMember(bar, "株価");
    for (const char *name : kOptionalNumbers)
        numberMember(bar, name, false, code);
    StagedBar staged;
    staged.date = day;
    staged.code = databaseCode(code);
    staged.close = numberMember(bar, kRequiredNumbers[0], true, code);
    staged.volume = numberMember(bar, kRequiredNumbers[1], true, code);
    staged.open = numberMember(bar, "O", false, code);
    staged.high = numberMember(bar, "H", false, code);
    staged.low = numberMember(bar, "L", false, code);
    checkPriceRange(staged, code);
    if (const std::optional<double> factor = numberMember(bar, "AdjFactor", false, code)) {
        if (!(*factor >= kMinAdjFactor && *factor <= kMaxAdjFactor))
            badAnswer("AdjFactor が範囲外の行があります: " + code + " " +
                      quoted(*member(bar, "AdjFactor")));
        staged.adjFactor = *factor;
    }
    return staged;
}

void addMasterRow(Master &master, const json &row) {
    const std::string what = "銘柄情報";
    if (!row.is_object())
        badAnswer(what + ": 行がオブジェクトではありません: " + quoted(row));
    const std::string code = codeMember(row, what);
    Issue issue;
    issue.name = textMember(row, "CoName", what);
    issue.category = textMember(row, "ProdCat", what);
    const std::string market = textMember(row, "Mkt", what);
    const std::string marketName = textMember(row, "MktNm", what);
    // The three markets of the exchange today carry its name, as the data site writes them
    // ("東証プライム"); the older and special markets keep the API's name.
    if (!marketName.empty())
        issue.market = market == "0111" || market == "0112" || market == "0113"
                           ? "東証" + marketName
                           : marketName;
    if (static_cast<long long>(master.size()) >= kMaxIssues)
        badAnswer(what + ": 銘柄数が多すぎます");
    master[apiCode(code)] = std::move(issue);
}

bool keptCategory(const std::string &c) {
    static const std::set<std::string> kept = {"011", "012", "013", "014",
                                               "021", "022", "023", "024"};
    return c.empty() || kept.count(c) > 0;
}

std::optional<StagedNames> stagedNames(const Master &master, const std::string &code,
                                       const std::function<std::string()> &storedName) {
    const auto issue = master.find(apiCode(code));
    if (issue != master.end() && !keptCategory(issue->second.category))
        return std::nullopt;
    StagedNames names;
    if (issue != master.end()) {
        names.name = issue->second.name;
        names.market = issue->second.market;
    } else {
        names.name = storedName();
    }
    if (names.name.empty())
        names.name = code;
    return names;
}

void CalendarCheck::add(const json &row) {
    const std::string what = "営業日カレンダー";
    if (!row.is_object())
        badAnswer(what + ": 行がオブジェクトではありません: " + quoted(row));
    const json *date = member(row, "Date");
    const std::optional<long long> day =
        date && date->is_string() ? parseIsoDate(date->get<std::string>()) : std::nullopt;
    if (!day || *day < m_from || *day > m_to)
        badAnswer(what +
                  ": 範囲外か読めない日付があります: " + (date ? quoted(*date) : quoted(row)));
    const json *division = member(row, "HolDiv");
    const std::string div = division && division->is_string() ? division->get<std::string>() : "";
    if (div != "0" && div != "1" && div != "2" && div != "3")
        badAnswer(what + ": 休日区分(HolDiv)が読めません: " +
                  (division ? quoted(*division) : std::string("なし")) + " (" + isoDate(*day) +
                  ")");
    if (!m_dates.insert(*day).second)
        badAnswer(what + ": 同じ日付が2度あります: " + isoDate(*day));
    if (div == "1" || div == "2")
        m_business.push_back(*day);
}

std::vector<long long> CalendarCheck::businessDays() const {
    const std::string what = "営業日カレンダー";
    if (m_dates.empty())
        badAnswer(what + "が空です");
    if (static_cast<long long>(m_dates.size()) != dayOrdinal(m_to) - dayOrdinal(m_from) + 1)
        badAnswer(what + "に抜けている日付があります(" + isoDate(m_from) + "～" + isoDate(m_to) +
                  "のうち" + std::to_string(m_dates.size()) + "日)");
    std::vector<long long> business = m_business;
    std::sort(business.begin(), business.end());
    return business;
}

} // namespace tesmo::acquire::jquants
