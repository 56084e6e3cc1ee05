// How many threads decode one bzip2 stream and how many blocks they may hold aside: a pure
// decision from the processors this process may use, the decoder's memory budget and the
// stream. The system's answers come from platform/processors.h, through bzip2_decoder.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winqor {

// What one decoding thread holds for a block of the level: the library's state (4 bytes per
// byte of a block), the block as a stream of its own and its output held aside while its
// place is unknown (about one byte per byte of a block each), and a little more.
uint64_t DecoderBytesPerThread(int level);

// The budget on a machine of usableMemory bytes (0: unknown): an eighth of it, never below
// 64 MB (a dozen threads at the highest level) and never above 256 MB (49 threads), which
// bounds the sandboxed child's memory limit as well.
uint64_t DecoderBudgetFor(uint64_t usableMemory);

// One thread per block up to the processors and what the budget affords at the level; at
// least 1. 1 means the stream is decoded in one call.
unsigned DecodingThreads(unsigned processors, uint64_t budget, int level, size_t blocks);

// How many blocks may be held aside at once, decoded before their place is known: one per
// thread, and as many again as the budget left after the threads affords, so that no thread
// waits for room while a slow block ahead of it decodes.
unsigned BlocksHeldAside(unsigned threads, uint64_t budget, int level);

}  // namespace winqor
