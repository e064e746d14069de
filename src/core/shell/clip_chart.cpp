#include "core/shell/clip_chart.h"

#include "core/common/text.h"

namespace tesmo::shell {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isCodeLetter(char c) {
    return c >= 'A' && c <= 'Z' && c != 'B' && c != 'E' && c != 'I' && c != 'O' && c != 'Q' &&
           c != 'V' && c != 'Z';
}

bool isAlnum(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The four characters of a code at s[i], whatever follows them.
bool codeFormAt(const std::string &s, size_t i) {
    if (i + 4 > s.size())
        return false;
    if (!isDigit(s[i]) || !isDigit(s[i + 2]))
        return false;
    if (!isDigit(s[i + 1]) && !isCodeLetter(s[i + 1]))
        return false;
    return isDigit(s[i + 3]) || isCodeLetter(s[i + 3]);
}

// A code of `length` characters (4, or 5 with a digit last) standing on its own at s[i].
bool codeAt(const std::string &s, size_t i, size_t length) {
    if (i + length > s.size() || !codeFormAt(s, i))
        return false;
    if (length == 5 && !isDigit(s[i + 4]))
        return false;
    return (i == 0 || !isAlnum(s[i - 1])) && (i + length == s.size() || !isAlnum(s[i + length]));
}

} // namespace

std::string codeFromClipboardText(const std::string &text, const KnownCode &known) {
    std::string s = halfWidthAscii(text);
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (size_t i = 0; i < s.size(); ++i) {
        if (codeAt(s, i, 4))
            return s.substr(i, 4);
        if (codeAt(s, i, 5)) {
            std::string code = s.substr(i, 5);
            if (known && known(code))
                return code;
            if (code.back() == '0')
                return code.substr(0, 4);
        }
    }
    std::string digits;
    for (char c : s) {
        if (digits.size() >= 4)
            break;
        if (isDigit(c))
            digits += c;
    }
    return digits;
}

} // namespace tesmo::shell
