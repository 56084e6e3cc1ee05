// Windows' path limits.
#pragma once

#include <cstdint>

namespace winqor {

// Longest path, in UTF-16 units including the terminator, that any fixed path buffer holds:
// MAX_PATH. The Windows build checks that the two agree.
inline constexpr uint32_t kMaxPath = 260;

// Record names and the system's paths both separate folders with a backslash.
inline constexpr char16_t kPathSeparator = u'\\';

// Whether a path character separates folders: Windows takes '/' as well as '\\', so a
// path typed with either is cut at the right place.
inline constexpr bool IsPathSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

}  // namespace winqor
