#include "core/update/version_check.h"

#include "core/storage/settings_store.h"
#include "support/update_site.h"

using namespace tesmo;
using namespace tesmo::update;
using namespace tesmo::storage;
using tesmo::test::TableRow;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs section(const char *name) {
    return getAllSettings(updaterStateAppName(), name).value_or(Pairs{});
}

void installed(const std::string &lowerName, const std::string &stamp) {
    saveSetting(updaterStateAppName(), kWebcheckSection, lowerName, stamp);
}

TEST(ModuleTable, RowsBetweenTheMarkersWithTheirCellsTrimmed) {
    const std::string page = test::moduleTablePage({
        {"Tesmo", "2345678", "124010100"},
        {"tesmo.mdb", "20000000", "124020100"},
    });
    const std::vector<ModuleRow> rows = parseModuleTable(page);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Tesmo");
    EXPECT_EQ(rows[0].size, "2345678");
    EXPECT_EQ(rows[0].stamp, "124010100");
    EXPECT_EQ(rows[1].name, "tesmo.mdb");

    // All on one line, a row with too few cells, and no closing tags.
    const std::string compact = "x<!- tesmo module update start --><table><tr><td>1<td>a.dll"
                                "<td>10<td>124010100<tr><td>2<td>b.dll<td>11</tr>"
                                "<!- tesmo module update end --><tr><td>3<td>c<td>1<td>1";
    const std::vector<ModuleRow> more = parseModuleTable(compact);
    ASSERT_EQ(more.size(), 1u);
    EXPECT_EQ(more[0].name, "a.dll");
    EXPECT_EQ(more[0].stamp, "124010100");

    EXPECT_THROW(parseModuleTable("<html>no table here</html>"), std::runtime_error);
}

TEST(ModuleTable, WhichRowsAreOffered) {
    const long long now = 124050613; // 6 May 2024, 13 h
    const struct {
        const char *what;
        ModuleRow row;
        bool completeDb;
        std::string installedStamp;
        bool offered;
    } cases[] = {
        {"published in the current hour", {"Tesmo", "1", "124050613"}, false, "1080505", false},
        {"published the hour before", {"Tesmo", "1", "124050612"}, false, "1080505", true},
        {"published later", {"Tesmo", "1", "199123123"}, false, "1080505", false},
        {"never installed, 5 May 2008", {"Tesmo", "1", "108050500"}, false, "1080505", true},
        {"never installed, 4 May 2008", {"Tesmo", "1", "108050423"}, false, "1080505", false},
        {"installed the same", {"Tesmo", "1", "124010100"}, false, "124010100", false},
        {"installed an older one", {"Tesmo", "1", "124010100"}, false, "123123123", true},
        {"installed a newer one", {"Tesmo", "1", "124010100"}, false, "124010200", false},
        {"package without the flag", {"tesmotesmo.mdb", "1", "124010100"}, false, "1080505", false},
        {"package with the flag", {"TesmoTesmo.mdb", "1", "124010100"}, true, "125010100", true},
        {"database without the flag", {"tesmo.mdb", "1", "124010100"}, false, "1080505", true},
        {"database with the flag", {"Tesmo.MDB", "1", "124010100"}, true, "1080505", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(moduleOffered(c.row, now, c.completeDb, c.installedStamp), c.offered);
    }
    EXPECT_THROW(moduleOffered({"Tesmo", "1", "soon"}, now, false, "1080505"), std::runtime_error);
}

TEST(ModuleTable, HourStampAndSafeNames) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = 6;
    tm.tm_hour = 13;
    tm.tm_min = 59;
    tm.tm_isdst = -1;
    EXPECT_EQ(hourStamp(std::mktime(&tm)), 124050613);
    tm.tm_year = 2031 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 31;
    tm.tm_hour = 0;
    EXPECT_EQ(hourStamp(std::mktime(&tm)), 131123100);

    for (const char *ok : {"Tesmo", "tesmo.mdb", "Tesmo.html", "表示.dat", "a b.dll"})
        EXPECT_TRUE(safeModuleName(ok)) << ok;
    for (const char *bad : {"", ".", "..", "../Tesmo", "/usr/bin/x", "sub/x", "a\\b", "x\ny"})
        EXPECT_FALSE(safeModuleName(bad)) << bad;
}

class VersionCheck : public test::UpdateTest {};

