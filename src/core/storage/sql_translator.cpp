#include "core/storage/sql_translator.h"

#include "core/common/text.h"
#include "core/storage/db_error.h"

#include <cctype>

namespace tesmo::storage {
namespace {
using Kind = SqlToken::Kind;

bool isWordStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

bool significant(const SqlToken &t) {
    return t.kind != Kind::Space && t.kind != Kind::Comment;
}

bool isKeyword(const SqlToken &t, const char *kw) {
    return t.kind == Kind::Word && lowerAscii(t.text) == kw;
}

bool isPunct(const SqlToken &t, const char *p) {
    return t.kind == Kind::Punct && t.text == p;
}

std::string join(const std::vector<SqlToken> &toks, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to && i < toks.size(); ++i)
        out += toks[i].text;
    return out;
}

// Index of the next significant token at or after i, or toks.size().
size_t nextSig(const std::vector<SqlToken> &toks, size_t i) {
    while (i < toks.size() && !significant(toks[i]))
        ++i;
    return i;
}

// Finds a keyword at parenthesis depth 0, from `from` on.
size_t findTopLevel(const std::vector<SqlToken> &toks, size_t from, const char *kw) {
    int depth = 0;
    for (size_t i = from; i < toks.size(); ++i) {
        if (isPunct(toks[i], "("))
            ++depth;
        else if (isPunct(toks[i], ")"))
            --depth;
        else if (depth == 0 && isKeyword(toks[i], kw))
            return i;
    }
    return toks.size();
}

// Trailing ";" and blanks of a statement, kept as they are.
size_t tailStart(const std::vector<SqlToken> &toks) {
    size_t end = toks.size();
    while (end > 0 && (!significant(toks[end - 1]) || isPunct(toks[end - 1], ";")))
        --end;
    return end;
}

// "a.x = v, b.[y] = w" -> "x = v, [y] = w": SQLite wants bare column names after SET.
std::string unqualifiedAssignments(const std::vector<SqlToken> &toks, size_t from, size_t to) {
    std::string out;
    int depth = 0;
    bool atTarget = true;
    for (size_t i = from; i < to; ++i) {
        const SqlToken &t = toks[i];
        if (atTarget && significant(t)) {
            atTarget = false;
            const size_t dot = nextSig(toks, i + 1);
            if ((t.kind == Kind::Word || t.kind == Kind::Bracketed || t.kind == Kind::Quoted) &&
                dot < to && isPunct(toks[dot], ".")) {
                const size_t col = nextSig(toks, dot + 1);
                if (col < to) {
                    i = col - 1; // drop "qualifier." and continue with the column
                    continue;
                }
            }
        }
        if (isPunct(t, "("))
            ++depth;
        else if (isPunct(t, ")"))
            --depth;
        else if (depth == 0 && isPunct(t, ","))
            atTarget = true;
        out += t.text;
    }
    return out;
}

std::string translateUpdate(const std::vector<SqlToken> &toks, size_t updatePos) {
    const size_t setPos = findTopLevel(toks, updatePos + 1, "set");
    if (setPos == toks.size())
        return join(toks, 0, toks.size());
    const size_t wherePos = findTopLevel(toks, setPos + 1, "where");
    const size_t tail = tailStart(toks);
    const size_t bodyEnd = std::min(wherePos, tail);
    const std::string assignments = unqualifiedAssignments(toks, setPos + 1, bodyEnd);

    const size_t innerPos = findTopLevel(toks, updatePos + 1, "inner");
    if (innerPos > setPos) {
        // A plain UPDATE: only the SET targets change.
        std::string out = join(toks, 0, setPos + 1) + assignments;
        return out + join(toks, bodyEnd, toks.size());
    }
    const size_t joinPos = findTopLevel(toks, innerPos + 1, "join");
    const size_t onPos = findTopLevel(toks, joinPos + 1, "on");
    if (joinPos >= setPos || onPos >= setPos)
        throw DbError("UPDATE の INNER JOIN の構文が正しくありません。");

    std::string out = join(toks, 0, innerPos); // "UPDATE target "
    out += "SET" + assignments;
    out += " FROM " + join(toks, joinPos + 1, onPos);
    out += " WHERE (" + join(toks, onPos + 1, setPos) + ")";
    if (wherePos < tail)
        out += " AND (" + join(toks, wherePos + 1, tail) + ")";
    return out + join(toks, tail, toks.size());
}

} // namespace

