#include "core/acquire/day_cipher.h"
#include "core/acquire/day_file_writer.h"
#include "core/common/cp932.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

namespace tesmo::acquire {
namespace {

TEST(DayCipher, HandCheckedVector) {
    // Key "ab": byte 1 uses 'b' (98), byte 2 uses 'a' (97), byte 3 'b' again.
    //   'A' 65 + 98 + 0 = 163 = A3
    //   ',' 44 + 97 + 0 = 141 = 8D, then the shift becomes 3
    //   'B' 66 + 98 + 3 = 167 = A7
    DayCipher c("ab");
    EXPECT_EQ(c.encipher("A,B"), "A38DA7");
    c.reset();
    EXPECT_EQ(c.decipher("A38DA7"), "A,B");
    EXPECT_EQ(c.counter(), 3);
    EXPECT_EQ(c.shift(), 3);
}

TEST(DayCipher, FirstByteOfASectionUsesTheSecondKeyCharacter) {
    DayCipher c(kDayFileKey);
    // 'D' (68) + 'e' (101) = 169 = A9; the key's first character 'p' serves byte 14.
    EXPECT_EQ(c.encipher("D"), "A9");
    c.reset();
    const std::string hex = c.encipher(std::string(14, '\0'));
    EXPECT_EQ(hex.substr(26, 2), "70"); // 'p' = 0x70
}

TEST(DayCipher, ShiftWrapsAfter86Separators) {
    DayCipher c("a");
    const std::string plain = std::string(43, ',') + std::string(43, '\t') + "A";
    const std::string hex = c.encipher(plain);
    EXPECT_EQ(c.shift(), 2); // 86 * 3 = 258 -> 2
    // The last byte: 'A' 65 + 'a' 97 + 2 = 164 = A4.
    EXPECT_EQ(hex.substr(hex.size() - 2), "A4");
    c.reset();
    EXPECT_EQ(c.decipher(hex), plain);
    EXPECT_EQ(c.shift(), 2);
}

TEST(DayCipher, KeyLongerThan14CharactersUsesTheFirst14) {
    DayCipher longKey("pebbleriverfoxEXTRA");
    DayCipher key(kDayFileKey);
    EXPECT_EQ(longKey.keyCodes(), key.keyCodes());
    EXPECT_EQ(longKey.keyCodes().size(), 14u);
    EXPECT_EQ(longKey.encipher("DATE,CODE,NAME,PRC"), key.encipher("DATE,CODE,NAME,PRC"));
}

TEST(DayCipher, KeyCharactersCountByTheirCodePage932Code) {
    DayCipher c("あa");
    ASSERT_EQ(c.keyCodes().size(), 2u);
    EXPECT_EQ(c.keyCodes()[0], 0x82A0);
    EXPECT_EQ(c.keyCodes()[1], 'a');
    // Byte 1 uses "a" again (n mod 2 = 1 -> position 2), byte 2 uses あ, taken modulo 256.
    const std::string hex = c.encipher("xy");
    c.reset();
    EXPECT_EQ(c.decipher(hex), "xy");
    EXPECT_EQ(hex.substr(2), "19"); // 'y' 121 + 0x82A0 = 0x8319 -> 19
    EXPECT_THROW(DayCipher(""), DayCipherError);
}

TEST(DayCipher, StateRunsOnAcrossLines) {
    DayCipher c(kDayFileKey);
    const std::string header = c.encipher(kDataSectionHeader);
    const std::string plain = utf8ToCp932("20240105,1301,\"極洋\",3920,21500,12,\"東証\"");
    const std::string record = c.encipher(plain);
    DayCipher fresh(kDayFileKey);
    EXPECT_NE(fresh.decipher(record), plain);
    DayCipher reader(kDayFileKey);
    EXPECT_EQ(reader.decipher(header), kDataSectionHeader);
    EXPECT_EQ(reader.decipher(record), plain);
}

TEST(DayCipher, RefusesBrokenHexadecimalText) {
    struct Case {
        const char *hex;
        const char *fragment;
    } cases[] = {
        {"A3F", "奇数"},
        {"a38d", "'a'"},
        {"A3G1", "'G'"},
        {"A3 1", "' '"},
    };
    for (const auto &c : cases) {
        DayCipher cipher("ab");
        try {
            cipher.decipher(c.hex);
            ADD_FAILURE() << c.hex;
        } catch (const DayCipherError &e) {
            EXPECT_NE(std::string(e.what()).find(c.fragment), std::string::npos) << e.what();
        }
    }
}

TEST(DayCipher, SeparatorLineIsRecognisedByItsFirst25Characters) {
    EXPECT_TRUE(isSeparatorLine("+=+=+=+=+=+=+=+=+=+=+=+=+"));
    EXPECT_TRUE(isSeparatorLine("+=+=+=+=+=+=+=+=+=+=+=+=+ end of section"));
    EXPECT_FALSE(isSeparatorLine("+=+=+=+=+=+=+=+=+=+=+=+="));
    EXPECT_FALSE(isSeparatorLine("=+=+=+=+=+=+=+=+=+=+=+=+=+"));
    EXPECT_FALSE(isSeparatorLine(""));
}

TEST(Cp932, ConvertsBothWays) {
    const std::string text = "極洋 ﾃﾞｰﾀ ～ ① \\ ~";
    EXPECT_EQ(cp932ToUtf8(utf8ToCp932(text)), text);
    EXPECT_EQ(utf8ToCp932("あ"), "\x82\xA0");
    EXPECT_EQ(utf8ToCp932("ABC"), "ABC");
    EXPECT_EQ(cp932ToUtf8("\xB6\xC5"), "ｶﾅ");
}

TEST(Cp932, UndefinedBytesBecomeTheDefaultCharacter) {
    EXPECT_EQ(cp932ToUtf8("A\x82"), "A・");            // cut short
    EXPECT_EQ(cp932ToUtf8("\x82\x20Z"), "・ Z");       // no trail byte
    EXPECT_THROW(utf8ToCp932("😀"), Cp932Error);        // outside the code page
    EXPECT_THROW(utf8ToCp932("\xFF\xFE"), Cp932Error); // not UTF-8
}

TEST(DayFileWriter, MatchesTheIndependentlyMadeFixture) {
    // tests/data/acquire/make_fixtures.py wrote this file with its own cipher.
    DayFileWriter w;
    w.header("お知らせ").line("このファイルはテスト用です").separator();
    w.header(kDataSectionHeader);
    DayRecord a{20240105, "1301", "極洋", 3920, 21500, 12, "東証プライム"};
    DayRecord b{20240105, "130A", "Ｖｅｒｉｔａｓ \"Ｉｎ\" Ｓｉｌｉｃｏ", 1234.5, 0, {}, ""};
    w.record(a).record(b);
    w.line("20240105,7203,\"トヨタ自動車\",2680,30516300,415,");
    w.separator();
    EXPECT_EQ(w.bytes(), test::fileBytes(TEST_DATA_DIR "/acquire/ok/20240105.bnd"));

    // The whole-file helper writes the same sections; without the third record the fixture
    // and its output agree to the byte.
    std::string fixture = test::fileBytes(TEST_DATA_DIR "/acquire/ok/20240105.bnd");
    size_t lineStart = 0;
    for (int i = 0; i < 6; ++i)
        lineStart = fixture.find("\r\n", lineStart) + 2;
    fixture.erase(lineStart, fixture.find("\r\n", lineStart) + 2 - lineStart);
    DayFileOptions options;
    options.notice = {"お知らせ", "このファイルはテスト用です"};
    EXPECT_EQ(dayFileBytes({a, b}, options), fixture);
}

TEST(DayFileWriter, FormatsRecordsAsTheDataSiteDoes) {
    EXPECT_EQ(formatDayRecord({20240105, "1301", "極洋", 3920, 21500, 12, "東証"}),
              "20240105,1301,\"極洋\",3920,21500,12,\"東証\"");
    EXPECT_EQ(formatDayRecord({20240105, "130A", "a\"b", 12.25, {}, 0, ""}),
              "20240105,\"130A\",\"a\"\"b\",12.25,,0,\"\"");
}

TEST(DayFileWriter, SampleDaysAreRepeatable) {
    const auto a = sampleDayRecords(20240105, 50, 7);
    const auto b = sampleDayRecords(20240105, 50, 7);
    ASSERT_EQ(a.size(), 50u);
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(formatDayRecord(a[i]), formatDayRecord(b[i]));
    EXPECT_EQ(a.front().code, "1301");
    EXPECT_NE(formatDayRecord(sampleDayRecords(20240106, 1, 7)[0]), formatDayRecord(a[0]));
}

} // namespace
} // namespace tesmo::acquire
