#pragma once
// What the acquisition tests share: a temporary folder with its own settings and a fresh copy
// of the shipped database, a recording port, and helpers that write day files with the
// writer and read rows back.
#include "core/acquire/day_file_writer.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tesmo::test {

class AcquireTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dbPath = env.newDatabase();
        db = storage::Database::open(m_dbPath, storage::kConnectString);
        port.setCaption("Tesmo");
        port.captions.clear();
    }
    void TearDown() override { db.reset(); }

    // A day file named "<date>.bnd" in the temporary folder.
    std::string dayFile(const std::vector<acquire::DayRecord> &records,
                        const std::string &name = "") {
        const std::string file =
            env.path((name.empty() ? std::to_string(records.at(0).date) : name) + ".bnd");
        return acquire::writeDayFile(file, records);
    }
    std::string rawFile(const std::string &name, const std::string &bytes) {
        const std::string file = env.path(name);
        FILE *f = std::fopen(file.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return file;
    }

    storage::Value scalar(const std::string &sql) { return db->scalar(sql); }
    long long count(const std::string &table, const std::string &where = "") {
        return db
            ->scalar("select count(*) from " + table + (where.empty() ? "" : " where " + where))
            .toInt();
    }
    // Rows of a select as text, null as "NULL", fields joined by "|".
    std::vector<std::string> rows(const std::string &sql) {
        storage::ResultSet rs = db->openRecordset(sql);
        std::vector<std::string> out;
        for (; !rs.eof(); rs.moveNext()) {
            std::string line;
            for (int c = 0; c < rs.fieldCount(); ++c)
                line += (c ? "|" : "") + rs.field(c).textOr("NULL");
            out.push_back(line);
        }
        return out;
    }
    void setting(const storage::SettingKey &key, const std::string &value) {
        storage::writeSetting(key, value);
    }

    TempEnv env;
    std::unique_ptr<storage::Database> db;
    RecordingPort port;

private:
    std::string m_dbPath;
};

// A record with the figures that matter in a test; the rest made up.
inline acquire::DayRecord rec(long long date, const std::string &code, std::optional<double> prc,
                              std::optional<double> dval = 1000, std::optional<double> talk = 10,
                              const std::string &market = "東証プライム") {
    acquire::DayRecord r;
    r.date = date;
    r.code = code;
    r.name = "銘柄" + code;
    r.prc = prc;
    r.dval = dval;
    r.talk = talk;
    r.market = market;
    return r;
}

} // namespace tesmo::test
