#pragma once
// Turns the statements the program sends (the desktop dialect its stored queries are written
// in) into SQLite statements. Works on tokens, so quotes, brackets and comments are never mistaken
// for keywords.
#include <map>
#include <string>
#include <vector>

namespace tesmo::storage {

struct SqlToken {
    enum class Kind {
        Space,
        Comment,
        Word,
        Bracketed,
        Quoted,
        SingleString,
        DoubleString,
        Number,
        Punct
    };
    Kind kind;
    std::string text;
};

// Raises DbError on an unterminated string, bracket or comment.
std::vector<SqlToken> tokenizeSql(const std::string &sql);

struct LinkTarget {
    std::string schema; // attached schema name
    std::string source; // table inside the linked file
};

// Keys of `links` are compared case-insensitively against table names in the statement.
using LinkMap = std::map<std::string, LinkTarget>;

// Translation rules:
//   "text"                                -> 'text'
//   Delete * from t                       -> DELETE FROM t
//   UPDATE a INNER JOIN b ON c SET a.x=.. WHERE w
//                                         -> UPDATE a SET x=.. FROM b WHERE (c) AND (w)
//   UPDATE a SET a.x = ..                 -> UPDATE a SET x = ..
//   INSERT ...                            -> INSERT OR IGNORE ... (violating rows are dropped)
//   a linked table's name                 -> "schema"."source"
std::string translateSql(const std::string &sql, const LinkMap &links = {});

// The statement without its trailing ";" and blanks (a view body must not end in one).
std::string withoutTrailingSemicolons(const std::string &sql);

// `name` as an SQLite identifier in double quotes, a quote inside it doubled: any table,
// schema or view name, whatever it holds, is one identifier.
std::string quoteIdent(const std::string &name);
// `text` as an SQLite string literal in single quotes, a quote inside it doubled.
std::string quoteText(const std::string &text);

} // namespace tesmo::storage
