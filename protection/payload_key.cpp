#include "protection/payload_key.h"

#include <cstring>

#include "protection/constants.h"
#include "protection/crypto_backend.h"
#include "protection/md5.h"

namespace winqor {
namespace {

int32_t RunCbc(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16],
               bool encrypt) {
    const int32_t whole = length & ~7;
    if (in == nullptr || out == nullptr || key == nullptr || whole <= 0) return 0;
    // Every call starts from the format's vector: nothing chains from one payload to the next.
    const bool done =
        crypto::DesCbc(in, out, static_cast<size_t>(whole), key, g_payloadIv, encrypt);
    return done ? whole : 0;
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
    return RunCbc(in, out, length, key, false);
}

int32_t EncryptPayload(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16]) {
    return RunCbc(in, out, length, key, true);
}

}  // namespace winqor
