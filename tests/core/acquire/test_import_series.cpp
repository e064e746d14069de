// The whole database after a series of 60 trading days, imported by the driver and by the
// independent reference import of tests/support, compared table by table after every day.
#include "core/acquire/import_driver.h"

#include "acquire_test_env.h"
#include "support/reference_import.h"
#include "support/trading_days.h"

namespace tesmo::test {
namespace {
using acquire::DayRecord;
using storage::Database;

// Day `i` of the series: the sample day, with stocks that are missing on some days or come in
// late, null and zero figures, names with blanks or renamed, empty markets and a code with a
// letter in it.
std::vector<DayRecord> seriesDay(long long date, int i) {
    std::vector<DayRecord> out;
    std::vector<DayRecord> sample =
        acquire::sampleDayRecords(date, 240, static_cast<unsigned>(i + 1));
    for (int j = 0; j < static_cast<int>(sample.size()); ++j) {
        DayRecord r = sample[static_cast<size_t>(j)];
        if ((i * 7 + j) % 53 == 0 || (j >= 230 && i < 25))
            continue;
        if (j == 5)
            r.code = "130A";
        if ((i + j) % 37 == 0)
            r.prc.reset();
        if ((i * 3 + j) % 41 == 0)
            r.prc = 0;
        if ((i + 2 * j) % 43 == 0)
            r.dval.reset();
        if ((j * 5 + i) % 47 == 0)
            r.talk = 0;
        if ((i + j) % 29 == 0)
            r.name = " " + r.name + " ";
        if (i >= 30 && j % 50 == 0)
            r.name = "改称" + r.name;
        if ((i + j) % 31 == 0)
            r.market.clear();
        out.push_back(std::move(r));
    }
    return out;
}

class ImportSeries : public AcquireTest {
protected:
    void SetUp() override {
        AcquireTest::SetUp();
        setting(storage::keys::compyc, "100");
        reference = Database::open(env.newDatabase("reference.mdb"), storage::kConnectString);
        fixClock(*db, &clock);
        fixClock(*reference, &clock);
    }
    void TearDown() override {
        reference.reset();
        AcquireTest::TearDown();
    }

    // Imports `days` trading days from 2024-01-04 on (months pass, old dates go) with both
    // imports and compares the databases after each. An older day comes again 15 days before
    // the end, a day twice 10 days before it, and the retention is cut to 20 dates 5 days
    // before it.
    void importSeries(size_t days) {
        const std::vector<long long> dates = tradingDays(20240104, days);
        std::vector<std::string> files;
        for (size_t i = 0; i < dates.size(); ++i)
            files.push_back(dayFile(seriesDay(dates[i], static_cast<int>(i))));
        std::vector<size_t> order;
        for (size_t i = 0; i < days; ++i) {
            order.push_back(i);
            if (i == days - 15)
                order.push_back(i - 2);
            if (i == days - 10)
                order.push_back(i);
        }
        acquire::ImportRunState state;
        for (size_t step = 0; step < order.size(); ++step) {
            if (order[step] == days - 5)
                setting(storage::keys::maxdtc, "20");
            clock = "import " + std::to_string(step);
            const std::string &file = files[order[step]];
            ASSERT_EQ(acquire::importDayFile(*db, file, port, dates[order[step]], state), "")
                << file;
            ASSERT_EQ(referenceImport(*reference, file), "") << file;
            ASSERT_EQ(firstDifference(*db, *reference), "") << "after " << file;
        }
        // The series reached what it is meant to exercise.
        const std::string newest = std::to_string(dates.back());
        EXPECT_EQ(
            count("T_NEARLY", "IDATE=" + newest),
            static_cast<long long>(seriesDay(dates.back(), static_cast<int>(days) - 1).size()));
        EXPECT_EQ(
            db->scalar("select count(*) from (select IDATE from T_NEARLY group by IDATE)").toInt(),
            21);
        EXPECT_GT(count("T_NEARLY", "VAL2 is not null and IDATE=" + newest), 150);
        EXPECT_GT(count("master", "instr(NAME, '改称') = 1"), 0);
    }

    std::unique_ptr<Database> reference;
    std::string clock;
};

TEST_F(ImportSeries, SixtyDaysLeaveTheDatabaseOfTheReferenceImport) {
    importSeries(60);
}

// A file made by an earlier build keeps its layout: T_NEARLY with a rowid, its date-first and
// code-first indexes, a code-first index on T_MONTHLY and no statistics. It opens, imports and
// ends as the reference does; only the speed differs.
TEST_F(ImportSeries, AFileOfTheEarlierLayoutImportsTheSame) {
    db->executeNative(
        "DROP TABLE T_NEARLY; DROP TABLE sqlite_stat1;"
        "CREATE TABLE T_NEARLY (IDATE INTEGER NOT NULL, CODE TEXT NOT NULL, PRC NUMERIC,"
        " DVAL NUMERIC, TALK NUMERIC, ANPRC REAL, ANDVAL REAL, ANTALK REAL, A1PRC REAL,"
        " A1DVAL REAL, A1TALK REAL, AXPRC REAL, AXDVAL REAL, AXTALK REAL, VAL2 REAL);"
        "CREATE UNIQUE INDEX t_nearly_date_code ON T_NEARLY (IDATE, CODE);"
        "CREATE INDEX t_nearly_code_date ON T_NEARLY (CODE, IDATE);"
        "CREATE INDEX t_monthly_code_month ON T_MONTHLY (CODE, YYYYMM);");
    const std::string path = db->path();
    db = Database::open(path, storage::kConnectString);
    fixClock(*db, &clock);
    importSeries(45);
    EXPECT_EQ(db->scalar("select count(*) from sqlite_master where name in "
                         "('t_nearly_code_date', 't_monthly_code_month')")
                  .toInt(),
              2);
    EXPECT_EQ(db->scalar("select count(*) from V_RANK").toInt(),
              count("T_NEARLY", "IDATE=" + std::to_string(tradingDays(20240104, 45).back())));
}

} // namespace
} // namespace tesmo::test
