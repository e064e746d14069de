#pragma once
// The stock code that the chart-from-clipboard command reads out of the clipboard's text.
#include <string>

namespace tesmo::shell {

// The first code of the exchange's form in `text`: four characters, digit, digit or letter,
// digit, digit or letter, where the letters are A to Z without B, E, I, O, Q, V and Z (130A,
// 7203). Full-width digits and letters count as their half-width forms and lower-case letters
// as upper-case ones. The four characters must stand on their own, neither preceded nor
// followed by a letter or digit, so a longer number such as 12-345678 is not cut into a
// code. Without such a code, the first four digits of the text in order (the rule for
// all-digit codes, 1234 for 12-345678); the empty text when it has none.
std::string codeFromClipboardText(const std::string &text);

} // namespace tesmo::shell
