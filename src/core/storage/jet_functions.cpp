#include "core/storage/jet_functions.h"

#include "core/storage/db_error.h"

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

// A pattern taken apart once. Every item but a star stands for exactly one character of the
// text, so a failed attempt only ever has to go back to the last star: the match costs at
// most text length times pattern length, whatever the number of stars.
struct Pattern {
    enum class Kind { Star, Any, Digit, Char, OpenBracket, Class };
    struct Item {
        Kind kind;
        char32_t c = 0;  // Char: folded
        size_t from = 0; // Class: its ranges are ranges[from] .. ranges[to - 1]
        size_t to = 0;
        bool negate = false; // Class: "[!...]"
    };
    std::vector<Item> items;
    std::vector<std::pair<char32_t, char32_t>> ranges; // folded bounds, both included

    bool matches(const Item &item, char32_t c) const {
        const char32_t f = fold(c);
        switch (item.kind) {
        case Kind::Any:
            return true;
        case Kind::Digit:
            return f >= U'0' && f <= U'9';
        case Kind::Char:
            return f == item.c;
        case Kind::OpenBracket:
            return c == U'[';
        case Kind::Class:
            for (size_t r = item.from; r < item.to; ++r)
                if (f >= ranges[r].first && f <= ranges[r].second)
                    return !item.negate;
            return item.negate;
        case Kind::Star:
            break;
        }
        return false;
    }
};

// A class "[...]" starts at pat[at]; a ']' right after "[" or "[!" is a member, "a-z" a range.
// Returns false for a class without its ']', whose '[' then stands for itself.
bool addClass(const std::u32string &pat, size_t at, Pattern &out, size_t &next) {
    Pattern::Item item{Pattern::Kind::Class};
    size_t i = at + 1;
    if (i < pat.size() && pat[i] == U'!') {
        item.negate = true;
        ++i;
    }
    item.from = out.ranges.size();
    for (bool first = true; i < pat.size() && (pat[i] != U']' || first); first = false) {
        const char32_t lo = fold(pat[i]);
        if (i + 2 < pat.size() && pat[i + 1] == U'-' && pat[i + 2] != U']') {
            out.ranges.emplace_back(lo, fold(pat[i + 2]));
            i += 3;
        } else {
            out.ranges.emplace_back(lo, lo);
            ++i;
        }
    }
    if (i >= pat.size()) {
        out.ranges.resize(item.from);
        return false;
    }
    item.to = out.ranges.size();
    out.items.push_back(item);
    next = i + 1;
    return true;
}

Pattern compile(const std::u32string &pat) {
    Pattern out;
    for (size_t i = 0; i < pat.size();) {
        const char32_t p = pat[i];
        if (p == U'*') {
            // A run of stars is one star.
            while (i < pat.size() && pat[i] == U'*')
                ++i;
            out.items.push_back({Pattern::Kind::Star});
        } else if (p == U'[') {
            if (!addClass(pat, i, out, i)) {
                out.items.push_back({Pattern::Kind::OpenBracket});
                ++i;
            }
        } else {
            if (p == U'?')
                out.items.push_back({Pattern::Kind::Any});
            else if (p == U'#')
                out.items.push_back({Pattern::Kind::Digit});
            else
                out.items.push_back({Pattern::Kind::Char, fold(p)});
            ++i;
        }
    }
    return out;
}

bool matchPattern(const Pattern &pat, const std::u32string &txt) {
    const std::vector<Pattern::Item> &items = pat.items;
    constexpr size_t kNoStar = static_cast<size_t>(-1);
    size_t pi = 0;
    size_t ti = 0;
    size_t afterStar = kNoStar; // the item after the last star passed
    size_t starText = 0;        // where the text after that star starts in this attempt
    while (ti < txt.size()) {
        if (pi < items.size() && items[pi].kind == Pattern::Kind::Star) {
            afterStar = ++pi;
            starText = ti;
        } else if (pi < items.size() && pat.matches(items[pi], txt[ti])) {
            ++pi;
            ++ti;
        } else if (afterStar != kNoStar) {
            // The last star takes one more character, and the rest is tried again from there.
            pi = afterStar;
            ti = ++starText;
        } else {
            return false;
        }
    }
    while (pi < items.size() && items[pi].kind == Pattern::Kind::Star)
        ++pi;
    return pi == items.size();
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
    (void)std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

} // namespace

bool jetLike(const char *text, const char *pattern) {
    return matchPattern(compile(decodeUtf8(pattern)), decodeUtf8(text));
}

void registerJetFunctions(sqlite3 *db) {
    // Without our like, SQLite's own would answer with other wildcards ('%' and '_'), and
    // every stored query and search would quietly find something else.
    const auto add = [db](const char *name, int args, int flags,
                          void (*function)(sqlite3_context *, int, sqlite3_value **)) {
        if (sqlite3_create_function(db, name, args, flags, nullptr, function, nullptr, nullptr) !=
            SQLITE_OK)
            throw DbError(std::string("データベースに関数 ") + name +
                          " を登録できません: " + sqlite3_errmsg(db));
    };
    add("like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, likeFunction);
    add("now", 0, SQLITE_UTF8, nowFunction);
}

} // namespace tesmo::storage
