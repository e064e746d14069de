// Copy text and CSV export: format, the copy and file commands with their questions, and the
// tesmoctl export that prints the same text.
#include "core/tables/clip_tbl.h"

#include "core/common/cp932.h"
#include "core/tables/table_sources.h"
#include "support/recording_port.h"
#include "support/temp_env.h"
#include "tables_test_env.h"

#include <filesystem>

#include <gtest/gtest.h>

using namespace tesmo;
using namespace tesmo::tables;
using tesmo::test::RecordingPort;
namespace keys = storage::keys;

namespace {

GridColumns smallGrid() {
    return {
        GridColumn{"銘柄ｺｰﾄﾞ", "CODE", 100, Align::General, "CODE"},
        GridColumn{"銘柄名称", "NAME", 100, Align::General, "NAME"},
        GridColumn{"SWCO", "SWCO", 100, Align::Right, "SWCO", false},
        GridColumn{"▲市場", "MARKET", 100, Align::Centre, "MARKET"},
        GridColumn{"SWIDX", "SWIDX", 100, Align::Right, "SWIDX"},
    };
}

class ClipTest : public ::testing::Test {
protected:
    void SetUp() override {
        t.stock("1301", "極洋", "東証1部");
        t.stock("1234", "A\"B", "");
        t.db->execute("UPDATE master SET MARKET = NULL WHERE CODE = '1234'");
        t.db->execute("UPDATE master SET SWCO = 7");
    }
    TableExport exportOf(const std::string &source, const GridColumns &cols, bool note = false) {
        return TableExport{*t.db, {source, {}}, cols, "ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ", "ranktbl", note};
    }
    test::TablesDb t;
};

TEST_F(ClipTest, StatementKeepsOnlyVisibleColumns) {
    const GridColumns rank = rankColumns();
    EXPECT_EQ(clipStatement("select * from V_RANK ORDER BY KEY1 DESC ;", rank),
              "select CODE,NAME,MARKET,PRC,MM1AVDVAL,TALK,ANPRC,AXTALK,VAL1,A1PRC,A1TALK from "
              "V_RANK ORDER BY KEY1 DESC ;");
    EXPECT_EQ(clipStatement("master", smallGrid()), "select CODE,NAME,MARKET,SWIDX from master");
    EXPECT_EQ(clipStatement("select CODE from master", smallGrid()), std::nullopt);
    // A search text never enters the statement: it is a bound value.
    EXPECT_EQ(clipStatement(searchSource("a * b", false).sql, findColumns()),
              "select CODE,NAME,MARKET from master Where master.NAME like ? or master.CODE like ? "
              "Order by master.NAME;");
}

TEST_F(ClipTest, TextFormat) {
    const std::string sql = "select CODE,NAME,MARKET,SWIDX from master ORDER BY CODE";
    const struct {
        char sep;
        const char *text;
    } cases[] = {
        {'\t', "\"銘柄ｺｰﾄﾞ\"\t\"銘柄名称\"\t\"▲市場\"\t\"SWIDX\"\r\n"
               "\"1234\"\t\"A\"B\"\t\"\"\t0\r\n"
               "\"1301\"\t\"極洋\"\t\"東証1部\"\t0\r\n"},
        {',', "\"銘柄ｺｰﾄﾞ\",\"銘柄名称\",\"▲市場\",\"SWIDX\"\r\n"
              "\"1234\",\"A\"B\",\"\",0\r\n"
              "\"1301\",\"極洋\",\"東証1部\",0\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(clipText(*t.db, sql, {}, smallGrid(), c.sep), c.text);
    EXPECT_EQ(clipText(*t.db, "select CODE,NAME,MARKET,SWIDX from master where CODE=?", {"x"},
                       smallGrid(), '\t'),
              "");
}

// Grids group prices, show volumes and counts as grouped whole numbers and ratios with four
// decimals; copies keep the default text form, and a typed file name gets the chosen filter's
// extension.
TEST(GridText, DisplayFormsAndFilterExtension) {
    using storage::Value;
    const struct {
        Value v;
        NumberForm form;
        const char *text;
    } cases[] = {
        {Value(1234567), NumberForm::Grouped, "1,234,567"},
        {Value(1744827.5862069), NumberForm::Whole, "1,744,828"},
        {Value(2.5), NumberForm::Whole, "2"}, // half to even
        {Value(-0.4), NumberForm::Whole, "0"},
        {Value(-1234.6), NumberForm::Whole, "-1,235"},
        {Value(224496.55172413794), NumberForm::Grouped, "224,496.551724138"},
        {Value(-1200.0), NumberForm::Grouped, "-1,200"},
        {Value(999), NumberForm::Grouped, "999"},
        {Value(0.125), NumberForm::Ratio, "0.1250"},
        {Value(-0.5), NumberForm::Ratio, "-0.5000"},
        {Value(-0.00001), NumberForm::Ratio, "0.0000"},
        {Value(12345.5), NumberForm::Ratio, "12,345.5000"},
        {Value(20240105), NumberForm::Plain, "20240105"},
        {Value("1,2"), NumberForm::Grouped, "1,2"},
        {Value(), NumberForm::Ratio, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(gridText(c.v, c.form), c.text) << c.text;
    EXPECT_EQ(rankColumns()[3].form, NumberForm::Grouped);  // 終値 keeps its decimals
    EXPECT_EQ(rankColumns()[4].form, NumberForm::Whole);    // 平均出来高
    EXPECT_EQ(portTbColumns()[10].form, NumberForm::Whole); // 出来高
    EXPECT_EQ(portMColumns()[5].form, NumberForm::Whole);   // 株数
    EXPECT_EQ(rankColumns()[8].form, NumberForm::Ratio);    // 推薦度
    EXPECT_EQ(portTbColumns()[6].form, NumberForm::Plain);  // 参考日, a date

    EXPECT_EQ(withFilterExtension("/d/out", "ﾃｷｽﾄﾌｧｲﾙ(*.txt)"), "/d/out.txt");
    EXPECT_EQ(withFilterExtension("/d/out", kExportFilter), "/d/out.csv");
    EXPECT_EQ(withFilterExtension("/d.x/out.tsv", "CSV(*.csv)"), "/d.x/out.tsv");
    EXPECT_EQ(withFilterExtension("/d.x/out", "All (*)"), "/d.x/out");
}

TEST_F(ClipTest, SeparatorSetting) {
    const struct {
        const char *value;
        char sep;
    } cases[] = {{"0", '\t'}, {"1", ','}, {"2", ','}, {"x", '\t'}};
    for (const auto &c : cases) {
        storage::writeSetting(keys::cpseplt, c.value);
        EXPECT_EQ(copySeparator(), c.sep) << c.value;
    }
}

TEST_F(ClipTest, CopyCommandAsksUnlessQuietAndFillsClipboard) {
    RecordingPort port;
    port.clipboard = "old";
    port.answers = {MsgAnswer::Cancel};
    const GridColumns cols = smallGrid();
    copyTableCommand(port, exportOf("master", cols, true));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text, "現在の表をすべてコピーします。\r\nよろしいですか？\r\n"
                                     "(この処理は約１分ほど費やされます)");
    EXPECT_EQ(port.messages[0].title, "ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ");
    EXPECT_EQ(port.messages[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(port.clipboard, "");

    copyTableCommand(port, exportOf("master", cols, false));
    EXPECT_EQ(port.messages.back().text, "現在の表をすべてコピーします。\r\nよろしいですか？");
    EXPECT_EQ(port.clipboard.substr(0, 7), "\"銘柄");
    EXPECT_FALSE(port.busy());

    storage::writeSetting(keys::nomoremsg, "1");
    port.clipboard.clear();
    copyTableCommand(port, exportOf("master", cols));
    EXPECT_EQ(port.messages.size(), 2u);
    EXPECT_NE(port.clipboard, "");

    // A busy window ignores the command.
    port.clipboard = "kept";
    port.setBusy(true);
    copyTableCommand(port, exportOf("master", cols));
    EXPECT_EQ(port.clipboard, "kept");
    port.setBusy(false);

    // A source that cannot be narrowed is reported and nothing is copied.
    copyTableCommand(port, exportOf("select CODE from master", cols));
    EXPECT_EQ(port.messages.back().text, kClipSourceError);
    EXPECT_EQ(port.messages.back().title, "Tesmo");
    EXPECT_EQ(port.beeps, 1);
    EXPECT_EQ(port.clipboard, "");
}

TEST_F(ClipTest, FileCommandWritesCp932AndRemembersFolder) {
    RecordingPort port;
    const GridColumns cols = smallGrid();
    const std::string dir = t.env.path("out");
    std::filesystem::create_directories(dir);
    port.nextFileName = dir + "/tbl";
    fileTableCommand(port, exportOf("master", cols), "20070305");
    ASSERT_EQ(port.dialogs.size(), 1u);
    EXPECT_EQ(port.dialogs[0].initialName, "ranktbl20070305");
    EXPECT_EQ(port.dialogs[0].title, "出力先を指定してください");
    const std::string bytes = test::fileBytes(dir + "/tbl.csv");
    EXPECT_EQ(cp932ToUtf8(bytes),
              clipText(*t.db, "select CODE,NAME,MARKET,SWIDX from master", {}, cols, '\t') +
                  "\r\n");
    EXPECT_NE(bytes.find("\x8b\xc9\x97\x6d"), std::string::npos); // 極洋 in code page 932
    EXPECT_EQ(storage::readSetting(keys::savecsvdir), dir);
    EXPECT_TRUE(port.messages.empty());

    // An existing file: Cancel leaves it untouched and the clipboard empty.
    port.clipboard = "before";
    port.answers = {MsgAnswer::Cancel};
    port.nextFileName = dir + "/tbl.csv";
    t.db->execute("DELETE FROM master");
    fileTableCommand(port, exportOf("master", cols), "20070305");
    EXPECT_EQ(port.messages.back().text,
              "既にファイルが存在しています。\r\n上書きしてよろしいですか？");
    EXPECT_EQ(test::fileBytes(dir + "/tbl.csv"), bytes);
    EXPECT_EQ(port.clipboard, "");

    // OK: an empty table leaves a file with one empty line; the next dialog opens in its folder.
    port.answers = {MsgAnswer::Ok};
    fileTableCommand(port, exportOf("master", cols), "20070306");
    EXPECT_EQ(test::fileBytes(dir + "/tbl.csv"), "\r\n");
    EXPECT_EQ(port.dialogs.back().initialDir, dir);

    // Cancelling the dialog writes nothing and asks nothing.
    const size_t asked = port.messages.size();
    port.nextFileName.clear();
    fileTableCommand(port, exportOf("master", cols), "20070306");
    EXPECT_EQ(port.messages.size(), asked);
}

TEST_F(ClipTest, UnmappableCharacterBecomesQuestionMark) {
    const std::string path = t.env.path("x.txt");
    writeCp932File(path, "A😀極\r\n");
    EXPECT_EQ(test::fileBytes(path), "A?\x8b\xc9\r\n");
}

std::string ctl(const std::string &args, int *status) {
    return test::runCommand(std::string(TESMO_BIN_DIR) + "/tesmoctl " + args + " 2>&1", status);
}

TEST(TesmoctlExport, PrintsTheCopyTextOfEachWindow) {
    test::TablesDb t;
    t.stock("1301", "極洋", "東証1部");
    t.stock("1332", "日水", "東証1部");
    t.day("1301", 1200, 3, 40, 0.5);
    t.day("1332", 800, 9, 10, 2.5);
    t.port(20231201, "1301", 1, 1300, 1000);
    t.db->execute("INSERT INTO T_MONTHLY (YYYYMM, CODE, AVDVAL) VALUES (202312, '1301', ?)",
                  {224496.55172413794});

    int status = -1;
    GridColumns rank = rankColumns();
    markSorted(rank, 8, true);
    const std::string byScore = ctl("export " + t.path + " ranktb --sort VAL1", &status);
    EXPECT_EQ(byScore,
              clipText(*t.db, *clipStatement(rankSource(rank, 8, true), rank), {}, rank, '\t'));
    // The copy text has the default 15-digit form, without digit grouping.
    EXPECT_NE(byScore.find("\t1200\t224496.551724138\t3\t"), std::string::npos) << byScore;
    EXPECT_EQ(status, 0);
    const std::string asc = ctl("export " + t.path + " ranktb --sort 3 --asc", &status);
    EXPECT_EQ(asc.substr(0, asc.find("\r\n")),
              "\"銘柄ｺｰﾄﾞ\"\t\"銘柄名称\"\t\"市場\"\t\"▲終値\"\t\"平均出来高\"\t\"Web話題\"\t"
              "\"平均終値\"\t\"最大Web話\"\t\"推薦度\"\t\"前比終値\"\t\"前比Web話\"");
    EXPECT_NE(asc.find("\"1332\"\t\"日水\"\t\"東証1部\"\t800\t\t9\t790\t10\t2.5\t0.125\t-0.5\r\n"),
              std::string::npos)
        << asc;
    EXPECT_LT(asc.find("1332"), asc.find("1301"));

    EXPECT_EQ(ctl("export " + t.path + " porttb --group 0", &status), "");
    EXPECT_NE(ctl("export " + t.path + " porttb --group 1", &status).find("\"20231201\""),
              std::string::npos);
    for (const char *find : {"極", "'13?1'", "１３０１", "'1[23]0#'"})
        EXPECT_EQ(ctl("export " + t.path + " findco --find " + find, &status),
                  "\"銘柄ｺｰﾄﾞ\"\t\"銘柄名称\"\t\"市場\"\r\n\"1301\"\t\"極洋\"\t\"東証1部\"\r\n")
            << find;

    // --file goes through the file command: the file and its folder as savecsvdir.
    const std::string dir = t.env.path("csv");
    std::filesystem::create_directories(dir);
    ctl("export " + t.path + " portm --file " + dir + "/p", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cp932ToUtf8(test::fileBytes(dir + "/p.csv")),
              ctl("export " + t.path + " portm", &status) + "\r\n");
    EXPECT_EQ(storage::readSetting(keys::savecsvdir), dir);

    ctl("export " + t.path + " nowhere", &status);
    EXPECT_EQ(status, 1);
    ctl("export " + t.path + " ranktb --sort NOPE", &status);
    EXPECT_EQ(status, 1);
}

} // namespace
