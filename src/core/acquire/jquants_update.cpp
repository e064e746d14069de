#include "acquire/jquants_update.h"

#include "acquire/site_scan.h"
#include "acquire/step_label.h"
#include "common/dates.h"
#include "storage/settings_keys.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <set>
#include <unordered_map>

namespace tesmo::acquire {
namespace {

using jquants::apiDate;
using jquants::ApiError;
using jquants::Client;
using nlohmann::json;
using storage::Database;
using storage::Value;

constexpr const char *kBarsPath = "/equities/bars/daily";
constexpr const char *kMasterPath = "/equities/master";
constexpr const char *kCalendarPath = "/markets/calendar";
// Each learned end of the plan starts the catch-up again with an earlier window; a server
// that keeps moving it is not followed for ever.
constexpr int kMaxRounds = 5;

// An issue of the master as of one day, keyed by its API code.
struct Issue {
    std::string name;
    Value market; // null when the master names none
    std::string category;
};
using Master = std::unordered_map<std::string, Issue>;

std::string textField(const json &row, const char *name) {
    const auto it = row.find(name);
    return it != row.end() && it->is_string() ? it->get<std::string>() : std::string();
}

Value numberField(const json &row, const char *name) {
    const auto it = row.find(name);
    return it != row.end() && it->is_number() ? Value(it->get<double>()) : Value();
}

// A code as the API writes it: four or five letters and digits. Anything else cannot be a
// code of the database and is left out.
bool plausibleCode(const std::string &code) {
    if (code.size() != 4 && code.size() != 5)
        return false;
    return std::all_of(code.begin(), code.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); });
}

// The API code of a row of bars or of the master; empty for a row that has none usable.
std::string codeOf(const json &row) {
    std::string code = row.is_object() ? textField(row, "Code") : std::string();
    return plausibleCode(code) ? code : std::string();
}

Master readMaster(const json &rows) {
    Master master;
    for (const json &row : rows) {
        const std::string code = codeOf(row);
        if (code.empty())
            continue;
        Issue issue;
        issue.name = textField(row, "CoName");
        issue.category = textField(row, "ProdCat");
        const std::string market = textField(row, "Mkt");
        const std::string marketName = textField(row, "MktNm");
        // The three markets of the exchange today carry its name, as the data site writes
        // them ("東証プライム"); the older and special markets keep the API's name.
        if (!marketName.empty())
            issue.market = market == "0111" || market == "0112" || market == "0113"
                               ? "東証" + marketName
                               : marketName;
        master[code] = std::move(issue);
    }
    return master;
}

// The trading days of calendar rows, ascending: HolDiv 1 (business day) and 2 (half-day
// session). 0 and 3 (derivatives only) have no bars of stocks.
std::vector<long long> businessDays(const json &rows) {
    std::vector<long long> days;
    for (const json &row : rows) {
        if (!row.is_object())
            continue;
        const std::string division = textField(row, "HolDiv");
        if (division != "1" && division != "2")
            continue;
        if (const auto day = parseIsoDate(textField(row, "Date")))
            days.push_back(*day);
    }
    std::sort(days.begin(), days.end());
    days.erase(std::unique(days.begin(), days.end()), days.end());
    return days;
}

// Business days from `from` to `to`. A plan whose calendar covers less answers 400 with its
// range: the request is made again inside it, and `planEnd` takes the range's end when that
// falls before `to`.
std::vector<long long> calendarDays(Client &client, long long from, long long to,
                                    long long &planEnd) {
    for (int tries = 0;; ++tries) {
        if (from > to)
            return {};
        try {
            return businessDays(
                client.getAll(kCalendarPath, {{"from", apiDate(from)}, {"to", apiDate(to)}}));
        } catch (const ApiError &e) {
            if (tries > 0 || e.kind != ApiError::Kind::OutOfPlan || !e.plan)
                throw;
            if (e.plan->to && e.plan->to < to)
                planEnd = to = e.plan->to;
            from = std::max(from, e.plan->from);
        }
    }
}

