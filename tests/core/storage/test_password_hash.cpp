// Database passwords are kept as salted SHA-256 hashes; the digest comes from libsodium, and
// the hashes written by earlier versions of the program still open their files.
#include "core/common/crypto.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/db_error.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace tesmo;

TEST(PasswordHash, DigestsAndHashesOfEarlierVersionsStillHold) {
    EXPECT_EQ(crypto::sha256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(crypto::sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    crypto::Sha256 pieces;
    for (const char *piece : {"a", "", "bc"})
        pieces.update(piece, std::char_traits<char>::length(piece));
    EXPECT_EQ(pieces.hexDigest(), crypto::sha256Hex("abc"));

    // The catalog entry of a database that the earlier program wrote (salt:hash of "qarvel").
    test::TempEnv env;
    const std::string path = env.newDatabase();
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "UPDATE tesmo_sys_meta SET value = '3256aa4a7b6336179938f83e4822690c:"
                           "9ae446f7704b30bf82272de9f4de9ab615c03fec8d81c86a0a6a2f8bc663f50f' "
                           "WHERE key = 'password'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(raw), 1);
    sqlite3_close(raw);

    EXPECT_NO_THROW(storage::Database::open(path, storage::kConnectString));
    EXPECT_THROW(storage::Database::open(path, ";pwd=qarvel2"), storage::DbError);
}
