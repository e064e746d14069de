#include "core/update/update_start.h"

#include "core/common/process.h"
#include "core/update/version_check.h"
#include "support/update_site.h"

using namespace tesmo;
using namespace tesmo::update;
using tesmo::test::appears;
using tesmo::test::writeScript;

namespace fs = std::filesystem;
using tesmo::test::fileBytes;

namespace {

TEST(StartProcess, StartsWithArgumentsInTheWorkingFolderOrReportsFailure) {
    test::TempEnv env;
    const std::string work = env.path("work dir");
    fs::create_directories(work);
    const std::string script = env.path("prog.sh");
    writeScript(script, "printf '%s|%s|%s' \"$1\" \"$2\" \"$(pwd)\" > out.tmp && mv out.tmp out");

    const long pid = startProcess(script, {"a b", "c"}, work);
    EXPECT_GT(pid, 0);
    ASSERT_TRUE(appears(work + "/out"));
    EXPECT_EQ(fileBytes(work + "/out"), "a b|c|" + work);

    EXPECT_EQ(startProcess(env.path("missing")), kStartFailed);
    EXPECT_EQ(startProcess(script, {}, env.path("no such folder")), kStartFailed);
    EXPECT_EQ(startProcess(""), kStartFailed);
    fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(startProcess(script), kStartFailed);
    EXPECT_EQ(openTarget(""), kStartFailed);
}

TEST(StartProcess, OpenTargetStartsAnExecutableDirectly) {
    test::TempEnv env;
    const std::string script = env.path("tool");
    writeScript(script, "touch \"$(dirname \"$0\")/ran\"");
    EXPECT_GT(openTarget(script), 0);
    EXPECT_TRUE(appears(env.path("ran")));
}

class UpdateStart : public test::UpdateTest {};

TEST_F(UpdateStart, EmptiesTheDownloadFolderStartsTheUpdaterAndMarksTheExit) {
    installUpdater();
    const std::string downtemp = installPath(kDownloadFolder);
    fs::create_directories(downtemp + "/keep");
    std::ofstream(downtemp + "/Tesmo") << "left from last time";
    std::ofstream(downtemp + "/tesmo.mdb") << "left from last time";

    EXPECT_EQ(startUpdater(port), "");
    EXPECT_TRUE(appState().update_exit);
    EXPECT_TRUE(port.busy());
    EXPECT_TRUE(appears(installPath("started")));
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(downtemp))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"keep"});
}

TEST_F(UpdateStart, AnUpdaterThatCannotStartKeepsTheProgramRunning) {
    const std::string r = startUpdater(port);
    EXPECT_NE(r, "");
    EXPECT_NE(r.find("tesmo_auto"), std::string::npos) << r;
    EXPECT_FALSE(appState().update_exit);
    EXPECT_FALSE(port.busy());
    EXPECT_TRUE(fs::is_directory(installPath(kDownloadFolder)));
}

TEST(UpdateQuestions, TheDatabaseWarningIsForTheDatabaseFileOnly) {
    const std::pair<const char *, bool> cases[] = {
        {"Tesmo 1 124010100\t", false},
        {"tesmotesmo.mdb 2 124010100\t", false},
        {"Tesmo 1 124010100\ttesmotesmo.mdb 2 124010100\t", false},
        {"Tesmo 1 124010100\ttesmo.mdb 2 124010100\t", true},
        {"TESMO.MDB 2 124010100\t", true},
        {"tesmotesmo.mdb 2 124010100\ttesmo.mdb 2 124010100\t", true},
    };
    for (const auto &[selection, warned] : cases)
        EXPECT_EQ(selectionHasDatabase(selection), warned) << selection;
}

class UpdateCommands : public test::UpdateTest {
protected:
    const std::string title = "ｵﾌﾟｼｮﾝ";
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto &m : port.messages)
            out.push_back(m.text);
        return out;
    }
};

const std::string kAskProgram = "Tesmoのプログラムを自動でバージョンアップする事が出来ます。\r\n"
                                "ダウンロードするトータルサイズ = 約22.35MB\r\n"
                                "いますぐ、バージョンアップを行いますか？\r\n\r\n"
                                "後で行う場合は[ｷｬﾝｾﾙ]ボタンをクリックしてください";
const std::string kDbWarning =
    "今回のバージョンアップには、DBが含まれています。\r\n"
    "もし、ポートフォリオを外部DBにしていない場合は、\r\n"
    "ポートフォリオ情報が消えてしまいます。\r\n"
    "バージョンアップを続行しますか？\r\n\r\n"
    "バージョンアップを後で行う場合は[ｷｬﾝｾﾙ]ボタンをクリックしてください\r\n"
    "※ポートフォリオを外部DBにする場合は[ｵﾌﾟｼｮﾝ]から操作できます";
const std::string kNothingNew = "自動更新できる新しいバージョンアップは\r\nありませんでした。";

