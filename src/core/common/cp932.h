#pragma once
// Code page 932 (Shift-JIS as Japanese Windows writes it) at the edges of the program: day
// files, data-site pages and exported text. Inside, every text is UTF-8.
#include <stdexcept>
#include <string>
#include <string_view>

namespace tesmo {

class Cp932Error : public std::runtime_error {
public:
    explicit Cp932Error(const std::string &what) : std::runtime_error(what) {}
};

// Never raises: a byte sequence that code page 932 does not define becomes U+30FB ("・"),
// the default character Windows puts in its place.
std::string cp932ToUtf8(std::string_view bytes);

// Raises Cp932Error for a character that code page 932 cannot hold, or for text that is not
// valid UTF-8.
std::string utf8ToCp932(std::string_view text);

} // namespace tesmo
