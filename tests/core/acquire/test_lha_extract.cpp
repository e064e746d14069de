#include "core/acquire/lha_extract.h"
#include "support/recording_port.h"
#include "support/temp_env.h"
#include "test_lha_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace tesmo;
using namespace tesmo::acquire;
using tesmo::test::level0Archive;
using tesmo::test::LhaMember;
using tesmo::test::RecordingPort;
using tesmo::test::TempEnv;

namespace {

const std::string kFixtures = std::string(TEST_DATA_DIR) + "/acquire/lha/";
const std::string kFailed = "[unLHA] un compress error";
const std::string kDay = "20240105.bnd";

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A port as the windows have one: from the `stopAt`th pause on, the program is asked to end
// and processEvents() raises StopRequested.
class StoppingPort : public RecordingPort {
public:
    explicit StoppingPort(int stopAt) : m_stopAt(stopAt) {}
    void processEvents() override {
        RecordingPort::processEvents();
        stop = stop || eventPumps >= m_stopAt;
        throwIfStopRequested(*this);
    }

private:
    int m_stopAt;
};

class LhaExtract : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dest); }
    std::vector<std::string> destFiles() const {
        std::vector<std::string> out;
        for (const auto &e : fs::directory_iterator(dest))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string archiveOf(const std::vector<LhaMember> &members) {
        const std::string path = env.path("t.lzh");
        writeFile(path, level0Archive(members));
        return path;
    }

    TempEnv env;
    RecordingPort port;
    std::string dest = env.path("dest");
    std::string day = test::fileBytes(kFixtures + "20240105.bnd");
};

TEST_F(LhaExtract, EveryHeaderLevelAndMethodUnpacksTheDayFileAndNothingElse) {
    // The stored folder is dropped; the other member of two_members.lzh stays in the archive.
    for (const char *archive : {"l0_lh5.lzh", "l1_lh5.lzh", "l2_lh5.lzh", "l2_lh0.lzh",
                                "folder_l2.lzh", "two_members.lzh"}) {
        SCOPED_TRACE(archive);
        fs::remove_all(dest);
        fs::create_directories(dest);
        EXPECT_EQ(extractArchive(kFixtures + archive, port, dest, kDay), "");
        EXPECT_EQ(destFiles(), std::vector<std::string>{kDay});
        EXPECT_EQ(test::fileBytes(dest + "/" + kDay), day);
    }
}

TEST_F(LhaExtract, OnlyTheNamedMemberIsEverWritten) {
    std::vector<LhaMember> members = tesmo::test::hostileMembers();
    members.insert(members.begin() + 2, {"data\\20240105.BND", "the day", {}});
    members.push_back({kDay, "a second copy", {}});
    EXPECT_EQ(extractArchive(archiveOf(members), port, dest, kDay), "");
    EXPECT_EQ(destFiles(), std::vector<std::string>{kDay});
    EXPECT_EQ(test::fileBytes(dest + "/" + kDay), "the day");

    // Without the member nothing is written, and a file of that name is left as it was.
    writeFile(dest + "/20240106.bnd", "kept");
    EXPECT_EQ(extractArchive(archiveOf(members), port, dest, "20240106.bnd"), "");
    EXPECT_EQ(test::fileBytes(dest + "/20240106.bnd"), "kept");
    EXPECT_EQ(destFiles(), (std::vector<std::string>{kDay, "20240106.bnd"}));
}

TEST_F(LhaExtract, PathsWithBlanksAndAnOlderFileOfTheSameName) {
    const std::string dir = env.path("my data");
    const std::string target = env.path("dest dir");
    fs::create_directories(dir);
    fs::create_directories(target);
    fs::copy_file(kFixtures + "l1_lh5.lzh", dir + "/tmp data.lzh");
    writeFile(target + "/20240105.bnd", "an older, shorter file");
    EXPECT_EQ(extractArchive(dir + "/tmp data.lzh", port, target + "/", kDay), "");
    EXPECT_EQ(test::fileBytes(target + "/20240105.bnd"), day);
}

TEST_F(LhaExtract, ASymbolicLinkInTheWayIsReplacedNotFollowed) {
    const std::string outside = env.path("outside.txt");
    writeFile(outside, "keep me");
    fs::create_symlink(outside, dest + "/20240105.bnd");
    EXPECT_EQ(extractArchive(kFixtures + "l0_lh5.lzh", port, dest, kDay), "");
    EXPECT_FALSE(fs::is_symlink(dest + "/20240105.bnd"));
    EXPECT_EQ(test::fileBytes(dest + "/20240105.bnd"), day);
    EXPECT_EQ(test::fileBytes(outside), "keep me");
}

TEST_F(LhaExtract, DamagedArchivesFailAndLeaveNoHalfFile) {
    const std::string good = test::fileBytes(kFixtures + "l0_lh5.lzh");
    std::string flippedData = good;
    flippedData[good.size() / 2] = static_cast<char>(flippedData[good.size() / 2] ^ 0x55);
    std::string flippedHeader = good;
    flippedHeader[1] = static_cast<char>(flippedHeader[1] ^ 0x01); // header checksum
    const std::pair<const char *, std::optional<std::string>> cases[] = {
        {"compressed data changed", flippedData},
        {"header checksum wrong", flippedHeader},
        {"cut in the middle", good.substr(0, good.size() / 2)},
        {"not an archive", std::string("20240105,1301,\"x\"\r\n")},
        {"empty file", std::string()},
        {"no such file", std::nullopt},
        {"a pipe, which would never end", std::nullopt},
    };
    for (const auto &[what, bytes] : cases) {
        SCOPED_TRACE(what);
        const std::string archive = env.path("damaged.lzh");
        fs::remove(archive);
        if (bytes)
            writeFile(archive, *bytes);
        if (std::string(what).starts_with("a pipe")) {
            ASSERT_EQ(::mkfifo(archive.c_str(), 0600), 0);
        }
        EXPECT_EQ(extractArchive(archive, port, dest, kDay), kFailed);
        EXPECT_TRUE(destFiles().empty());
    }
}