std::vector<SqlToken> tokenizeSql(const std::string &sql) {
    std::vector<SqlToken> out;
    size_t i = 0;
    const size_t n = sql.size();
    auto at = [&](size_t k) -> unsigned char { return k < n ? sql[k] : 0; };
    while (i < n) {
        const unsigned char c = sql[i];
        const size_t start = i;
        Kind kind;
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(sql[i])))
                ++i;
            kind = Kind::Space;
        } else if (c == '-' && at(i + 1) == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
            kind = Kind::Comment;
        } else if (c == '/' && at(i + 1) == '*') {
            const size_t end = sql.find("*/", i + 2);
            if (end == std::string::npos)
                throw DbError("SQL のコメントが閉じていません。");
            i = end + 2;
            kind = Kind::Comment;
        } else if (c == '\'' || c == '"' || c == '`') {
            // Quotes are escaped by doubling them.
            ++i;
            for (;;) {
                if (i >= n)
                    throw DbError("SQL の文字列が閉じていません: " + sql.substr(start, 40));
                if (static_cast<unsigned char>(sql[i]) == c) {
                    if (at(i + 1) == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            kind = c == '\'' ? Kind::SingleString : c == '"' ? Kind::DoubleString : Kind::Quoted;
        } else if (c == '[') {
            const size_t end = sql.find(']', i);
            if (end == std::string::npos)
                throw DbError("SQL の [ ] が閉じていません: " + sql.substr(start, 40));
            i = end + 1;
            kind = Kind::Bracketed;
        } else if (std::isdigit(c) || (c == '.' && std::isdigit(at(i + 1)))) {
            while (i < n &&
                   (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '.' ||
                    ((sql[i] == '+' || sql[i] == '-') && (sql[i - 1] == 'e' || sql[i - 1] == 'E'))))
                ++i;
            kind = Kind::Number;
        } else if (isWordStart(c)) {
            while (i < n && isWordChar(static_cast<unsigned char>(sql[i])))
                ++i;
            kind = Kind::Word;
        } else {
            static const char *const kTwo[] = {"<>", "<=", ">=", "!=", "==", "||", "<<", ">>"};
            i += 1;
            for (const char *op : kTwo)
                if (sql.compare(start, 2, op) == 0)
                    i = start + 2;
            kind = Kind::Punct;
        }
        out.push_back({kind, sql.substr(start, i - start)});
    }
    return out;
}

std::string translateSql(const std::string &sql, const LinkMap &links) {
    std::vector<SqlToken> toks = tokenizeSql(sql);

    for (size_t i = 0; i < toks.size(); ++i) {
        SqlToken &t = toks[i];
        if (t.kind == Kind::DoubleString) {
            // A double-quoted text is a literal in this dialect.
            std::string inner;
            for (size_t k = 1; k + 1 < t.text.size(); ++k) {
                const char ch = t.text[k];
                if (ch == '"' && k + 2 < t.text.size() && t.text[k + 1] == '"')
                    ++k;
                inner += ch;
                if (ch == '\'')
                    inner += '\'';
            }
            t = {Kind::SingleString, "'" + inner + "'"};
        } else if (!links.empty() && (t.kind == Kind::Word || t.kind == Kind::Bracketed)) {
            // A name after "." is a column, never a table.
            size_t prev = i;
            while (prev > 0 && !significant(toks[prev - 1]))
                --prev;
            if (prev > 0 && isPunct(toks[prev - 1], "."))
                continue;
            std::string name =
                t.kind == Kind::Bracketed ? t.text.substr(1, t.text.size() - 2) : t.text;
            for (const auto &[linkName, target] : links) {
                if (equalsIgnoringAsciiCase(linkName, name)) {
                    t = {Kind::Quoted, quoteIdent(target.schema) + "." + quoteIdent(target.source)};
                    break;
                }
            }
        }
    }

    const size_t first = nextSig(toks, 0);
    if (first == toks.size())
        return join(toks, 0, toks.size());
    if (isKeyword(toks[first], "delete")) {
        const size_t star = nextSig(toks, first + 1);
        if (star < toks.size() && isPunct(toks[star], "*"))
            toks.erase(toks.begin() + static_cast<long>(first + 1),
                       toks.begin() + static_cast<long>(star + 1));
    } else if (isKeyword(toks[first], "insert")) {
        const size_t next = nextSig(toks, first + 1);
        if (next == toks.size() || !isKeyword(toks[next], "or"))
            toks[first].text += " OR IGNORE";
    } else if (isKeyword(toks[first], "update")) {
        return translateUpdate(toks, first);
    }
    return join(toks, 0, toks.size());
}

} // namespace tesmo::storage

namespace tesmo::storage {
std::string withoutTrailingSemicolons(const std::string &sql) {
    const std::vector<SqlToken> toks = tokenizeSql(sql);
    return join(toks, 0, tailStart(toks));
}

std::string quoteIdent(const std::string &name) {
    return quoteDoubled(name, '"');
}

std::string quoteText(const std::string &text) {
    return quoteDoubled(text, '\'');
}

} // namespace tesmo::storage
