#include "core/acquire/import_driver.h"

#include "acquire_test_env.h"
#include "support/trading_days.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

namespace tesmo::test {
namespace {
using acquire::DayRecord;
using acquire::importDayFile;
using acquire::ImportRunState;

class Import : public AcquireTest {
protected:
    void SetUp() override {
        AcquireTest::SetUp();
        setting(storage::keys::compyc, "2");
    }
    // Imports `records` as a scanned day (the day number is the date).
    std::string import(const std::vector<DayRecord> &records, bool scanned = true) {
        const long long day = records.at(0).date;
        return importDayFile(*db, dayFile(records), port, scanned ? day : 0, state);
    }
    std::vector<DayRecord> day(long long date, double base) {
        return {rec(date, "1301", base, 1000, 10), rec(date, "1332", base * 2, 2000, 20),
                rec(date, "7203", base * 3, 3000, 30)};
    }
    // Rows of T_NEARLY for the dates before `date`, one per date, with PRC = position.
    void seedDates(const std::vector<long long> &dates) {
        for (size_t i = 0; i < dates.size(); ++i)
            db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" +
                        std::to_string(dates[i]) + ",'1301'," + std::to_string(i + 1) + ",1,1)");
    }
    // A second connection: what it reads has been committed.
    long long committedCount(const std::string &table) {
        auto other = storage::Database::open(db->path(), storage::kConnectString);
        return other->scalar("select count(*) from " + table).toInt();
    }
    static std::vector<long long> decemberAndJanuary(int count) {
        std::vector<long long> out;
        for (int d = 1; d <= 31 && static_cast<int>(out.size()) < count; ++d)
            out.push_back(20231200 + d);
        for (int d = 1; d <= 31 && static_cast<int>(out.size()) < count; ++d)
            out.push_back(20240100 + d);
        return out;
    }

    ImportRunState state;
};

// A young database has no previous date: the import still succeeds (no "daily3:" failure) and
// its rows are stored.
TEST_F(Import, FirstImportIntoAnEmptyDatabaseSucceedsWithoutAPreviousDate) {
    EXPECT_EQ(import(day(20240129, 100)), "");
    EXPECT_EQ(count("T_NEARLY"), 3);
    EXPECT_EQ(count("master"), 3);
    EXPECT_EQ(count("T_MONTHLY"), 0); // the window before the only date is empty
    EXPECT_EQ(count("wonton_dat01"), 0);
    EXPECT_EQ(state.importedCount, 1);
    EXPECT_EQ(state.importedList, "20240129\r\n");
    EXPECT_EQ(port.caption(), "Tesmo");
    // The previous-date pass was skipped; no month row, so no other ratio either.
    EXPECT_EQ(count("T_NEARLY", "A1PRC is not null or A1TALK is not null or ANPRC is not null "
                                "or AXPRC is not null or VAL2 is not null"),
              0);
    // Only the newest date has a value; the other markers keep theirs.
    EXPECT_EQ(rows("select pID, pINT from T_config order by pID"),
              (std::vector<std::string>{"MAXDT|20240129", "MAXDT1|0", "MAXMM|0", "MAXMM1|0"}));
}

TEST_F(Import, TwentyDaysIntoAnEmptyDatabaseAllSucceed) {
    const auto dates = decemberAndJanuary(20);
    for (size_t i = 0; i < dates.size(); ++i)
        EXPECT_EQ(import(day(dates[i], 100 + static_cast<double>(i))), "") << dates[i];
    EXPECT_EQ(state.importedCount, 20);
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 20);
    EXPECT_EQ(rows("select pID, pINT from T_config order by pID"),
              (std::vector<std::string>{"MAXDT|20231220", "MAXDT1|20231219", "MAXMM|202312",
                                        "MAXMM1|0"}));
    // 119 against 118 the day before; against the mean of the 1st to 19th (109).
    EXPECT_EQ(rows("select A1PRC, ANPRC from T_NEARLY where IDATE=20231220 and CODE='1301'"),
              (std::vector<std::string>{"0.0085|0.0917"}));
}

