// Unpredictable bytes for the values an archive writer chooses, such as the key seed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winqor {

// Fills count bytes from the system's cryptographic generator; false when it cannot.
bool RandomBytes(uint8_t* out, size_t count);

}  // namespace winqor
