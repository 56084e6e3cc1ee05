#include "writer/bzip2_join.h"

#include <cstddef>

namespace winqor {
namespace {

// A stream is "BZh" and a block size digit, then its blocks, each opening with a 48-bit
// magic and the block's CRC, then a 48-bit end magic, the combined CRC, and zero bits up to
// the next byte. Blocks and the end are not byte aligned.
constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr uint64_t kEndMagic = 0x177245385090;
constexpr size_t kHeaderBits = 32;
constexpr size_t kBlockCrcBit = kHeaderBits + 48;
constexpr size_t kFirstBlockDataBit = kBlockCrcBit + 32;

// count bits (at most 64) from bit offset 'at', most significant bit first.
uint64_t BitsAt(const std::vector<uint8_t>& bytes, size_t at, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        value = value << 1 | ((bytes[at / 8] >> (7 - at % 8)) & 1);
    }
    return value;
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    // Appends the low count bits of value (count at most 56), most significant first.
    void Put(uint64_t value, int count) {
        pending_ = pending_ << count | (value & ((uint64_t{1} << count) - 1));
        pendingBits_ += count;
        while (pendingBits_ >= 8) {
            pendingBits_ -= 8;
            out_.push_back(static_cast<uint8_t>(pending_ >> pendingBits_));
        }
    }
    // Appends the bits [from, to) of bytes; from is a multiple of 8.
    void Copy(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
        for (size_t byte = from / 8; byte < to / 8; ++byte) Put(bytes[byte], 8);
        if (to % 8 != 0) Put(bytes[to / 8] >> (8 - to % 8), static_cast<int>(to % 8));
    }
    // Pads with zero bits to a whole byte.
    void Finish() {
        if (pendingBits_ > 0) Put(0, 8 - pendingBits_);
    }

  private:
    std::vector<uint8_t>& out_;
    uint64_t pending_ = 0;
    int pendingBits_ = 0;
};

// The bit where the end magic of a one-block stream starts, or 0 when the stream does not
// end as one: the magic, the combined CRC (the block's own CRC for one block), 0 to 7 zero
// bits. Exactly one padding length must fit.
size_t EndOfSingleBlock(const std::vector<uint8_t>& stream) {
    const size_t totalBits = stream.size() * 8;
    if (totalBits < kFirstBlockDataBit + 80 + 7) return 0;
    const uint64_t blockCrc = BitsAt(stream, kBlockCrcBit, 32);
    size_t found = 0;
    for (size_t padding = 0; padding < 8; ++padding) {
        const size_t end = totalBits - padding - 80;
        if (BitsAt(stream, end, 48) == kEndMagic && BitsAt(stream, end + 48, 32) == blockCrc &&
            BitsAt(stream, end + 80, static_cast<int>(padding)) == 0) {
            if (found != 0) return 0;
            found = end;
        }
    }
    return found;
}

bool HasOneBlockShape(const std::vector<uint8_t>& stream, uint8_t sizeDigit) {
    return stream.size() > 14 && stream[0] == 'B' && stream[1] == 'Z' && stream[2] == 'h' &&
           stream[3] == sizeDigit && BitsAt(stream, kHeaderBits, 48) == kBlockMagic;
}

uint32_t RotateLeft1(uint32_t value) {
    return value << 1 | value >> 31;
}

}  // namespace

bool JoinSingleBlockStreams(const std::vector<std::vector<uint8_t>>& streams,
                            std::vector<uint8_t>& out) {
    out.clear();
    if (streams.empty() || streams[0].size() < 4) return false;
    const uint8_t sizeDigit = streams[0][3];
    out.insert(out.end(), streams[0].begin(), streams[0].begin() + 4);
    BitWriter writer(out);
    uint32_t combinedCrc = 0;
    for (const auto& stream : streams) {
        if (!HasOneBlockShape(stream, sizeDigit)) return false;
        const size_t end = EndOfSingleBlock(stream);
        if (end == 0) return false;
        writer.Copy(stream, kHeaderBits, end);
        combinedCrc =
            RotateLeft1(combinedCrc) ^ static_cast<uint32_t>(BitsAt(stream, kBlockCrcBit, 32));
    }
    writer.Put(kEndMagic, 48);
    writer.Put(combinedCrc, 32);
    writer.Finish();
    return true;
}

}  // namespace winqor
