#include "storage/jet_functions.h"

#include <sqlite3.h>

#include <ctime>
#include <string>
#include <vector>

namespace tesmo::storage {
namespace {

std::u32string decodeUtf8(const char *s) {
    std::u32string out;
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    while (*p) {
        char32_t c = *p;
        int extra = 0;
        if (c >= 0xF0) {
            c &= 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            c &= 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            c &= 0x1F;
            extra = 1;
        }
        ++p;
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra, ++p)
            c = (c << 6) | (*p & 0x3F);
        out += c;
    }
    return out;
}

// The match ignores case and width: the full-width forms of ASCII characters (what an input
// method types) count as their half-width forms, letters as lower case.
char32_t fold(char32_t c) {
    if (c >= 0xFF01 && c <= 0xFF5E)
        c -= 0xFEE0;
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    return c;
}

// Matches a character class "[...]" starting at pattern[pi] (the '['); returns false when the
// class is malformed, with matched set accordingly. `next` receives the index after ']'.
bool matchClass(const std::u32string &pat, size_t pi, char32_t c, bool &matched, size_t &next) {
    size_t i = pi + 1;
    bool negate = false;
    if (i < pat.size() && pat[i] == U'!') {
        negate = true;
        ++i;
    }
    bool hit = false;
    bool first = true;
    while (i < pat.size() && (pat[i] != U']' || first)) {
        first = false;
        char32_t lo = fold(pat[i]);
        if (i + 2 < pat.size() && pat[i + 1] == U'-' && pat[i + 2] != U']') {
            const char32_t hi = fold(pat[i + 2]);
            if (fold(c) >= lo && fold(c) <= hi)
                hit = true;
            i += 3;
        } else {
            if (fold(c) == lo)
                hit = true;
            ++i;
        }
    }
    if (i >= pat.size())
        return false;
    next = i + 1;
    matched = hit != negate;
    return true;
}

bool matchFrom(const std::u32string &pat, size_t pi, const std::u32string &txt, size_t ti) {
    while (pi < pat.size()) {
        const char32_t p = pat[pi];
        if (p == U'*') {
            while (pi < pat.size() && pat[pi] == U'*')
                ++pi;
            if (pi == pat.size())
                return true;
            for (size_t k = ti; k <= txt.size(); ++k)
                if (matchFrom(pat, pi, txt, k))
                    return true;
            return false;
        }
        if (ti >= txt.size())
            return false;
        const char32_t c = txt[ti];
        if (p == U'?') {
            ++pi;
        } else if (p == U'#') {
            if (fold(c) < U'0' || fold(c) > U'9')
                return false;
            ++pi;
        } else if (p == U'[') {
            bool matched = false;
            size_t next = 0;
            if (matchClass(pat, pi, c, matched, next)) {
                if (!matched)
                    return false;
                pi = next;
            } else {
                if (c != U'[') // an unclosed '[' stands for itself
                    return false;
                ++pi;
            }
        } else {
            if (fold(p) != fold(c))
                return false;
            ++pi;
        }
        ++ti;
    }
    return ti == txt.size();
}

void likeFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    (void)argc;
    // SQLite calls like(pattern, text) for "text LIKE pattern".
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto *pattern = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(argv[1]));
    sqlite3_result_int(ctx, jetLike(text ? text : "", pattern ? pattern : "") ? 1 : 0);
}

void nowFunction(sqlite3_context *ctx, int, sqlite3_value **) {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

} // namespace

bool jetLike(const char *text, const char *pattern) {
    return matchFrom(decodeUtf8(pattern), 0, decodeUtf8(text), 0);
}

void registerJetFunctions(sqlite3 *db) {
    sqlite3_create_function(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            likeFunction, nullptr, nullptr);
    sqlite3_create_function(db, "now", 0, SQLITE_UTF8, nullptr, nowFunction, nullptr, nullptr);
}

} // namespace tesmo::storage
