#include "writer/bzip2_join.h"

#include <cstddef>

#include "format/bzip2_bits.h"

namespace winqor {
namespace {

// A stream is "BZh" and a block size digit, then its blocks, each opening with a magic and
// the block's CRC, then the end magic, the combined CRC, and zero bits up to the next byte.
// Blocks and the end are not byte aligned.
constexpr size_t kBlockCrcBit = kBzip2HeaderBits + kBzip2MagicBits;
constexpr size_t kFirstBlockDataBit = kBlockCrcBit + kBzip2CrcBits;

// The bit where the end magic of a one-block stream starts, or 0 when the stream does not
// end as one: the magic, the combined CRC (the block's own CRC for one block), 0 to 7 zero
// bits. Exactly one padding length must fit.
size_t EndOfSingleBlock(const std::vector<uint8_t>& stream) {
    const size_t totalBits = stream.size() * 8;
    if (totalBits < kFirstBlockDataBit + kBzip2EndBits + 7) return 0;
    const uint64_t blockCrc = BitsAt(stream, kBlockCrcBit, kBzip2CrcBits);
    size_t found = 0;
    for (size_t padding = 0; padding < 8; ++padding) {
        const size_t end = totalBits - padding - kBzip2EndBits;
        if (BitsAt(stream, end, kBzip2MagicBits) == kBzip2EndMagic &&
            BitsAt(stream, end + kBzip2MagicBits, kBzip2CrcBits) == blockCrc &&
            BitsAt(stream, end + kBzip2EndBits, static_cast<int>(padding)) == 0) {
            if (found != 0) return 0;
            found = end;
        }
    }
    return found;
}

bool HasOneBlockShape(const std::vector<uint8_t>& stream, uint8_t sizeDigit) {
    return stream.size() > 14 && StreamLevel(stream) != 0 && stream[3] == sizeDigit &&
           BitsAt(stream, kBzip2HeaderBits, kBzip2MagicBits) == kBzip2BlockMagic;
}

uint32_t RotateLeft1(uint32_t value) {
    return value << 1 | value >> 31;
}

}  // namespace

bool JoinSingleBlockStreams(const std::vector<std::vector<uint8_t>>& streams,
                            std::vector<uint8_t>& out) {
    out.clear();
    if (streams.empty() || streams[0].size() < kBzip2HeaderBytes) return false;
    const uint8_t sizeDigit = streams[0][3];
    out.assign(streams[0].begin(), streams[0].begin() + kBzip2HeaderBytes);
    BitAppender writer(out);
    uint32_t combinedCrc = 0;
    for (const auto& stream : streams) {
        if (!HasOneBlockShape(stream, sizeDigit)) return false;
        const size_t end = EndOfSingleBlock(stream);
        if (end == 0) return false;
        writer.Copy(stream, kBzip2HeaderBits, end);
        combinedCrc = RotateLeft1(combinedCrc) ^
                      static_cast<uint32_t>(BitsAt(stream, kBlockCrcBit, kBzip2CrcBits));
    }
    writer.Put(kBzip2EndMagic, kBzip2MagicBits);
    writer.Put(combinedCrc, kBzip2CrcBits);
    writer.Finish();
    return true;
}

}  // namespace winqor
