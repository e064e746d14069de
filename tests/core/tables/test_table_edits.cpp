// Values typed into the maintenance grids: checked first, then written by the row's key.
#include "core/tables/table_edits.h"

#include "core/common/app_state.h"
#include "core/storage/shipped_database.h"
#include "tables_test_env.h"

#include <gtest/gtest.h>

using namespace tesmo;
using namespace tesmo::tables;
using storage::Value;

namespace {

TEST(PortValue, RefusesValuesThatDoNotFitTheirColumn) {
    const struct {
        const char *field;
        const char *text;
        bool ok;
        Value value;
    } cases[] = {
        {"PDATE", "20240105", true, Value(20240105)},
        {"PDATE", " 20240105 ", true, Value(20240105)},
        {"PDATE", "abc", false, {}},
        {"PDATE", "2024015", false, {}},
        {"PDATE", "20241305", false, {}},
        {"PDATE", "", false, {}},
        {"CODE", "1301", true, Value("1301")},
        {"CODE", "  ", false, {}},
        {"CODE", "１３０ａ", true, Value("130A")}, // typed in full width and lower case
        {"CODE", "　", false, {}},
        {"PDATE", "２０２４０１０５", true, Value(20240105)},
        {"PSW", "3", true, Value(3)},
        {"PSW", "x", false, {}},
        {"PSW", "1.5", false, {}},
        {"APRC", "1500", true, Value(1500)},
        {"APRC", "1500.5", true, Value(1500.5)},
        {"APRC", "", true, Value()},
        {"APRC", "1,500", false, {}},
        {"AVAL", "百", false, {}},
        {"AVAL", "1e3", false, {}},
        {"NAME", "x", false, {}},
        {"PDATE2", "20240101", false, {}},
    };
    for (const auto &c : cases) {
        if (c.ok) {
            EXPECT_EQ(portValue(c.field, "X", c.text), c.value) << c.field << " " << c.text;
        } else {
            EXPECT_THROW(portValue(c.field, "X", c.text), EditError) << c.field << " " << c.text;
        }
    }
    try {
        portValue("APRC", "価格1", "abc");
    } catch (const EditError &e) {
        EXPECT_STREQ(e.what(), "「価格1」には数値を入力してください。");
    }
}

std::string portRows(storage::Database &db, const std::string &table) {
    std::string out;
    storage::ResultSet rs = db.openRecordset("select PDATE, CODE, PSW, APRC, AVAL from " + table +
                                             " order by PDATE, CODE");
    for (; !rs.eof(); rs.moveNext())
        for (int c = 0; c < 5; ++c)
            out += rs.field(c).textOr("-") + (c == 4 ? ";" : ",");
    return out;
}

TEST(PortEdits, UpdateInsertDeleteByKey) {
    test::TablesDb t;
    t.port(20231201, "1301", 1, 1300, 1000);
    t.port(20231202, "1301", 1, 1400, 100);
    updatePortField(*t.db, "T_PORT", Value(20231201), "1301", "APRC", Value(1250));
    updatePortField(*t.db, "T_PORT", Value(20231201), "1301", "AVAL", Value());
    EXPECT_EQ(portRows(*t.db, "T_PORT"), "20231201,1301,1,1250,-;20231202,1301,1,1400,100;");
    // Moving an entry onto another entry's date and code is refused; nothing changes.
    EXPECT_THROW(
        updatePortField(*t.db, "T_PORT", Value(20231201), "1301", "PDATE", Value(20231202)),
        EditError);
    EXPECT_THROW(insertPortEntry(*t.db, "T_PORT", Value(20231202), "1301", {}, {}, {}), EditError);
    insertPortEntry(*t.db, "T_PORT", Value(20240101), "7203", {}, Value(2500), {});
    deletePortEntry(*t.db, "T_PORT", Value(20231202), "1301");
    EXPECT_EQ(portRows(*t.db, "T_PORT"), "20231201,1301,1,1250,-;20240101,7203,0,2500,-;");
}

TEST(PortEdits, WritesToTheLinkedPortfolio) {
    test::TablesDb t;
    const std::string file = t.env.path("mine.gbf");
    storage::createPortfolioDatabase(file);
    storage::attachPortfolioLink(*t.db, "userportf3", file);
    insertPortEntry(*t.db, "userportf3", Value(20240101), "1301", Value(2), Value(100), Value(5));
    updatePortField(*t.db, "userportf3", Value(20240101), "1301", "PSW", Value(4));
    EXPECT_EQ(portRows(*t.db, "T_PORT"), "");
    auto pf = storage::Database::open(file, "");
    EXPECT_EQ(portRows(*pf, "T_PORT"), "20240101,1301,4,100,5;");
}

TEST(MasterEdits, ChecksAndWritesByCode) {
    test::TablesDb t;
    t.stock("1301", "極洋", "東証1部");
    t.stock("1332", "日水", "東証1部");
    EXPECT_THROW(masterValue("SWIDX", "SWIDX", "yes"), EditError);
    updateMasterField(*t.db, "1301", "SWIDX", masterValue("SWIDX", "SWIDX", "-1"));
    updateMasterField(*t.db, "1301", "NAME", masterValue("NAME", "銘柄名称", "極洋'\""));
    EXPECT_THROW(updateMasterField(*t.db, "1301", "CODE", Value("1332")), EditError);
    EXPECT_EQ(t.db->scalar("select NAME from master where CODE='1301' and SWIDX=-1").toText(),
              "極洋'\"");
}

} // namespace
