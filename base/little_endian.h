// Little-endian field readers and writers over raw byte images: byte by byte, never by
// casting. Pure code, so every layer from platform up reads its formats with them.
#pragma once

#include <cstdint>
#include <vector>

namespace winqor {

inline uint32_t ReadLe16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

inline uint32_t ReadLe32(const uint8_t* p) {
    return ReadLe16(p) | ReadLe16(p + 2) << 16;
}

inline uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

inline void WriteLe16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void WriteLe64(uint8_t* p, uint64_t value) {
    WriteLe32(p, static_cast<uint32_t>(value));
    WriteLe32(p + 4, static_cast<uint32_t>(value >> 32));
}

// The same, appended to a byte vector.
inline void AppendLe16(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[2];
    WriteLe16(bytes, value);
    out.insert(out.end(), bytes, bytes + 2);
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    WriteLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

inline void AppendLe64(std::vector<uint8_t>& out, uint64_t value) {
    uint8_t bytes[8];
    WriteLe64(bytes, value);
    out.insert(out.end(), bytes, bytes + 8);
}

}  // namespace winqor
