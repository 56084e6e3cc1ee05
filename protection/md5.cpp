// MD5 is deprecated as a low-level API in OpenSSL 3 but is the format's digest.
#define OPENSSL_API_COMPAT 10101
#include "protection/md5.h"

#include <openssl/md5.h>

namespace winqor {

int32_t Md5Digest(uint8_t out[kDigestBytes], const void* data, int32_t length) {
    if (out == nullptr || data == nullptr || length <= 0) return 0;
    MD5(static_cast<const unsigned char*>(data), static_cast<size_t>(length), out);
    return kDigestBytes;
}

}  // namespace winqor
