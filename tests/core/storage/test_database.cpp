#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/db_error.h"
#include "core/storage/jet_functions.h"
#include "core/storage/settings_keys.h"
#include "core/storage/shipped_database.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <utility>

using namespace tesmo::storage;
using tesmo::test::fileBytes;
using tesmo::test::TempEnv;
using tesmo::test::writeForeignSqliteFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> filesIn(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string messageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const DbError &e) {
        return e.what();
    }
    return "(no error)";
}

TEST(Database, ShippedFileHasMarkersQueriesAndPassword) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    ResultSet rs = db->openRecordset("select pID, pINT from T_config order by pID");
    std::vector<std::string> ids;
    for (; !rs.eof(); rs.moveNext()) {
        ids.push_back(rs.field(0).toText());
        EXPECT_EQ(rs.field(1).toInt(), 0);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"MAXDT", "MAXDT1", "MAXMM", "MAXMM1"}));
    EXPECT_EQ(db->queryDefNames(), (std::vector<std::string>{"V_RANK", "V_PORT", "M_PORT"}));
    const std::vector<std::string> tables = db->tableDefNames();
    for (const char *t : {"master", "T_NEARLY", "T_MONTHLY", "T_config", "T_PORT", "wonton_dat01"})
        EXPECT_NE(std::find(tables.begin(), tables.end(), t), tables.end()) << t;
    EXPECT_EQ(std::count_if(tables.begin(), tables.end(),
                            [](const std::string &t) { return t.rfind("tesmo_sys", 0) == 0; }),
              0);
}

