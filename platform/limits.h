// The platform's limits that fixed buffers are sized by.
#pragma once

#include <cstdint>

namespace winqor {

// Longest path, in UTF-16 units including the terminator, that any fixed path buffer holds.
// On Linux this is PATH_MAX; the POSIX build checks that the two agree.
inline constexpr uint32_t kMaxPath = 4096;

}  // namespace winqor
