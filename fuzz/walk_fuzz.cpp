// The record walk alone: the input is a decoded record stream, placed straight into an
// extractor's output block as the decoder would leave it, then walked below a fresh root.
#include <cstring>

#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    fuzz::QuietOnce();
    if (size == 0 || size > kMaxPayloadSize) return 0;
    HeaderFields fields;
    fields.packedSize = 1;
    fields.unpackedSize = static_cast<uint32_t>(size);
    BuildHeader(fields, g_headerCopy.image);
    g_currentHeader = &g_headerCopy;
    ArchiveExtractor extractor;
    extractor.output = std::make_unique<ByteBuffer>();
    fuzz::Require(extractor.output->Allocate(fields.unpackedSize), "out of memory");
    std::memcpy(extractor.output->data, data, size);
    extractor.unpackedSize = fields.unpackedSize;
    fuzz::WalkDecoded(extractor);
    return 0;
}
