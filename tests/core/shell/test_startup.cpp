#include "core/common/shell_open.h"
#include "core/shell/startup.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/storage/shipped_database.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tesmo;
using namespace tesmo::shell;
using tesmo::test::RecordingPort;
using tesmo::test::TempEnv;
namespace fs = std::filesystem;

namespace {

TEST(Startup, HeartbeatStampAndGuard) {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 10;
    t.tm_min = 2;
    t.tm_sec = 5;
    t.tm_isdst = -1;
    const std::time_t now = std::mktime(&t);
    EXPECT_EQ(heartbeatStamp(now, false), 1207LL * 100000 + 10 * 3600 + 2 * 60 + 5);
    EXPECT_EQ(heartbeatStamp(now, true), heartbeatStamp(now, false) - 3);

    const long long stamp = heartbeatStamp(now, true);
    const long long fresh = heartbeatStamp(now, false) - 1; // a tick one second ago
    EXPECT_EQ(singleInstanceGuard(stamp, 0, 0), GuardVerdict::Start);
    EXPECT_EQ(singleInstanceGuard(stamp, fresh, 0), GuardVerdict::ActivateOther);
    EXPECT_EQ(singleInstanceGuard(stamp, fresh, fresh), GuardVerdict::AskTray);
    EXPECT_EQ(singleInstanceGuard(stamp, stamp - 10, 0), GuardVerdict::Start); // stale
    EXPECT_EQ(singleInstanceGuard(stamp, stamp, stamp + 1), GuardVerdict::Start);
}

TEST(Startup, PortfolioHintUntilDeclined) {
    TempEnv env;
    RecordingPort port;
    port.answers = {MsgAnswer::Yes, MsgAnswer::No};
    EXPECT_EQ(choosePortfolioPath(port, "Tesmo"), "");
    EXPECT_EQ(choosePortfolioPath(port, "Tesmo"), "");
    EXPECT_EQ(choosePortfolioPath(port, "Tesmo"), "");
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(
        port.messages[0].text.rfind("現在はポートフォリオが個別になっていません。\r\n\r\n【", 0),
        0u);
    EXPECT_EQ(storage::readSetting(storage::keys::usermdbconfirm), "1");
    storage::writeSetting(storage::keys::portopt, "1");
    storage::writeSetting(storage::keys::portfile, "/x/p.mdb");
    EXPECT_EQ(choosePortfolioPath(port, "Tesmo"), "/x/p.mdb");
}

TEST(Startup, UserIdIsDrawnOnceAndKept) {
    TempEnv env;
    const long long id = userIdNumber();
    EXPECT_GE(id, 1);
    EXPECT_LE(id, 250000);
    EXPECT_EQ(userIdNumber(), id);
    EXPECT_EQ(storage::portLinkTableName(id), "userportf" + std::to_string(id));
}

TEST(Startup, ExternalPortfolioOffersTheCopyOnlyOnTheFirstLink) {
    TempEnv env;
    auto db = storage::Database::open(env.newDatabase(), storage::kConnectString);
    db->execute(
        "Insert into T_PORT(PDATE,CODE,PSW,APRC,AVAL) Values(20240105,'1301',0,3000,1000);");
    const std::string port = env.path("portfolio.mdb");
    storage::createPortfolioDatabase(port);
    RecordingPort ui;
    attachExternalPortfolio(*db, ui, port, "userportf9", "Tesmo 1.0");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(db->scalar("select count(*) from userportf9").toInt(), 1);
    attachExternalPortfolio(*db, ui, port, "userportf9", "Tesmo 1.0");
    EXPECT_EQ(ui.messages.size(), 1u); // the old link was found and replaced silently
    fs::remove(port);
    EXPECT_THROW(attachExternalPortfolio(*db, ui, port, "userportf9", "Tesmo 1.0"), std::exception);
}

TEST(ShellRoutines, FileExistsWithWildcards) {
    TempEnv env;
    std::ofstream(env.path("20240105.bnd")) << "x";
    std::ofstream(env.path("20240104.bnd")) << "x";
    EXPECT_EQ(firstMatchingFile(env.path("20240105.bnd")), "20240105.bnd");
    EXPECT_EQ(firstMatchingFile(env.path("*.bnd")), "20240104.bnd");
    EXPECT_EQ(firstMatchingFile(env.path("2024010?.bnd")), "20240104.bnd");
    EXPECT_EQ(firstMatchingFile(env.path("*.lzh")), "");
    EXPECT_EQ(firstMatchingFile("http://example.invalid/x"), "");
    EXPECT_EQ(firstMatchingFile(env.path("nofolder/*.bnd")), "");
    EXPECT_EQ(firstMatchingFile(""), "");
}

TEST(ShellRoutines, ShellOpenStartsProgramsWithArguments) {
    TempEnv env;
    const std::string script = env.path("my prog.sh");
    {
        std::ofstream out(script);
        out << "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/out.txt\"\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    const long pid = shellOpen(script + " hello", "");
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 100 && !fs::exists(env.path("out.txt")); ++i)
        ::usleep(20000);
    std::ifstream in(env.path("out.txt"));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "hello");
    EXPECT_EQ(shellOpen("", ""), -99);
}

} // namespace
