#include "core/acquire/indicators.h"

#include "acquire_test_env.h"

#include <cmath>
#include <stdexcept>

namespace tesmo::test {
namespace {
using acquire::computeIndicators;
using acquire::formatRatio;
using acquire::updateDateMarkers;
using storage::Value;

TEST(Ratio, FormatsWithFourDecimalsHalvesAwayFromZero) {
    struct Case {
        double v;
        const char *text;
    } cases[] = {
        {0.1, "0.1000"},
        {-0.25, "-0.2500"},
        {3.9, "3.9000"},
        {0, "0.0000"},
        {1.23456, "1.2346"},
        {1.23454, "1.2345"},
        // The doubles nearest these halves lie below them; the decimal text decides.
        {0.00005, "0.0001"},
        {-0.00005, "-0.0001"},
        {0.00015, "0.0002"},
        {1.00005, "1.0001"},
        {2.67285, "2.6729"},
        {0.99995, "1.0000"},
        {-9.99995, "-10.0000"},
        {0.0000499999, "0.0000"},
        {-0.00004, "0.0000"}, // rounds to zero: no minus sign
        {1e-20, "0.0000"},
        {123456.78915, "123456.7892"},
        {1e20, "100000000000000000000.0000"},
        {9999.99995, "10000.0000"},
        {4.9e-324, "0.0000"},
        {(110.0 - 100.0) / 100.0, "0.1000"},
        {(90.0 - 120.0) / 120.0, "-0.2500"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(formatRatio(c.v), c.text) << c.v;
    // The largest double: its 309 digits before the point.
    const std::string largest = formatRatio(-1.7976931348623157e308);
    EXPECT_EQ(largest.size(), 1u + 309 + 5);
    EXPECT_TRUE(largest.starts_with("-17976931348623157")) << largest;
    EXPECT_TRUE(largest.ends_with("368.0000")) << largest;
    EXPECT_THROW(formatRatio(INFINITY), std::domain_error);
    EXPECT_THROW(formatRatio(NAN), std::domain_error);
}

TEST(Ratio, NeedsTwoNonZeroValues) {
    EXPECT_EQ(acquire::ratioOf(Value(110), Value(100)), 0.1);
    EXPECT_EQ(acquire::ratioOf(Value(90.0), Value(std::int64_t{120})), -0.25);
    EXPECT_FALSE(acquire::ratioOf(Value(0), Value(100)));
    EXPECT_FALSE(acquire::ratioOf(Value(100), Value(0.0)));
    EXPECT_FALSE(acquire::ratioOf(Value(), Value(100)));
    EXPECT_FALSE(acquire::ratioOf(Value(100), Value()));
}

TEST(Ratio, MonthOfADate) {
    EXPECT_EQ(acquire::monthOfDate(20240131), 202401);
    EXPECT_EQ(acquire::monthOfDate(20240101), 202401);
    EXPECT_EQ(acquire::monthOfDate(20241231), 202412);
}

class Indicators : public AcquireTest {
protected:
    static constexpr long long kD = 20240202;
    static constexpr long long kP = 20240201;

    void nearly(long long date, const std::string &code, const std::string &prc,
                const std::string &dval, const std::string &talk) {
        db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" +
                    std::to_string(date) + ",'" + code + "'," + prc + "," + dval + "," + talk +
                    ")");
    }
    void monthly(const std::string &code, const std::string &av, const std::string &mx) {
        // The same average and maximum for price, volume and talk.
        db->execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK)"
                    " Values(202402,'" +
                    code + "'," + av + "," + av + "," + av + "," + mx + "," + mx + "," + mx + ")");
    }
    std::string indicators(const std::string &code) {
        return rows("select ANPRC,ANDVAL,ANTALK,A1PRC,A1DVAL,A1TALK,AXPRC,AXDVAL,AXTALK,VAL2 "
                    "from T_NEARLY where IDATE=" +
                    std::to_string(kD) + " and CODE='" + code + "'")
            .at(0);
    }
};

TEST_F(Indicators, ComputesTheRatiosOfTheNewestDate) {
    // A: 10 % above the average; VAL2 from the example: AXTALK 0.5, ANPRC 0.1, A1PRC -0.02.
    nearly(kP, "A", "112.24489795918367", "100", "10");
    nearly(kD, "A", "110", "100", "15");
    db->execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK)"
                " Values(202402,'A',100,50,10,130,200,10)");
    // B: 90 against a maximum of 120.
    nearly(kP, "B", "90", "1000", "4");
    nearly(kD, "B", "90", "1000", "5");
    monthly("B", "100", "120");

    EXPECT_EQ(computeIndicators(*db, port, kD), "");
    EXPECT_EQ(indicators("A"), "0.1|1|0.5|-0.02|0|0.5|-0.1538|-0.5|0.5|3.9");
    EXPECT_EQ(indicators("B"), "-0.1|9|-0.95|0|0|0.25|-0.25|7.3333|-0.9583|-7.2083");
    EXPECT_EQ(port.caption(), "Tesmo");
}

