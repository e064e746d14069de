// The signed list of a release: its format, the keys, and what a signature proves.
#include "core/update/release_manifest.h"
#include "core/update/release_publish.h"

#include "core/common/crypto.h"
#include "support/update_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tesmo;
using namespace tesmo::update;
namespace fs = std::filesystem;
using tesmo::test::fileBytes;

namespace {

TEST(ReleaseManifest, ReadsWhatItWritesAndRefusesAnythingElse) {
    const std::string a(64, 'a');
    const std::string good =
        "serial 12\n" + a + " 10 Tesmo\n" + std::string(64, '0') + " 0 tesmotesmo.mdb\n";
    const ReleaseManifest m = parseReleaseManifest(good);
    EXPECT_EQ(m.serial, 12);
    ASSERT_EQ(m.files.size(), 2u);
    ASSERT_NE(m.find("Tesmo"), nullptr);
    EXPECT_EQ(m.find("Tesmo")->size, 10);
    EXPECT_EQ(m.find("tesmo"), nullptr); // names are compared exactly
    EXPECT_EQ(formatReleaseManifest(m), good);
    EXPECT_TRUE(parseReleaseManifest("serial 3").files.empty());

    const std::string badLists[] = {
        std::string(),
        std::string("serial\n"),
        std::string("serial -1\n"),
        std::string("Serial 1\n"),
        std::string("serial 1\r\n"),
        std::string("serial 1234567890123456789\n"),
        std::string("serial 1\n\n"),
        "serial 1\n" + a + "  10 Tesmo\n",
        "serial 1\n" + std::string(64, 'A') + " 10 Tesmo\n",
        "serial 1\n" + a.substr(1) + " 10 Tesmo\n",
        "serial 1\n" + a + " ten Tesmo\n",
        "serial 1\n" + a + " -5 Tesmo\n",
        "serial 1\n" + a + " 1234567890123456 Tesmo\n",
        "serial 1\n" + a + " 10\n",
        "serial 1\n" + a + " 10 ../Tesmo\n",
        "serial 1\n" + a + " 10 /usr/bin/Tesmo\n",
        "serial 1\n" + a + " 10 ..\n",
        "serial 1\n" + a + " 10 Tes\tmo\n",
        "serial 1\n" + a + " 10 Tesmo\n" + a + " 11 Tesmo\n",
        "serial 1\n" + a + " 10 modules.sha256.installed\n",
    };
    for (const std::string &bad : badLists) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(parseReleaseManifest(bad), ManifestError);
    }
}

TEST(ReleaseSigning, OnlyThePublicKeyOfTheSignerAcceptsTheList) {
    test::TempEnv env;
    const std::string secret = env.path("release.secret");
    const std::string pub = env.path("release.pub");
    writeReleaseKeyPair(secret, pub);
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string pubText = fileBytes(pub);
    EXPECT_THROW(writeReleaseKeyPair(secret, env.path("other.pub")), std::runtime_error);
    EXPECT_THROW(writeReleaseKeyPair(env.path("other.secret"), pub), std::runtime_error);
    EXPECT_EQ(fileBytes(pub), pubText);

    const std::string dir = env.path("release");
    fs::create_directories(dir + "/folder");
    std::ofstream(dir + "/b.dat") << "second";
    std::ofstream(dir + "/a.dat") << "first";
    signReleaseFolder(secret, dir, 41);
    const std::string text = fileBytes(dir + "/" + kManifestFile);
    const std::string signature = fileBytes(dir + "/" + kSignatureFile);
    EXPECT_EQ(text, "serial 41\n" + crypto::sha256Hex("first") + " 5 a.dat\n" +
                        crypto::sha256Hex("second") + " 6 b.dat\n");

    const std::string key = crypto::fromBase64(pubText);
    EXPECT_TRUE(manifestSignatureMatches(text, signature, key));
    const std::string otherKey = crypto::newSigningKeyPair().publicKey;
    for (const auto &[list, sig, with] : {std::tuple{text + "\n", signature, key},
                                          {text, signature, otherKey},
                                          {text, signature.substr(0, 40), key},
                                          {text, std::string(), key},
                                          {text, "not base64!", key}})
        EXPECT_FALSE(manifestSignatureMatches(list, sig, with)) << sig;

    // A list signed again without a serial follows the one before it.
    signReleaseFolder(secret, dir, 999999999999999);
    EXPECT_EQ(signReleaseFolder(secret, dir).serial, 1000000000000000);
    // A serial given that does not follow it is refused for another list, unless forced: an
    // updater refuses a second list with the serial it installed.
    EXPECT_NO_THROW(signReleaseFolder(secret, dir, 1000000000000000));
    std::ofstream(dir + "/a.dat") << "first, changed";
    for (const long long serial : {1000000000000000LL, 5LL})
        EXPECT_THROW(signReleaseFolder(secret, dir, serial), std::runtime_error) << serial;
    EXPECT_EQ(signReleaseFolder(secret, dir, 5, true).serial, 5);
    // A name the updater would refuse is never signed.
    std::ofstream(dir + "/bad\nname") << "x";
    EXPECT_THROW(signReleaseFolder(secret, dir), std::runtime_error);
    EXPECT_THROW(signReleaseFolder(pub, dir, 1), std::runtime_error);
}

} // namespace
