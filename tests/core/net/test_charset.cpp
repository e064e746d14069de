#include "core/net/charset.h"

#include "core/common/cp932.h"

#include <gtest/gtest.h>

#include <string>

using namespace tesmo;

namespace {

TEST(Charset, ParameterOfTheContentType) {
    const std::pair<std::string, std::string> cases[] = {
        {"text/html", ""},
        {"text/html; charset=Shift_JIS", "shift_jis"},
        {"text/html;charset=\"UTF-8\"", "utf-8"},
        {"text/html; charset='euc-jp'; format=flowed", "euc-jp"},
        {"TEXT/HTML; CHARSET=EUC-JP\t", "euc-jp"},
        {"text/html; charset=", ""},
    };
    for (const auto &[type, charset] : cases)
        EXPECT_EQ(net::charsetOf(type), charset) << type;
}

// Pages of the data sites come in code page 932, often without a word about it; others name
// what they are. A byte the named charset does not define shows as U+FFFD, not as a cut text.
TEST(Charset, BodiesBecomeUtf8) {
    const std::string utf8 = "株価 ｶﾌﾞｶ";
    const std::string sjis = utf8ToCp932(utf8);
    const std::string eucjp = "\xB3\xF4\xB2\xC1 \x8E\xB6\x8E\xCC\x8E\xDE\x8E\xB6";
    const struct {
        std::string body, type, text;
    } cases[] = {
        {sjis, "text/html", utf8},
        {sjis, "text/html; charset=MS932", utf8},
        {sjis, "text/html; charset=no-such-charset", utf8},
        {utf8, "text/html; charset=utf8", utf8},
        {eucjp, "text/html; charset=EUC-JP", utf8},
        {"a\xFF"
         "b",
         "text/plain; charset=us-ascii",
         "a\xEF\xBF\xBD"
         "b"},
        {"", "text/html; charset=euc-jp", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(net::bodyToUtf8(c.body, c.type), c.text) << c.type;
}

} // namespace
