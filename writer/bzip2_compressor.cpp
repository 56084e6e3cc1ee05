// The writer's compressor: one of the two places that include <bzlib.h>.
#include <bzlib.h>

#include "writer/archive_writer.h"

namespace winqor {

bool CompressBzip2(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
    // The library documents this bound: 1% larger than the input plus 600 bytes.
    unsigned int room = static_cast<unsigned int>(in.size() + in.size() / 100 + 600);
    out.resize(room);
    const int code =
        BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &room,
                                 const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                 static_cast<unsigned int>(in.size()), 9, 0, 0);
    if (code != BZ_OK) return false;
    out.resize(room);
    return true;
}

}  // namespace winqor
