// The input is the header's unpackedSize (4 bytes, little-endian) and a compressed payload;
// the harness adds a header whose digest matches, so that mutated compressed data reaches
// the decompressor and whatever it yields reaches the walk.
#include <cstring>
#include <vector>

#include "format/archive_header.h"
#include "fuzz/harness.h"
#include "base/little_endian.h"
#include "protection/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    if (size <= 4 || size - 4 > kMaxPayloadSize) return 0;
    HeaderFields fields;
    fields.unpackedSize = ReadLe32(data);
    fields.packedSize = static_cast<uint32_t>(size - 4);
    Md5Digest(fields.payloadDigest, data + 4, static_cast<int32_t>(fields.packedSize));
    std::vector<uint8_t> image(kHeaderBytes);
    BuildHeader(fields, image.data());
    image.insert(image.end(), data + 4, data + size);
    fuzz::ExtractImage(image);
    return 0;
}
