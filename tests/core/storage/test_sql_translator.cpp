#include "core/storage/db_error.h"
#include "core/storage/sql_translator.h"

#include <gtest/gtest.h>

using namespace tesmo::storage;

namespace {

struct Case {
    const char *in;
    const char *out;
};

TEST(SqlTranslator, RewritesTheDialectAndLeavesEverythingElse) {
    const Case cases[] = {
        {"Delete * from T_NEARLY where IDATE = 1 ;", "Delete from T_NEARLY where IDATE = 1 ;"},
        {"Delete from wonton_dat01 ", "Delete from wonton_dat01 "},
        {"delete   *   FROM x", "delete   FROM x"},
        {"select * from t where a = \"x\"", "select * from t where a = 'x'"},
        // a single quote inside a double-quoted literal, and a doubled double quote
        {"select \"it's\", \"a\"\"b\"", "select 'it''s', 'a\"b'"},
        // quotes, brackets and comments are not searched for keywords
        {"select 'Delete * from' from [INNER JOIN] -- UPDATE x SET\n",
         "select 'Delete * from' from [INNER JOIN] -- UPDATE x SET\n"},
        {"insert into master(CODE,NAME) select CODE,NAME FROM w ;",
         "insert OR IGNORE into master(CODE,NAME) select CODE,NAME FROM w ;"},
        {"INSERT OR REPLACE INTO t VALUES(1)", "INSERT OR REPLACE INTO t VALUES(1)"},
        {"Update T_config set pINT =20240105 Where pID='MAXDT'  ;",
         "Update T_config set pINT =20240105 Where pID='MAXDT'  ;"},
        {"UPDATE t SET t.a = 1, t.[b] = f(t.c, 2) WHERE t.d = 3;",
         "UPDATE t SET a = 1, [b] = f(t.c, 2) WHERE t.d = 3;"},
        {"UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE SET "
         "master.NAME = wonton_dat01.NAME ,   master.[UPDATE]=now() where master.NAME <> "
         "wonton_dat01.NAME;",
         "UPDATE master SET NAME = wonton_dat01.NAME ,   [UPDATE]=now()  FROM  wonton_dat01  "
         "WHERE ( master.CODE = wonton_dat01.CODE ) AND ( master.NAME <> wonton_dat01.NAME)"
         ";"},
        {"UPDATE a INNER JOIN b ON a.k = b.k SET a.v = b.v",
         "UPDATE a SET v = b.v FROM  b  WHERE ( a.k = b.k )"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(translateSql(c.in), c.out) << c.in;
}

TEST(SqlTranslator, MapsLinkedTableNamesButNotColumnsOrText) {
    const LinkMap links = {{"userportf7", {"link_userportf7", "T_PORT"}}};
    EXPECT_EQ(translateSql("select count(*) from userportf7", links),
              "select count(*) from \"link_userportf7\".\"T_PORT\"");
    EXPECT_EQ(translateSql("Insert into USERPORTF7 select * from T_PORT ;", links),
              "Insert OR IGNORE into \"link_userportf7\".\"T_PORT\" select * from T_PORT ;");
    EXPECT_EQ(translateSql("select x.userportf7, 'userportf7' from [userportf7] as p", links),
              "select x.userportf7, 'userportf7' from \"link_userportf7\".\"T_PORT\" as p");
}

TEST(SqlTranslator, RefusesUnterminatedTokens) {
    for (const char *bad : {"select 'abc", "select \"abc", "select [abc", "select /* x"})
        EXPECT_THROW(translateSql(bad), DbError) << bad;
}

TEST(SqlTranslator, StripsOnlyTrailingSemicolons) {
    EXPECT_EQ(withoutTrailingSemicolons("select ';' from t ; \n"), "select ';' from t");
    EXPECT_EQ(withoutTrailingSemicolons("select 1"), "select 1");
}

// Whatever a name or a text holds, it stays one identifier or one literal.
TEST(SqlTranslator, QuotesIdentifiersAndTextsWhole) {
    const struct {
        std::string raw, ident, text;
    } cases[] = {
        {"T_NEARLY", "\"T_NEARLY\"", "'T_NEARLY'"}, {"", "\"\"", "''"},
        {"a\"b", "\"a\"\"b\"", "'a\"b'"},           {"it's", "\"it's\"", "'it''s'"},
        {"\"\"", "\"\"\"\"\"\"", "'\"\"'"},         {"銘柄 一覧", "\"銘柄 一覧\"", "'銘柄 一覧'"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(quoteIdent(c.raw), c.ident) << c.raw;
        EXPECT_EQ(quoteText(c.raw), c.text) << c.raw;
    }
}

} // namespace