// The last business day before `refused` that the plan covers, for a refusal that names no
// range: probed backwards over the calendar, one day, two, four and so on, then halved
// between the last refused and the first answered day, so that a plan twelve weeks behind
// costs a dozen requests rather than sixty. 0 when no day of the last three years answers.
long long probePlanEnd(Client &client, long long refused) {
    long long unused = 0;
    const std::vector<long long> days =
        calendarDays(client, addDays(refused, -3 * 365), addDays(refused, -1), unused);
    const auto covered = [&](long long day) {
        try {
            client.get(kBarsPath, {{"date", apiDate(day)}});
            return true;
        } catch (const ApiError &e) {
            if (e.kind != ApiError::Kind::OutOfPlan)
                throw;
            return false;
        }
    };
    const long long n = static_cast<long long>(days.size());
    long long good = -1;
    long long bad = n;
    for (long long back = 1; bad > 0; back *= 2) {
        const long long i = std::max(0LL, n - back);
        if (covered(days[static_cast<size_t>(i)])) {
            good = i;
            break;
        }
        bad = i;
    }
    if (good < 0)
        return 0;
    while (bad - good > 1) {
        const long long mid = (good + bad) / 2;
        (covered(days[static_cast<size_t>(mid)]) ? good : bad) = mid;
    }
    return days[static_cast<size_t>(good)];
}

// Whether the bars hold a code that neither `master` nor the codes it was known to lack cover.
bool masterLacksCodes(const json &bars, const Master &master,
                      const std::set<std::string> &knownAbsent) {
    for (const json &bar : bars) {
        const std::string code = codeOf(bar);
        if (!code.empty() && !master.count(code) && !knownAbsent.count(code))
            return true;
    }
    return false;
}

// The day's bars as staging rows. DATE is the bar's date, CODE the database's code, NAME the
// master's name (for a code the master lacks: the name the database has for it, else the
// code), PRC the close and DVAL the volume (null on a day without trades), TALK null (the API
// counts no web topics), MARKET the master's market. Issues of categories that are not kept
// are left out.
void stageBars(Database &db, const json &bars, const Master &master) {
    for (const json &bar : bars) {
        const std::string apiCode = codeOf(bar);
        if (apiCode.empty())
            continue;
        const auto date = parseIsoDate(textField(bar, "Date"));
        if (!date)
            throw ApiError(ApiError::Kind::BadAnswer,
                           "日付が読めません: " + textField(bar, "Date").substr(0, 40));
        const std::string code = jquants::databaseCode(apiCode);
        const auto issue = master.find(apiCode);
        std::string name;
        Value market;
        if (issue != master.end()) {
            if (!keptCategory(issue->second.category))
                continue;
            name = issue->second.name;
            market = issue->second.market;
        } else {
            const storage::ResultSet known =
                db.openRecordset("Select NAME from master where CODE = ? ;", {code});
            if (!known.eof())
                name = known.field(0).textOr("");
        }
        if (name.empty())
            name = code;
        db.execute("Insert into wonton_dat01([DATE],CODE,NAME,PRC,DVAL,TALK,MARKET) "
                   "Values(?,?,?,?,?,?,?) ;",
                   {Value(static_cast<std::int64_t>(*date)), code, name, numberField(bar, "C"),
                    numberField(bar, "Vo"), Value(), market});
    }
}

// The staging rows and the shared import of one day in one transaction, committed on every
// way out but an error of the staging itself.
std::string importBars(Database &db, UiPort &port, long long day, const json &bars,
                       const Master &master, ImportRunState &state) {
    const std::string caption = port.caption();
    const bool own = !db.inTransaction();
    if (own)
        db.execute("BEGIN");
    std::string result;
    try {
        port.setCaption(caption + " ﾃﾞｰﾀ更新1処理中");
        db.execute("Delete from wonton_dat01 ");
        stageBars(db, bars, master);
        result = ImportStagedDay(db, port, caption, day, state);
    } catch (const std::exception &) {
        try {
            if (own && db.inTransaction())
                db.execute("ROLLBACK");
        } catch (const std::exception &) {
        }
        throw;
    }
    if (own && db.inTransaction())
        db.execute("COMMIT");
    return result;
}

// The final message says how far the plan reaches when the window had to end before today.
std::string planNote(long long planEnd) {
    return planEnd ? "J-Quants: ご契約のプランで取得できるのは" + slashDate(planEnd) +
                         "までのデータです。"
                   : std::string();
}

} // namespace

bool keptCategory(const std::string &c) {
    static const std::set<std::string> kept = {"011", "012", "013", "014",
                                               "021", "022", "023", "024"};
    return c.empty() || kept.count(c) > 0;
}

