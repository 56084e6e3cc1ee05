// The decompression stream. Only the engine's own sources include this header.
#pragma once

#include <bzlib.h>

#include <cstdint>

namespace winqor {

// How many processors the blocks of one stream may be decoded on: the given count, or, when it
// is 0 (the default), the processors this process may use now (its affinity and its control
// group's quota). Tests set it to reach the parallel path on any host; the sandboxed child
// sets it before its walls hide what the count is read from.
void SetDecoderThreads(unsigned threads);
unsigned DecoderThreads();

// What the decoding threads may hold beside the payload and the decoded stream: the given
// bytes, or, when 0 (the default), DecoderBudgetFor (engine/decoder_threads.h) of the memory
// the system allows this process. The same number bounds the sandboxed child's memory; it is
// fixed there before the walls go up, as the thread count is.
void SetDecoderMemoryBudget(uint64_t bytes);
uint64_t DecoderMemoryBudget();

// Whether the thread count goes to the debug channel (SetDecoderChoiceReported).
bool DecoderChoiceReported();

class Bzip2Decoder final {
  public:
    static constexpr int32_t kClosed = 0;
    static constexpr int32_t kOpen = 2;

    Bzip2Decoder();
    Bzip2Decoder(const Bzip2Decoder&) = delete;
    Bzip2Decoder& operator=(const Bzip2Decoder&) = delete;
    // Ends a stream that is still open, so that the library's state is released.
    ~Bzip2Decoder();

    // 1 when the stream is open, 0 when the library refused.
    int Init();
    // The same, with the library's memory from allocate and back to release (opaque is
    // handed to both), for callers that keep memory between streams.
    using Allocate = void* (*)(void* opaque, int count, int size);
    using Release = void (*)(void* opaque, void* memory);
    int Init(Allocate allocate, Release release, void* opaque);
    // 0 on error, 1 when the library needs more input or room, 2 at the end of the stream.
    // outCount: in, room in out; out, bytes produced. inCount: in, bytes available; out,
    // bytes not consumed. Input still pending from an earlier call stays attached.
    int Decode(uint8_t* out, uint32_t* outCount, const uint8_t* in, uint32_t* inCount);

    bz_stream stream;
    int32_t state;

  private:
    void End();
};

}  // namespace winqor
