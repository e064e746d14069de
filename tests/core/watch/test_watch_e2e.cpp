// tesmoctl's watch rules end to end: the sample data site on loopback, tesmoctl update into a
// file of the layout before the rules, three rules, and what watch run reports against an
// independent query of the same day.
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/signed_release.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <utility>

using namespace tesmo;
namespace keys = storage::keys;

namespace {

using RuleHits = std::set<std::pair<std::string, std::string>>; // (rule name, code)

TEST(WatchE2E, WatchRunListsExactlyWhatAnIndependentQuerySelects) {
    test::TempEnv env;
    const test::SampleSiteProcess site({"--end", "20240131", "--days", "25", "--stocks", "400"},
                                       env.dir());
    storage::writeSetting(keys::myhpadd4, site.url() + "/cgi-bin/freedata/index.cgi");
    storage::writeSetting(keys::myhpad_data4, site.url() + "/freedata/");
    storage::writeSetting(keys::compyc, "40");
    storage::writeSetting(keys::noannounce, "1");
    const std::string path = env.newDatabase();
    {
        auto db = storage::Database::open(path, storage::kConnectString);
        db->executeNative("DROP TABLE T_WATCH; DROP TABLE T_WATCH_HIT;");
    }
    int status = -1;
    env.tesmoctl("update --no-wait " + path + " >/dev/null", &status);
    ASSERT_EQ(status, 0);

    // The close of 1301 on the newest day: a price level that it meets exactly.
    long long day = 0;
    std::string close1301;
    {
        auto db = storage::Database::open(path, storage::kConnectString);
        day = db->scalar("SELECT max(IDATE) FROM T_NEARLY").toInt();
        close1301 = db->scalar("SELECT PRC FROM T_NEARLY WHERE CODE = '1301' AND IDATE = " +
                               std::to_string(day))
                        .toText();
    }
    const std::string rules[] = {"--name 急騰 --column 前比終値 --ge 5%",
                                 "--name 出来高急増 --column 出来高 --ge 3 --times-average",
                                 "--name 損切り --code 1301 --le " + close1301};
    for (const std::string &rule : rules) {
        env.tesmoctl("watch add " + path + " " + rule, &status);
        ASSERT_EQ(status, 0) << rule;
    }
    env.tesmoctl("watch add " + path + " --column 前比終値 --ge abc 2>/dev/null", &status);
    EXPECT_EQ(status, 1);

    RuleHits expected;
    {
        auto db = storage::Database::open(path, storage::kConnectString);
        EXPECT_EQ(db->scalar("SELECT count(*) FROM T_WATCH").toInt(), 3);
        const std::string d = std::to_string(day);
        const std::pair<const char *, std::string> queries[] = {
            {"急騰", "SELECT CODE FROM T_NEARLY WHERE IDATE = " + d + " AND A1PRC >= 0.05"},
            {"出来高急増", "SELECT N.CODE FROM T_NEARLY N JOIN T_MONTHLY M ON M.CODE = N.CODE "
                           "AND M.YYYYMM = " +
                               std::to_string(day / 100) + " WHERE N.IDATE = " + d +
                               " AND M.AVDVAL > 0 AND N.DVAL >= 3 * M.AVDVAL"},
            {"損切り", "SELECT CODE FROM T_NEARLY WHERE IDATE = " + d +
                           " AND CODE = '1301' AND PRC <= " + close1301},
        };
        for (const auto &[rule, sql] : queries)
            for (storage::ResultSet rs = db->openRecordset(sql); !rs.eof(); rs.moveNext())
                expected.emplace(rule, rs.field(0).toText());
    }
    ASSERT_GT(expected.size(), 1u); // the volume rule and the price level select something
    std::set<std::string> stocks;
    for (const auto &[rule, code] : expected)
        stocks.insert(code);

    // The update evaluates the rules and announces them in its report.
    const std::string report = env.tesmoctl("update --no-wait " + path, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(report.find("監視条件に" + std::to_string(stocks.size()) + "銘柄が該当しました"),
              std::string::npos)
        << report;

    const std::string out = env.tesmoctl("watch run " + path + " --json", &status);
    ASSERT_EQ(status, 0);
    const nlohmann::json run = nlohmann::json::parse(out);
    EXPECT_EQ(run["date"].get<long long>(), day);
    EXPECT_EQ(run["stocks"].get<size_t>(), stocks.size());
    RuleHits listed;
    for (const auto &m : run["matches"])
        listed.emplace(m["ruleName"].get<std::string>(), m["code"].get<std::string>());
    EXPECT_EQ(listed, expected);

    // The text form and the list; a rule removed by name is gone.
    EXPECT_NE(env.tesmoctl("watch run " + path, &status).find("損切り\t1301\t"), std::string::npos);
    env.tesmoctl("watch remove " + path + " 損切り", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(env.tesmoctl("watch list " + path + " --json | grep -c '\"id\"'", &status), "2\n");
    env.tesmoctl("watch remove " + path + " 損切り 2>/dev/null", &status);
    EXPECT_EQ(status, 1);
}

} // namespace