TEST(Database, RefusesBadFilesWithoutCreatingOrChangingAnything) {
    TempEnv env;
    const std::string good = env.newDatabase("good.mdb");
    const auto goodSize = fs::file_size(good);
    {
        std::ofstream(env.path("text.mdb")) << "this is not a database at all, just text\n";
        // A file cut in half after its header.
        std::ifstream in(good, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(env.path("cut.mdb"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    createPortfolioDatabase(env.path("nopwd.gbf"));
    std::ofstream(env.path("zero.mdb")).close();
    writeForeignSqliteFile(env.path("foreign.db"));
    const std::string foreignBytes = fileBytes(env.path("foreign.db"));
    const auto before = filesIn(env.dir());

    struct Bad {
        std::string path, connect, expect;
    };
    const Bad cases[] = {
        {env.path("missing.mdb"), kConnectString, "見つかりません"},
        {env.path("text.mdb"), kConnectString, "データベースファイルではありません"},
        // Neither an empty file nor another program's SQLite file is taken for a database
        // without a password (a portfolio file): opening would write into them.
        {env.path("zero.mdb"), kConnectString, "データベースファイルではありません"},
        {env.path("zero.mdb"), "", "データベースファイルではありません"},
        {env.path("foreign.db"), kConnectString, "データベースファイルではありません"},
        {env.path("foreign.db"), "", "データベースファイルではありません"},
        {env.path("cut.mdb"), kConnectString, "壊れています"},
        {good, ";pwd=wrong", "パスワードが正しくありません"},
        {good, "", "パスワードが必要"},
        {env.path("nopwd.gbf"), kConnectString, "パスワード"},
        {env.dir(), kConnectString, "フォルダ"},
    };
    for (const Bad &b : cases) {
        const std::string msg = messageOf([&] { Database::open(b.path, b.connect); });
        EXPECT_NE(msg.find(b.expect), std::string::npos) << b.path << ": " << msg;
    }
    EXPECT_EQ(filesIn(env.dir()), before);
    EXPECT_EQ(fs::file_size(good), goodSize);
    EXPECT_EQ(fs::file_size(env.path("zero.mdb")), 0u);
    EXPECT_EQ(fileBytes(env.path("foreign.db")), foreignBytes);
    EXPECT_NO_THROW(Database::open(env.path("nopwd.gbf"), ""));
}

// An open connection keeps working on a file that was deleted or emptied under it; what it
// wrote would be lost, so the commands that write ask first.
TEST(Database, NoticesWhenItsFileIsDeletedEmptiedOrReplaced) {
    TempEnv env;
    const std::string path = env.newDatabase();
    const std::string spare = env.newDatabase("spare.mdb");
    auto db = Database::open(path, kConnectString);
    EXPECT_NO_THROW(db->verifyFile());
    const std::string original = fileBytes(path);
    const struct {
        std::function<void()> change;
        const char *expect;
    } cases[] = {
        {[&] { fs::remove(path); }, "データベースファイルが見つかりません"},
        {[&] { std::ofstream(path, std::ios::trunc).close(); },
         "データベースファイルではありません"},
        {[&] { fs::rename(spare, path); }, "置き換えられています"},
    };
    for (const auto &c : cases) {
        db.reset();
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(path + suffix);
        std::ofstream(path, std::ios::binary) << original;
        db = Database::open(path, kConnectString);
        c.change();
        const std::string msg = messageOf([&] { db->verifyFile(); });
        EXPECT_NE(msg.find(c.expect), std::string::npos) << msg;
        EXPECT_NE(msg.find(path), std::string::npos) << msg;
    }
}

// Statements as the import, the indicators, the tables and the chart send them.
// One stock's rows (the chart, the portfolio's newest price) are found by a seek per date or
// month, never by reading the whole table: the shipped file has no code-first index, and its
// statistics tell the planner that a date has thousands of rows.
TEST(Database, OneStocksRowsAreFoundDateByDate) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    for (const char *sql : {"SELECT IDATE,PRC,DVAL from T_NEARLY  where CODE=?  order by IDATE ;",
                            "SELECT min(PRC),max(PRC) from T_NEARLY where CODE=? ;",
                            "SELECT Max(IDATE) FROM T_NEARLY WHERE CODE=? AND PRC Is Not Null",
                            "SELECT YYYYMM,AVPRC from T_MONTHLY where CODE=? order by YYYYMM ;"}) {
        const ResultSet plan =
            db->openRecordset(std::string("EXPLAIN QUERY PLAN ") + sql, {Value("1301")});
        ASSERT_EQ(plan.rowCount(), 1u) << sql;
        const std::string detail = plan.at(0, 3).toText();
        EXPECT_NE(detail.find("(ANY("), std::string::npos) << sql << ": " << detail;
    }
}

TEST(Database, AcceptsTheProgramsStatementsAsWritten) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    const char *statements[] = {
        "Delete from wonton_dat01 ",
        "Insert into wonton_dat01([DATE],CODE,NAME,PRC,DVAL,TALK,MARKET) "
        "Values(20240105,1301,\"極洋\",3000,12000,5,\"東証P\") ;",
        "Insert into wonton_dat01([DATE],CODE,NAME,PRC,DVAL,TALK,MARKET) "
        "Values(20240105,\"130A\",\"  Ａｂｃ \",Null,Null,Null,Null) ;",
        "UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE SET "
        "master.NAME = wonton_dat01.NAME ,   master.[UPDATE]=now() where master.NAME <> "
        "wonton_dat01.NAME;",
        " insert into master(CODE,NAME) select wonton_dat01.CODE,wonton_dat01.NAME FROM "
        "wonton_dat01 ;",
        "Update master set NAME = trim(NAME) ;",
        "UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE SET "
        "master.MARKET = wonton_dat01.MARKET ,   master.[UPDATE]=now() where  master.MARKET is "
        "Null or master.MARKET <> wonton_dat01.MARKET;",
        "Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240105,'1301',3000,12000,5) ;",
        "Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240104,'1301',2900,10000,4) ;",
        "Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240105,'130A',NULL,NULL,NULL) ;",
        "Update T_NEARLY SET PRC  = 3010    ,DVAL = 12100    ,TALK = 6 Where  IDATE =20240105   "
        "and  CODE  = '1301' ;",
        "Delete * from T_NEARLY where IDATE = 20231201 ;",
        "Delete * from T_MONTHLY where YYYYMM = 202401 ;",
        "Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK,MIPRC,MIDVAL,"
        "MITALK) SELECT 202401,T_NEARLY.CODE , Avg(T_NEARLY.PRC) , Avg(T_NEARLY.DVAL) , "
        "Avg(T_NEARLY.TALK) , Max(T_NEARLY.PRC)  , Max(T_NEARLY.DVAL) , Max(T_NEARLY.TALK) , "
        "Min(T_NEARLY.PRC)  , Min(T_NEARLY.DVAL) , Min(T_NEARLY.TALK) from T_NEARLY where IDATE "
        "< 20240105  and IDATE >= 20240104 GROUP BY T_NEARLY.CODE;",
        "Update T_NEARLY set   ANPRC  = Null ,ANDVAL = Null ,ANTALK = Null Where IDATE=20240105 ;",
        "Update T_NEARLY set  ANPRC=0.0379, ANDVAL=0.21 Where CODE='1301'   and IDATE=20240105 ;",
        "Update T_config set pINT =20240105 Where pID='MAXDT'  ;",
        "Update T_config set pINT =20240104 Where pID='MAXDT1'  ;",
        "Update T_config set pINT =202401 Where pID='MAXMM'  ;",
        "Insert into T_PORT(PDATE,CODE,PSW,APRC,AVAL) Values(20240105,'1301',0,3000,1000);",
        "Update T_PORT set AVAL=2000 where PDATE=20240105   and CODE='1301' ;",
    };
    for (const char *sql : statements)
        EXPECT_NO_THROW(db->execute(sql)) << sql << "\n" << messageOf([&] { db->execute(sql); });

    const char *queries[] = {
        "select max([IDATE]) from T_NEARLY",
        "Select max(IDATE) From T_NEARLY ;",
        "select DATE,CODE,PRC,DVAL,TALK from wonton_dat01  ;",
        "select count(*) from T_NEARLY  where IDATE =20240105    and CODE  ='1301'; ",
        "Select IDATE from T_NEARLY group by IDATE order by IDATE desc ; ",
        "Select IDATE  From  T_NEARLY Group by IDATE Order by IDATE DESC ;",
        "Select YYYYMM from T_MONTHLY group by YYYYMM order by YYYYMM desc ; ",
        "Select count(*) From  T_NEARLY where IDATE=20240105;",
        "Select T1.CODE AS CODE1,T1.PRC    AS PRC1 ,T2.AVPRC  AS PRC2 ,T1.DVAL   AS DVAL1 "
        ",T2.AVDVAL AS DVAL2 ,T1.TALK   AS TALK1 ,T2.AVTALK AS TALK2 From  T_NEARLY as T1 INNER "
        "JOIN T_MONTHLY as T2    ON T1.CODE = T2.CODE Where T1.IDATE =20240105  and "
        "T2.YYYYMM=202401 ;",
        "Select max(YYYYMM) From T_MONTHLY where YYYYMM<202401;",
        "SELECT CODE,NAME,MARKET,SWCO from master  where CODE='1301'  ; ",
        "SELECT count([IDATE]) from T_NEARLY Group by [IDATE] ;",
        "SELECT min(PRC),max(PRC),min(DVAL),max(DVAL) from T_NEARLY  where CODE='1301' ;",
        "SELECT YYYYMM,AVDVAL,AVPRC from T_MONTHLY  where CODE='1301'  order by YYYYMM DESC ; ",
        "SELECT PRC from V_RANK  where CODE='1301'  ; ",
        "SELECT AVAL from T_PORT where PDATE=20240105   and CODE='1301'  ; ",
        "select * from V_RANK ORDER BY KEY1 DESC ;",
        "select * from V_PORT where PSW= 0  ORDER BY CODE DESC ;",
        "select sum([PRC]*[AVAL]) , sum([PRC]*[AVAL]) - sum([APRC]*[AVAL])   from V_PORT where "
        "PSW= 0 Group by PSW;",
        "select * from M_PORT ORDER BY PDATE DESC ;",
        "select CODE,NAME,MARKET,PRC,MM1AVDVAL,TALK,ANPRC,AXTALK,VAL1,A1PRC,A1TALK from V_RANK "
        "ORDER BY KEY1 DESC ;",
        "Select * from master ;",
        "select * from master where SWIDX=False Order by master.CODE;",
        "select * from master Where master.NAME like \"*極*\" or master.CODE like \"*極*\" Order "
        "by master.NAME;",
    };
    for (const char *sql : queries)
        EXPECT_NO_THROW(db->openRecordset(sql)) << sql << "\n"
                                                << messageOf([&] { db->openRecordset(sql); });

    // What those statements left behind.
    ResultSet m =
        db->openRecordset("select CODE, NAME, MARKET, [UPDATE] from master order by CODE");
    ASSERT_EQ(m.rowCount(), 2u);
    EXPECT_EQ(m.at(0, 0).toText(), "1301");
    EXPECT_EQ(m.at(0, 2).toText(), "東証P");
    EXPECT_FALSE(m.at(0, 3).isNull());
    EXPECT_EQ(m.at(1, 1).toText(), "Ａｂｃ");
    EXPECT_TRUE(m.at(1, 2).isNull());
    EXPECT_EQ(db->scalar("select PRC from V_RANK where CODE='1301'").toInt(), 3010);
    EXPECT_EQ(db->scalar("select AVAL from V_PORT where CODE='1301'").toInt(), 2000);
    EXPECT_EQ(db->scalar("select PPRC2 from M_PORT where CODE='1301'").toInt(), 3010);
    EXPECT_EQ(db->scalar("select MXPRC from T_MONTHLY where CODE='1301'").toInt(), 2900);
}

TEST(Database, InsertDropsRowsThatViolateAUniqueKey) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    db->execute("insert into master(CODE,NAME) values('1301','old')");
    db->execute("insert into wonton_dat01([DATE],CODE,NAME) values(1,'1301','a')");
    db->execute("insert into wonton_dat01([DATE],CODE,NAME) values(1,'7203','b')");
    db->execute(" insert into master(CODE,NAME) select wonton_dat01.CODE,wonton_dat01.NAME FROM "
                "wonton_dat01 ;");
    ResultSet rs = db->openRecordset("select CODE, NAME from master order by CODE");
    ASSERT_EQ(rs.rowCount(), 2u);
    EXPECT_EQ(rs.at(0, 1).toText(), "old");
    EXPECT_EQ(rs.at(1, 0).toText(), "7203");
}

TEST(Database, LikeFollowsTheDialect) {
    struct L {
        const char *text, *pattern;
        bool match;
    };
    const L cases[] = {
        {"Toyota", "*yot*", true},
        {"Toyota", "*YOT*", true},
        {"Toyota", "toyota", true},
        {"Toyota", "*x*", false},
        {"72a3", "72#3", false},
        {"7203", "72##", true},
        {"7203", "7?03", true},
        {"abc", "[a-c]bc", true},
        {"abc", "[!a]bc", false},
        {"100%", "100%", true},
        {"1005", "100%", false},
        {"極洋", "*極*", true},
        {"ＡＢＣ", "*ｂ*", true},
        {"a_b", "a_b", true},
        {"axb", "a_b", false},
        {"", "*", true},
        {"abc", "", false},
        {"[x", "[x", true},
        {"TOYOTA", "*ｔｏｙｏ*", true},
        {"１３０１", "13#1", true},
        {"130A", "*１３０ａ*", true},
        // A star gives back what it took when the rest does not fit.
        {"abcabd", "*abd", true},
        {"mississippi", "*ss*?pi", true},
        {"mississippi", "m*iss*ppi*", true},
        {"ab", "*a*b*c", false},
        {"abc", "***", true},
        {"", "", true},
        {"", "?", false},
        {"", "*?", false},
        // Each kind of item, also right after a star.
        {"a7b", "*#b", true},
        {"ab7", "*#", true},
        {"７", "#", true},
        {"a", "#", false},
        {"q", "[a-fp-z]", true},
        {"Q", "[a-f]", false},
        {"Ｑ", "[p-z]", true},
        {"-", "[a-]", true},
        {"]", "[]]", true},
        {"x", "[!]]", true},
        {"]", "[!]]", false},
        {"abz", "*[!a-c]", true},
        {"abc", "*[!a-c]", false},
        // Brackets make the wildcards plain characters.
        {"a*b", "a[*]b", true},
        {"axb", "a[*]b", false},
        {"?", "[?]", true},
        {"#", "[#]", true},
        {"1", "[#]", false},
        {"[", "[[]", true},
        {"a[b", "a[b", true}, // no closing ']'
        {"a[bc]", "a[b*", true},
        // One character however many bytes it takes in UTF-8.
        {"極洋", "??", true},
        {"極洋", "?", false},
        {"極洋", "???", false},
        {"ｶﾌﾞ", "?ﾌﾞ", true},
        {"😀x", "?x", true},
        {"日本水産", "日*?産", true},
        // Many stars over a long text that never matches: answered at once.
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*b", false},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*b", true},
        {"ﾆｯｽｲ", "*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*", false},
        {"ﾆｯｽｲ", "*?*?*?*?*", true},
    };
    for (const L &c : cases)
        EXPECT_EQ(jetLike(c.text, c.pattern), c.match) << c.text << " like " << c.pattern;
}

