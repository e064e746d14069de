// Where each kind of file lives when the program folder can be written (a build folder, a
// per-user install) and when it cannot (a system-wide install), and the first start there.
#include "core/common/paths.h"
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

    // The marker of a system-wide install makes the folder read-only for whoever runs it.
    setInstallDirOverride(shared + "/mine");
    EXPECT_TRUE(programFolderWritable());
    std::ofstream(shared + "/mine/" + kSystemInstallMarker) << "";
    EXPECT_FALSE(programFolderWritable());
}

// The shipped database is a template: the first start copies it to the user's database, in the
// program folder or in the user's data folder, and installing the programs again (a new
// template) never reaches the user's rows.
TEST(ProgramFolder, FirstStartCopiesTheShippedDatabaseAndNeverReplacesTheUsers) {
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable" : "read-only");
        TempEnv env;
        setProgramFolderWritableOverride(writable);
        const std::string shipped = storage::shippedDatabasePath();
        fs::create_directories(fs::path(shipped).parent_path());
        fs::copy_file(env.newDatabase("made.mdb"), shipped);
        const auto shippedTime = fs::last_write_time(shipped);

        storage::connectDatabase();
        const std::string mine =
            (writable ? installDir() : env.path("data-home/tesmo")) + "/tesmo.mdb";
        EXPECT_EQ(storage::databasePath(), mine);
        storage::mainDatabase().execute("insert into master (CODE) values ('1301')");
        storage::closeDatabase();
        EXPECT_EQ(fs::last_write_time(shipped), shippedTime);

        // A reinstall brings a new template; the next start opens the user's copy again.
        fs::remove(shipped);
        fs::copy_file(env.newDatabase("new.mdb"), shipped);
        storage::connectDatabase();
        EXPECT_EQ(storage::mainDatabase().scalar("select count(*) from master").toInt(), 1);
        storage::closeDatabase();

        // A database named in the settings is never made from the shipped one.
        const std::string elsewhere = env.path("elsewhere.mdb");
        storage::writeSetting(keys::mdbpath, elsewhere);
        EXPECT_THROW(storage::connectDatabase(), std::exception);
        EXPECT_FALSE(fs::exists(elsewhere));
    }
}

// A relative path in XDG_DATA_HOME or XDG_CONFIG_HOME is invalid by the XDG rules and ignored:
// taken as it stands it would name another folder in each working folder.
TEST(ProgramFolder, RelativeXdgFoldersAreIgnored) {
    TempEnv env;
    const std::string home = env.path("home");
    const char *oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", home.c_str(), 1);
    const struct {
        const char *data, *config;
        std::string dataDir, configDir;
    } cases[] = {
        {"relative/data", "relative/config", home + "/.local/share/tesmo", home + "/.config/tesmo"},
        {"./x", "", home + "/.local/share/tesmo", home + "/.config/tesmo"},
        {"/abs/data", "/abs/config", "/abs/data/tesmo", "/abs/config/tesmo"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.data);
        ::setenv("XDG_DATA_HOME", c.data, 1);
        ::setenv("XDG_CONFIG_HOME", c.config, 1);
        EXPECT_EQ(userDataDir(), c.dataDir);
        EXPECT_EQ(settingsDir(), c.configDir);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
}

} // namespace