TEST_F(LhaExtract, StoredNamesAreDecodedAndHostileOnesNeverMatch) {
    const struct {
        const char *what;
        std::string stored;
        std::string wanted;
        bool taken;
    } cases[] = {
        {"plain", kDay, kDay, true},
        {"other case", "20240105.BND", kDay, true},
        {"folder dropped", "data\\20240105.bnd", kDay, true},
        {"code page 932 with 0x5C as second byte", "\x95\x5C\x8E\xA6.bnd", "表示.bnd", true},
        {"katakana in a folder", "\x83\x66\x81\x5B\x83\x5E\\\x93\xFA.bnd", "日.bnd", true},
        {"blank inside", "day 1.bnd", "day 1.bnd", true},
        // liblhasa drops ".." parts itself; the member still lands only in the folder.
        {"parent folder", "..\\20240105.bnd", kDay, true},
        {"absolute", "\\etc\\20240105.bnd", kDay, false},
        {"control character", "a\x01.bnd", "a\x01.bnd", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        fs::create_directories(dest);
        EXPECT_EQ(extractArchive(archiveOf({{c.stored, "payload", {}}}), port, dest, c.wanted), "");
        EXPECT_EQ(destFiles(),
                  c.taken ? std::vector<std::string>{c.wanted} : std::vector<std::string>{});
    }
    EXPECT_FALSE(fs::exists(env.path(kDay)));
    EXPECT_FALSE(fs::exists("/etc/20240105.bnd"));
}

TEST(LhaMemberName, NamesThatLeaveTheFolderAreRefusedWhateverTheLibraryPassesOn) {
    EXPECT_EQ(memberFileName("../", "evil.bnd"), "");
    EXPECT_EQ(memberFileName("sub/../../", "evil.bnd"), "");
    EXPECT_EQ(memberFileName("/etc/", "passwd"), "");
    EXPECT_EQ(memberFileName("\\\\host\\share\\", "x.bnd"), "");
    EXPECT_EQ(memberFileName("sub/", ".."), "");
    EXPECT_EQ(memberFileName("sub/", ""), "");
    EXPECT_EQ(memberFileName(nullptr, nullptr), "");
    EXPECT_EQ(memberFileName("sub/..x/", "20240105.bnd"), "20240105.bnd");
    EXPECT_EQ(memberFileName("\x95/", ".bnd"), "表.bnd");
}

TEST_F(LhaExtract, AMemberPastTheSizeLimitIsRefused) {
    const std::string archive =
        archiveOf({{kDay, "small", static_cast<uint32_t>(kMaxMemberBytes + 1)}});
    const std::string r = extractArchive(archive, port, dest, kDay);
    EXPECT_EQ(r.rfind(kFailed + "\r\nDetail:", 0), 0u) << r;
    EXPECT_NE(r.find("上限"), std::string::npos) << r;
    EXPECT_TRUE(destFiles().empty());
}

TEST_F(LhaExtract, AStoredMemberWithAWrongCrcFails) {
    std::string bytes = level0Archive({{"20240105.bnd", "payload", {}}});
    bytes[bytes.size() - 3] = 'X'; // inside the data, after the header's own checksum
    const std::string archive = env.path("crc.lzh");
    writeFile(archive, bytes);
    EXPECT_EQ(extractArchive(archive, port, dest, kDay), kFailed);
    EXPECT_TRUE(destFiles().empty());
}

TEST_F(LhaExtract, AStopRequestWhileUnpackingReachesTheCallerAndWritesNothing) {
    writeFile(dest + "/" + kDay, "an older file");
    const std::string big = env.path("big.lzh");
    writeFile(big, level0Archive({{kDay, std::string(1 << 20, 'x'), {}}}));
    const struct {
        std::string archive;
        int stopAt;
    } cases[] = {
        {kFixtures + "l0_lh5.lzh", 1},
        {kFixtures + "l2_lh5.lzh", 2},
        {kFixtures + "l2_lh0.lzh", 1},
        {big, 1},
        {big, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.archive + ", stopped at pause " + std::to_string(c.stopAt));
        StoppingPort stopping(c.stopAt);
        EXPECT_THROW(extractArchive(c.archive, stopping, dest, kDay), StopRequested);
        EXPECT_EQ(stopping.eventPumps, c.stopAt);
        // No half file, no private folder: the file of that name is as it was.
        EXPECT_EQ(destFiles(), std::vector<std::string>{kDay});
        EXPECT_EQ(test::fileBytes(dest + "/" + kDay), "an older file");
    }
    StoppingPort never(1000000);
    EXPECT_EQ(extractArchive(kFixtures + "l2_lh5.lzh", never, dest, kDay), "");
    EXPECT_EQ(test::fileBytes(dest + "/" + kDay), day);
}

} // namespace
