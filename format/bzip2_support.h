// What the decoder and the compressor share about bzip2 streams: the layout's constants and
// the level digit. The library itself stays with the decoder and the compressor; the memory
// they give it and the threads they spread blocks over are base/bzip2_memory.h and
// base/work_threads.h.
#pragma once

#include <cstdint>
#include <span>

namespace winqor {

// "BZh" and the level digit '1' to '9'.
inline constexpr uint64_t kBzip2HeaderBytes = 4;
inline constexpr uint64_t kBzip2HeaderBits = kBzip2HeaderBytes * 8;
// Each block opens with this magic and its 32-bit CRC; the stream ends with the end magic,
// the 32-bit combined CRC and zero bits up to a byte.
inline constexpr uint64_t kBzip2BlockMagic = 0x314159265359;
inline constexpr uint64_t kBzip2EndMagic = 0x177245385090;
inline constexpr int kBzip2MagicBits = 48;
inline constexpr int kBzip2CrcBits = 32;
// The end magic and the combined CRC, before the padding.
inline constexpr uint64_t kBzip2EndBits = kBzip2MagicBits + kBzip2CrcBits;
// A level-n block holds at most n times this many bytes.
inline constexpr uint64_t kBzip2LevelUnit = 100'000;
inline constexpr int kBzip2HighestLevel = 9;

// The level digit's value (1 to 9), or 0 when the bytes do not open a bzip2 stream.
int StreamLevel(std::span<const uint8_t> stream);

}  // namespace winqor
