// Sort state, record sources and totals of the grid windows, run against a real database.
#include "core/tables/table_sources.h"

#include "core/common/app_state.h"
#include "core/storage/shipped_database.h"
#include "tables_test_env.h"

#include <gtest/gtest.h>

using namespace tesmo;
using namespace tesmo::tables;
namespace keys = storage::keys;

namespace {

std::vector<std::string> codes(storage::Database &db, const storage::Query &q) {
    std::vector<std::string> out;
    storage::ResultSet rs = db.openRecordset(q.sql, q.params);
    for (; !rs.eof(); rs.moveNext())
        out.push_back(rs.field("CODE").toText());
    return out;
}
std::vector<std::string> codes(storage::Database &db, const std::string &sql) {
    return codes(db, storage::Query{sql, {}});
}

class RankingTest : public ::testing::Test {
protected:
    void SetUp() override {
        t.stock("1301", "極洋", "東証1部");
        t.stock("1332", "日水", "東証1部");
        t.stock("7203", "トヨタ", "東証1部");
        t.day("1301", 1200, 3, 40, 0.5);
        t.day("1332", 800, 9, 10, 2.5);
        t.day("7203", 5000, 5, 25, -1.0);
    }
    test::TablesDb t;
};

TEST_F(RankingTest, FirstOpenSortsByMaxTopicDescendingWithMark) {
    RankTable r;
    const std::string source = r.open();
    EXPECT_EQ(source, "select * from V_RANK ORDER BY KEY2 DESC ;");
    EXPECT_EQ(r.columns[7].caption, "▼最大Web話");
    EXPECT_EQ(r.columns[7].width, 2037 + 230);
    EXPECT_EQ(markedColumn(r.columns), 7);
    EXPECT_EQ(codes(*t.db, source), (std::vector<std::string>{"1301", "7203", "1332"}));
}

TEST_F(RankingTest, HeaderClicksAlternateAndOnlyOneColumnIsMarked) {
    RankTable r;
    r.open();
    const struct {
        int column;
        const char *source;
        const char *caption;
    } steps[] = {
        {8, "select * from V_RANK ORDER BY KEY1 DESC ;", "▼推薦度"},
        {8, "select * from V_RANK ORDER BY KEY1 ;", "▲推薦度"},
        {8, "select * from V_RANK ORDER BY KEY1 DESC ;", "▼推薦度"},
        {3, "select * from V_RANK ORDER BY PRC DESC ;", "▼終値"},
        {3, "select * from V_RANK ORDER BY PRC ;", "▲終値"},
    };
    for (const auto &s : steps) {
        EXPECT_EQ(r.sortByColumn(s.column), s.source);
        EXPECT_EQ(r.columns[s.column].caption, s.caption);
        EXPECT_EQ(markedColumn(r.columns), s.column);
        EXPECT_EQ(r.columns[7].caption, "最大Web話");
        EXPECT_EQ(r.columns[7].width, 2037);
    }
}

TEST_F(RankingTest, ScoreButtonNeverTogglesTheOrder) {
    RankTable r;
    r.open();
    EXPECT_EQ(r.sortButton(8), "select * from V_RANK ORDER BY KEY1 DESC ;");
    EXPECT_EQ(r.sortButton(8), "select * from V_RANK ORDER BY KEY1 DESC ;");
    EXPECT_EQ(r.columns[8].caption, "▼推薦度");
    EXPECT_EQ(r.columns[8].width, 1349 + 230);
    EXPECT_EQ(codes(*t.db, r.sortButton(8)), (std::vector<std::string>{"1332", "1301", "7203"}));
    // After an ascending header sort the button still gives descending.
    r.sortByColumn(7);
    r.sortByColumn(7);
    EXPECT_EQ(r.columns[7].caption, "▲最大Web話");
    EXPECT_EQ(r.sortButton(7), "select * from V_RANK ORDER BY KEY2 DESC ;");
}

TEST_F(RankingTest, StoredDirectionIsReappliedOnNextOpen) {
    {
        RankTable r;
        r.open();
        r.sortByColumn(3);
        r.sortByColumn(3);
    }
    EXPECT_EQ(storage::readSetting(keys::F_ranktbsorta), "3");
    EXPECT_EQ(storage::readSetting(keys::F_ranktbsortb), "0");
    RankTable again;
    EXPECT_EQ(again.open(), "select * from V_RANK ORDER BY PRC ;");
    EXPECT_EQ(again.columns[3].caption, "▲終値");
    EXPECT_EQ(again.columns[3].width, 1376 + 230);

    // A hand-edited column index beyond the grid falls back to the default column.
    storage::writeSetting(keys::F_ranktbsorta, "42");
    storage::writeSetting(keys::F_ranktbsortb, "-1");
    RankTable odd;
    EXPECT_EQ(odd.open(), "select * from V_RANK ORDER BY KEY2 DESC ;");
}

// J-Quants counts no web topics: their columns are hidden, a sort on one of them moves to
// 前比終値 descending, any other sort stays; back on the data site they show again.
TEST_F(RankingTest, JQuantsSourceHidesTopicColumnsAndSortsOnThePriceChange) {
    storage::writeSetting(keys::datasource, "jquants");
    RankTable fresh;
    EXPECT_EQ(fresh.open(), "select * from V_RANK ORDER BY A1PRC DESC ;");
    EXPECT_EQ(fresh.columns[9].caption, "▼前比終値");
    std::string hidden;
    for (const GridColumn &c : fresh.columns)
        if (!c.visible)
            hidden += c.caption + " ";
    EXPECT_EQ(hidden, "Web話題 最大Web話 推薦度 前比Web話 ");
    const struct {
        const char *column, *direction, *order;
    } stored[] = {
        {"7", "-1", "A1PRC DESC"}, // the data site's default left behind
        {"7", "0", "A1PRC DESC"},  // a topic column ascending: hidden all the same
        {"8", "-1", "A1PRC DESC"}, {"3", "-1", "PRC DESC"}, {"3", "0", "PRC"},
    };
    for (const auto &c : stored) {
        storage::writeSetting(keys::F_ranktbsorta, c.column);
        storage::writeSetting(keys::F_ranktbsortb, c.direction);
        EXPECT_EQ(RankTable().open(),
                  std::string("select * from V_RANK ORDER BY ") + c.order + " ;")
            << c.column << "/" << c.direction;
    }
    storage::writeSetting(keys::datasource, "site");
    RankTable site;
    site.open();
    for (const GridColumn &c : site.columns)
        EXPECT_TRUE(c.visible) << c.caption;
}

class PortfolioTest : public ::testing::Test {
protected:
    void SetUp() override {
        t.stock("1301", "極洋", "東証1部");
        t.stock("1332", "日水", "東証1部");
        t.day("1301", 1200, 3, 40, 0.5);
        t.day("1332", 800, 9, 10, 2.5);
        t.port(20231201, "1301", 1, 1300, 1000);
        t.port(20231202, "1332", 1, 836, 1000);
        t.port(20231203, "1332", 0, 700, 100);
        t.port(20231204, "1301", 2, 1000, 100);
        t.port(20231205, "1332", 2, 900, 100);
    }
    test::TablesDb t;
};

TEST_F(PortfolioTest, GroupSwitchKeepsColumnAndDirection) {
    PortTable p("V_PORT");
    const int g = p.open();
    EXPECT_EQ(g, 0);
    EXPECT_EQ(p.fill(g), "select * from V_PORT where PSW= 0  ORDER BY CODE DESC ;");
    EXPECT_EQ(p.columns[1].caption, "▼銘柄ｺｰﾄﾞ");
    // A new column keeps the current direction; the same header again reverses it.
    EXPECT_EQ(p.headerClick(4, 0), "select * from V_PORT where PSW= 0  ORDER BY APRC DESC ;");
    EXPECT_EQ(p.headerClick(4, 0), "select * from V_PORT where PSW= 0  ORDER BY APRC ;");
    EXPECT_EQ(p.columns[4].caption, "▲価格1");
    EXPECT_EQ(p.fill(2), "select * from V_PORT where PSW= 2  ORDER BY APRC ;");
    EXPECT_EQ(p.columns[4].caption, "▲価格1");
    EXPECT_EQ(p.headerClick(4, 2), "select * from V_PORT where PSW= 2  ORDER BY APRC DESC ;");
    EXPECT_EQ(p.headerClick(14, 2), "select * from V_PORT where PSW= 2  ORDER BY KEY1 DESC ;");
    EXPECT_EQ(markedColumn(p.columns), 14);
    EXPECT_EQ(codes(*t.db, p.fill(2)), (std::vector<std::string>{"1301", "1332"}));
}

TEST_F(PortfolioTest, StoredGroupAndAscendingOrderOpenAsStored) {
    storage::writeSetting(keys::F_porttboptno, "2");
    storage::writeSetting(keys::F_porttbsorta, "4");
    storage::writeSetting(keys::F_porttbsortb, "0");
    PortTable p("V_PORT");
    const int g = p.open();
    EXPECT_EQ(g, 2);
    EXPECT_EQ(p.fill(g), "select * from V_PORT where PSW= 2  ORDER BY APRC ;");
    EXPECT_EQ(p.columns[4].caption, "▲価格1");
    EXPECT_EQ(p.columns[4].width, 1376 + 230);

    storage::writeSetting(keys::F_porttboptno, "9");
    PortTable q("V_PORT");
    EXPECT_EQ(q.open(), 0);
}

TEST_F(PortfolioTest, TotalsCaption) {
    // Group 1: 1200*1000 + 800*1000 = 2,000,000 against 2,136,000 paid.
    EXPECT_EQ(groupTotalsCaption(*t.db, "V_PORT", 1),
              "[区分1]   時価総額= \\2,000,000  差額= -136,000");
    EXPECT_EQ(groupTotalsCaption(*t.db, "V_PORT", 2),
              "[区分2]   時価総額= \\200,000  差額= 10,000");
    EXPECT_EQ(groupTotalsCaption(*t.db, "V_PORT", 3), "[区分3] ");
    EXPECT_EQ(groupTotalsCaption(*t.db, "NO_SUCH_VIEW", 1), std::nullopt);

    const struct {
        double v;
        const char *yen;
        const char *plain;
    } cases[] = {{0, "\\0", "0"},
                 {999, "\\999", "999"},
                 {1234000, "\\1,234,000", "1,234,000"},
                 {-56000, "-\\56,000", "-56,000"},
                 {1234.5, "\\1,235", "1,235"},
                 {-0.4, "\\0", "0"}};
    for (const auto &c : cases) {
        EXPECT_EQ(formatYen(c.v), c.yen) << c.v;
        EXPECT_EQ(formatGrouped(c.v), c.plain) << c.v;
    }
}

TEST_F(PortfolioTest, MaintenanceListSortsAndAlternates) {
    PortList m("M_PORT");
    m.open();
    EXPECT_EQ(m.fill(), "select * from M_PORT ORDER BY CODE DESC ;");
    EXPECT_EQ(m.headerClick(0), "select * from M_PORT ORDER BY PDATE DESC ;");
    EXPECT_EQ(m.headerClick(0), "select * from M_PORT ORDER BY PDATE ;");
    EXPECT_EQ(storage::readSetting(keys::F_portmsortb), "0");
    PortList again("M_PORT");
    again.open();
    EXPECT_EQ(again.fill(), "select * from M_PORT ORDER BY PDATE ;");
    EXPECT_EQ(codes(*t.db, again.fill()).size(), 5u);
}

TEST_F(PortfolioTest, DerivedQueryForExternalPortfolioIsCreatedOnce) {
    const std::string file = t.env.path("mine.gbf");
    storage::createPortfolioDatabase(file);
    {
        auto pf = storage::Database::open(file, "");
        pf->execute("INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) VALUES "
                    "(20240101, '1332', 3, 500, 10)");
    }
    storage::attachPortfolioLink(*t.db, "userportf7", file);
    AppState &st = appState();
    st.portfile_path = file;
    st.port_link_table = "userportf7";
    EXPECT_EQ(portfolioView(*t.db, "V_PORT"), "V_PORTuserportf7");
    EXPECT_EQ(portfolioView(*t.db, "V_PORT"), "V_PORTuserportf7");
    EXPECT_EQ(portfolioView(*t.db, "M_PORT"), "M_PORTuserportf7");
    size_t count = 0;
    for (const std::string &q : t.db->queryDefNames())
        count += q == "V_PORTuserportf7";
    EXPECT_EQ(count, 1u);
    PortTable p(portfolioView(*t.db, "V_PORT"));
    EXPECT_EQ(codes(*t.db, p.fill(3)), std::vector<std::string>{"1332"});
    EXPECT_EQ(groupTotalsCaption(*t.db, p.view(), 3), "[区分3]   時価総額= \\8,000  差額= 3,000");
    st.portfile_path.clear();
    st.port_link_table.clear();
    EXPECT_EQ(portfolioView(*t.db, "V_PORT"), "V_PORT");
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        t.stock("9984", "ソフトバンク", "東証1部");
        t.stock("1301", "極洋", "東証1部");
        t.stock("1234", "A\"B 商事", "JQ");
        t.stock("2234", "It's*", "JQ");
        t.stock("3123", "[X]化学#1", "東証2部");
        t.stock("0001", "日経平均", "指数", -1);
    }
    test::TablesDb t;
};

