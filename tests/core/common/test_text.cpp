#include "core/common/text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace tesmo;

namespace {

TEST(Text, ReplaceAllGoesLeftToRightAndNeverRescans) {
    const struct {
        std::string text, from, to, expected;
    } cases[] = {
        {"a-b-c", "-", "--", "a--b--c"}, // what was put in is not replaced again
        {"aaa", "aa", "b", "ba"},         {"abc", "", "x", "abc"},
        {"abc", "x", "y", "abc"},         {"xx", "x", "", ""},
        {"東京都", "京", "阪", "東阪都"}, {"\r\n\r\n", "\r\n", "\n", "\n\n"},
    };
    for (auto c : cases) {
        replaceAll(c.text, c.from, c.to);
        EXPECT_EQ(c.text, c.expected) << c.from << " -> " << c.to;
    }
}

TEST(Text, SplitTextKeepsEmptyPieces) {
    const struct {
        std::string text, sep;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a,b,,c", ",", {"a", "b", "", "c"}},     {"", ",", {""}},      {"abc", ",", {"abc"}},
        {"a<>b<>", "<>", {"a", "b", ""}},         {",", ",", {"", ""}}, {"a,b", "", {"a,b"}},
        {"銘柄\t東証P", "\t", {"銘柄", "東証P"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(splitText(c.text, c.sep), c.pieces) << c.text;
}

// Full-width ASCII, as an input method types it, becomes ASCII; nothing else changes.
TEST(Text, WidthAndCaseOfAsciiOnly) {
    const std::pair<std::string, std::string> halfWidth[] = {
        {"ＡＢＣｘｙｚ０１９", "ABCxyz019"},
        {"！～＊？＃［］", "!~*?#[]"},
        {"　a　", " a "},
        {"\xEF\xBC\x80\xEF\xBD\x9F", "\xEF\xBC\x80\xEF\xBD\x9F"}, // U+FF00, U+FF5F: outside
        {"ｶﾌﾞｼｷ極洋", "ｶﾌﾞｼｷ極洋"},
        {"x\xEF\xBC", "x\xEF\xBC"}, // cut short
    };
    for (const auto &[text, expected] : halfWidth)
        EXPECT_EQ(halfWidthAscii(text), expected) << text;
    EXPECT_EQ(lowerAscii("ABC xyz ÄÖ Ｑ 東京"), "abc xyz ÄÖ Ｑ 東京");
    const std::pair<std::string, std::string> codes[] = {
        {"　１３０ａ ", "130A"}, {"\t7203\t", "7203"}, {"  ", ""}, {"", ""}, {"ab c", "AB C"},
    };
    for (const auto &[typed, code] : codes)
        EXPECT_EQ(normalizeStockCode(typed), code) << typed;
}

TEST(Text, PercentEncodingLeavesOnlyUnreservedCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"aZ09-._~", "aZ09-._~"},
        {"a b/c?d=e&f+g", "a%20b%2Fc%3Fd%3De%26f%2Bg"},
        {"東", "%E6%9D%B1"},
        {std::string("\0\xFF", 2), "%00%FF"},
        {"", ""},
    };
    for (const auto &[text, encoded] : cases)
        EXPECT_EQ(percentEncoded(text), encoded) << text;
}

// Which characters steer a terminal or the direction of text, and what is not UTF-8.
TEST(Text, ControlCharactersAndBrokenUtf8AreDropped) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\tb\x7F", "ab"},
        {"\xC2\x85x\xC2\xA0", "x\xC2\xA0"},                       // NEL goes, no-break space stays
        {"\xD8\x9C\xE2\x80\x8Ex\xE2\x80\x8D", "x\xE2\x80\x8D"},   // marks go, joiner stays
        {"\xE2\x81\xA5\xE2\x81\xAA", "\xE2\x81\xA5\xE2\x81\xAA"}, // around the isolates
        {"\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80", ""}, // overlong, surrogate, past U+10FFFF
        {"😀ﾃｽﾄ", "😀ﾃｽﾄ"},
    };
    for (const auto &[text, kept] : cases)
        EXPECT_EQ(withoutControlCharacters(text), kept) << text;
}

// The limit counts characters, not bytes, and the "…" is one of them.
TEST(Text, SingleLineCutsAtTheLimitInCharacters) {
    const struct {
        std::string text;
        size_t limit;
        std::string shown;
    } cases[] = {
        {"abc", 0, ""},
        {"abc", 1, "…"},
        {"a", 1, "a"},
        {"東京都", 2, "東…"},
        {"東京", 2, "東京"},
        {"ab cd", 3, "ab…"},
        {"ab c", 4, "ab c"},
        {"a \xE2\x80\xAE b", std::string::npos, "a b"},
        {"\r\n\t", std::string::npos, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(singleLine(c.text, c.limit), c.shown) << c.text << " / " << c.limit;
}

// Names compare with ASCII letters folded only: bytes beyond ASCII (UTF-8 of full-width
// letters and kana) never match another case.
TEST(Text, NamesCompareIgnoringAsciiCaseOnly) {
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {"T_NEARLY", "t_nearly", true},
        {"userPortF7", "USERPORTF7", true},
        {"", "", true},
        {"a", "", false},
        {"ab", "abc", false},
        {"Ａ", "ａ", false},
        {"@[", "`{", false}, // the neighbours of the letters are no letters
        {"東京A", "東京a", true},
        {"ÄÖ", "äö", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(equalsIgnoringAsciiCase(c.b, c.a), c.same) << c.b << " / " << c.a;
        EXPECT_EQ(lowerAscii(c.a) == lowerAscii(c.b), c.same) << c.a << " / " << c.b;
    }
}

TEST(Text, WholeNumbersAreReadWholeOrRefused) {
    const std::pair<std::string, long long> good[] = {
        {"0", 0},     {"126010100", 126010100},
        {"-12", -12}, {"+7", 7},
        {" 42", 42},  {"9223372036854775807", 9223372036854775807LL},
    };
    for (const auto &[text, value] : good)
        EXPECT_EQ(parseWholeNumber(text, "サイズ"), value) << text;
    for (const std::string bad :
         {"", " ", "12 ", "1.5", "1e3", "0x10", "abc", "12abc", "9223372036854775808", "１２"}) {
        try {
            (void)parseWholeNumber(bad, "サイズ");
            ADD_FAILURE() << "accepted \"" << bad << "\"";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(e.what(), "サイズが数値ではありません: \"" + bad + "\"");
        }
    }
}

TEST(Text, LineBreaksForTheTerminal) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\r\nb\r\n", "a\nb\n"}, {"a\rb\n", "a\rb\n"}, {"\r\r\n\n", "\r\n\n"}, {"", ""}};
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(withLfNewlines(text), shown);
}

} // namespace