// SQLite's own like (wildcards '%' and '_') must never answer in its place: a connection that
// cannot take ours is refused.
TEST(Database, RefusedLikeFunctionFailsLoudly) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    registerJetFunctions(db);
    // SQLite refuses to replace a function while a statement runs.
    sqlite3_stmt *running = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "select 1 union all select 2", -1, &running, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(running), SQLITE_ROW);
    const std::string message = messageOf([&] { registerJetFunctions(db); });
    EXPECT_NE(message.find("like"), std::string::npos) << message;
    sqlite3_finalize(running);
    sqlite3_close(db);
}

TEST(Value, DefaultTextFormHasFifteenSignificantDigits) {
    const struct {
        double v;
        const char *text;
    } cases[] = {
        {224496.55172413794, "224496.551724138"},
        {0.1 + 0.2, "0.3"},
        {-2.0 / 3.0, "-0.666666666666667"},
        {9.9999999999999999, "10"},
        {1200.0, "1200"},
        {0.0001, "0.0001"},
        {123456789012345.6, "123456789012346"},
        {-0.25, "-0.25"},
        {1e15, "1e+15"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatDouble(c.v), c.text);
}

TEST(Database, LinkedPortfolioIsReadAndWrittenThroughItsName) {
    TempEnv env;
    const std::string main = env.newDatabase();
    const std::string port = env.path("portfolio.mdb");
    createPortfolioDatabase(port);
    {
        auto db = Database::open(main, kConnectString);
        db->execute(
            "Insert into T_PORT(PDATE,CODE,PSW,APRC,AVAL) Values(20240105,'1301',0,3000,1000);");
        db->execute("Insert into master(CODE,NAME) values('1301','極洋')");
        EXPECT_FALSE(attachPortfolioLink(*db, "userportf42", port));
        EXPECT_EQ(db->scalar("select count(*) from userportf42").toInt(), 0);
        db->execute("Insert into userportf42 select * from T_PORT ;");
        db->execute("Update userportf42 set AVAL=3000 where PDATE=20240105   and CODE='1301' ;");
        const std::string v = ensureDerivedQuery(*db, "V_PORT", "userportf42");
        EXPECT_EQ(v, "V_PORTuserportf42");
        EXPECT_EQ(ensureDerivedQuery(*db, "V_PORT", "userportf42"), v); // created once
        EXPECT_EQ(db->scalar("select AVAL from V_PORTuserportf42 where CODE='1301'").toInt(), 3000);
        EXPECT_EQ(db->scalar("select NAME from V_PORTuserportf42").toText(), "極洋");
        const auto tables = db->tableDefNames();
        EXPECT_NE(std::find(tables.begin(), tables.end(), "userportf42"), tables.end());
    }
    // The link, its stored query and the rows outlive the connection; relinking replaces it.
    auto db = Database::open(main, kConnectString);
    EXPECT_EQ(db->scalar("select AVAL from V_PORTuserportf42").toInt(), 3000);
    EXPECT_EQ(db->scalar("select AVAL from T_PORT").toInt(), 1000);
    EXPECT_TRUE(attachPortfolioLink(*db, "userportf42", port));
    auto portDb = Database::open(port, "");
    EXPECT_EQ(portDb->scalar("select AVAL from T_PORT").toInt(), 3000);

    // A link to a missing file is refused and nothing is left of it.
    EXPECT_THROW(attachPortfolioLink(*db, "userportf43", env.path("gone.mdb")), DbError);
    EXPECT_FALSE(fs::exists(env.path("gone.mdb")));
    const auto tables = db->tableDefNames();
    EXPECT_EQ(std::find(tables.begin(), tables.end(), "userportf43"), tables.end());
}

TEST(Database, LinkWhoseFileVanishedFailsOnUseNotOnOpen) {
    TempEnv env;
    const std::string main = env.newDatabase();
    createPortfolioDatabase(env.path("p.mdb"));
    {
        auto db = Database::open(main, kConnectString);
        attachPortfolioLink(*db, "userportf1", env.path("p.mdb"));
        ensureDerivedQuery(*db, "M_PORT", "userportf1");
    }
    fs::remove(env.path("p.mdb"));
    auto db = Database::open(main, kConnectString);
    EXPECT_THROW(db->scalar("select count(*) from userportf1"), DbError);
    EXPECT_FALSE(fs::exists(env.path("p.mdb")));
    EXPECT_EQ(db->scalar("select count(*) from T_PORT").toInt(), 0);
}

TEST(Database, StoredQueriesAreCreatedEnumeratedAndRead) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    db->createQueryDef("Q_CODES", "select CODE from master where NAME like \"*a*\" ;");
    EXPECT_EQ(db->queryDefSql("Q_CODES"), "select CODE from master where NAME like \"*a*\" ;");
    EXPECT_THROW(db->createQueryDef("Q_CODES", "select 1"), DbError);
    EXPECT_THROW(db->createQueryDef("Q_BAD", "select nosuchcolumn from master"), DbError);
    EXPECT_THROW(db->queryDefSql("Q_BAD"), DbError);
    db->execute("insert into master(CODE,NAME) values('1','xay')");
    EXPECT_EQ(db->scalar("select count(*) from Q_CODES").toInt(), 1);
    db->close();
    auto again = Database::open(env.path("tesmo.mdb"), kConnectString);
    EXPECT_EQ(again->queryDefNames().back(), "Q_CODES");
    EXPECT_EQ(again->scalar("select CODE from Q_CODES").toText(), "1");
}

