#pragma once
// The stock code that the chart-from-clipboard command reads out of the clipboard's text.
#include <functional>
#include <string>

namespace tesmo::shell {

// Whether the database's master lists a code.
using KnownCode = std::function<bool(const std::string &code)>;

// The first code of the exchange's form in `text`, standing on its own (neither preceded nor
// followed by a letter or digit, so a longer number such as 12-345678 is not cut into a code):
// - four characters, digit, digit or letter, digit, digit or letter, where the letters are A
//   to Z without B, E, I, O, Q, V and Z (130A, 7203);
// - five characters, such a code and a digit, the form J-Quants gives every issue: the code
//   itself when the master lists it (25935, a preferred share), else its first four for a
//   common share (72030 is 7203, 130A0 is 130A).
// Full-width digits and letters count as their half-width forms and lower-case letters as
// upper-case ones. Without such a code, the first four digits of the text in order (the rule
// for all-digit codes, 1234 for 12-345678); the empty text when it has none.
std::string codeFromClipboardText(const std::string &text, const KnownCode &known = {});

} // namespace tesmo::shell
