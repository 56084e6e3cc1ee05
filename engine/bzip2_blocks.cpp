#include "engine/bzip2_blocks.h"

#include <array>
#include <cstring>

namespace winqor {
namespace {

constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr uint64_t kEndMagic = 0x177245385090;
constexpr int kMagicBits = 48;
constexpr int kCrcBits = 32;
constexpr uint64_t kHeaderBytes = 4;
constexpr uint64_t kHeaderBits = kHeaderBytes * 8;

// The 7 bytes from 'at' as one big-endian number; bytes past the end count as 0.
uint64_t Load56(std::span<const uint8_t> bytes, uint64_t at) {
    uint64_t value = 0;
    for (uint64_t i = at; i < at + 7; ++i) value = value << 8 | (i < bytes.size() ? bytes[i] : 0);
    return value;
}

// A magic that starts s bits into byte k fills bytes k + 1 and k + 2 whole, with a value
// fixed by s. For each such pair of bytes: bit s set when it fits the block magic at shift
// s, bit 8 + s for the end magic. Most pairs fit neither, so most bytes cost one look-up.
using PairTable = std::array<uint16_t, 65536>;

PairTable BuildPairTable() {
    PairTable table{};
    for (int shift = 0; shift < 8; ++shift) {
        table[(kBlockMagic >> (24 + shift)) & 0xFFFF] |= static_cast<uint16_t>(1u << shift);
        table[(kEndMagic >> (24 + shift)) & 0xFFFF] |= static_cast<uint16_t>(1u << (8 + shift));
    }
    return table;
}

// Checks the candidates a pair of bytes allows for a magic starting in the byte at byteBit.
void AddMatches(std::span<const uint8_t> stream, uint64_t byteBit, unsigned candidates,
                std::vector<StreamMarker>& markers) {
    const uint64_t totalBits = stream.size() * 8;
    for (int shift = 0; shift < 8; ++shift) {
        const uint64_t bit = byteBit + static_cast<uint64_t>(shift);
        if (bit < kHeaderBits || totalBits - bit < kMagicBits) continue;
        const uint64_t bits = BitsAt(stream, bit, kMagicBits);
        if ((candidates >> shift & 1) != 0 && bits == kBlockMagic) markers.push_back({bit, false});
        if ((candidates >> (8 + shift) & 1) != 0 && bits == kEndMagic)
            markers.push_back({bit, true});
    }
}

// Appends bits to a byte vector, most significant first.
class BitAppender {
  public:
    explicit BitAppender(std::vector<uint8_t>& out) : out_(out) {}
    // The low count bits of value; count at most 32.
    void Put(uint64_t value, int count) {
        pending_ = pending_ << count | (value & ((uint64_t{1} << count) - 1));
        pendingBits_ += count;
        while (pendingBits_ >= 8) {
            pendingBits_ -= 8;
            out_.push_back(static_cast<uint8_t>(pending_ >> pendingBits_));
        }
    }
    // The bits [from, to) of stream, while the output is at a whole byte.
    void CopyAligned(std::span<const uint8_t> stream, uint64_t from, uint64_t to) {
        const uint64_t wholeBytes = (to - from) / 8;
        const uint64_t first = from / 8;
        const int shift = static_cast<int>(from % 8);
        const size_t start = out_.size();
        out_.resize(start + wholeBytes);
        if (shift == 0) {
            std::memcpy(out_.data() + start, stream.data() + first, wholeBytes);
        } else {
            // The last byte read, first + wholeBytes, still holds bits of [from, to).
            for (uint64_t i = 0; i < wholeBytes; ++i) {
                out_[start + i] = static_cast<uint8_t>(stream[first + i] << shift |
                                                       stream[first + i + 1] >> (8 - shift));
            }
        }
        const int rest = static_cast<int>((to - from) % 8);
        Put(BitsAt(stream, from + wholeBytes * 8, rest), rest);
    }
    // Zero bits up to a whole byte.
    void Finish() {
        if (pendingBits_ > 0) Put(0, 8 - pendingBits_);
    }

  private:
    std::vector<uint8_t>& out_;
    uint64_t pending_ = 0;
    int pendingBits_ = 0;
};

}  // namespace

int StreamLevel(std::span<const uint8_t> stream) {
    if (stream.size() < kHeaderBytes || stream[0] != 'B' || stream[1] != 'Z' || stream[2] != 'h')
        return 0;
    return stream[3] >= '1' && stream[3] <= '9' ? stream[3] - '0' : 0;
}

std::vector<StreamMarker> FindMarkers(std::span<const uint8_t> stream) {
    static const PairTable table = BuildPairTable();
    std::vector<StreamMarker> markers;
    for (size_t second = 1; second + 1 < stream.size(); ++second) {
        const unsigned candidates = table[stream[second] << 8 | stream[second + 1]];
        if (candidates != 0) AddMatches(stream, (second - 1) * 8, candidates, markers);
    }
    return markers;
}

uint64_t BitsAt(std::span<const uint8_t> stream, uint64_t at, int count) {
    const uint64_t window = Load56(stream, at / 8);
    const int below = 56 - static_cast<int>(at % 8) - count;
    return window >> below & ((uint64_t{1} << count) - 1);
}

uint32_t BlockCrcAt(std::span<const uint8_t> stream, uint64_t blockBit) {
    return static_cast<uint32_t>(BitsAt(stream, blockBit + kMagicBits, kCrcBits));
}

void WrapBlock(std::span<const uint8_t> stream, uint64_t from, uint64_t to,
               std::vector<uint8_t>& out) {
    out.assign(stream.begin(), stream.begin() + kHeaderBytes);
    BitAppender appender(out);
    appender.CopyAligned(stream, from, to);
    appender.Put(kEndMagic >> 24, 24);
    appender.Put(kEndMagic, 24);
    appender.Put(BlockCrcAt(stream, from), kCrcBits);
    appender.Finish();
}

uint64_t MaxBlockBits(int level) {
    // A block codes at most 100,000 * level symbols and its end; the decoder takes codes of
    // up to 20 bits. 2^18 bits more cover the selectors and coding tables of any encoder.
    const uint64_t symbols = 100'000 * static_cast<uint64_t>(level) + 1;
    return symbols * 20 + (uint64_t{1} << 18);
}

}  // namespace winqor