TEST(Database, TwoConnectionsShareOneFile) {
    TempEnv env;
    const std::string path = env.newDatabase();
    auto a = Database::open(path, kConnectString);
    auto b = Database::open(path, kConnectString);
    a->execute("insert into master(CODE,NAME) values('1','x')");
    EXPECT_EQ(b->scalar("select NAME from master").toText(), "x");
    b->execute("update master set NAME='y'");
    EXPECT_EQ(a->scalar("select NAME from master").toText(), "y");
}

TEST(Database, ResultSetsReadByColumnAndRowWithNulls) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(1,'a',1.5)");
    db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(2,'b',NULL)");
    db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(3,'c',7)");
    ResultSet rs = db->openRecordset("select IDATE, PRC from T_NEARLY order by IDATE");
    rs.moveNext();
    const auto rows = rs.getRows(10); // from the current row on
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].size(), 2u);
    EXPECT_EQ(rows[0][0].toInt(), 2);
    EXPECT_TRUE(rows[1][0].isNull());
    EXPECT_EQ(rows[1][1].toText(), "7");
    EXPECT_TRUE(rs.eof());
    EXPECT_THROW(rs.field(0), DbError);
    EXPECT_EQ(db->scalar("select PRC from T_NEARLY where IDATE=1").toText(), "1.5");
    EXPECT_THROW(db->scalar("select PRC from T_NEARLY where IDATE=2").toInt(), DbError);
    EXPECT_TRUE(db->scalar("select PRC from T_NEARLY where IDATE=99").isNull());
}

