// The record walk alone: the input is a decoded record stream, placed straight into an
// extractor's output block as the decoder would leave it, then walked below a fresh root.
#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    fuzz::QuietOnce();
    if (size == 0 || size > kMaxPayloadSize) return 0;
    ArchiveExtractor extractor;
    fuzz::Require(extractor.UseDecodedStream(data, static_cast<uint32_t>(size)) != 0,
                  "out of memory");
    fuzz::WalkDecoded(extractor);
    return 0;
}
