#pragma once
// A temporary database for chart tests, filled row by row: stocks in master, daily rows in
// T_NEARLY and monthly rows in T_MONTHLY. The chart opens its own connection to the same file.
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tesmo::test {

inline storage::Value opt(double v) {
    return storage::Value(v);
}
inline const storage::Value kNull{};

class ChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = env.newDatabase();
        db = storage::Database::open(path, storage::kConnectString);
        storage::writeSetting(storage::keys::mdbpath, path);
    }
    void TearDown() override { db.reset(); }

    void stock(const std::string &code, const std::string &name = "極洋",
               const std::string &market = "東証1部", int swco = 0) {
        db->execute("Insert into master(CODE,NAME,MARKET,SWCO) Values(?,?,?,?)",
                    {code, name, market, swco});
    }
    void day(int date, const std::string &code, storage::Value prc, storage::Value dval,
             storage::Value talk) {
        db->execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(?,?,?,?,?)",
                    {date, code, prc, dval, talk});
    }
    void month(int yyyymm, const std::string &code, storage::Value avprc, storage::Value avdval,
               storage::Value avtalk) {
        db->execute("Insert into T_MONTHLY(YYYYMM,CODE,AVPRC,AVDVAL,AVTALK) Values(?,?,?,?,?)",
                    {yyyymm, code, avprc, avdval, avtalk});
    }
    // Trading dates 20240101 + k for k = 1..n, held by another stock, so that the day count
    // does not depend on the stock under test.
    void calendar(int n) {
        stock("8888", "他社");
        for (int k = 1; k <= n; ++k)
            day(20240100 + k, "8888", opt(1), opt(1), opt(1));
    }

    TempEnv env;
    std::string path;
    std::unique_ptr<storage::Database> db;
};

} // namespace tesmo::test
