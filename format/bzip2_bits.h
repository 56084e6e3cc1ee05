// Bit-level reading and writing of a bzip2 stream, the archive's payload, for the code that
// cuts one into its blocks and the code that joins blocks into one. Blocks and the stream's
// end are not byte aligned: each is found and copied bit by bit, most significant bit first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "format/bzip2_support.h"

namespace winqor {

// The count (at most 48) bits from bit 'at', most significant first; bits past the end are 0.
uint64_t BitsAt(std::span<const uint8_t> stream, uint64_t at, int count);

// Appends bits to a byte vector, most significant first.
class BitAppender {
  public:
    explicit BitAppender(std::vector<uint8_t>& out) : out_(out) {}
    // The low count bits of value; count at most 56.
    void Put(uint64_t value, int count);
    // The bits [from, to) of stream; whole bytes at a time when the output is at a byte.
    void Copy(std::span<const uint8_t> stream, uint64_t from, uint64_t to);
    // Zero bits up to a whole byte.
    void Finish();

  private:
    void CopyWholeBytes(std::span<const uint8_t> stream, uint64_t from, uint64_t bytes);

    std::vector<uint8_t>& out_;
    uint64_t pending_ = 0;
    int pendingBits_ = 0;
};

}  // namespace winqor