TEST_F(Indicators, ZeroOrNullValuesGetNoRatio) {
    nearly(kP, "Z", "100", "100", "10");
    nearly(kD, "Z", "0", "100", "10");
    nearly(kP, "N", "100", "100", "10");
    nearly(kD, "N", "NULL", "100", "10");
    nearly(kP, "T", "100", "100", "10");
    nearly(kD, "T", "100", "100", "0");
    for (const char *code : {"Z", "N", "T"}) {
        monthly(code, "50", "200");
        // Earlier values: the AN columns are cleared, the others stay unless rewritten.
        db->execute(std::string("Update T_NEARLY set ANPRC=9, ANTALK=9, A1PRC=9, A1TALK=9, "
                                "AXPRC=9, AXTALK=9, VAL2=9 where CODE='") +
                    code + "'");
    }
    EXPECT_EQ(computeIndicators(*db, port, kD), "");
    EXPECT_EQ(indicators("Z"), "NULL|1|-0.8|9|0|0|9|-0.5|-0.95|9");
    EXPECT_EQ(indicators("N"), "NULL|1|-0.8|9|0|0|9|-0.5|-0.95|9");
    EXPECT_EQ(indicators("T"), "1|1|NULL|0|0|9|-0.5|-0.5|9|9");
}

TEST_F(Indicators, StocksMissingFromAJoinGetNoRatioOfThatKind) {
    nearly(kD, "NEW", "100", "100", "10"); // first seen on D: no month row, no row on P
    nearly(kP, "OLD", "100", "100", "10");
    nearly(kD, "OLD", "110", "100", "10");
    EXPECT_EQ(computeIndicators(*db, port, kD), "");
    EXPECT_EQ(indicators("NEW"), "NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL");
    EXPECT_EQ(indicators("OLD"), "NULL|NULL|NULL|0.1|0|0|NULL|NULL|NULL|NULL");
}

TEST_F(Indicators, ProgressShowsEvery30Rows) {
    for (int i = 0; i < 29; ++i) {
        nearly(kP, "C" + std::to_string(i), "100", "100", "10");
        nearly(kD, "C" + std::to_string(i), "101", "100", "10");
        monthly("C" + std::to_string(i), "100", "100");
    }
    EXPECT_EQ(computeIndicators(*db, port, kD), "");
    EXPECT_EQ(port.captions, (std::vector<std::string>{"Tesmo"}));
    EXPECT_EQ(port.repaints, 0);

    for (int i = 29; i < 61; ++i) {
        nearly(kP, "C" + std::to_string(i), "100", "100", "10");
        nearly(kD, "C" + std::to_string(i), "101", "100", "10");
        monthly("C" + std::to_string(i), "100", "100");
    }
    port.captions.clear();
    EXPECT_EQ(computeIndicators(*db, port, kD), "");
    EXPECT_EQ(port.captions, (std::vector<std::string>{
                                 "Tesmo step1/3(30/61)", "Tesmo step1/3(60/61)",
                                 "Tesmo step2/3(30/61)", "Tesmo step2/3(60/61)",
                                 "Tesmo  step3/3(30/61)", "Tesmo  step3/3(60/61)", "Tesmo"}));
    EXPECT_EQ(port.repaints, 6);
}

