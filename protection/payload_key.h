// The payload key and the DES-CBC cipher over the whole 8-byte blocks of a payload.
#pragma once

#include <cstdint>

namespace winqor {

// MD5 over the 68-byte key block: three 16-byte windows of g_keySalt chosen by the high
// nibbles of seed bytes 0, 1 and 2, the four seed bytes, the 16 digest bytes. Returns out,
// or null when out, the seed or the digest is missing.
uint8_t* DeriveKey(uint8_t out[16], const uint8_t seed[4], const uint8_t digest[16]);

// Deciphers the largest multiple of 8 bytes not above length, starting from a fresh copy of
// g_payloadIv, under key bytes 0..7 used as they stand (no parity or weak-key check). The
// rest is neither read nor written. in and out may be the same buffer. Returns the bytes
// deciphered, or 0 when nothing was (missing argument, fewer than 8 bytes).
int32_t DecryptPayload(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16]);

// The inverse, for writers: enciphers the same whole blocks.
int32_t EncryptPayload(const uint8_t* in, uint8_t* out, int32_t length, const uint8_t key[16]);

}  // namespace winqor
