#include "writer/file_time.h"

namespace winqor {

uint64_t FileTimeFromUnixTime(int64_t seconds, uint32_t nanoseconds) {
    constexpr int64_t kUnitsPerSecond = 10'000'000;
    // The largest second whose FILETIME still fits: no int64 time stamp a system holds gets
    // near it, but a value read from a disk is not to be trusted with an overflow.
    constexpr int64_t kLastSecond =
        static_cast<int64_t>(UINT64_MAX / kUnitsPerSecond) - 1 - kSecondsFrom1601To1970;
    if (seconds < -kSecondsFrom1601To1970) return 0;
    if (seconds > kLastSecond) seconds = kLastSecond;
    const auto since1601 = static_cast<uint64_t>(seconds + kSecondsFrom1601To1970);
    return since1601 * kUnitsPerSecond + (nanoseconds % 1'000'000'000u) / 100;
}

}  // namespace winqor
