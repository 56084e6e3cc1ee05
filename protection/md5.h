#pragma once

#include <cstdint>

namespace winqor {

inline constexpr int kDigestBytes = 16;

// MD5 (RFC 1321) of length bytes. Returns 16 after writing the digest; 0, leaving out
// untouched, when out or data is missing or length is 0 or less.
int32_t Md5Digest(uint8_t out[kDigestBytes], const void* data, int32_t length);

}  // namespace winqor
