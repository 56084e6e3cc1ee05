// Linux's path limits.
#pragma once

#include <cstdint>

namespace winqor {

// Longest path, in UTF-16 units including the terminator, that any fixed path buffer holds.
// On Linux this is PATH_MAX; the POSIX build checks that the two agree.
inline constexpr uint32_t kMaxPath = 4096;

// Record names separate folders with a backslash; the system's paths use this separator.
inline constexpr char16_t kPathSeparator = u'/';

// Whether a path character separates folders: only '/' on Linux.
inline constexpr bool IsPathSeparator(char16_t c) {
    return c == u'/';
}

}  // namespace winqor
