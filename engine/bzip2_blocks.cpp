#include "engine/bzip2_blocks.h"

#include <array>

namespace winqor {
namespace {

// A magic that starts s bits into byte k fills bytes k + 1 and k + 2 whole, with a value
// fixed by s. For each such pair of bytes: bit s set when it fits the block magic at shift
// s, bit 8 + s for the end magic. Most pairs fit neither, so most bytes cost one look-up.
using PairTable = std::array<uint16_t, 65536>;

PairTable BuildPairTable() {
    PairTable table{};
    for (int shift = 0; shift < 8; ++shift) {
        table[(kBzip2BlockMagic >> (24 + shift)) & 0xFFFF] |= static_cast<uint16_t>(1u << shift);
        table[(kBzip2EndMagic >> (24 + shift)) & 0xFFFF] |=
            static_cast<uint16_t>(1u << (8 + shift));
    }
    return table;
}

// Checks the candidates a pair of bytes allows for a magic starting in the byte at byteBit.
void AddMatches(std::span<const uint8_t> stream, uint64_t byteBit, unsigned candidates,
                std::vector<StreamMarker>& markers) {
    const uint64_t totalBits = stream.size() * 8;
    for (int shift = 0; shift < 8; ++shift) {
        const uint64_t bit = byteBit + static_cast<uint64_t>(shift);
        if (bit < kBzip2HeaderBits || totalBits - bit < kBzip2MagicBits) continue;
        const uint64_t bits = BitsAt(stream, bit, kBzip2MagicBits);
        if ((candidates >> shift & 1) != 0 && bits == kBzip2BlockMagic)
            markers.push_back({bit, false});
        if ((candidates >> (8 + shift) & 1) != 0 && bits == kBzip2EndMagic)
            markers.push_back({bit, true});
    }
}

}  // namespace

std::vector<StreamMarker> FindMarkers(std::span<const uint8_t> stream) {
    static const PairTable table = BuildPairTable();
    std::vector<StreamMarker> markers;
    for (size_t second = 1; second + 1 < stream.size(); ++second) {
        const unsigned candidates = table[stream[second] << 8 | stream[second + 1]];
        if (candidates != 0) AddMatches(stream, (second - 1) * 8, candidates, markers);
    }
    return markers;
}

uint32_t BlockCrcAt(std::span<const uint8_t> stream, uint64_t blockBit) {
    return static_cast<uint32_t>(BitsAt(stream, blockBit + kBzip2MagicBits, kBzip2CrcBits));
}

void WrapBlock(std::span<const uint8_t> stream, uint64_t from, uint64_t to,
               std::vector<uint8_t>& out) {
    out.assign(stream.begin(), stream.begin() + kBzip2HeaderBytes);
    BitAppender appender(out);
    appender.Copy(stream, from, to);
    appender.Put(kBzip2EndMagic >> 24, 24);
    appender.Put(kBzip2EndMagic, 24);
    appender.Put(BlockCrcAt(stream, from), kBzip2CrcBits);
    appender.Finish();
}

uint64_t MaxBlockBits(int level) {
    // A block codes at most 100,000 * level symbols and its end; the decoder takes codes of
    // up to 20 bits. 2^18 bits more cover the selectors and coding tables of any encoder.
    const uint64_t symbols = kBzip2LevelUnit * static_cast<uint64_t>(level) + 1;
    return symbols * 20 + (uint64_t{1} << 18);
}

}  // namespace winqor
