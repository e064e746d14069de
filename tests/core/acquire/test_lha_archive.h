#pragma once
// Level-0 LHA archives with stored (-lh0-) members, written by the tests themselves so that the
// member names and sizes can be anything a hostile server might send.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tesmo::test {

inline uint16_t lhaCrc16(const std::string &data) {
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

inline void lhaLittleEndian(std::string &out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct LhaMember {
    std::string name; // bytes as stored (code page 932)
    std::string data;
    std::optional<uint32_t> declaredLength;
};

// The members one after the other, then the end mark.
inline std::string level0Archive(const std::vector<LhaMember> &members) {
    std::string out;
    for (const LhaMember &m : members) {
        std::string h = "-lh0-";
        lhaLittleEndian(h, static_cast<uint32_t>(m.data.size()), 4);
        lhaLittleEndian(h, m.declaredLength.value_or(static_cast<uint32_t>(m.data.size())), 4);
        lhaLittleEndian(h, 0x58A74C00, 4); // a DOS date and time in 2024
        h += '\x20';                       // attribute: archive
        h += '\x00';                       // header level
        h += static_cast<char>(m.name.size());
        h += m.name;
        lhaLittleEndian(h, lhaCrc16(m.data), 2);
        unsigned sum = 0;
        for (unsigned char c : h)
            sum += c;
        out += static_cast<char>(h.size());
        out += static_cast<char>(sum & 0xFF);
        out += h + m.data;
    }
    out += '\0';
    return out;
}

// What a hostile data site might pack around a day file: members named after the database and
// each program, and another day's file.
inline std::vector<LhaMember> hostileMembers() {
    std::vector<LhaMember> members;
    for (const char *name : {"tesmo.mdb", "Tesmo", "tesmo_auto", "tesmoctl", "19990101.bnd"})
        members.push_back({name, std::string("planted ") + name, {}});
    return members;
}

} // namespace tesmo::test
