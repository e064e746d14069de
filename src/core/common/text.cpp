#include "common/text.h"

#include <cctype>

namespace tesmo {

void replaceAll(std::string &s, const std::string &from, const std::string &to) {
    if (from.empty())
        return;
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

std::vector<std::string> splitText(const std::string &s, const std::string &sep) {
    std::vector<std::string> out;
    if (sep.empty())
        return {s};
    size_t start = 0;
    for (size_t at = s.find(sep); at != std::string::npos; at = s.find(sep, start)) {
        out.push_back(s.substr(start, at - start));
        start = at + sep.size();
    }
    out.push_back(s.substr(start));
    return out;
}

std::string lowerAscii(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string halfWidthAscii(const std::string &utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        if (b0 == 0xEF && i + 2 < utf8.size()) {
            // U+FF01..U+FF5E are EF BC 81..EF BC BF and EF BD 80..EF BD 9E.
            const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
            const auto b2 = static_cast<unsigned char>(utf8[i + 2]);
            const unsigned cp = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
            if (cp >= 0xFF01 && cp <= 0xFF5E) {
                out += static_cast<char>(cp - 0xFEE0);
                i += 2;
                continue;
            }
        } else if (b0 == 0xE3 && i + 2 < utf8.size() && utf8[i + 1] == '\x80' &&
                   utf8[i + 2] == '\x80') {
            out += ' '; // U+3000
            i += 2;
            continue;
        }
        out += utf8[i];
    }
    return out;
}

std::string normalizeStockCode(const std::string &utf8) {
    std::string s = halfWidthAscii(utf8);
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    s = s.substr(b, s.find_last_not_of(" \t") - b + 1);
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string percentEncoded(const std::string &text) {
    static const char *const hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace tesmo