TEST_F(Import, ImportsDayAfterDayUntilEveryMarkerHasAValue) {
    EXPECT_EQ(import(day(20240129, 100)), "");
    EXPECT_EQ(import(day(20240130, 110)), "");
    EXPECT_EQ(import(day(20240131, 121)), "");
    EXPECT_EQ(state.importedCount, 3);
    EXPECT_EQ(rows("select pINT from T_config order by pID"),
              (std::vector<std::string>{"20240131", "20240130", "202401", "0"}));
    EXPECT_EQ(import(day(20240201, 133.1)), "");
    EXPECT_EQ(state.importedCount, 4);
    EXPECT_EQ(state.importedList, "20240129\r\n20240130\r\n20240131\r\n20240201\r\n");
    EXPECT_EQ(port.caption(), "Tesmo");
    EXPECT_EQ(count("wonton_dat01"), 0);

    // The month row of January was written by the import of the 31st (window: 29th and 30th),
    // February's by the import of the 1st (window: 29th to 31st).
    EXPECT_EQ(
        rows("select YYYYMM,AVPRC,MXPRC,MIPRC,AVTALK from T_MONTHLY where CODE='1301' "
             "order by YYYYMM"),
        (std::vector<std::string>{"202401|105|110|100|10", "202402|110.333333333333|121|100|10"}));
    EXPECT_EQ(rows("select ANPRC,A1PRC,AXPRC,ANTALK,A1TALK,AXTALK,VAL2 from T_NEARLY "
                   "where IDATE=20240201 and CODE='1301'"),
              (std::vector<std::string>{"0.2063|0.1|0.1|0|0|0|1.5315"}));
    EXPECT_EQ(rows("select pINT from T_config order by pID"),
              (std::vector<std::string>{"20240201", "20240131", "202402", "202401"}));
}

TEST_F(Import, ReimportingADayReplacesItsFigures) {
    seedDates({20240104});
    db->execute("Insert Into master(CODE,NAME,MARKET) Values('1301','old name','東証')");
    EXPECT_EQ(import(day(20240105, 100)), "");
    auto second = day(20240105, 200);
    second[0].name = "  新しい名前  ";
    second[1].prc.reset();
    EXPECT_EQ(import(second), "");
    EXPECT_EQ(
        rows("select CODE,PRC,DVAL,TALK from T_NEARLY where IDATE=20240105 order by CODE"),
        (std::vector<std::string>{"1301|200|1000|10", "1332|NULL|2000|20", "7203|600|3000|30"}));
    EXPECT_EQ(count("master"), 3);
    EXPECT_EQ(rows("select NAME, MARKET from master where CODE='1301'"),
              (std::vector<std::string>{"新しい名前|東証プライム"}));
    EXPECT_FALSE(scalar("select [UPDATE] from master where CODE='1301'").isNull());
}

TEST_F(Import, AnOlderDayRecomputesTheNewestDate) {
    seedDates({20240110, 20240112});
    EXPECT_EQ(import(day(20240111, 50)), "");
    // D is the 12th: its month row covers the 10th and 11th, its previous date is the 11th.
    EXPECT_EQ(rows("select YYYYMM,AVPRC from T_MONTHLY where CODE='1301'"),
              (std::vector<std::string>{"202401|25.5"}));
    EXPECT_EQ(
        rows("select IDATE,A1PRC,ANPRC from T_NEARLY where CODE='1301' and A1PRC is not null"),
        (std::vector<std::string>{"20240112|-0.96|-0.9216"}));
    EXPECT_EQ(scalar("select pINT from T_config where pID='MAXDT'").toInt(), 20240112);
}

TEST_F(Import, KeepsMaxdtcPlusOneDates) {
    const auto dates = decemberAndJanuary(42);
    seedDates(std::vector<long long>(dates.begin(), dates.end() - 1));
    EXPECT_EQ(import(day(dates.back(), 100)), "");
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 41);
    EXPECT_EQ(scalar("select min(IDATE) from T_NEARLY").toInt(), dates[1]);
}

TEST_F(Import, FortyFiveConsecutiveDaysLeaveFortyOneDates) {
    const auto dates = calendarDays(20240101, 45, false);
    for (size_t i = 0; i < dates.size(); ++i)
        ASSERT_EQ(import(day(dates[i], 100 + static_cast<double>(i))), "") << dates[i];
    EXPECT_EQ(state.importedCount, 45);
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 41);
    EXPECT_EQ(scalar("select min(IDATE) from T_NEARLY").toInt(), dates[4]);
    EXPECT_EQ(rows("select pINT from T_config order by pID"),
              (std::vector<std::string>{"20240214", "20240213", "202402", "202401"}));
    // The newest date has every ratio: 144 against 143 the day before, the mean of the 29
    // dates before it (129) and their maximum (143).
    EXPECT_EQ(rows("select A1PRC, ANPRC, AXPRC, ANTALK, VAL2 from T_NEARLY "
                   "where IDATE=20240214 and CODE='1332'"),
              (std::vector<std::string>{"0.007|0.1163|0.007|0|0.6165"}));
}

