// Which record names may be written: nothing may leave the extraction root.
#pragma once

#include <cstdint>

namespace winqor {

// A bare file name: not empty, not "." or "..", no '\\', '/' or ':', valid UTF-16, and a
// plain name to the system (IsPlainNameHere: no device name or trailing dot on Windows).
bool IsSafeFileName(const char16_t* name);

// Splits a directory name ("" for the root, "\\a\\b" below it) in place into its components.
// False for a name that does not begin with '\\', or has an empty, "." or ".." component, a
// '/' or ':' (drive letters included), a lone surrogate, or a component the system would not
// take as a plain name.
bool SplitDirectoryName(char16_t* name, const char16_t** components, uint32_t maxComponents,
                        uint32_t& count);

}  // namespace winqor
