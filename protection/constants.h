// The format's fixed tables. Stored archives depend on them: they never change.
#pragma once

#include <cstdint>

namespace winqor {

extern const uint8_t g_passwordSalt[64];
extern const uint8_t g_keySalt[64];
extern const uint8_t g_payloadIv[8];

}  // namespace winqor
