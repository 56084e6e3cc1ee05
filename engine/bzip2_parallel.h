// Decoding the blocks of one bzip2 stream on several threads.
#pragma once

#include <cstdint>

namespace winqor {

// Decodes the stream in[0, inBytes) into out[0, outBytes) with its blocks spread over up to
// threads threads, each block through the library as a stream of its own. 1 only when the
// stream up to its end decoded whole, every block and the combined CRC checked, into exactly
// outBytes bytes. 0 for anything else, and without trying when the stream has one block or
// threads is below 2: out then holds no promise, and the caller decodes in one call, which
// reports a damaged stream exactly as it always has.
// The memory the decoding threads may take together, beyond the stream and its output.
uint64_t DecoderMemoryBudget();

int DecodeBlocksInParallel(const uint8_t* in, uint32_t inBytes, uint8_t* out, uint32_t outBytes,
                           unsigned threads);

}  // namespace winqor
