// Decoding the blocks of one bzip2 stream on several threads.
#pragma once

#include <cstdint>

namespace winqor {

class DecodedPrefix;

// Decodes the stream in[0, inBytes) into out[0, outBytes) with its blocks spread over as many
// threads as DecodingThreads (engine/decoder_threads.h) gives for the processors and the
// memory budget, each block through the library as a stream of its own; the threads take the
// blocks from one queue in order, so none is idle while a block is left. 1 only when the
// stream up to its end decoded whole, every block and the combined CRC checked, into exactly
// outBytes bytes. 0 for anything else, and without trying when the stream has one block or
// one thread is all there is: out then holds no promise, and the caller decodes in one call,
// which reports a damaged stream exactly as it always has. The choice goes to the debug
// channel; on one thread the stream is not even looked at.
// When prefix is given, each block that takes its place in out moves prefix's end past it.
int DecodeBlocksInParallel(const uint8_t* in, uint32_t inBytes, uint8_t* out, uint32_t outBytes,
                           unsigned processors, uint64_t memoryBudget,
                           DecodedPrefix* prefix = nullptr);

}  // namespace winqor