TEST_F(SearchTest, DefaultListAndBlankText) {
    const std::vector<std::string> all = {"1234", "1301", "2234", "3123", "9984"};
    for (const char *text : {"", "   ", "　"}) {
        const storage::Query q = searchSource(text, false);
        EXPECT_EQ(q.sql, "select * from master where SWIDX=False Order by master.CODE;");
        EXPECT_EQ(codes(*t.db, q), all);
    }
    EXPECT_EQ(searchSource("x", true).sql, "Select * from master ;");
    EXPECT_EQ(codes(*t.db, searchSource("x", true)).size(), 6u);
}

// The engine's wildcards work; quotes are plain characters; full-width input finds the
// half-width codes and names.
TEST_F(SearchTest, WildcardsWorkQuotesStaySafeFullWidthMatches) {
    const struct {
        const char *text;
        std::vector<std::string> found;
    } cases[] = {
        {"123", {"1234", "3123"}}, // code fragments, ordered by name
        {" 30 ", {"1301"}},
        {"極", {"1301"}},
        {"13?1", {"1301"}},
        {"1*5", {}},
        {"9*4", {"9984"}},
        {"##23", {"3123"}},
        {"[12]2", {"1234", "2234", "3123"}},
        {"[!1]234", {"2234"}},
        {"\"", {"1234"}},
        {"'", {"2234"}},
        {"x' or '1'='1", {}},
        {"\" or \"1\"=\"1", {}},
        {"it", {"2234"}},
        {"１３０１", {"1301"}},
        {"ＩＴ＇Ｓ", {"2234"}},
        {"ｂ　商", {"1234"}},
    };
    for (const auto &c : cases) {
        const storage::Query q = searchSource(c.text, false);
        EXPECT_EQ(codes(*t.db, q), c.found) << c.text << "\n" << q.sql;
    }
    const storage::Query q = searchSource("１２３", false);
    EXPECT_EQ(q.sql, "select * from master Where master.NAME like ? or master.CODE like ? "
                     "Order by master.NAME;");
    EXPECT_EQ(q.params, (std::vector<storage::Value>{"*123*", "*123*"}));
}

} // namespace
