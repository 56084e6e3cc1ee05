// Where the blocks of a bzip2 stream lie, and each block as a stream of its own, so that
// the library can decode the blocks of one stream apart and at the same time.
//
// The layout relied on:
//   "BZh" and a level digit '1' to '9' (blocks of at most 100,000 times that many bytes);
//   each block: the 48-bit block magic 0x314159265359, the block's 32-bit CRC, its data;
//   the 48-bit end magic 0x177245385090, the 32-bit combined CRC, zero bits to a byte.
// Blocks and the end follow each other without gaps and are not byte aligned; nothing says
// how long a block is. The combined CRC folds the blocks' CRCs in order:
//   combined = (combined << 1 | combined >> 31) ^ blockCrc.
// A block decodes on its own: nothing in it depends on the blocks before it. So a block's
// bits between a header and an end whose combined CRC is the block's own CRC make a whole
// one-block stream.
//
// The magics are found by looking at every bit. Compressed data may hold either magic by
// chance; a block cut at such a false magic fails to decode and must be joined again with
// what follows it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "format/bzip2_bits.h"

namespace winqor {

struct StreamMarker {
    uint64_t bit;  // where the magic's first bit lies in the stream
    bool isEnd;    // the end magic rather than a block magic
};

// Every block and end magic after the stream header, in the order of their bits.
std::vector<StreamMarker> FindMarkers(std::span<const uint8_t> stream);

// The 32-bit CRC stored after the block magic at 'blockBit'.
uint32_t BlockCrcAt(std::span<const uint8_t> stream, uint64_t blockBit);

// Fills out with a one-block stream: the header of stream, its bits [from, to) (one block,
// magic first), the end magic and the block's own CRC as the combined CRC.
void WrapBlock(std::span<const uint8_t> stream, uint64_t from, uint64_t to,
               std::vector<uint8_t>& out);

// The longest a block of the level can be: every symbol at the longest code the format
// allows, plus its tables. A block cut longer than this is no block.
uint64_t MaxBlockBits(int level);

}  // namespace winqor
