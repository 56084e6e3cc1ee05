#include "format/bzip2_support.h"

namespace winqor {

int StreamLevel(std::span<const uint8_t> stream) {
    if (stream.size() < kBzip2HeaderBytes || stream[0] != 'B' || stream[1] != 'Z' ||
        stream[2] != 'h')
        return 0;
    return stream[3] >= '1' && stream[3] <= '9' ? stream[3] - '0' : 0;
}

}  // namespace winqor
