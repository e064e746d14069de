#pragma once
// The keyed byte substitution of the daily data files. Every line except the separators is
// enciphered and written as upper-case hexadecimal text, two digits per byte. The state (a
// byte counter and a shift) runs on across the lines of a section and is reset at each
// section's header line.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tesmo::acquire {

// The key the data site enciphers with.
inline constexpr const char *kDayFileKey = "pebbleriverfox";
// A line whose first 25 characters are these closes a section; it is never enciphered.
inline constexpr std::string_view kSeparatorLine = "+=+=+=+=+=+=+=+=+=+=+=+=+";
inline constexpr size_t kMaxKeyLength = 14;

class DayCipherError : public std::runtime_error {
public:
    explicit DayCipherError(const std::string &what) : std::runtime_error(what) {}
};

bool isSeparatorLine(std::string_view line);

class DayCipher {
public:
    // `key` is UTF-8 text; only its first 14 characters count, each by its code in code page
    // 932 (the byte of a one-byte character, lead * 256 + trail of a two-byte one). Raises
    // DayCipherError for an empty key.
    explicit DayCipher(std::string_view key);

    // Start of a section: counter and shift back to 0.
    void reset() {
        m_counter = 0;
        m_shift = 0;
    }
    // Hexadecimal text -> plain bytes. Raises DayCipherError for an odd number of digits or a
    // character other than '0'-'9' and 'A'-'F'; the state has then advanced over the pairs
    // before the bad one.
    std::string decipher(std::string_view hex);
    // Plain bytes -> hexadecimal text: what the data site does.
    std::string encipher(std::string_view plain);

    const std::vector<int> &keyCodes() const { return m_key; }
    long long counter() const { return m_counter; }
    int shift() const { return m_shift; }

private:
    int nextKeyCode() {
        ++m_counter;
        return m_key[static_cast<size_t>(m_counter % static_cast<long long>(m_key.size()))];
    }
    // A plain tab or comma moves the shift on by 3 for the bytes after it.
    void advanceShift(int plain) {
        if (plain == 9 || plain == 44) {
            m_shift += 3;
            if (m_shift > 255)
                m_shift -= 256;
        }
    }

    std::vector<int> m_key;
    long long m_counter = 0;
    int m_shift = 0;
};

} // namespace tesmo::acquire
