// The primitives from OpenSSL's libcrypto. MD5 and DES are deprecated as low-level APIs in
// OpenSSL 3 but are the format's digest and payload cipher.
#define OPENSSL_API_COMPAT 10101
#include <openssl/des.h>
#include <openssl/md5.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "protection/crypto_backend.h"

namespace winqor::crypto {

bool Md5(uint8_t out[16], const uint8_t* data, size_t length) {
    return MD5(data, length, out) != nullptr;
}

bool DesCbc(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[8],
            const uint8_t iv[8], bool encrypt) {
    if (length > LONG_MAX) return false;
    DES_cblock keyBlock;
    std::memcpy(keyBlock, key, sizeof keyBlock);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&keyBlock, &schedule);
    // DES_ncbc_encrypt updates the vector it is given: it works on a copy.
    DES_cblock vector;
    std::memcpy(vector, iv, sizeof vector);
    DES_ncbc_encrypt(in, out, static_cast<long>(length), &schedule, &vector,
                     encrypt ? DES_ENCRYPT : DES_DECRYPT);
    return true;
}

bool SystemRandom(uint8_t* out, size_t count) {
    while (count > 0) {
        const int chunk = count > INT_MAX ? INT_MAX : static_cast<int>(count);
        if (RAND_bytes(out, chunk) != 1) return false;
        out += chunk;
        count -= static_cast<size_t>(chunk);
    }
    return true;
}

}  // namespace winqor::crypto
