// The input is a record stream; the harness writes it as an archive (bzip2, digest, and
// encrypted under the fixed password when the last byte is 3 mod 4) and extracts that.
#include <span>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "writer/archive_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    fuzz::QuietOnce();
    ArchiveOptions options;
    if (size > 0 && data[size - 1] % 4 == 3) {
        options.passwordDigest = fuzz::FixedPasswordDigest();
        options.keySeed = {data[size - 1], 1, 2, 3};
    }
    std::vector<uint8_t> archive;
    std::string error;
    if (!WriteArchive(std::span(data, size), options, archive, error)) return 0;
    fuzz::ExtractImage(archive);
    return 0;
}
