#include "format/bzip2_bits.h"

#include <cstring>

namespace winqor {
namespace {

// The 7 bytes from 'at' as one big-endian number; bytes past the end count as 0.
uint64_t Load56(std::span<const uint8_t> bytes, uint64_t at) {
    uint64_t value = 0;
    for (uint64_t i = at; i < at + 7; ++i) value = value << 8 | (i < bytes.size() ? bytes[i] : 0);
    return value;
}

}  // namespace

uint64_t BitsAt(std::span<const uint8_t> stream, uint64_t at, int count) {
    const uint64_t window = Load56(stream, at / 8);
    const int below = 56 - static_cast<int>(at % 8) - count;
    return window >> below & ((uint64_t{1} << count) - 1);
}

void BitAppender::Put(uint64_t value, int count) {
    pending_ = pending_ << count | (value & ((uint64_t{1} << count) - 1));
    pendingBits_ += count;
    while (pendingBits_ >= 8) {
        pendingBits_ -= 8;
        out_.push_back(static_cast<uint8_t>(pending_ >> pendingBits_));
    }
}

void BitAppender::Copy(std::span<const uint8_t> stream, uint64_t from, uint64_t to) {
    const uint64_t wholeBytes = (to - from) / 8;
    if (pendingBits_ == 0) {
        CopyWholeBytes(stream, from, wholeBytes);
    } else {
        for (uint64_t i = 0; i < wholeBytes; ++i) Put(BitsAt(stream, from + i * 8, 8), 8);
    }
    const int rest = static_cast<int>((to - from) % 8);
    Put(BitsAt(stream, from + wholeBytes * 8, rest), rest);
}

void BitAppender::CopyWholeBytes(std::span<const uint8_t> stream, uint64_t from, uint64_t bytes) {
    const uint64_t first = from / 8;
    const int shift = static_cast<int>(from % 8);
    const size_t start = out_.size();
    out_.resize(start + bytes);
    if (shift == 0) {
        std::memcpy(out_.data() + start, stream.data() + first, bytes);
        return;
    }
    // The last byte read, first + bytes, still holds bits of the range being copied.
    for (uint64_t i = 0; i < bytes; ++i) {
        out_[start + i] =
            static_cast<uint8_t>(stream[first + i] << shift | stream[first + i + 1] >> (8 - shift));
    }
}

void BitAppender::Finish() {
    if (pendingBits_ > 0) Put(0, 8 - pendingBits_);
}

}  // namespace winqor
