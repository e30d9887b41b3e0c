// One 512-byte sector and the few byte-order helpers every simulated record needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace raid::sim {

constexpr std::size_t kSectorSize = 512;
using Block = std::array<std::uint8_t, kSectorSize>;

inline std::uint16_t getLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t getLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
// Sector counts in the status record are 40-bit little-endian.
inline std::uint64_t getLe40(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 4; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline std::uint32_t getBe16(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
}
inline std::uint32_t getBe24(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}
inline std::uint32_t getBe32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

inline void putLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putLe40(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 5; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void putBe24(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 16);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v);
}
inline void putBe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

// "ATA style" text: the controller stores strings as 16-bit words with the high byte
// first, so character k of the text sits at byte (k XOR 1) of the field. Padded with
// blanks; text longer than the field is cut.
inline void putAtaString(std::uint8_t* field, std::size_t fieldLen, std::string_view text) {
    for (std::size_t k = 0; k < fieldLen; ++k) {
        const std::size_t at = k ^ 1u;
        if (at >= fieldLen) continue;  // odd-length field: the last byte has no partner
        field[at] = static_cast<std::uint8_t>(k < text.size() ? text[k] : ' ');
    }
}
// The text back, trailing blanks removed.
inline std::string getAtaString(const std::uint8_t* field, std::size_t fieldLen) {
    std::string s;
    for (std::size_t k = 0; k < fieldLen; ++k) {
        const std::size_t at = k ^ 1u;
        if (at >= fieldLen) continue;
        s.push_back(static_cast<char>(field[at]));
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

}  // namespace raid::sim
