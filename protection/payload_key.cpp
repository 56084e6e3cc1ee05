// DES is deprecated as a low-level API in OpenSSL 3 but is the format's payload cipher.
#define OPENSSL_API_COMPAT 10101
#include "protection/payload_key.h"

#include <openssl/des.h>

#include <cstring>

#include "protection/constants.h"
#include "protection/md5.h"

namespace winqor {
namespace {

int32_t RunCbc(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16],
               int direction) {
    int32_t whole = length & ~7;
    if (in == nullptr || out == nullptr || key == nullptr || whole <= 0) return 0;
    DES_cblock keyBlock;
    std::memcpy(keyBlock, key, sizeof keyBlock);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&keyBlock, &schedule);
    // DES_ncbc_encrypt updates the vector it is given: every call starts from a fresh copy.
    DES_cblock iv;
    std::memcpy(iv, g_payloadIv, sizeof iv);
    DES_ncbc_encrypt(in, out, whole, &schedule, &iv, direction);
    return whole;
}

}  // namespace

uint8_t* DeriveKey(uint8_t out[16], const uint8_t seed[4], const uint8_t digest[16]) {
    if (out == nullptr || seed == nullptr || digest == nullptr) return nullptr;
    uint8_t block[68];
    std::memcpy(block, g_keySalt + (seed[0] >> 4), 16);
    std::memcpy(block + 16, g_keySalt + (seed[1] >> 4), 16);
    std::memcpy(block + 32, g_keySalt + 16 + (seed[2] >> 4), 16);
    std::memcpy(block + 48, seed, 4);
    std::memcpy(block + 52, digest, 16);
    Md5Digest(out, block, sizeof block);
    return out;
}

int32_t DecryptPayload(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16]) {
    return RunCbc(in, out, length, key, DES_DECRYPT);
}

int32_t EncryptPayload(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16]) {
    return RunCbc(in, out, length, key, DES_ENCRYPT);
}

}  // namespace winqor
