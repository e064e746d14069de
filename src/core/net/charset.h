#pragma once
// The text of a page as UTF-8, whatever charset its server names: the data sites write code
// page 932 and often say nothing, others say UTF-8 or EUC-JP.
#include <string>

namespace tesmo::net {

// The charset parameter of a Content-Type value, lower case and without quotes; empty when
// there is none.
std::string charsetOf(const std::string &contentType);

// `body` as UTF-8: kept as it is when `contentType` names UTF-8; read as code page 932 when it
// names Shift_JIS or one of its aliases, names no charset or one that iconv does not know;
// else converted by iconv, each byte the charset does not define becoming U+FFFD.
std::string bodyToUtf8(const std::string &body, const std::string &contentType);

} // namespace tesmo::net
