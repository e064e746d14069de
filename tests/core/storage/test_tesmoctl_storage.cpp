// tesmoctl's storage commands, run as a user would run them.
#include "core/storage/connection.h"
#include "core/storage/data_source.h"
#include "core/storage/db_error.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using tesmo::test::runCommand;
using tesmo::test::TempEnv;

namespace {

std::string ctl(const std::string &args, int *status) {
    return runCommand(std::string(TESMO_BIN_DIR) + "/tesmoctl " + args + " 2>&1", status);
}

TEST(Tesmoctl, NewDbSqlAndSettings) {
    TempEnv env;
    int status = -1;
    const std::string db = env.path("x.mdb");
    ctl("new-db " + db, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ctl("sql " + db + " \"select pID, pINT from T_config order by pID\"", &status),
              "pID\tpINT\nMAXDT\t0\nMAXDT1\t0\nMAXMM\t0\nMAXMM1\t0\n");
    ctl("new-db " + db, &status);
    EXPECT_EQ(status, 1); // never overwrites

    ctl("sql " + db + " \"insert into master(CODE,NAME) values('1301', 'a')\"", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ctl("sql " + db +
                      " 'select * from master Where master.NAME like \"*a*\" Order by "
                      "master.NAME;'",
                  &status)
                  .substr(0, 9),
              "CODE\tNAME");
    const std::string err = ctl("sql " + db + " \"select nope from master\"", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("no such column"), std::string::npos) << err;

    EXPECT_EQ(ctl("setting option compyc", &status), "3000\n");
    ctl("setting option compyc 2500", &status);
    EXPECT_EQ(ctl("setting option compyc", &status), "2500\n");
    EXPECT_EQ(ctl("setting --app updater webcheck tesmo.mdb", &status), "1080505\n");
    ctl("setting --app updater trg_dt Tesmo 126010100", &status);
    EXPECT_EQ(ctl("setting --app tesmo_autots1 trg_dt Tesmo", &status), "126010100\n");
    EXPECT_EQ(ctl("setting --app updater-http option setproxy", &status),
              "<input proxy server name>\n");

    ctl("--help", &status);
    EXPECT_EQ(status, 0);
    ctl("frobnicate", &status);
    EXPECT_EQ(status, 2);
}

// An answer that cannot be written out (a full disk) is a failure, never a cut answer with
// status 0 that a script would take for the whole.
TEST(Tesmoctl, OutputThatCannotBeWrittenIsAFailure) {
    TempEnv env;
    int status = -1;
    const std::string db = env.path("x.mdb");
    ctl("new-db " + db, &status);
    ASSERT_EQ(status, 0);
    for (const std::string &command :
         {"sql " + db + " \"select * from T_config\"", std::string("setting option compyc")}) {
        // stderr to the pipe, stdout to a device that refuses every write
        const std::string err = runCommand(
            std::string(TESMO_BIN_DIR) + "/tesmoctl " + command + " 2>&1 >/dev/full", &status);
        EXPECT_EQ(status, 1) << command;
        EXPECT_NE(err.find("cannot write the output"), std::string::npos) << err;
        ctl(command + " >/dev/null", &status);
        EXPECT_EQ(status, 0) << command;
    }
}

// An empty file and another program's SQLite file are refused by every command that opens a
// database, and stay byte for byte as they were.
TEST(Tesmoctl, LeavesFilesThatAreNotTesmoDatabasesAlone) {
    TempEnv env;
    const std::string zero = env.path("zero.mdb");
    const std::string foreign = env.path("foreign.db");
    std::ofstream(zero).close();
    tesmo::test::writeForeignSqliteFile(foreign);
    int status = -1;
    for (const std::string &file : {zero, foreign}) {
        const std::string before = tesmo::test::fileBytes(file);
        for (const std::string &command :
             {"sql " + file + " \"select 1\"", "import " + file + " " + env.path("x.bnd")}) {
            const std::string out = ctl(command, &status);
            EXPECT_EQ(status, 1) << command;
            EXPECT_NE(out.find("データベースファイルではありません"), std::string::npos) << out;
        }
        EXPECT_EQ(tesmo::test::fileBytes(file), before) << file;
        EXPECT_FALSE(std::filesystem::exists(file + "-wal")) << file;
    }
}

TEST(DataSource, RefreshKeepsTheCurrentRowWhereItCan) {
    TempEnv env;
    const std::string path = env.newDatabase();
    tesmo::storage::DataSource ds(path, "select * from master order by CODE");
    for (int i = 1; i <= 5; ++i)
        ds.database().execute("insert into master(CODE,NAME) values('" + std::to_string(i) +
                              "','n')");
    ds.refresh();
    EXPECT_EQ(ds.rows().rowCount(), 5u);
    EXPECT_EQ(ds.currentRow(), 0);
    ds.setCurrentRow(4);
    ds.database().execute("delete from master where CODE='5'");
    ds.refresh();
    EXPECT_EQ(ds.currentRow(), 3);
    ds.setRecordSource("select * from master where CODE='none'");
    ds.refresh();
    EXPECT_EQ(ds.currentRow(), -1);
    tesmo::storage::DataSource missing(env.path("none.mdb"), "select 1");
    EXPECT_THROW(missing.refresh(), tesmo::storage::DbError);
}

} // namespace