TEST(Database, ForEachRowWalksTheRowsWithoutKeepingThem) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(1,'a',1.5)");
    db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(2,'b',NULL)");
    db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(3,'c',7)");
    std::vector<std::string> seen;
    db->forEachRow("select IDATE, CODE, PRC from T_NEARLY where IDATE >= ? order by IDATE", {2},
                   [&](const RowView &row) {
                       ASSERT_EQ(row.size(), 3);
                       seen.push_back(std::string(row.text(1)) + "=" + row.value(2).textOr("NULL"));
                   });
    EXPECT_EQ(seen, (std::vector<std::string>{"b=NULL", "c=7"}));
    // An error in the walk leaves the statement ready for its next use.
    auto stop = [](const RowView &) { throw std::runtime_error("stop"); };
    EXPECT_THROW(db->forEachRow("select IDATE from T_NEARLY where IDATE >= ?", {1}, stop),
                 std::runtime_error);
    int rows = 0;
    db->forEachRow("select IDATE from T_NEARLY where IDATE >= ?", {1},
                   [&](const RowView &) { ++rows; });
    EXPECT_EQ(rows, 3);
    EXPECT_THROW(db->forEachRow("select * from nosuchtable", {}, stop), DbError);
}

// However a run ends (its rows read, its statement failing halfway, its caller's walk throwing,
// the same text run again inside the walk), its statement is given back: none stays open
// inside a read, and the connection does not gather statements run after run.
TEST(Database, StatementsAreGivenBackOnEveryWayOut) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    for (int day = 1; day <= 3; ++day)
        db->execute("insert into T_NEARLY(IDATE,CODE,PRC) values(?,'a',1)", {day});
    db->defineFunction("third_fails", 1, [](const std::vector<Value> &args) {
        if (args[0].toInt() == 3)
            throw std::runtime_error("the third row");
        return args[0];
    });
    const std::string walk = "select IDATE from T_NEARLY where IDATE >= ? order by IDATE";
    const std::string failing = "select third_fails(IDATE) from T_NEARLY order by IDATE";
    const auto stop = [](const RowView &) { throw std::runtime_error("stop"); };
    const struct {
        const char *way;
        std::function<void()> run;
    } ways[] = {
        {"read to the end", [&] { (void)db->openRecordset(walk, {1}); }},
        {"failing on its third row", [&] { (void)db->openRecordset(failing); }},
        {"failing to execute", [&] { db->execute(failing); }},
        {"walked to the end", [&] { db->forEachRow(walk, {2}, [](const RowView &) {}); }},
        {"walk stopped by the caller", [&] { db->forEachRow(walk, {1}, stop); }},
        {"walk failing on its third row", [&] { db->forEachRow(failing, {}, [](auto &) {}); }},
        {"wrong number of parameters",
         [&] {
             (void)db->openRecordset(walk, {1, 2});
         }},
        {"the same text inside its own walk",
         [&] {
             db->forEachRow(walk, {1}, [&](const RowView &) { db->forEachRow(walk, {3}, stop); });
         }},
    };
    const auto statements = [&db] {
        int open = 0;
        int busy = 0;
        for (sqlite3_stmt *s = sqlite3_next_stmt(db->handle(), nullptr); s;
             s = sqlite3_next_stmt(db->handle(), s)) {
            ++open;
            busy += sqlite3_stmt_busy(s) != 0;
        }
        return std::pair(open, busy);
    };
    for (const auto &w : ways) {
        SCOPED_TRACE(w.way);
        for (int i = 0; i < 2; ++i) {
            try {
                w.run();
            } catch (const std::exception &) {
            }
        }
        const auto [open, busy] = statements();
        for (int i = 0; i < 20; ++i) {
            try {
                w.run();
            } catch (const std::exception &) {
            }
        }
        EXPECT_EQ(statements(), std::pair(open, 0));
        EXPECT_EQ(busy, 0);
    }
    EXPECT_EQ(db->openRecordset(walk, {1}).rowCount(), 3u);
}

