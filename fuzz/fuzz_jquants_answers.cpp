// The checks that J-Quants answers pass before anything is stored, on pages as a server might
// send them: the bars of one day turned into staging rows, the issue master into names and
// markets as the import keeps them, and the trading calendar of a range. An input is a list of
// sections, each a line that says what the page is and then the page's body:
//   #bars 2024-06-03                    a page of that day's bars (every #bars section is a
//                                       page of the first one's day)
//   #master                             a page of the issue master
//   #calendar 2024-06-01 2024-06-30     a page of the calendar of that range (the first's)
// JSON never holds a line break followed by "#" outside a string, and a string holds no raw
// line break, so a line starting with "#" can only begin a section.
#include "core/acquire/import_driver.h"
#include "core/acquire/jquants_answers.h"
#include "core/acquire/jquants_client.h"
#include "core/common/dates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace tesmo;
using namespace tesmo::acquire::jquants;
using nlohmann::json;

namespace {

struct Section {
    std::string kind; // "bars", "master", "calendar"
    std::vector<std::string> args;
    Body body;
};

std::vector<Section> sectionsOf(std::string_view input) {
    std::vector<Section> sections;
    size_t at = input.rfind('#', 0) == 0 ? 0 : input.find("\n#");
    while (at != std::string_view::npos) {
        at += input[at] == '\n' ? 2 : 1;
        const size_t lineEnd = std::min(input.find('\n', at), input.size());
        const size_t next = input.find("\n#", lineEnd);
        Section s;
        std::string_view line = input.substr(at, lineEnd - at);
        for (size_t i = 0; i <= line.size();) {
            const size_t blank = std::min(line.find(' ', i), line.size());
            if (blank > i)
                (s.kind.empty() ? s.kind : s.args.emplace_back()) = line.substr(i, blank - i);
            i = blank + 1;
        }
        const size_t bodyStart = std::min(lineEnd + 1, input.size());
        const size_t bodyEnd = next == std::string_view::npos ? input.size() : next;
        if (bodyEnd > bodyStart)
            s.body.assign(input.begin() + static_cast<long>(bodyStart),
                          input.begin() + static_cast<long>(bodyEnd));
        sections.push_back(std::move(s));
        at = next;
    }
    return sections;
}

long long dateArg(const std::vector<Section> &sections, const char *kind, size_t arg,
                  long long fallback) {
    for (const Section &s : sections)
        if (s.kind == kind)
            return s.args.size() > arg ? parseIsoDate(s.args[arg]).value_or(fallback) : fallback;
    return fallback;
}

[[noreturn]] void fail(const char *what, const std::string &detail = {}) {
    std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

// Runs `step`; a refusal must be a broken answer, and any other exception is a fault.
template <class Step> bool accepted(const Step &step) {
    try {
        step();
        return true;
    } catch (const ApiError &e) {
        if (e.kind != ApiError::Kind::BadAnswer)
            fail("refusal of another kind", e.what());
        return false;
    } catch (const std::exception &e) {
        fail("exception that is no refusal", e.what());
    }
}

// A code as the exchange writes it, checked here on its own rather than by the code under test:
// [digit][digit|A-Z][digit][digit|A-Z], then in the API's form one more digit.
bool exchangeForm(const std::string &code, bool databaseForm) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto digitOrCapital = [&](char c) { return digit(c) || (c >= 'A' && c <= 'Z'); };
    if (code.size() != 4 && code.size() != 5)
        return false;
    if (!digit(code[0]) || !digitOrCapital(code[1]) || !digit(code[2]) || !digitOrCapital(code[3]))
        return false;
    // The database drops a fifth "0"; a fifth character it keeps is another digit.
    return code.size() == 4 || (digit(code[4]) && !(databaseForm && code[4] == '0'));
}

// Valid UTF-8 without C0 or C1 controls, DEL, or the marks, embeddings, overrides and isolates
// that turn the direction of text.
bool plainText(const std::string &text) {
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t n = b < 0x80         ? 1
                         : (b >> 5) == 6  ? 2
                         : (b >> 4) == 14 ? 3
                         : (b >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > text.size())
            return false;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
            (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
            return false;
        i += n;
    }
    return true;
}

// What the import keeps of a staged name or market.
void checkShown(const std::string &text, const char *what) {
    if (const std::optional<std::string> shown = acquire::shownText(text))
        if (shown->empty() || !plainText(*shown))
            fail(what, *shown);
}

// The bars of one day: every row of pages that pass is of the asked day, with a code of the
// exchange and numbers where numbers belong.
bool checkBars(const std::vector<Section> &sections, long long day,
               std::vector<StagedBar> &staged) {
    bool any = false;
    const bool ok = accepted([&] {
        for (const Section &s : sections) {
            if (s.kind != "bars")
                continue;
            any = true;
            readPage(s.body, [&](const json &bar) {
                StagedBar row = stagedBar(day, bar);
                // The row as it came: an object dated the asked day in the API's one form.
                const auto date = bar.find("Date");
                if (date == bar.end() || !date->is_string() || *date != isoDate(day))
                    fail("bar of another day", bar.dump());
                const auto code = bar.find("Code");
                if (code == bar.end() || !code->is_string() ||
                    !exchangeForm(code->get<std::string>(), false))
                    fail("bar of a code not of the exchange", bar.dump());
                // The master is looked up by the API's code of the staged one.
                const std::string api = code->get<std::string>();
                if (apiCode(row.code) != (api.size() == 5 ? api : api + "0"))
                    fail("staged code that leads to another issue", row.code);
                staged.push_back(std::move(row));
            });
        }
    });
    if (!ok)
        staged.clear();
    for (const StagedBar &row : staged) {
        if (row.date != day || !exchangeForm(row.code, true))
            fail("staged row of another day or code", row.code);
        for (const std::optional<double> &v : {row.close, row.volume})
            if (v && !(std::isfinite(*v) && *v >= 0))
                fail("staged number that is negative or no number");
    }
    return ok && any;
}

bool checkMaster(const std::vector<Section> &sections, Master &master) {
    bool any = false;
    const bool ok = accepted([&] {
        for (const Section &s : sections)
            if (s.kind == "master") {
                any = true;
                readPage(s.body, [&](const json &row) { addMasterRow(master, row); });
            }
    });
    if (static_cast<long long>(master.size()) > kMaxIssues)
        fail("master beyond its cap");
    for (const auto &[code, issue] : master)
        if (code.size() != 5 || !exchangeForm(code, false) ||
            (issue.market && issue.market->empty()))
            fail("master issue of a code not of the exchange or an empty market", code);
    return ok && any;
}

// The names of a day's staged rows: what the import keeps of them holds no character that steers
// a terminal or the direction of text, and a row leaves only for an issue of another kind.
void checkNames(const Master &master, const std::vector<StagedBar> &staged) {
    // A name of an earlier import, from a time before names were cleaned.
    const std::string stored = "\x1b[2J\xE2\x80\xAE既存\r\n";
    for (const StagedBar &row : staged) {
        std::optional<StagedNames> names;
        if (!accepted([&] { names = stagedNames(master, row.code, [&] { return stored; }); }))
            fail("names refused");
        if (!names) {
            const auto issue = master.find(apiCode(row.code));
            if (issue == master.end() || keptCategory(issue->second.category))
                fail("row dropped that is of a kept kind", row.code);
            continue;
        }
        if (names->name.empty())
            fail("staged row without a name", row.code);
        checkShown(names->name, "shown name");
        if (names->market)
            checkShown(*names->market, "shown market");
    }
}

// A calendar accepted lists each day of the range once with a known division, and its business
// days are the ones it marks "1" or "2".
void checkCalendar(const std::vector<Section> &sections, long long from, long long to) {
    CalendarCheck calendar(from, to);
    std::vector<json> rows;
    std::vector<long long> business;
    const bool ok = accepted([&] {
        for (const Section &s : sections)
            if (s.kind == "calendar")
                readPage(s.body, [&](const json &row) {
                    calendar.add(row);
                    rows.push_back(row);
                });
        business = calendar.businessDays();
    });
    if (!ok)
        return;
    if (static_cast<long long>(rows.size()) != dayOrdinal(to) - dayOrdinal(from) + 1)
        fail("calendar accepted with days missing or twice");
    std::vector<long long> marked;
    for (const json &row : rows) {
        const std::optional<long long> day = parseIsoDate(row.at("Date").get<std::string>());
        const json &div = row.at("HolDiv");
        if (!day || *day < from || *day > to || !div.is_string() ||
            (div != "0" && div != "1" && div != "2" && div != "3"))
            fail("calendar row accepted outside the range or of an unknown division", row.dump());
        if (div == "1" || div == "2")
            marked.push_back(*day);
    }
    std::sort(marked.begin(), marked.end());
    if (business != marked)
        fail("business days that the calendar does not mark");
    for (size_t i = 1; i < business.size(); ++i)
        if (business[i - 1] >= business[i])
            fail("business days out of order or twice");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<Section> sections =
        sectionsOf(std::string_view(reinterpret_cast<const char *>(data), size));

    const long long day = dateArg(sections, "bars", 0, 20240603);
    std::vector<StagedBar> staged;
    const bool barsOk = checkBars(sections, day, staged);
    Master master;
    if (checkMaster(sections, master) && barsOk)
        checkNames(master, staged);

    long long from = dateArg(sections, "calendar", 0, 20240601);
    long long to = dateArg(sections, "calendar", 1, 20240630);
    if (from > to)
        std::swap(from, to);
    checkCalendar(sections, from, to);
    return 0;
}