TEST_F(Import, KeepsElevenDatesWithMaxdtc10) {
    setting(storage::keys::maxdtc, "10");
    const auto dates = calendarDays(20240101, 15, false);
    seedDates(std::vector<long long>(dates.begin(), dates.end() - 1));
    EXPECT_EQ(import(day(dates.back(), 100)), "");
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 11);
    EXPECT_EQ(scalar("select min(IDATE) from T_NEARLY").toInt(), dates[4]);
}

// Old dates are deleted beyond maxdtc + 1 also when maxdtc is 99 or more: reading only the
// first 100 dates would never delete any.
TEST_F(Import, KeepsMaxdtcPlusOneDatesBeyondTheFirstHundred) {
    setting(storage::keys::maxdtc, "150");
    const auto dates = calendarDays(20230801, 160, false);
    seedDates(std::vector<long long>(dates.begin(), dates.end() - 1));
    EXPECT_EQ(import(day(dates.back(), 100)), "");
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 151);
    EXPECT_EQ(scalar("select min(IDATE) from T_NEARLY").toInt(), dates[9]);
    EXPECT_EQ(scalar("select max(IDATE) from T_NEARLY").toInt(), dates.back());
}

TEST_F(Import, OldDatesGoBeforeTheMonthRowIsComputed) {
    setting(storage::keys::maxdtc, "5");
    const auto dates = decemberAndJanuary(10);
    seedDates(dates);
    EXPECT_EQ(import(day(20231211, 100)), "");
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 6);
    // The five dates before D hold the prices 6 to 10.
    EXPECT_EQ(rows("select YYYYMM,AVPRC,MXPRC,MIPRC from T_MONTHLY where CODE='1301'"),
              (std::vector<std::string>{"202312|8|10|6"}));
}

// The month row is summed up in the driver from one read of the window; it must give what the
// engine's GROUP BY statement gives on the same rows, whether the window holds most
// of the table's dates (read in table order) or a third of them (read through the index).
TEST_F(Import, TheMonthRowIsWhatTheEnginesGroupByGives) {
    for (const int count : {35, 80}) {
        SCOPED_TRACE(count);
        for (const char *table : {"T_NEARLY", "T_MONTHLY", "master"})
            db->execute(std::string("Delete from ") + table);
        setting(storage::keys::maxdtc, "100");
        const auto dates = calendarDays(20240101, count, false);
        const size_t n = dates.size();
        // Whole numbers, halves, quarters and negatives (sums exact in any order), nulls, a
        // code whose figures are all null, a code seen on one date only and one outside the
        // window.
        for (size_t i = 0; i + 1 < n; ++i) {
            const std::string d = std::to_string(dates[i]);
            const double k = static_cast<double>(i);
            auto num = [](double v) { return storage::formatDouble(v); };
            db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" + d + ",'1301'," +
                        num(100 + k * 1.5) + "," + num(1000 - k * 40) + "," +
                        (i % 3 ? num(k) : "NULL") + ")");
            db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" + d + ",'1332'," +
                        num(-2.25 * k) + ",NULL," + num(1099511627776.0 + k) + ")");
            db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(" + d +
                        ",'NULLS',NULL,NULL,NULL)");
        }
        db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(" + std::to_string(dates[n - 15]) +
                    ",'ONCE',7)");
        db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(" + std::to_string(dates[2]) +
                    ",'EARLY',5)");
        EXPECT_EQ(import(day(dates.back(), 100)), "");

        // D is the last date, S the 30th newest: the window holds the 29 dates before D.
        const std::string engine =
            "SELECT " + std::to_string(dates.back() / 100) +
            ",T_NEARLY.CODE , Avg(T_NEARLY.PRC) , Avg(T_NEARLY.DVAL) , Avg(T_NEARLY.TALK) , "
            "Max(T_NEARLY.PRC)  , Max(T_NEARLY.DVAL) , Max(T_NEARLY.TALK) , Min(T_NEARLY.PRC)  , "
            "Min(T_NEARLY.DVAL) , Min(T_NEARLY.TALK) from T_NEARLY where IDATE < " +
            std::to_string(dates.back()) + "  and IDATE >= " + std::to_string(dates[n - 30]) +
            " GROUP BY T_NEARLY.CODE ORDER BY T_NEARLY.CODE";
        const auto expected = rows(engine);
        ASSERT_EQ(expected.size(), 4u); // 1301, 1332, NULLS, ONCE
        EXPECT_EQ(rows("select YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK,MIPRC,MIDVAL,"
                       "MITALK from T_MONTHLY order by CODE"),
                  expected);
        EXPECT_EQ(rows("select count(*) from T_MONTHLY where AVPRC is null and MXPRC is null"),
                  (std::vector<std::string>{"1"}));
        EXPECT_EQ(rows("select typeof(MXPRC), typeof(MXTALK) from T_MONTHLY where CODE='1332'"),
                  (std::vector<std::string>{"real|integer"}));
    }
}

