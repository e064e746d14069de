#include "core/common/cp932.h"

#include <cerrno>
#include <iconv.h>

namespace tesmo {
namespace {

// One conversion descriptor per direction and thread: opening one costs far more than
// converting a short line, and the decoder converts thousands of them.
class Converter {
public:
    Converter(const char *to, const char *from) : m_cd(::iconv_open(to, from)) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw Cp932Error(std::string("文字コード変換を用意できません: ") + from + " -> " + to);
    }
    ~Converter() { ::iconv_close(m_cd); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts as much as it can; returns false and leaves `in`/`left` at the offending
    // byte when the input holds a sequence that the source code page does not define.
    bool convert(const char *&in, size_t &left, std::string &out) {
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // reset the shift state
        char buf[1024];
        while (left > 0) {
            char *dst = buf;
            size_t room = sizeof buf;
            char *src = const_cast<char *>(in);
            const size_t rc = ::iconv(m_cd, &src, &left, &dst, &room);
            const int err = errno;
            in = src;
            out.append(buf, static_cast<size_t>(dst - buf));
            if (rc != static_cast<size_t>(-1))
                continue;
            if (err == E2BIG)
                continue;
            return false; // EILSEQ or EINVAL (cut short at the end)
        }
        return true;
    }

private:
    iconv_t m_cd;
};

bool allAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string cp932ToUtf8(std::string_view bytes) {
    if (allAscii(bytes))
        return std::string(bytes);
    thread_local Converter conv("UTF-8", "CP932");
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const char *in = bytes.data();
    size_t left = bytes.size();
    while (!conv.convert(in, left, out)) {
        out += "\xE3\x83\xBB"; // U+30FB
        ++in;
        --left;
    }
    return out;
}

std::string utf8ToCp932(std::string_view text) {
    if (allAscii(text))
        return std::string(text);
    thread_local Converter conv("CP932", "UTF-8");
    std::string out;
    const char *in = text.data();
    size_t left = text.size();
    if (!conv.convert(in, left, out))
        throw Cp932Error("CP932 で表せない文字があります: \"" + std::string(text) + "\"");
    return out;
}

} // namespace tesmo
