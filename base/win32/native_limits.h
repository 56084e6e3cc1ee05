// Windows' path limits.
#pragma once

#include <cstdint>

namespace winqor {

// Longest path, in UTF-16 units including the terminator, that any fixed path buffer holds.
// Not MAX_PATH (260): paths reach the system in their extended form ("\\?\C:\...") once they
// are long, so a folder as deep as Linux takes works here too; the limit is Linux's.
inline constexpr uint32_t kMaxPath = 4096;

// Record names and the system's paths both separate folders with a backslash.
inline constexpr char16_t kPathSeparator = u'\\';

// Whether a path character separates folders: Windows takes '/' as well as '\\', so a
// path typed with either is cut at the right place.
inline constexpr bool IsPathSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

}  // namespace winqor
