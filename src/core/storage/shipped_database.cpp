#include "core/storage/shipped_database.h"

#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/db_error.h"

#include <filesystem>
#include <sstream>
#include <vector>

namespace tesmo::storage {
namespace {

struct Schema {
    std::string tables;
    std::string portfolio;
    std::vector<SchemaUpgrade> upgrades;
    std::vector<std::pair<std::string, std::string>> queries;
};

Schema parseSchema(const std::string &text) {
    Schema schema;
    std::istringstream in(text);
    std::string line;
    std::string *target = nullptr;
    bool inQuery = false;
    while (std::getline(in, line)) {
        if (line.rfind("-- @section ", 0) == 0) {
            const std::string name = line.substr(12);
            target = name == "portfolio" ? &schema.portfolio : &schema.tables;
            inQuery = false;
            continue;
        }
        if (line.rfind("-- @upgrade ", 0) == 0) {
            schema.upgrades.push_back({line.substr(12), ""});
            target = &schema.upgrades.back().sql;
            inQuery = false;
            continue;
        }
        if (line.rfind("-- @query ", 0) == 0) {
            schema.queries.emplace_back(line.substr(10), "");
            target = &schema.queries.back().second;
            inQuery = true;
            continue;
        }
        if (!target || (inQuery && line.rfind("--", 0) == 0))
            continue;
        *target += line + "\n";
    }
    for (auto &[name, sql] : schema.queries)
        while (!sql.empty() && (sql.back() == '\n' || sql.back() == ' '))
            sql.pop_back();
    return schema;
}

void removeOnFailure(const std::string &path) {
    std::error_code ec;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        std::filesystem::remove(path + suffix, ec);
}

} // namespace

void createShippedDatabase(const std::string &path) {
    const Schema schema = parseSchema(kSchemaSql);
    auto db = createDatabaseFile(path, kDbPassword);
    try {
        db->executeNative(schema.tables);
        for (const SchemaUpgrade &u : schema.upgrades)
            db->executeNative(u.sql);
        db->executeNative(schema.portfolio);
        for (const auto &[name, sql] : schema.queries)
            db->createQueryDef(name, sql);
        db->checkpoint();
        db->close();
    } catch (const DbError &) {
        db->close();
        removeOnFailure(path);
        throw;
    }
}

const std::vector<SchemaUpgrade> &schemaUpgrades() {
    static const std::vector<SchemaUpgrade> upgrades = parseSchema(kSchemaSql).upgrades;
    return upgrades;
}

void createPortfolioDatabase(const std::string &path) {
    const Schema schema = parseSchema(kSchemaSql);
    auto db = createDatabaseFile(path, "");
    try {
        db->executeNative(schema.portfolio);
        db->checkpoint();
        db->close();
    } catch (const DbError &) {
        db->close();
        removeOnFailure(path);
        throw;
    }
}

} // namespace tesmo::storage