TEST_F(VersionCheck, SelectsNewerFilesAndRecordsThemForTheUpdater) {
    installUpdater();
    publish({
        {"Tesmo", "2345678", "124010100"},
        {"tesmo_auto", "345678", "124010100"},
        {"tesmo.mdb", "20000000", "124020100"},
        {"tesmotesmo.mdb", "21000000", "124020200"},
        {"Tesmo.html", "4567", "199123123"},
    });
    installed("tesmo_auto", "124010100");
    saveSetting(updaterStateAppName(), kTrgDtSection, "old.dll", "123010100");

    // A system-wide install (program folder read-only) is offered the databases only.
    const struct {
        bool completeDb;
        bool writable;
        std::string result;
        Pairs trgDt, trgSz;
        float size;
    } cases[] = {
        {false,
         true,
         "Tesmo 2345678 124010100\ttesmo.mdb 20000000 124020100\t",
         {{"Tesmo", "124010100"}, {"tesmo.mdb", "124020100"}},
         {{"Tesmo", "2345678"}, {"tesmo.mdb", "20000000"}},
         22345678.0f},
        {true,
         true,
         "Tesmo 2345678 124010100\ttesmotesmo.mdb 21000000 124020200\t",
         {{"Tesmo", "124010100"}, {"tesmotesmo.mdb", "124020200"}},
         {{"Tesmo", "2345678"}, {"tesmotesmo.mdb", "21000000"}},
         23345678.0f},
        {false,
         false,
         "tesmo.mdb 20000000 124020100\t",
         {{"tesmo.mdb", "124020100"}},
         {{"tesmo.mdb", "20000000"}},
         20000000.0f},
        {true,
         false,
         "tesmotesmo.mdb 21000000 124020200\t",
         {{"tesmotesmo.mdb", "124020200"}},
         {{"tesmotesmo.mdb", "21000000"}},
         21000000.0f},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.completeDb) + (c.writable ? " writable" : " read-only"));
        setProgramFolderWritableOverride(c.writable);
        // Nothing counts as installed until the updater has run, so a second check selects
        // the same files again.
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(versionCheck(client, port, c.completeDb), c.result);
            EXPECT_EQ(section(kTrgDtSection), c.trgDt);
            EXPECT_EQ(section(kTrgSzSection), c.trgSz);
            EXPECT_FLOAT_EQ(updateSize(), c.size);
        }
    }
    EXPECT_TRUE(port.messages.empty());
}

TEST_F(VersionCheck, WithoutTheUpdaterNothingIsOffered) {
    publish({{"Tesmo", "2345678", "124010100"}});
    EXPECT_EQ(versionCheck(client, port, false), "");
    EXPECT_EQ(server.hits("/tesmo_auto/"), 0);
    EXPECT_EQ(updateSize(), 0.0f);
}

TEST_F(VersionCheck, AnyFailureMeansNothingNew) {
    installUpdater();
    const struct {
        const char *what;
        std::string page;
        int status;
    } cases[] = {
        {"page without markers", "<html><body>maintenance</body></html>", 200},
        {"server error", "", 500},
        {"stamp that is not a number", test::moduleTablePage({{"Tesmo", "1", "yesterday"}}), 200},
        {"size that is not a number", test::moduleTablePage({{"Tesmo", "big", "124010100"}}), 200},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        server.serve("/tesmo_auto/", c.page, c.status);
        EXPECT_EQ(versionCheck(client, port, false), "");
        EXPECT_TRUE(section(kTrgDtSection).empty());
    }
    writeSetting(keys::updatesite, "http://127.0.0.1:9");
    EXPECT_EQ(versionCheck(client, port, false), "");
}

TEST_F(VersionCheck, NamesThatLookLikeCommentsReachTheUpdater) {
    installUpdater();
    publish({{";readme.txt", "12", "124010100"}, {"#Tesmo.html", "34", "124010100"}});
    EXPECT_EQ(versionCheck(client, port, false),
              ";readme.txt 12 124010100\t#Tesmo.html 34 124010100\t");
    EXPECT_EQ(section(kTrgDtSection),
              (Pairs{{";readme.txt", "124010100"}, {"#Tesmo.html", "124010100"}}));
    EXPECT_EQ(section(kTrgSzSection), (Pairs{{";readme.txt", "12"}, {"#Tesmo.html", "34"}}));
}

TEST_F(VersionCheck, FileNamesThatLeaveTheInstallFolderAreRefused) {
    installUpdater();
    publish({
        {"../Tesmo", "1", "124010100"},
        {"sub/evil.so", "1", "124010100"},
        {"..", "1", "124010100"},
        {"C:\\Windows\\x.dll", "1", "124010100"},
        {"Tesmo", "10", "124010100"},
    });
    EXPECT_EQ(versionCheck(client, port, false), "Tesmo 10 124010100\t");
    EXPECT_EQ(section(kTrgDtSection), (Pairs{{"Tesmo", "124010100"}}));
    ASSERT_EQ(port.messages.size(), 1u);
    const std::string &text = port.messages[0].text;
    for (const char *name : {"../Tesmo", "sub/evil.so", "C:\\Windows\\x.dll"})
        EXPECT_NE(text.find(name), std::string::npos) << name;
    EXPECT_EQ(port.messages[0].icon, MsgIcon::Exclamation);
}

} // namespace
