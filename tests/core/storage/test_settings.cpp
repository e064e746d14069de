#include "core/common/paths.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace tesmo::storage;
using tesmo::test::TempEnv;

namespace {

TEST(Settings, FreshUserReadsDefaultsAndNothingIsWritten) {
    TempEnv env;
    EXPECT_EQ(readSetting(keys::compyc), "3000");
    EXPECT_EQ(readSettingInt(keys::maxdtc), 40);
    EXPECT_EQ(readSetting(keys::nomoremsg), "0");
    EXPECT_EQ(readSetting(keys::form2_height), "6135");
    EXPECT_EQ(readSetting(keys::F_ranktbsortb), "-1");
    EXPECT_EQ(readSetting(keys::mdbpath), env.path("install/tesmo.mdb"));
    EXPECT_EQ(readSetting(keys::tesmodatadir), env.path("install"));
    EXPECT_EQ(readSetting(keys::auto_setproxy), "<input proxy server name>");
    EXPECT_EQ(readSetting(keys::resec, "60"), "60"); // a reader's own default
    const std::string index = readSetting(keys::myhpadd4);
    EXPECT_EQ(index.substr(index.size() - 27), "/cgi-bin/freedata/index.cgi");
    EXPECT_FALSE(debugMode());
    EXPECT_FALSE(std::filesystem::exists(env.path("config")));
}

TEST(Settings, SavesReplacesAndKeepsStoredOrder) {
    TempEnv env;
    const std::string app = updaterStateAppName();
    EXPECT_FALSE(getAllSettings(app, kTrgDtSection).has_value());
    saveSetting(app, kTrgDtSection, "tesmo.mdb", "126010100");
    saveSetting(app, kTrgDtSection, "Tesmo", "125123123");
    saveSetting(app, kTrgDtSection, "a=b [c]\\x", "multi\r\nline");
    saveSetting(app, kTrgDtSection, "tesmo.mdb", "126010200");
    const auto all = getAllSettings(app, kTrgDtSection);
    ASSERT_TRUE(all.has_value());
    const SettingPairs expected = {
        {"tesmo.mdb", "126010200"}, {"Tesmo", "125123123"}, {"a=b [c]\\x", "multi\r\nline"}};
    EXPECT_EQ(*all, expected);
    // Sections of other applications are separate.
    EXPECT_FALSE(getAllSettings(mainAppName(), kTrgDtSection).has_value());

    deleteSettingSection(app, kTrgDtSection);
    EXPECT_FALSE(getAllSettings(app, kTrgDtSection).has_value());
    EXPECT_THROW(deleteSettingSection(app, kTrgDtSection), SettingsError);

    saveSetting(app, kTrgSzSection, "x", "1");
    EXPECT_TRUE(getAllSettings(app, kTrgSzSection).has_value());
    saveSetting(app, "empty", "k", "v");
    EXPECT_EQ(getSetting(app, kTrgSzSection, "x", "999"), "1");
    EXPECT_EQ(getSetting(app, kTrgSzSection, "y", kTrgSzDefault), "999");
}

TEST(Settings, KeysThatLookLikeCommentsAreSavedAndReadBack) {
    TempEnv env;
    const std::string app = updaterStateAppName();
    for (const char *key : {";tesmo.mdb", "#Tesmo", ";", "#", "a;b#c", ";K"})
        saveSetting(app, kTrgDtSection, key, std::string("v") + key);
    saveSetting(app, kTrgDtSection, ";k", "replaced"); // names ignore case, as always
    const SettingPairs expected = {
        {";tesmo.mdb", "v;tesmo.mdb"}, {"#Tesmo", "v#Tesmo"}, {";", "v;"}, {"#", "v#"},
        {"a;b#c", "va;b#c"},           {";K", "replaced"}};
    EXPECT_EQ(getAllSettings(app, kTrgDtSection), expected);
    EXPECT_EQ(getSetting(app, kTrgDtSection, "#tesmo", ""), "v#Tesmo");
    // Comment lines written by hand are still no keys.
    std::ofstream(settingsFilePath(app), std::ios::app)
        << "[" << kTrgDtSection << "]\n;x=1\n#y=2\n";
    EXPECT_EQ(getAllSettings(app, kTrgDtSection), expected);
}

TEST(Settings, NonNumericValueRaisesInTheReader) {
    TempEnv env;
    writeSetting(keys::compyc, "abc");
    EXPECT_THROW(readSettingInt(keys::compyc), SettingsError);
    writeSetting(keys::compyc, "2500");
    EXPECT_EQ(readSettingInt(keys::compyc), 2500);
    writeSetting(keys::debugcode, kDebugCode);
    EXPECT_TRUE(debugMode());
}

TEST(Settings, HandEditedGarbageKeepsTheReadableKeys) {
    TempEnv env;
    writeSetting(keys::maxdtc, "50");
    writeSetting(keys::compyc, "2000");
    const std::string file = settingsFilePath(mainAppName());
    {
        std::ofstream out(file, std::ios::app | std::ios::binary);
        out << "\x01\x02 garbage without equals\n=novalue\n[broken\n\xff\xfe\n";
    }
    EXPECT_EQ(readSetting(keys::maxdtc), "50");
    writeSetting(keys::nomoremsg, "1");
    EXPECT_EQ(readSetting(keys::maxdtc), "50");
    EXPECT_EQ(readSetting(keys::compyc), "2000");
    EXPECT_EQ(readSetting(keys::nomoremsg), "1");
    {
        std::ofstream out(file, std::ios::trunc | std::ios::binary);
        out << "key=before any section\n\0\0\0";
    }
    EXPECT_EQ(readSetting(keys::maxdtc), "40");
}

TEST(Settings, TwoWriterProcessesLoseNothing) {
    TempEnv env;
    constexpr int kKeys = 150;
    auto writer = [](const std::string &prefix) {
        for (int i = 0; i < kKeys; ++i)
            saveSetting(mainAppName(), "formwork", prefix + std::to_string(i), std::to_string(i));
    };
    pid_t children[2];
    const char *prefixes[2] = {"a", "b"};
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            writer(prefixes[c]);
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto all = getAllSettings(mainAppName(), "formwork");
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->size(), 2u * kKeys);
    for (const char *p : prefixes)
        EXPECT_EQ(getSetting(mainAppName(), "formwork", std::string(p) + "149", ""), "149");
}

TEST(Settings, EveryKeyIsFoundByName) {
    for (const SettingKey *k : allSettingKeys())
        EXPECT_EQ(findSettingKey(k->app, k->section, k->key), k) << k->section << "/" << k->key;
    EXPECT_EQ(findSettingKey(SettingsApp::Main, "option", "nosuchkey"), nullptr);
}

} // namespace
