#include "core/common/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace tesmo {

void replaceAll(std::string &s, const std::string &from, const std::string &to) {
    if (from.empty())
        return;
    size_t at = s.find(from);
    if (at == std::string::npos)
        return;
    // Built anew rather than replaced in place: each replace in place moves the whole rest of
    // the text, which made a long text with many hits quadratic.
    std::string out;
    out.reserve(s.size());
    size_t start = 0;
    for (; at != std::string::npos; at = s.find(from, start)) {
        out.append(s, start, at - start);
        out += to;
        start = at + from.size();
    }
    out.append(s, start);
    s = std::move(out);
}

namespace {

// The code point that starts at byte `i` and its length; length 0 for a byte that starts no
// UTF-8 sequence (a stray continuation byte, an overlong form, a surrogate, a sequence cut
// short or beyond U+10FFFF).
struct CodePoint {
    char32_t value;
    size_t length;
};
CodePoint codePointAt(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80)
        return {b0, 1};
    size_t n = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1Fu, least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0Fu, least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07u, least = 0x10000;
    } else {
        return {0, 0};
    }
    if (i + n > s.size())
        return {0, 0};
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return {0, 0};
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {0, 0};
    return {cp, n};
}

// Characters that act on a terminal or on the order in which text is shown instead of being
// shown: a name with a right-to-left override reads backwards in every table after it.
bool steersText(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E ||
           c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool breaksLine(char32_t c) {
    return c == '\r' || c == '\n' || c == '\t' || c == '\v' || c == '\f';
}

} // namespace

std::string withoutControlCharacters(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const CodePoint c = codePointAt(utf8, i);
        if (c.length == 0) {
            ++i;
            continue;
        }
        if (!steersText(c.value))
            out.append(utf8, i, c.length);
        i += c.length;
    }
    return out;
}

std::string singleLine(std::string_view text, size_t limit) {
    if (limit == 0)
        return {};
    std::string out;
    size_t shown = 0;    // characters in `out`
    size_t lastFits = 0; // bytes of the first limit - 1 characters: where a cut goes
    bool blank = false;  // blanks and line breaks wait to become one blank before the next
    const auto add = [&](std::string_view piece) {
        out += piece;
        if (++shown == limit - 1)
            lastFits = out.size();
    };
    for (size_t i = 0; i < text.size();) {
        const size_t at = i;
        const CodePoint c = codePointAt(text, i);
        i += c.length ? c.length : 1;
        if (c.length == 0)
            continue;
        if (breaksLine(c.value) || c.value == ' ') {
            blank = !out.empty();
            continue;
        }
        if (steersText(c.value))
            continue;
        if (shown + (blank ? 2 : 1) > limit) {
            if (shown == limit)
                out.resize(lastFits);
            return out + "…";
        }
        if (blank)
            add(" ");
        blank = false;
        add(text.substr(at, c.length));
    }
    return out;
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

namespace {
char lowerAsciiChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

std::string lowerAscii(std::string s) {
    for (char &c : s)
        c = lowerAsciiChar(c);
    return s;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lowerAsciiChar(x) == lowerAsciiChar(y); });
}

std::string quoteDoubled(std::string_view text, char quote) {
    std::string out(1, quote);
    for (char c : text) {
        out += c;
        if (c == quote)
            out += quote;
    }
    return out + quote;
}

long long parseWholeNumber(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || !end || *end != '\0')
        throw std::runtime_error(what + "が数値ではありません: \"" + text + "\"");
    return v;
}

std::string withLfNewlines(std::string text) {
    replaceAll(text, "\r\n", "\n");
    return text;
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
