// Little-endian field readers and writers over raw byte images.
#pragma once

#include <cstdint>

namespace winqor {

inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

inline void WriteLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void WriteLe64(uint8_t* p, uint64_t value) {
    WriteLe32(p, static_cast<uint32_t>(value));
    WriteLe32(p + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace winqor
