#include "core/acquire/day_cipher.h"

#include "core/common/cp932.h"

#include <algorithm>

namespace tesmo::acquire {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte, so that a broken
// key still advances).
size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

} // namespace

bool isSeparatorLine(std::string_view line) {
    return line.substr(0, 25) == kSeparatorLine;
}

DayCipher::DayCipher(std::string_view key) {
    size_t pos = 0;
    while (pos < key.size() && m_key.size() < kMaxKeyLength) {
        const size_t len =
            std::min(utf8Length(static_cast<unsigned char>(key[pos])), key.size() - pos);
        const std::string code = utf8ToCp932(key.substr(pos, len));
        int value = 0;
        for (unsigned char b : code)
            value = value * 256 + b;
        m_key.push_back(value);
        pos += len;
    }
    if (m_key.empty())
        throw DayCipherError("復号キーが空です。");
}

std::string DayCipher::decipher(std::string_view hex) {
    if (hex.size() % 2 != 0)
        throw DayCipherError("16進数の桁数が奇数です (" + std::to_string(hex.size()) + "桁)。");
    std::string out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]);
        const int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            const size_t bad = hi < 0 ? i : i + 1;
            throw DayCipherError("16進数ではない文字があります: '" + std::string(1, hex[bad]) +
                                 "' (" + std::to_string(bad + 1) + "桁目)");
        }
        const int k = nextKeyCode();
        int b = (hi * 16 + lo - k - m_shift) % 256;
        if (b < 0)
            b += 256;
        advanceShift(b);
        out += static_cast<char>(b);
    }
    return out;
}

std::string DayCipher::encipher(std::string_view plain) {
    static const char *digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(plain.size() * 2);
    for (unsigned char b : plain) {
        const int k = nextKeyCode();
        const int v = (b + k + m_shift) % 256;
        advanceShift(b);
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

} // namespace tesmo::acquire
