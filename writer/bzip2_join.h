// Joining bzip2 streams at the bit level, so that blocks compressed apart (and at the same
// time) form one stream that a decoder reads in one pass.
#pragma once

#include <cstdint>
#include <vector>

namespace winqor {

// Writes to out one stream holding the blocks of the given streams in order, with the
// combined CRC of them all. Each stream must hold exactly one block and all must have the
// same block size; false when one does not (out is then unspecified).
bool JoinSingleBlockStreams(const std::vector<std::vector<uint8_t>>& streams,
                            std::vector<uint8_t>& out);

}  // namespace winqor