TEST(Database, TellsWhetherATransactionIsOpen) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    EXPECT_FALSE(db->inTransaction());
    db->execute("BEGIN");
    EXPECT_TRUE(db->inTransaction());
    db->execute("COMMIT");
    EXPECT_FALSE(db->inTransaction());
}

TEST(Database, RejectedStatementsRaiseSqliteMessages) {
    TempEnv env;
    auto db = Database::open(env.newDatabase(), kConnectString);
    EXPECT_NE(messageOf([&] { db->execute("select * from nosuchtable"); }).find("no such table"),
              std::string::npos);
    EXPECT_NE(messageOf([&] {
                  db->execute("Insert into wonton_dat01 Values(1,2,,3)");
              }).find("syntax error"),
              std::string::npos);
    // One statement per call: a second one smuggled in is refused.
    EXPECT_THROW(db->execute("delete from master; drop table master"), DbError);
    EXPECT_EQ(db->scalar("select count(*) from master").toInt(), 0);
}

TEST(Database, CompactKeepsDataAndPasswordAndRepairChecks) {
    TempEnv env;
    const std::string src = env.newDatabase();
    {
        auto db = Database::open(src, kConnectString);
        for (int i = 0; i < 200; ++i)
            db->execute("insert into master(CODE,NAME) values('" + std::to_string(i) + "','n')");
        db->execute("delete from master where CODE <> '7'");
    }
    const std::string dst = env.path("tmptesmo.mdb");
    compactDatabase(src, dst, kCompactLocale, kConnectString);
    EXPECT_THROW(compactDatabase(src, dst, kCompactLocale, kConnectString), DbError);
    EXPECT_THROW(Database::open(dst, ""), DbError);
    auto db = Database::open(dst, kConnectString);
    EXPECT_EQ(db->scalar("select CODE from master").toText(), "7");
    EXPECT_EQ(db->queryDefNames().size(), 3u);
    db->close();
    EXPECT_NO_THROW(repairDatabase(dst, kConnectString));
}

TEST(Connection, OpensTheConfiguredFileAndClosesHarmlessly) {
    TempEnv env;
    closeDatabase(); // never connected
    // Unset mdbpath: tesmo.mdb in the install folder, whatever the current folder is.
    env.newDatabase("install/tesmo.mdb");
    fs::current_path("/");
    connectDatabase();
    EXPECT_EQ(mainDatabase().path(), env.path("install/tesmo.mdb"));
    EXPECT_EQ(fs::current_path().string(), env.path("install"));
    ChartConnection chart;
    chart.connect();
    mainDatabase().execute("insert into master(CODE,NAME) values('1','x')");
    EXPECT_EQ(chart.db().scalar("select NAME from master").toText(), "x");
    chart.close();
    chart.close();
    closeDatabase();
    closeDatabase();
    EXPECT_FALSE(isDatabaseConnected());
    EXPECT_THROW(mainDatabase(), DbError);

    writeSetting(keys::mdbpath, env.path("elsewhere.mdb"));
    EXPECT_THROW(connectDatabase(), DbError);
    EXPECT_FALSE(fs::exists(env.path("elsewhere.mdb")));
    fs::current_path("/"); // connectDatabase moved into the install folder, which goes
}

} // namespace
