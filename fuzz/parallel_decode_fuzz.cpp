// A differential target: the parallel block decoder against one call of the library over the
// same payload, as the extraction uses them (engine/decoded_archive.cpp: the parallel decoder
// first, and the one call when it declines). The input is the unpacked size (32 bits,
// little-endian, at most 4 MiB) and a bzip2 stream. Whenever the parallel decoder accepts, the
// one call must accept too, with the same bytes: a stream that the library refuses, or decodes
// to other bytes, must never pass through the parallel path. It may decline what the one call
// accepts (one block, or a stream it cannot split): the caller then decodes in one call.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"
#include "engine/bzip2_decoder.h"
#include "engine/bzip2_parallel.h"
#include "fuzz/harness.h"

namespace {

using winqor::fuzz::Require;

constexpr uint32_t kMaxUnpacked = 4 << 20;

// What the extraction's one call makes of the stream: true with out filled, as
// DecodedArchive::DecodePayload takes it.
bool DecodeInOneCall(const uint8_t* in, uint32_t inBytes, std::vector<uint8_t>& out) {
    winqor::Bzip2Decoder decoder;
    if (decoder.Init() == 0) return false;
    uint32_t outCount = static_cast<uint32_t>(out.size());
    uint32_t inCount = inBytes;
    const int code = decoder.Decode(out.data(), &outCount, in, &inCount);
    return code != 0 && outCount == out.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    fuzz::QuietOnce();
    if (size < 4 || size - 4 > UINT32_MAX) return 0;
    const uint32_t unpacked = ReadLe32(data);
    if (unpacked == 0 || unpacked > kMaxUnpacked) return 0;
    // Blocks of exactly their size, so that a read or write past either end is caught.
    const std::vector<uint8_t> in(data + 4, data + size);
    std::vector<uint8_t> parallel(unpacked), single(unpacked);
    // Two processors and the lowest budget the machine gives: the blocks held aside stay few.
    const int accepted = DecodeBlocksInParallel(in.data(), static_cast<uint32_t>(in.size()),
                                                parallel.data(), unpacked, 2, 64 << 20);
    if (accepted == 0) return 0;
    Require(accepted == 1, "the parallel decoder answered neither 0 nor 1");
    Require(DecodeInOneCall(in.data(), static_cast<uint32_t>(in.size()), single),
            "the parallel decoder accepted a stream that one call of the library refuses");
    Require(parallel == single, "the parallel decoder gave other bytes than the library");
    return 0;
}
