// Time stamps as the record stream stores them.
#pragma once

#include <cstdint>

namespace winqor {

// Seconds from 1601-01-01 to 1970-01-01, both UTC.
inline constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

// A time given in seconds and nanoseconds since 1970-01-01 UTC as a FILETIME: 100-ns units
// since 1601-01-01 UTC. Times before 1601 become 0; nanoseconds beyond a second are ignored.
uint64_t FileTimeFromUnixTime(int64_t seconds, uint32_t nanoseconds);

}  // namespace winqor
