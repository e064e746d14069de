#include "acquire/import_driver.h"

#include "acquire_test_env.h"

namespace tesmo::test {
namespace {
using acquire::DayRecord;
using acquire::ImportDayFile;
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
        return ImportDayFile(*db, dayFile(records), port, scanned ? day : 0, state);
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

TEST_F(Import, FirstImportIntoAnEmptyDatabaseFindsNoPreviousDate) {
    EXPECT_EQ(import(day(20240129, 100)),
              "daily3:前営業日取得中にｴﾗｰが発生しました\r\n詳細:Null の使い方が不正です。");
    EXPECT_EQ(count("T_NEARLY"), 3);
    EXPECT_EQ(count("master"), 3);
    EXPECT_EQ(count("T_MONTHLY"), 0); // the window before the only date is empty
    EXPECT_EQ(count("wonton_dat01"), 3);
    EXPECT_EQ(state.importedCount, 0);
    EXPECT_EQ(port.caption(), "Tesmo ﾃﾞｰﾀ更新4処理中"); // not restored on failure
}

TEST_F(Import, ImportsDayAfterDayUntilEveryMarkerHasAValue) {
    EXPECT_NE(import(day(20240129, 100)), "");
    EXPECT_EQ(import(day(20240130, 110)), "other1:前月2が見つかりません");
    EXPECT_EQ(import(day(20240131, 121)), "other1:前月2が見つかりません");
    EXPECT_EQ(state.importedCount, 0);
    // A failed import leaves its progress in the caption, and the next one builds on it.
    EXPECT_EQ(port.caption(), "Tesmo ﾃﾞｰﾀ更新4処理中 ﾃﾞｰﾀ更新4.1処理中 ﾃﾞｰﾀ更新4.1処理中");
    port.setCaption("Tesmo");
    EXPECT_EQ(import(day(20240201, 133.1)), "");
    EXPECT_EQ(state.importedCount, 1);
    EXPECT_EQ(state.importedList, "20240201\r\n");
    EXPECT_EQ(port.caption(), "Tesmo");
    EXPECT_EQ(count("wonton_dat01"), 0);

    // The month row of January was written by the import of the 31st (window: 29th and 30th),
    // February's by the import of the 1st (window: 29th to 31st).
    EXPECT_EQ(rows("select YYYYMM,AVPRC,MXPRC,MIPRC,AVTALK from T_MONTHLY where CODE='1301' "
                   "order by YYYYMM"),
              (std::vector<std::string>{"202401|105|110|100|10",
                                        "202402|110.33333333333333|121|100|10"}));
    EXPECT_EQ(rows("select ANPRC,A1PRC,AXPRC,ANTALK,A1TALK,AXTALK,VAL2 from T_NEARLY "
                   "where IDATE=20240201 and CODE='1301'"),
              (std::vector<std::string>{"0.2063|0.1|0.1|0|0|0|1.5315"}));
    EXPECT_EQ(rows("select pINT from T_config order by pID"),
              (std::vector<std::string>{"20240201", "20240131", "202402", "202401"}));
}

TEST_F(Import, ReimportingADayReplacesItsFigures) {
    seedDates({20240104});
    db->execute("Insert Into master(CODE,NAME,MARKET) Values('1301','old name','東証')");
    EXPECT_EQ(import(day(20240105, 100)), "other1:前月2が見つかりません");
    auto second = day(20240105, 200);
    second[0].name = "  新しい名前  ";
    second[1].prc.reset();
    EXPECT_EQ(import(second), "other1:前月2が見つかりません");
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
    EXPECT_EQ(import(day(20240111, 50)), "other1:前月2が見つかりません");
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
    EXPECT_EQ(import(day(dates.back(), 100)), "other1:前月2が見つかりません");
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 41);
    EXPECT_EQ(scalar("select min(IDATE) from T_NEARLY").toInt(), dates[1]);
}

TEST_F(Import, OldDatesGoBeforeTheMonthRowIsComputed) {
    setting(storage::keys::maxdtc, "5");
    const auto dates = decemberAndJanuary(10);
    seedDates(dates);
    EXPECT_EQ(import(day(20231211, 100)), "other1:前月2が見つかりません");
    EXPECT_EQ(scalar("select count(distinct IDATE) from T_NEARLY").toInt(), 6);
    // The five dates before D hold the prices 6 to 10.
    EXPECT_EQ(rows("select YYYYMM,AVPRC,MXPRC,MIPRC from T_MONTHLY where CODE='1301'"),
              (std::vector<std::string>{"202312|8|10|6"}));
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
}

TEST_F(Import, TheFileNameMustBeADate) {
    const std::string path = dayFile(day(20240105, 100), "latest");
    EXPECT_EQ(ImportDayFile(*db, path, port, 0, state),
              "初期処理中にｴﾗｰが発生しました\r\n詳細:型が一致しません: ファイル名 'latest' "
              "が日付の数字ではありません。");
    // The extension counts in any case.
    const std::string upper = acquire::writeDayFile(env.path("20240105.BND"), day(20240105, 100));
    EXPECT_EQ(ImportDayFile(*db, upper, port, 0, state),
              "daily3:前営業日取得中にｴﾗｰが発生しました\r\n詳細:Null の使い方が不正です。");
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
    EXPECT_EQ(import(day(20240105, 100)), "other1:前月2が見つかりません");
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
    EXPECT_EQ(import(records), "other1:前月2が見つかりません");
    records[0].prc = 101;
    EXPECT_EQ(import(records), "other1:前月2が見つかりません");
    EXPECT_EQ(rows("select CODE,PRC from T_NEARLY where IDATE=20240105 order by CODE"),
              (std::vector<std::string>{"13'0|101", "x' or '1'='1|7"}));
}

TEST_F(Import, AFailingStatementNamesItselfAndLeavesEarlierWorkInPlace) {
    db->executeNative("CREATE TRIGGER refuse BEFORE INSERT ON T_NEARLY WHEN NEW.CODE='1332' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(import(day(20240105, 1.5)),
              "基本ﾃﾞｰﾀ更新(7)AddInsert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) "
              "Values(20240105,'1332',3,2000,20) ;中にｴﾗｰが発生しました\r\n詳細:refused");
    EXPECT_EQ(count("master"), 3);
    EXPECT_EQ(rows("select CODE,PRC from T_NEARLY"), (std::vector<std::string>{"1301|1.5"}));
}

TEST_F(Import, RunStateResets) {
    ImportRunState s{2, "20240104\r\n20240105\r\n"};
    s.reset();
    EXPECT_EQ(s.importedCount, 0);
    EXPECT_EQ(s.importedList, "");
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

} // namespace
} // namespace tesmo::test