TEST_F(UpdateCommands, ProgramUpdateAsksTwiceWhenTheDatabaseComesAlong) {
    installUpdater();
    publish({{"Tesmo", "2345678", "124010100"}, {"tesmo.mdb", "20000000", "124020100"}});
    const struct {
        std::vector<MsgAnswer> answers;
        UpdateOutcome outcome;
        size_t questions;
    } cases[] = {
        {{MsgAnswer::Cancel}, UpdateOutcome::Declined, 1},
        {{MsgAnswer::Ok, MsgAnswer::Cancel}, UpdateOutcome::Declined, 2},
        {{MsgAnswer::Ok, MsgAnswer::Ok}, UpdateOutcome::Started, 2},
    };
    for (const auto &c : cases) {
        port.messages.clear();
        port.answers.assign(c.answers.begin(), c.answers.end());
        EXPECT_EQ(runProgramUpdate(client, port, title), c.outcome);
        ASSERT_EQ(port.messages.size(), c.questions);
        EXPECT_EQ(port.messages[0].text, kAskProgram);
        EXPECT_EQ(port.messages[0].title, title);
        EXPECT_EQ(port.messages[0].buttons, MsgButtons::OkCancel);
        EXPECT_EQ(port.messages[0].icon, MsgIcon::Information);
        if (c.questions > 1) {
            EXPECT_EQ(port.messages[1].text, kDbWarning);
        }
        EXPECT_EQ(appState().update_exit, c.outcome == UpdateOutcome::Started);
    }
    EXPECT_TRUE(appears(installPath("started")));
}

TEST_F(UpdateCommands, ProgramUpdateWithNothingNewSaysSo) {
    publish({{"Tesmo", "2345678", "124010100"}}); // but no updater installed
    EXPECT_EQ(runProgramUpdate(client, port, title), UpdateOutcome::NothingNew);
    EXPECT_EQ(texts(), std::vector<std::string>{kNothingNew});
    EXPECT_FALSE(port.busy());
}

TEST_F(UpdateCommands, DatabaseRefetchAsksFirstAndSkipsTheWarningForThePackage) {
    installUpdater();
    publish({{"tesmo.mdb", "20000000", "124020100"}, {"tesmotesmo.mdb", "21000000", "124020200"}});
    const std::string first =
        "この処理は、TesmoのホームページからDBを再取得する処理です。\r\n"
        "【ご注意】通常の更新を数日おきにでも行っていた場合は、この処理は必要ありません。\r\n"
        "通常は１ヶ月ほど、更新をしていなかった場合に使用します。\r\n\r\n"
        "実行してよろしですか？";

    port.answers = {MsgAnswer::Cancel};
    EXPECT_EQ(runDatabaseRefetch(client, port, title), UpdateOutcome::Declined);
    EXPECT_EQ(texts(), std::vector<std::string>{first});
    EXPECT_EQ(server.hits("/tesmo_auto/"), 0);

    port.messages.clear();
    port.answers = {MsgAnswer::Ok, MsgAnswer::Ok};
    EXPECT_EQ(runDatabaseRefetch(client, port, title), UpdateOutcome::Started);
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(port.messages[1].text,
              "TesmoのDBと新しいプログラムをダウンロードする事が出来ます。\r\n"
              "ダウンロードするトータルサイズ = 約21.00MB\r\n"
              "いますぐ、バージョンアップを行いますか？\r\n\r\n"
              "後で行う場合は[ｷｬﾝｾﾙ]ボタンをクリックしてください");
    EXPECT_TRUE(appState().update_exit);
    EXPECT_TRUE(appears(installPath("started")));
}

// A system-wide install: the package manager brings new programs, the updater still brings a
// complete database, through a download folder in the user's data folder.
TEST_F(UpdateCommands, SystemInstallLeavesProgramsToThePackageManager) {
    installUpdater();
    publish({{"Tesmo", "2345678", "124010100"}, {"tesmotesmo.mdb", "21000000", "124020200"}});
    setProgramFolderWritableOverride(false);
    EXPECT_EQ(runProgramUpdate(client, port, title), UpdateOutcome::SystemManaged);
    EXPECT_EQ(texts(), std::vector<std::string>{kPackageManagerNote});
    EXPECT_EQ(server.hits("/tesmo_auto/"), 0);
    EXPECT_FALSE(appState().update_exit);

    port.messages.clear();
    port.answers = {MsgAnswer::Ok, MsgAnswer::Ok};
    EXPECT_EQ(runDatabaseRefetch(client, port, title), UpdateOutcome::Started);
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_NE(port.messages[1].text.find("約21.00MB"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(joinPath(userDataDir(), kDownloadFolder)));
    EXPECT_FALSE(fs::exists(installPath(kDownloadFolder)));
    EXPECT_TRUE(appears(installPath("started")));
}

TEST_F(UpdateCommands, DatabaseRefetchWithNothingOnTheSiteAsksToWait) {
    installUpdater();
    publish({{"tesmotesmo.mdb", "21000000", "199010100"}}); // not published yet
    port.answers = {MsgAnswer::Ok};
    EXPECT_EQ(runDatabaseRefetch(client, port, title), UpdateOutcome::NothingNew);
    ASSERT_EQ(port.messages.size(), 2u);
    EXPECT_EQ(port.messages[1].text, "20分経過した後にもう一度処理してみてください。");
    EXPECT_FALSE(appState().update_exit);
}

} // namespace