// A young database has no earlier date: the pass is skipped instead of failing with the error
// of "前営業日取得".
TEST_F(Indicators, WithoutAnEarlierDateThePreviousDatePassIsSkipped) {
    nearly(kD, "A", "110", "100", "15");
    monthly("A", "100", "120");
    db->execute("Update T_NEARLY set A1PRC=9, A1DVAL=8, A1TALK=7");
    EXPECT_EQ(computeIndicators(*db, port, kD), "");
    EXPECT_EQ(indicators("A"), "0.1|0|-0.85|9|8|7|-0.0833|-0.1667|-0.875|39.375");
    EXPECT_EQ(port.caption(), "Tesmo");
}

TEST_F(Indicators, EngineErrorsNameTheStep) {
    nearly(kP, "A", "100", "100", "10");
    nearly(kD, "A", "110", "100", "15");
    db->executeNative("DROP TABLE T_MONTHLY");
    const std::string result = computeIndicators(*db, port, kD);
    EXPECT_TRUE(result.starts_with("対象ﾃﾞｰﾀ読込(1)中にｴﾗｰが発生しました\r\n詳細:no such table"))
        << result;
}

TEST_F(Indicators, MarkersFollowTheNewestDatesAndMonths) {
    auto markers = [&] {
        return rows("select pINT from T_config where pID in ('MAXDT','MAXDT1','MAXMM','MAXMM1') "
                    "order by pID");
    };
    // A young database: a marker without a value keeps the one it has and the routine goes on
    // instead of ending with "直近日が見つかりません" and its sisters.
    db->execute("Update T_config set pINT=1");
    EXPECT_EQ(updateDateMarkers(*db, port), "");
    EXPECT_EQ(markers(), (std::vector<std::string>{"1", "1", "1", "1"}));
    monthly("A", "1", "1"); // a month row but no date: the months are written all the same
    EXPECT_EQ(updateDateMarkers(*db, port), "");
    EXPECT_EQ(markers(), (std::vector<std::string>{"1", "1", "202402", "1"}));
    db->execute("Update T_config set pINT=0");
    db->execute("Delete from T_MONTHLY");
    nearly(kD, "A", "1", "1", "1");
    EXPECT_EQ(updateDateMarkers(*db, port), "");
    EXPECT_EQ(markers(), (std::vector<std::string>{"20240202", "0", "0", "0"}));
    nearly(kP, "A", "1", "1", "1");
    EXPECT_EQ(updateDateMarkers(*db, port), "");
    EXPECT_EQ(markers(), (std::vector<std::string>{"20240202", "20240201", "0", "0"}));
    monthly("A", "1", "1");
    EXPECT_EQ(updateDateMarkers(*db, port), "");
    EXPECT_EQ(markers(), (std::vector<std::string>{"20240202", "20240201", "202402", "0"}));
    db->execute("Insert into T_MONTHLY(YYYYMM,CODE) Values(202401,'A')");
    db->execute("Insert into T_MONTHLY(YYYYMM,CODE) Values(202312,'A')");
    EXPECT_EQ(updateDateMarkers(*db, port), "");
    EXPECT_EQ(markers(), (std::vector<std::string>{"20240202", "20240201", "202402", "202401"}));

    db->executeNative("DROP TABLE T_config");
    EXPECT_TRUE(
        updateDateMarkers(*db, port).starts_with("直近日更新中にｴﾗｰが発生しました\r\n詳細:"));
}

} // namespace
} // namespace tesmo::test
