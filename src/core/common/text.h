#pragma once
// Small text helpers shared by the parsers of pages and files.
#include <string>
#include <vector>

namespace tesmo {

// Replaces every occurrence of `from` (not empty) by `to`, left to right.
void replaceAll(std::string &s, const std::string &from, const std::string &to);
// Pieces between the separators, numbered from the first; a text without the separator is
// one piece.
std::vector<std::string> splitText(const std::string &s, const std::string &sep);
// ASCII letters in lower case; other bytes as they are.
std::string lowerAscii(std::string s);
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
