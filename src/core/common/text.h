#pragma once
// Small text helpers shared by the parsers of pages and files.
#include <string>
#include <string_view>
#include <vector>

namespace tesmo {

// Replaces every occurrence of `from` (not empty) by `to`, left to right.
void replaceAll(std::string &s, const std::string &from, const std::string &to);
// Pieces between the separators, numbered from the first; a text without the separator is
// one piece.
std::vector<std::string> splitText(const std::string &s, const std::string &sep);
// ASCII letters in lower case; other bytes as they are. Names of tables, columns, settings and
// files compare this way: the locale never changes what a byte beyond ASCII means.
std::string lowerAscii(std::string s);
// `text` between two `quote` characters, each quote inside doubled: a field of a CSV line, an
// SQL identifier or literal.
std::string quoteDoubled(std::string_view text, char quote);
// Whether `a` and `b` are the same text when ASCII letters are taken in lower case.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
// `text` as a whole decimal number (blanks before it and a sign allowed, nothing after it). Raises
// std::runtime_error "<what>が数値ではありません: "<text>"" for anything else, an empty text
// and a number beyond the range of long long included.
long long parseWholeNumber(const std::string &text, const std::string &what);
// CR LF as LF: texts made for message boxes, written to a terminal or a log.
std::string withLfNewlines(std::string text);
// How many characters of a text from a server (an error message, a value in a refused row) are
// shown: enough to read the reason, too few to flood a message box or a terminal.
inline constexpr size_t kServerTextLimit = 200;

// `utf8` without the characters that steer a terminal or the direction of text: the C0 and C1
// controls (NUL, TAB, CR, LF, ESC, ...), DEL, and the bidirectional marks, embeddings,
// overrides and isolates (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069). Bytes
// that are not UTF-8 go too. For names that a data source delivers.
std::string withoutControlCharacters(std::string_view utf8);
// `text` as one line for the user: each run of line breaks and tabs one blank, the other
// characters that withoutControlCharacters drops gone, blanks at both ends trimmed, and at most
// `limit` characters, the last of them "…" when the text was longer. Linear in the text's
// length, so that a server's seven megabytes of escape codes cost no more than reading them.
std::string singleLine(std::string_view text, size_t limit = std::string::npos);

// Every byte beyond the unreserved characters of a URL (letters, digits, "-._~") as %XX.
std::string percentEncoded(const std::string &text);

// What an input method types in full width made half width: the full-width forms of the
// ASCII digits, letters and signs (U+FF01 to U+FF5E) become ASCII, the ideographic space a
// blank. Everything else (kana, kanji, half-width katakana) stays as it is.
std::string halfWidthAscii(const std::string &utf8);
// A stock code as the user typed or pasted it: half width, letters in upper case, blanks
// around it removed ("１３０ａ " gives "130A").
std::string normalizeStockCode(const std::string &utf8);

} // namespace tesmo
