#include "acquire/lha_extract.h"
#include "support/recording_port.h"
#include "support/temp_env.h"
#include "test_lha_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

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

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

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
    std::string day = readFile(kFixtures + "20240105.bnd");
};

TEST_F(LhaExtract, EveryHeaderLevelAndMethodUnpacksTheDayFile) {
    const struct {
        const char *archive;
        std::vector<std::string> files;
    } cases[] = {
        {"l0_lh5.lzh", {"20240105.bnd"}},
        {"l1_lh5.lzh", {"20240105.bnd"}},
        {"l2_lh5.lzh", {"20240105.bnd"}},
        {"l2_lh0.lzh", {"20240105.bnd"}},
        // The stored folder is dropped: the member lands in the destination itself.
        {"folder_l2.lzh", {"20240105.bnd"}},
        {"two_members.lzh", {"20240105.bnd", "note.txt"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.archive);
        fs::remove_all(dest);
        fs::create_directories(dest);
        EXPECT_EQ(ExtractArchive(kFixtures + c.archive, port, dest), "");
        EXPECT_EQ(destFiles(), c.files);
        EXPECT_EQ(readFile(dest + "/20240105.bnd"), day);
    }
    EXPECT_EQ(readFile(dest + "/note.txt"), readFile(kFixtures + "note.txt"));
}

TEST_F(LhaExtract, PathsWithBlanksAndAnOlderFileOfTheSameName) {
    const std::string dir = env.path("my data");
    const std::string target = env.path("dest dir");
    fs::create_directories(dir);
    fs::create_directories(target);
    fs::copy_file(kFixtures + "l1_lh5.lzh", dir + "/tmp data.lzh");
    writeFile(target + "/20240105.bnd", "an older, shorter file");
    EXPECT_EQ(ExtractArchive(dir + "/tmp data.lzh", port, target + "/"), "");
    EXPECT_EQ(readFile(target + "/20240105.bnd"), day);
}

TEST_F(LhaExtract, ASymbolicLinkInTheWayIsReplacedNotFollowed) {
    const std::string outside = env.path("outside.txt");
    writeFile(outside, "keep me");
    fs::create_symlink(outside, dest + "/20240105.bnd");
    EXPECT_EQ(ExtractArchive(kFixtures + "l0_lh5.lzh", port, dest), "");
    EXPECT_FALSE(fs::is_symlink(dest + "/20240105.bnd"));
    EXPECT_EQ(readFile(dest + "/20240105.bnd"), day);
    EXPECT_EQ(readFile(outside), "keep me");
}

TEST_F(LhaExtract, DamagedArchivesFailAndLeaveNoHalfFile) {
    const std::string good = readFile(kFixtures + "l0_lh5.lzh");
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
    };
    for (const auto &[what, bytes] : cases) {
        SCOPED_TRACE(what);
        const std::string archive = env.path("damaged.lzh");
        fs::remove(archive);
        if (bytes)
            writeFile(archive, *bytes);
        EXPECT_EQ(ExtractArchive(archive, port, dest), kFailed);
        EXPECT_TRUE(destFiles().empty());
    }
}

TEST_F(LhaExtract, MemberNamesAreDecodedAndHostileOnesRefused) {
    const struct {
        const char *what;
        std::string stored;
        std::string unpackedAs; // empty: refused
    } cases[] = {
        {"plain", "20240105.bnd", "20240105.bnd"},
        {"folder dropped", "data\\20240105.bnd", "20240105.bnd"},
        {"code page 932 with 0x5C as second byte", "\x95\x5C\x8E\xA6.bnd", "表示.bnd"},
        {"katakana in a folder", "\x83\x66\x81\x5B\x83\x5E\\\x93\xFA.bnd", "日.bnd"},
        {"blank inside", "day 1.bnd", "day 1.bnd"},
        // liblhasa drops ".." parts itself; what counts is that nothing lands outside.
        {"parent folder", "..\\evil.bnd", "evil.bnd"},
        {"parent folder after a folder", "sub\\..\\..\\evil.bnd", "evil.bnd"},
        {"absolute", "\\etc\\evil.bnd", ""},
        {"only dots", "..", ""},
        {"control character", "a\x01.bnd", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        fs::create_directories(dest);
        const std::string r = ExtractArchive(archiveOf({{c.stored, "payload", {}}}), port, dest);
        if (c.unpackedAs.empty()) {
            EXPECT_EQ(r.rfind(kFailed + "\r\nDetail:", 0), 0u) << r;
            EXPECT_TRUE(destFiles().empty());
        } else {
            EXPECT_EQ(r, "");
            EXPECT_EQ(destFiles(), std::vector<std::string>{c.unpackedAs});
            EXPECT_EQ(readFile(dest + "/" + c.unpackedAs), "payload");
        }
    }
    EXPECT_FALSE(fs::exists(env.path("evil.bnd")));
    EXPECT_FALSE(fs::exists("/etc/evil.bnd"));
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
        archiveOf({{"20240105.bnd", "small", static_cast<uint32_t>(kMaxMemberBytes + 1)}});
    const std::string r = ExtractArchive(archive, port, dest);
    EXPECT_EQ(r.rfind(kFailed + "\r\nDetail:", 0), 0u) << r;
    EXPECT_NE(r.find("上限"), std::string::npos) << r;
    EXPECT_TRUE(destFiles().empty());
}

TEST_F(LhaExtract, AStoredMemberWithAWrongCrcFails) {
    std::string bytes = level0Archive({{"20240105.bnd", "payload", {}}});
    bytes[bytes.size() - 3] = 'X'; // inside the data, after the header's own checksum
    const std::string archive = env.path("crc.lzh");
    writeFile(archive, bytes);
    EXPECT_EQ(ExtractArchive(archive, port, dest), kFailed);
    EXPECT_TRUE(destFiles().empty());
}

} // namespace
