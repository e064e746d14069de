// Where the data come from on a first start: a usable source, the welcome window's choice.
#include "core/shell/first_start.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

namespace tesmo::shell {
namespace {

namespace keys = storage::keys;
using test::TempEnv;

TEST(FirstStart, PlaceholderHostsAreNamesThatCannotExist) {
    const struct {
        const char *url;
        bool placeholder;
    } cases[] = {
        {"http://freedata.tesmo.example/cgi-bin/freedata/index.cgi", true},
        {"https://data.example.org:8080/", true},
        {"http://site.invalid", true},
        {"http://x.test./", true},
        {"http://EXAMPLE/", true},
        {"", true},
        {"http://127.0.0.1:8080/cgi-bin/freedata/index.cgi", false},
        {"http://[::1]:80/", false},
        {"https://examples.com/", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(placeholderHost(c.url), c.placeholder) << c.url;
}

// The state follows datasource, the key and the data site's address; the welcome window comes
// on the first start and while the source cannot be used.
TEST(FirstStart, SourceStateAndWhenTheWelcomeComes) {
    TempEnv env;
    const struct {
        const char *datasource, *key, *site, *first;
        SourceState state;
        const char *text;
        bool welcome;
    } cases[] = {
        {"site", "", nullptr, "1", SourceState::DataSiteUnset, "データサイト (未設定)", true},
        {"site", "", "http://127.0.0.1:9/cgi-bin/freedata/index.cgi", "1", SourceState::DataSite,
         "データサイト", false},
        {"site", "", "http://127.0.0.1:9/cgi-bin/freedata/index.cgi", "0", SourceState::DataSite,
         "データサイト", true},
        {"jquants", "", nullptr, "1", SourceState::JQuantsKeyMissing, "J-Quants (キー未設定)",
         true},
        {"JQuants", "k", nullptr, "1", SourceState::JQuants, "J-Quants", false},
    };
    for (const auto &c : cases) {
        storage::writeSetting(keys::datasource, c.datasource);
        storage::writeSetting(keys::jquantskey, c.key);
        storage::writeSetting(keys::myhpadd4, c.site ? c.site : storage::defaultOf(keys::myhpadd4));
        storage::writeSetting(keys::first, c.first);
        EXPECT_EQ(sourceState(), c.state) << c.datasource << c.key;
        EXPECT_EQ(sourceText(c.state), c.text);
        EXPECT_EQ(welcomeWanted(), c.welcome) << c.datasource << c.key << c.first;
        // tesmoctl says the same, and fails while the source cannot be used.
        int status = -1;
        EXPECT_EQ(env.tesmoctl("source", &status), std::string(c.text) + "\n");
        EXPECT_EQ(status, sourceUsable(c.state) ? 0 : 1);
    }
}

TEST(FirstStart, ChoiceIsSavedOnlyWhenItCanBeUsed) {
    TempEnv env;
    storage::writeSetting(keys::jquantskey, "old");
    EXPECT_EQ(saveSourceChoice({true, "  ", "5"}), "APIキーを入力してください。");
    EXPECT_EQ(saveSourceChoice({true, "new", "x"}),
              "[ﾘｸｴｽﾄ数/分]には1以上の数値を入力してください。");
    EXPECT_EQ(storage::readSetting(keys::jquantskey), "old");
    EXPECT_EQ(storage::readSetting(keys::datasource), "site");

    EXPECT_EQ(saveSourceChoice({true, "new", "60"}), "");
    EXPECT_EQ(storage::readSetting(keys::datasource), "jquants");
    EXPECT_EQ(storage::readSetting(keys::jquantskey), "new");
    EXPECT_EQ(storage::readSetting(keys::jquantsrate), "60");
    EXPECT_EQ(saveSourceChoice({false, "", ""}), "");
    EXPECT_EQ(storage::readSetting(keys::datasource), "site");
    EXPECT_EQ(storage::readSetting(keys::jquantskey), "new"); // kept for a later switch
}

} // namespace
} // namespace tesmo::shell
