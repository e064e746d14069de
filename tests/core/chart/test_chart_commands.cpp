// Adding the chart's stock to the portfolio, and the outside pages' addresses.
#include "chart_test_env.h"
#include "core/chart/chart_commands.h"

using namespace tesmo;
using chart::AddPortOutcome;
using chart::ChartDbLink;
using test::ChartTest;
using test::kNull;
using test::opt;

namespace {

class AddPortTest : public ChartTest {
protected:
    void SetUp() override {
        ChartTest::SetUp();
        stock("1301");
        stock("1332");
        stock("13'3", "引用符");
        stock("1333");
        day(20240105, "1301", opt(1234.5), opt(1), opt(1)); // a half rounds to the even 1234
        day(20240105, "1332", opt(0.4), opt(1), opt(1));    // rounds to 0: below 1
        day(20240105, "13'3", opt(77), opt(1), opt(1));
        day(20240105, "1333", kNull, opt(1), opt(1));
        db->execute("Update T_config set pINT =20240105 Where pID='MAXDT'  ;");
    }
    std::string rows() {
        std::string out;
        auto rs = db->openRecordset("select PDATE,CODE,PSW,APRC,AVAL from T_PORT order by "
                                    "PDATE,CODE");
        for (; !rs.eof(); rs.moveNext()) {
            for (int c = 0; c < 5; ++c)
                out += rs.field(c).textOr("null") + (c < 4 ? "," : ";");
        }
        return out;
    }
    AddPortOutcome add(const std::string &code, int today, const std::string &table = "T_PORT") {
        const auto r = chart::addToPortfolio(link, table, code, today);
        EXPECT_FALSE(link.isOpen());
        return r.outcome;
    }
    ChartDbLink link;
};

TEST_F(AddPortTest, NewThenMoreSharesThenANewDay) {
    EXPECT_EQ(add("1301", 20240105), AddPortOutcome::New);
    EXPECT_EQ(rows(), "20240105,1301,0,1234,1000;");
    EXPECT_EQ(add("1301", 20240105), AddPortOutcome::Added);
    EXPECT_EQ(rows(), "20240105,1301,0,1234,2000;");
    EXPECT_EQ(add("1301", 20240106), AddPortOutcome::New);
    EXPECT_EQ(rows(), "20240105,1301,0,1234,2000;20240106,1301,0,1234,1000;");
}

TEST_F(AddPortTest, NoUsablePriceAddsNothing) {
    for (const std::string code : {"1332", "1333", "9999", "' OR '1'='1", ""})
        EXPECT_EQ(add(code, 20240105), AddPortOutcome::NotAdded) << code;
    EXPECT_EQ(rows(), "");
}

TEST_F(AddPortTest, ACodeWithAQuoteIsStoredAsItIs) {
    EXPECT_EQ(add("13'3", 20240105), AddPortOutcome::New);
    EXPECT_EQ(add("13'3", 20240105), AddPortOutcome::Added);
    EXPECT_EQ(rows(), "20240105,13'3,0,77,2000;");
}

TEST_F(AddPortTest, MessagesAndAFailingStatement) {
    EXPECT_EQ(chart::addPortMessage({AddPortOutcome::New, ""}), "追加しました(新規)");
    EXPECT_EQ(chart::addPortMessage({AddPortOutcome::Added, ""}), "追加しました(株数追加)");
    EXPECT_EQ(chart::addPortMessage({AddPortOutcome::NotAdded, ""}), "追加されませんでした");
    const auto r = chart::addToPortfolio(link, "T_NOPORT", "1301", 20240105);
    EXPECT_EQ(r.outcome, AddPortOutcome::Failed);
    EXPECT_EQ(chart::addPortMessage(r), r.failure);
    EXPECT_EQ(r.failure.rfind(
                  "ﾎﾟｰﾄﾌｫﾘｵに追加できませんでした。\r\n登録確認時にｴﾗｰが発生しました\r\n詳細:", 0),
              0u)
        << r.failure;
    EXPECT_NE(r.failure.find("T_NOPORT"), std::string::npos) << r.failure;
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(rows(), "");
}

TEST_F(ChartTest, OutsidePages) {
    using storage::writeSetting;
    namespace keys = storage::keys;
    writeSetting(keys::infosite, "https://info.example/");
    writeSetting(keys::quotesite, "http://quote.example");
    writeSetting(keys::realtmsite, "http://rt.example");

    EXPECT_EQ(chart::web1Commands("1234"),
              (std::vector<std::string>{
                  "https://info.example/",
                  "https://info.example/servlets/Query?SRC=indiv/check&codetext=%31%32%33%34"}));
    EXPECT_EQ(chart::web2Command("7203"), "http://quote.example/q?s=7203&d=c&k=c3&h=on&z=m");
    EXPECT_EQ(chart::realtimeUrl("7203"), "http://rt.example/tesmo_onl/real_tm_i.php?code=7203");
    // Web1 and Web2 want exactly four characters; the real-time page takes anything.
    for (const std::string code : {"123", "12345", ""}) {
        EXPECT_TRUE(chart::web1Commands(code).empty()) << code;
        EXPECT_EQ(chart::web2Command(code), "") << code;
    }
    EXPECT_EQ(chart::realtimeUrl("12 &x=1"),
              "http://rt.example/tesmo_onl/real_tm_i.php?code=12%20%26x%3D1");
    EXPECT_EQ(chart::web2Command("13&A"), "http://quote.example/q?s=13%26A&d=c&k=c3&h=on&z=m");
    EXPECT_EQ(chart::web1Commands("130A").at(1),
              "https://info.example/servlets/Query?SRC=indiv/check&codetext=%31%33%30%41");

    writeSetting(keys::realcspd, "1");
    EXPECT_EQ(chart::realtimeUrl("7203"),
              "http://rt.example/tesmo_onl/real_tm_i.php?code=7203&autoclose=1");
    writeSetting(keys::realcspd, "2");
    EXPECT_EQ(chart::realtimeUrl("7203").find("autoclose"), std::string::npos);

    writeSetting(keys::browser, "/usr/bin/firefox");
    EXPECT_EQ(chart::web1Commands("1234").at(0), "/usr/bin/firefox https://info.example/");
    EXPECT_EQ(chart::web2Command("7203"),
              "/usr/bin/firefox http://quote.example/q?s=7203&d=c&k=c3&h=on&z=m");
    EXPECT_EQ(chart::realtimeUrl("7203").rfind("http://rt.example/", 0), 0u);

    EXPECT_EQ(chart::web1WaitSeconds(), 6);
    writeSetting(keys::web1wait, "2.7");
    EXPECT_EQ(chart::web1WaitSeconds(), 2);
}

} // namespace
