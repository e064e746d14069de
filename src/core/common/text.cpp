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
