// Where each kind of file lives when the program folder can be written (a build folder, a
// per-user install) and when it cannot (a system-wide install), and the first start there.
#include "common/paths.h"
#include "storage/connection.h"
#include "storage/settings_keys.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

using namespace tesmo;
using tesmo::test::TempEnv;
namespace fs = std::filesystem;
namespace keys = storage::keys;

namespace {

TEST(ProgramFolder, EachKindLivesInTheProgramFolderOrTheUserDataFolder) {
    TempEnv env;
    const std::string install = env.path("install");
    const std::string data = env.path("data-home/tesmo");
    const FileKind written[] = {FileKind::Database, FileKind::Download, FileKind::Backup,
                                FileKind::UpdateDownload};
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable" : "read-only");
        setProgramFolderWritableOverride(writable);
        EXPECT_EQ(folderFor(FileKind::Program), install);
        for (const FileKind kind : written)
            EXPECT_EQ(folderFor(kind), writable ? install : data);
        EXPECT_EQ(fs::is_directory(data), !writable); // made when first needed
        EXPECT_EQ(storage::readSetting(keys::mdbpath), (writable ? install : data) + "/tesmo.mdb");
        EXPECT_EQ(pathFor(FileKind::Backup, "tesmo.mbk"),
                  (writable ? install : data) + "/tesmo.mbk");
    }
}

// Whether this user may write the folder, asked of the file system. Root may write anything,
// so as root the question is asked by a child that has become an ordinary user.
TEST(ProgramFolder, WritableIsWhatThisUserMayWrite) {
    TempEnv env;
    const std::string shared = env.path("shared");
    fs::create_directories(shared + "/mine");
    fs::create_directories(shared + "/system");
    ::chmod(env.dir().c_str(), 0755);
    ::chmod(shared.c_str(), 0755);
    ::chmod((shared + "/system").c_str(), 0555);
    const uid_t ordinary = 65534; // nobody
    if (::getuid() == 0) {
        ASSERT_EQ(::chown((shared + "/mine").c_str(), ordinary, ordinary), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(ordinary) != 0 || ::setuid(ordinary) != 0))
            ::_exit(9);
        int answer = 0;
        setInstallDirOverride(shared + "/mine");
        answer |= programFolderWritable() ? 1 : 0;
        setInstallDirOverride(shared + "/system");
        answer |= programFolderWritable() ? 2 : 0;
        ::_exit(answer);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "1: only the own folder is writable";
}

TEST(ProgramFolder, FirstStartCopiesTheShippedDatabaseIntoTheUserDataFolder) {
    TempEnv env;
    setProgramFolderWritableOverride(false);
    const std::string shipped = installPath("tesmo.mdb");
    fs::copy_file(env.newDatabase("made.mdb"), shipped);
    const auto shippedTime = fs::last_write_time(shipped);

    storage::ConnectDatabase();
    const std::string mine = env.path("data-home/tesmo/tesmo.mdb");
    EXPECT_EQ(storage::databasePath(), mine);
    storage::mainDatabase().execute("insert into master (CODE) values ('1301')");
    storage::CloseDatabase();

    // The next start opens the user's copy again; the shipped file is never written.
    storage::ConnectDatabase();
    EXPECT_EQ(storage::mainDatabase().scalar("select count(*) from master").toInt(), 1);
    storage::CloseDatabase();
    EXPECT_EQ(fs::last_write_time(shipped), shippedTime);
    for (const auto &e : fs::directory_iterator(installDir()))
        EXPECT_EQ(e.path().filename(), "tesmo.mdb");

    // A database named in the settings is never replaced by the shipped one.
    const std::string elsewhere = env.path("elsewhere.mdb");
    storage::writeSetting(keys::mdbpath, elsewhere);
    EXPECT_THROW(storage::ConnectDatabase(), std::exception);
    EXPECT_FALSE(fs::exists(elsewhere));
}

} // namespace
