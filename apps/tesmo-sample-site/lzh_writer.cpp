#include "lzh_writer.h"

#include <cstdint>
#include <stdexcept>

namespace sample_site {
namespace {

// CRC-16 as LHA computes it (polynomial 0xA001, reflected, start 0).
uint16_t crc16(const std::string &data) {
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

void le(std::string &out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

} // namespace

std::string storedArchive(const std::string &name, const std::string &data, std::time_t mtime) {
    if (data.size() > 0xFFFFFFFFu || name.size() > 200)
        throw std::length_error("member too large for an LHA header");
    // Extended headers: 0x00 carries the CRC of the whole header (filled in below, computed
    // with itself zero), 0x01 the file name. Each size counts the type byte, the data and the
    // size field of the next extended header.
    std::string ext;
    ext += '\x00';
    le(ext, 0, 2);
    le(ext, 1 + name.size() + 2, 2);
    ext += '\x01';
    ext += name;
    const size_t extSize = 1 + 2 + 2;

    // Fixed part: size, method, two sizes, time, attribute, level, CRC, OS, first ext size.
    constexpr size_t kCrcOffset = 26 + 1;
    std::string h;
    le(h, 0, 2); // total header size, filled in below
    h += "-lh0-";
    le(h, data.size(), 4);                  // compressed size
    le(h, data.size(), 4);                  // original size
    le(h, static_cast<uint64_t>(mtime), 4); // Unix time
    h += '\x20';                            // reserved (attribute)
    h += '\x02';                            // header level
    le(h, crc16(data), 2);                  // CRC of the member
    h += 'U';                               // made on Unix
    le(h, extSize, 2);                      // size of the first extended header
    h += ext;
    le(h, 0, 2); // no further extended header
    // A header whose first byte is zero would read as the end of the archive.
    if ((h.size() & 0xFF) == 0)
        throw std::length_error("member name of an unlucky length: " + name);
    h[0] = static_cast<char>(h.size() & 0xFF);
    h[1] = static_cast<char>((h.size() >> 8) & 0xFF);
    const uint16_t headerCrc = crc16(h);
    h[kCrcOffset] = static_cast<char>(headerCrc & 0xFF);
    h[kCrcOffset + 1] = static_cast<char>(headerCrc >> 8);
    return h + data + std::string(1, '\0');
}

} // namespace sample_site
