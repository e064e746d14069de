#pragma once
// A database with a few stocks on the newest date, last month's averages and a portfolio,
// built by inserting rows directly.
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"

#include <memory>
#include <string>

namespace tesmo::test {

struct TablesDb {
    TempEnv env;
    std::string path;
    std::unique_ptr<storage::Database> db;

    TablesDb() {
        path = env.newDatabase();
        storage::writeSetting(storage::keys::mdbpath, path);
        db = storage::Database::open(path, storage::kConnectString);
        db->execute("Update T_config set pINT = 20240105 Where pID = 'MAXDT'");
        db->execute("Update T_config set pINT = 202312 Where pID = 'MAXMM1'");
    }

    void stock(const std::string &code, const std::string &name, const std::string &market,
               int swidx = 0) {
        db->execute("INSERT INTO master (CODE, NAME, MARKET, SWIDX) VALUES (?, ?, ?, ?)",
                    {code, name, market, swidx});
    }
    // A row on the newest date; `val2` and `axtalk` feed the two ranking scores.
    void day(const std::string &code, double prc, double talk, double axtalk, double val2,
             int date = 20240105) {
        db->execute("INSERT INTO T_NEARLY (IDATE, CODE, PRC, DVAL, TALK, ANPRC, A1PRC, A1TALK, "
                    "AXTALK, VAL2) VALUES (?, ?, ?, 5000, ?, ?, 0.125, -0.5, ?, ?)",
                    {date, code, prc, talk, prc - 10, axtalk, val2});
    }
    void port(int pdate, const std::string &code, int psw, double aprc, double aval) {
        db->execute("INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) VALUES (?, ?, ?, ?, ?)",
                    {pdate, code, psw, aprc, aval});
    }
};

} // namespace tesmo::test
