#include "core/net/charset.h"

#include "core/common/cp932.h"
#include "core/common/text.h"

#include <iconv.h>

#include <cerrno>

namespace tesmo::net {

std::string charsetOf(const std::string &contentType) {
    const std::string lower = lowerAscii(contentType);
    const auto at = lower.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string v = lower.substr(at + 8);
    const auto end = v.find_first_of("; \t");
    if (end != std::string::npos)
        v.resize(end);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\''))
        v = v.substr(1, v.size() - 2);
    return v;
}

namespace {

bool isCp932Name(const std::string &cs) {
    return cs.empty() || cs == "shift_jis" || cs == "shift-jis" || cs == "sjis" || cs == "x-sjis" ||
           cs == "windows-31j" || cs == "cp932" || cs == "ms932" || cs == "csshiftjis" ||
           cs == "ms_kanji";
}

// Converts from a charset other than code page 932 and UTF-8; a byte that the charset does
// not define becomes U+FFFD. Unknown charsets are read as code page 932.
std::string otherCharsetToUtf8(const std::string &body, const std::string &charset) {
    iconv_t cd = ::iconv_open("UTF-8", charset.c_str());
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
    if (cd == reinterpret_cast<iconv_t>(-1))
        return cp932ToUtf8(body);
    std::string out;
    char *in = const_cast<char *>(body.data());
    size_t left = body.size();
    char buf[4096];
    while (left > 0) {
        char *dst = buf;
        size_t room = sizeof buf;
        const size_t rc = ::iconv(cd, &in, &left, &dst, &room);
        const int err = errno;
        out.append(buf, static_cast<size_t>(dst - buf));
        if (rc == static_cast<size_t>(-1) && err != E2BIG) {
            out += "\xEF\xBF\xBD";
            ++in;
            --left;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(cd);
    return out;
}

} // namespace

std::string bodyToUtf8(const std::string &body, const std::string &contentType) {
    const std::string cs = charsetOf(contentType);
    if (cs == "utf-8" || cs == "utf8")
        return body;
    if (isCp932Name(cs))
        return cp932ToUtf8(body);
    return otherCharsetToUtf8(body, cs);
}

} // namespace tesmo::net
