#include "core/common/text.h"
#include "core/shell/clip_chart.h"

#include <gtest/gtest.h>

namespace tesmo::shell {
namespace {

TEST(ClipChart, CodeOfTheExchangesFormThenTheDigitsRule) {
    const struct {
        const char *text, *code;
    } cases[] = {
        {"130A 新興テック", "130A"},
        {"１３０ａ", "130A"}, // full width, lower case
        {"銘柄コード: 7203", "7203"},
        {"トヨタ 7203 自動車", "7203"},
        {"1B0A", "10"},             // B is not given out: the digits rule
        {"12-345678", "1234"},      // digits inside a longer number are no code
        {"ｺｰﾄﾞ135a、130A", "135A"}, // the first code
        {"x130A", "130"},           // glued to a letter: no code of its own
        {"13A0", "130"},            // a letter in the third place: digits rule
        {"新興テック", ""},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(codeFromClipboardText(c.text), c.code) << c.text;
}

// J-Quants writes every issue with five characters: a preferred share listed in the master
// opens itself, a common share (0 at the end) its four-character code.
TEST(ClipChart, FiveCharacterCodesOfTheMaster) {
    const KnownCode master = [](const std::string &code) {
        return code == "25935" || code == "7203" || code == "130A";
    };
    const struct {
        const char *text, *code;
    } cases[] = {
        {"25935", "25935"},      {"伊藤園 優先株 25935 を買う", "25935"},
        {"２５９３５", "25935"}, // full width
        {"72030", "7203"},       // the common share's form
        {"130a0", "130A"},       // alphanumeric common share
        {"12345", "1234"},       // not in the master: the digits rule
        {"259351", "2593"},      // six digits are no code
        {"7203 25935", "7203"},  // the first code
    };
    for (const auto &c : cases)
        EXPECT_EQ(codeFromClipboardText(c.text, master), c.code) << c.text;
    EXPECT_EQ(codeFromClipboardText("25935"), "2593"); // without a master to ask
}

TEST(ClipChart, TypedCodesAreHalfWidthAndUpperCase) {
    EXPECT_EQ(normalizeStockCode("　１３０ａ "), "130A");
    EXPECT_EQ(normalizeStockCode("7203"), "7203");
    EXPECT_EQ(halfWidthAscii("ｔｏｙｏｔａ＊１３？"), "toyota*13?");
    EXPECT_EQ(halfWidthAscii("極洋ﾎﾟｰﾄ"), "極洋ﾎﾟｰﾄ"); // kanji and half-width kana untouched
}

} // namespace
} // namespace tesmo::shell
