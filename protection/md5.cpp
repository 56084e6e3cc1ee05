#include "protection/md5.h"

#include <cstring>

#include "protection/crypto_backend.h"

namespace winqor {

int32_t Md5Digest(uint8_t out[kDigestBytes], const void* data, int32_t length) {
    if (out == nullptr || data == nullptr || length <= 0) return 0;
    // A system that fails midway must leave out untouched, as a refusal does.
    uint8_t digest[kDigestBytes];
    if (!crypto::Md5(digest, static_cast<const uint8_t*>(data), static_cast<size_t>(length)))
        return 0;
    std::memcpy(out, digest, sizeof digest);
    return kDigestBytes;
}

}  // namespace winqor