TEST_F(Import, AMonthRowOverATextLeavesTheWorkToTheEngine) {
    seedDates({20240103, 20240104});
    // A stock that is not on the new day, so that no ratio is taken against the text.
    db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(20240103,'9999','n/a')");
    db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(20240104,'9999',4)");
    EXPECT_EQ(import(day(20240105, 100)), "");
    // The engine orders a text after every number and sums it up as 0.
    EXPECT_EQ(rows("select CODE,AVPRC,MXPRC,MIPRC from T_MONTHLY order by CODE"),
              (std::vector<std::string>{"1301|1.5|2|1", "9999|2|n/a|4"}));
}

TEST_F(Import, AFailingMonthRowLeavesNoneOfItsRows) {
    seedDates({20240103, 20240104});
    db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(20240104,'9999',1)");
    db->executeNative("CREATE TRIGGER refuse BEFORE INSERT ON T_MONTHLY WHEN NEW.CODE='9999' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(import(day(20240105, 100)), "基本ﾃﾞｰﾀ更新(11)中にｴﾗｰが発生しました\r\n詳細:refused");
    EXPECT_EQ(count("T_MONTHLY"), 0);
    EXPECT_EQ(committedCount("T_NEARLY"), 6); // the steps before it stay
}

TEST_F(Import, OnlyTheNewest120MonthsRemain) {
    for (int i = 0; i < 125; ++i) {
        const int month = 201001 + (i / 12) * 100 + i % 12;
        db->execute("Insert into T_MONTHLY(YYYYMM,CODE) Values(" + std::to_string(month) +
                    ",'1301')");
    }
    seedDates({20240104});
    EXPECT_EQ(import(day(20240105, 100)), "");
    EXPECT_EQ(scalar("select count(distinct YYYYMM) from T_MONTHLY").toInt(), 120);
    EXPECT_EQ(scalar("select min(YYYYMM) from T_MONTHLY").toInt(), 201007);
}

TEST_F(Import, AScannedDayThatDoesNotDecodeIsSkipped) {
    auto records = day(20240105, 100);
    records.resize(1); // fewer than compyc
    EXPECT_EQ(import(records), "");
    EXPECT_EQ(import(records, false), "対象ﾃﾞｰﾀ数が少なすぎます 1件");
    EXPECT_EQ(state.importedCount, 0);
    EXPECT_EQ(count("T_NEARLY"), 0);
    EXPECT_EQ(count("wonton_dat01"), 1); // the staging rows stay until the next import
    EXPECT_EQ(committedCount("wonton_dat01"), 1);
    EXPECT_FALSE(db->inTransaction());
}

TEST_F(Import, TheFileNameMustBeADate) {
    const std::string path = dayFile(day(20240105, 100), "latest");
    EXPECT_EQ(importDayFile(*db, path, port, 0, state),
              "初期処理中にｴﾗｰが発生しました\r\n詳細:型が一致しません: ファイル名 'latest' "
              "が日付の数字ではありません。");
    // The extension counts in any case.
    const std::string upper = acquire::writeDayFile(env.path("20240105.BND"), day(20240105, 100));
    EXPECT_EQ(importDayFile(*db, upper, port, 0, state), "");
}

TEST_F(Import, ShowsItsProgressInTheCaption) {
    seedDates({20240104});
    db->execute("Insert into T_MONTHLY(YYYYMM,CODE) Values(202312,'1301')");
    EXPECT_EQ(import(day(20240105, 100)), "");
    EXPECT_EQ(port.captions,
              (std::vector<std::string>{"Tesmo ﾃﾞｰﾀ更新1処理中", "Tesmo ﾃﾞｰﾀ更新2処理中",
                                        "Tesmo ﾃﾞｰﾀ更新4処理中", "Tesmo ﾃﾞｰﾀ更新4処理中",
                                        "Tesmo ﾃﾞｰﾀ更新4.1処理中", "Tesmo ﾃﾞｰﾀ更新4.3処理中",
                                        "Tesmo ﾃﾞｰﾀ更新4.4処理中", "Tesmo"}));
    EXPECT_EQ(port.waits, (std::vector<int>{1}));
}

TEST_F(Import, DebugModeKeepsTheStagingRows) {
    seedDates({20240104});
    setting(storage::keys::debugcode, storage::kDebugCode);
    EXPECT_EQ(import(day(20240105, 100)), "");
    db->execute("Insert into T_MONTHLY(YYYYMM,CODE) Values(202312,'1301')");
    EXPECT_EQ(import(day(20240105, 100)), "");
    EXPECT_EQ(count("wonton_dat01"), 3);
}

TEST_F(Import, ANonNumericMaxdtcFailsItsStep) {
    setting(storage::keys::maxdtc, "forty");
    EXPECT_EQ(import(day(20240105, 100)),
              "基本ﾃﾞｰﾀ更新(9)中にｴﾗｰが発生しました\r\n詳細:設定 maxdtc の値が数値ではありません: "
              "\"forty\"");
}

TEST_F(Import, CodesFromTheFileAreBoundNotPasted) {
    seedDates({20240104});
    std::vector<DayRecord> records = {rec(20240105, "13'0", 100), rec(20240105, "x' or '1'='1", 7)};
    EXPECT_EQ(import(records), "");
    records[0].prc = 101;
    EXPECT_EQ(import(records), "");
    EXPECT_EQ(rows("select CODE,PRC from T_NEARLY where IDATE=20240105 order by CODE"),
              (std::vector<std::string>{"13'0|101", "x' or '1'='1|7"}));
}

// Names and markets lose the control characters that a day file may carry before they reach
// master (the J-Quants tests cover the direction marks, which code page 932 cannot carry); a
// name of nothing else becomes the code.
TEST_F(Import, NamesLoseControlCharacters) {
    const std::pair<const char *, const char *> cases[] = {
        {"極洋\t水産", "極洋水産"}, {"ベル\a鳴る", "ベル鳴る"}, {"色\x1b[31m付き", "色[31m付き"},
        {"\x7f\x01削除", "削除"},   {"\a\a", "1305"},
    };
    std::vector<DayRecord> records;
    std::vector<std::string> expected;
    for (const auto &[name, stored] : cases) {
        records.push_back(rec(20240105, std::to_string(1301 + records.size()), 100));
        records.back().name = name;
        records.back().market = "東証\x1bプライム";
        expected.push_back(std::string(stored) + "|東証プライム");
    }
    EXPECT_EQ(import(records), "");
    EXPECT_EQ(rows("select NAME, MARKET from master order by CODE"), expected);
}

TEST_F(Import, AFailingStatementNamesItselfAndLeavesEarlierWorkInPlace) {
    db->executeNative("CREATE TRIGGER refuse BEFORE INSERT ON T_NEARLY WHEN NEW.CODE='1332' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(import(day(20240105, 1.5)),
              "基本ﾃﾞｰﾀ更新(7)AddInsert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) "
              "Values(20240105,'1332',3,2000,20) ;中にｴﾗｰが発生しました\r\n詳細:refused");
    EXPECT_EQ(count("master"), 3);
    EXPECT_EQ(rows("select CODE,PRC from T_NEARLY"), (std::vector<std::string>{"1301|1.5"}));
    // What ran before the failure is committed, as it would be without a transaction.
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(committedCount("master"), 3);
    EXPECT_EQ(committedCount("T_NEARLY"), 1);
}

TEST_F(Import, RunsAsOneTransaction) {
    seedDates({20240104});
    // Halfway through, while the decoder pauses at the separator, nothing of the import is
    // visible to another connection: the staging table still holds what it held before.
    db->execute("Insert into wonton_dat01(CODE) Values('left over')");
    class PeekingPort : public RecordingPort {
    public:
        std::function<void()> peek;
        void wait(int seconds) override {
            RecordingPort::wait(seconds);
            peek();
        }
    } peeking;
    long long seen = -1;
    peeking.peek = [&] { seen = committedCount("wonton_dat01"); };
    EXPECT_EQ(importDayFile(*db, dayFile(day(20240105, 100)), peeking, 20240105, state), "");
    EXPECT_EQ(seen, 1);
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(committedCount("T_NEARLY"), 4);
}

TEST_F(Import, ACrashMidwayLeavesTheDatabaseAsItWas) {
    seedDates({20240104});
    db->execute("Insert into wonton_dat01(CODE) Values('left over')");
    const std::string file = dayFile(day(20240105, 100));
    const std::string path = db->path();
    // The child process dies at the separator, after the staging rows were replaced.
    EXPECT_EXIT(
        {
            class DyingPort : public RecordingPort {
                void wait(int) override { std::_Exit(3); }
            } dying;
            auto own = storage::Database::open(path, storage::kConnectString);
            importDayFile(*own, file, dying, 20240105, state);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(rows("select CODE from wonton_dat01"), (std::vector<std::string>{"left over"}));
    EXPECT_EQ(count("T_NEARLY"), 1);
    EXPECT_EQ(committedCount("wonton_dat01"), 1);
}

TEST_F(Import, KeepsTheCallersTransaction) {
    seedDates({20240104});
    db->execute("BEGIN");
    EXPECT_EQ(import(day(20240105, 100)), "");
    EXPECT_TRUE(db->inTransaction());
    db->execute("ROLLBACK");
    EXPECT_EQ(count("T_NEARLY"), 1);
}

TEST_F(Import, RunStateResets) {
    ImportRunState s{2, "20240104\r\n20240105\r\n", {{20240106, "HTTP 500"}}};
    s.reset();
    EXPECT_EQ(s.importedCount, 0);
    EXPECT_EQ(s.importedList, "");
    EXPECT_TRUE(s.skippedDays.empty());
    EXPECT_EQ(&acquire::importRunState(), &acquire::importRunState());
}

} // namespace
} // namespace tesmo::test

namespace tesmo::test {
namespace {

TEST_F(AcquireTest, TesmoctlImportPrintsEachFilesResult) {
    storage::writeSetting(storage::keys::compyc, "2");
    db->execute("Insert Into T_NEARLY(IDATE,CODE,PRC) Values(20240104,'1301',90)");
    db->execute("Insert Into T_MONTHLY(YYYYMM,CODE) Values(202312,'1301')");
    db.reset();
    const std::string good = acquire::writeDayFile(
        env.path("20240105.bnd"), {rec(20240105, "1301", 100), rec(20240105, "1332", 200)});
    const std::string tooShort =
        acquire::writeDayFile(env.path("20240108.bnd"), {rec(20240108, "1301", 100)});
    const std::string ctl = std::string(TESMO_BIN_DIR) + "/tesmoctl";
    const std::string dbPath = env.path("tesmo.mdb");
    int status = -1;
    std::string out =
        runCommand(ctl + " import " + dbPath + " " + good + " " + tooShort + " 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, good + ": 正常終了\n" + tooShort + ": 対象ﾃﾞｰﾀ数が少なすぎます 1件\n");

    // As the scan calls it, the short day is skipped without a word.
    out = runCommand(ctl + " import --verbose --day 20240108 " + dbPath + " " + tooShort +
                         " 2>/dev/null",
                     &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, tooShort + ": 正常終了\n");

    out = runCommand(ctl + " import " + dbPath + " 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("usage: tesmoctl import"), std::string::npos) << out;
}

TEST_F(AcquireTest, TesmoctlGenDayWritesTheSampleDay) {
    const std::string ctl = std::string(TESMO_BIN_DIR) + "/tesmoctl";
    const std::string file = env.path("20240105.bnd");
    int status = -1;
    runCommand(ctl + " gen-day 20240105 " + file + " --stocks 7 --seed 3", &status);
    EXPECT_EQ(status, 0);
    {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(bytes, acquire::dayFileBytes(acquire::sampleDayRecords(20240105, 7, 3)));
    }
    for (const char *bad :
         {"gen-day 2024015 x.bnd", "gen-day 20240105 x.bnd --stocks 0", "gen-day 20240105"}) {
        runCommand(ctl + " " + bad + " 2>/dev/null", &status);
        EXPECT_NE(status, 0) << bad;
    }
}

} // namespace
} // namespace tesmo::test
