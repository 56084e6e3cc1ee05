// A whole archive image, as a file or a program would carry it: loaded, decoded and walked
// below a fresh root. A mutated payload almost always fails its digest; archive_stream and
// archive_payload reach the decompressor and the walk.
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winqor::fuzz::ExtractImage({data, size});
    return 0;
}
