#include "engine/bzip2_decoder.h"

#include <cstring>

#include "engine/archive_extractor.h"
#include "engine/decoder_threads.h"
#include "engine/extraction_hooks.h"
#include "format/bzip2_support.h"
#include "platform/processors.h"

namespace winqor {
namespace {

int g_decoderVerbosity = 4;
bool g_decoderChoiceReported = false;
unsigned g_decoderThreads = 0;
uint64_t g_decoderBudget = 0;

}  // namespace

int DecoderVerbosity() {
    return g_decoderVerbosity;
}

void SetDecoderVerbosity(int verbosity) {
    g_decoderVerbosity = verbosity;
}

void SetDecoderChoiceReported(bool reported) {
    g_decoderChoiceReported = reported;
}

bool DecoderChoiceReported() {
    return g_decoderChoiceReported;
}

void SetDecoderThreads(unsigned threads) {
    g_decoderThreads = threads;
}

unsigned DecoderThreads() {
    return g_decoderThreads != 0 ? g_decoderThreads : UsableProcessors();
}

void SetDecoderMemoryBudget(uint64_t bytes) {
    g_decoderBudget = bytes;
}

uint64_t DecoderMemoryBudget() {
    if (g_decoderBudget != 0) return g_decoderBudget;
    return CurrentExtractionHooks().DecoderMemoryBudget(DecoderBudgetFor(ReadUsableMemory()));
}

Bzip2Decoder::Bzip2Decoder() : state(kClosed) {
    std::memset(&stream, 0, sizeof stream);
}

Bzip2Decoder::~Bzip2Decoder() {
    if (state != kClosed) End();
}

void Bzip2Decoder::End() {
    BZ2_bzDecompressEnd(&stream);
    state = kClosed;
}

int Bzip2Decoder::Init() {
    // Null allocator and opaque slots make the library use its default allocator.
    return Init(nullptr, nullptr, nullptr);
}

int Bzip2Decoder::Init(Allocate allocate, Release release, void* opaque) {
    std::memset(&stream, 0, sizeof stream);
    stream.bzalloc = allocate;
    stream.bzfree = release;
    stream.opaque = opaque;
    if (BZ2_bzDecompressInit(&stream, g_decoderVerbosity, 0) != BZ_OK) return 0;
    state = kOpen;
    return 1;
}

int Bzip2Decoder::Decode(uint8_t* out, uint32_t* outCount, const uint8_t* in, uint32_t* inCount) {
    if (out == nullptr || outCount == nullptr || *outCount == 0 || state == kClosed) return 0;
    if (stream.avail_in == 0 && in != nullptr && inCount != nullptr && *inCount != 0) {
        // The library never writes through next_in; its type is not const only for C's sake.
        stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
        stream.avail_in = *inCount;
    }
    const uint32_t room = *outCount;
    stream.next_out = reinterpret_cast<char*>(out);
    stream.avail_out = room;
    const int code = BZ2_bzDecompress(&stream);
    if (code != BZ_OK && code != BZ_STREAM_END) {
        *outCount = 0;
        End();
        return 0;
    }
    *outCount = room - stream.avail_out;
    if (inCount != nullptr) *inCount = stream.avail_in;
    if (code == BZ_OK) return 1;
    if (stream.avail_in == 0) End();
    return 2;
}

}  // namespace winqor