std::string UpdateFromJQuants(Database &db, UiPort &port, const std::function<void()> &setLaterDate,
                              ImportRunState &state, const JQuantsRunOptions &options) {
    StepLabel step;
    std::string caption;
    std::string &note = options.note ? *options.note : sourceNote();
    try {
        step = "初期";
        caption = port.caption();
        state.reset();
        note.clear();

        step = "J-Quants設定取得";
        const jquants::Settings settings = jquants::Settings::fromStore();
        if (settings.key.empty())
            return jquants::kNoKeyMessage;
        const long long keep = storage::readSettingInt(storage::keys::maxdtc) + 1;
        const long long today = options.today ? options.today : localDate(std::time(nullptr));
        Client client(settings, port, options.pacer ? *options.pacer : jquants::processPacer());

        long long upTo = today;
        long long planEnd = 0;
        try {
            for (int round = 0; round < kMaxRounds; ++round) {
                step = "J-Quants営業日取得";
                port.setCaption(caption + " 営業日取得中");
                const Value newestValue = db.scalar("Select Max(IDATE) from T_NEARLY ;");
                const long long newest = newestValue.isNull() ? 0 : newestValue.toInt();
                // Calendar days enough to hold `keep` business days, holidays included.
                long long from = addDays(upTo, -(std::max(keep, 1LL) * 3 / 2 + 30));
                if (newest)
                    from = std::max(from, addDays(newest, 1));
                std::vector<long long> days = calendarDays(client, from, upTo, planEnd);
                port.setCaption(caption);
                if (planEnd && planEnd < upTo) {
                    upTo = planEnd; // the window is counted back from the plan's end
                    continue;
                }
                days.erase(std::remove_if(days.begin(), days.end(),
                                          [&](long long d) { return d <= newest || d > upTo; }),
                           days.end());
                if (static_cast<long long>(days.size()) > keep)
                    days.erase(days.begin(), days.end() - std::max(keep, 0LL));

                bool restart = false;
                std::optional<Master> master;
                std::set<std::string> absent;
                for (const long long day : days) {
                    step = "J-Quants[" + std::to_string(day) + "]取得";
                    port.setCaption(caption + " [" + std::to_string(day) + "]");
                    port.repaint();
                    json bars;
                    try {
                        bars = client.getAll(kBarsPath, {{"date", apiDate(day)}});
                    } catch (const ApiError &e) {
                        if (e.kind != ApiError::Kind::OutOfPlan)
                            throw;
                        step = "J-Quantsプラン期間確認";
                        const long long end =
                            e.plan && e.plan->to ? e.plan->to : probePlanEnd(client, day);
                        if (end == 0 || end >= day)
                            throw; // a refusal that no earlier end of the plan explains
                        planEnd = upTo = end;
                        restart = true;
                        break;
                    }
                    // The API publishes a day's bars after the close: a business day without
                    // them is not published yet, and neither is any day after it.
                    if (bars.empty())
                        break;

                    // One master per day at most, and only when the day's bars hold codes it
                    // lacks, or for the last day of the window, whose names and markets stay.
                    if (!master || day == days.back() || masterLacksCodes(bars, *master, absent)) {
                        step = "J-Quants[" + std::to_string(day) + "]銘柄情報取得";
                        master = readMaster(client.getAll(kMasterPath, {{"date", apiDate(day)}}));
                        absent.clear();
                        for (const json &bar : bars)
                            if (!master->count(codeOf(bar)))
                                absent.insert(codeOf(bar));
                    }

                    step = "[" + std::to_string(day) + "]";
                    const std::string imported = importBars(db, port, day, bars, *master, state);
                    if (!imported.empty()) {
                        port.setCaption(caption);
                        return step.text() + imported;
                    }
                    if (setLaterDate)
                        setLaterDate();
                    port.setCaption(caption);
                }
                if (!restart)
                    break;
            }
        } catch (const ApiError &e) {
            note = planNote(planEnd);
            port.setCaption(caption);
            return jquants::describe(e);
        }
        note = planNote(planEnd);
        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        if (!caption.empty())
            port.setCaption(caption);
        return step.failure(kStepFailedPhrase, e.what());
    }
}

std::string &sourceNote() {
    static std::string note;
    return note;
}

std::string ScanSelectedSource(Database &db, UiPort &port, HttpClient &client,
                               const std::function<void()> &setLaterDate, ImportRunState &state) {
    if (storage::jquantsSource())
        return UpdateFromJQuants(db, port, setLaterDate, state);
    sourceNote().clear();
    return ScanDataSite(db, port, client, setLaterDate, state);
}

} // namespace tesmo::acquire
