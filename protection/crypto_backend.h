// The primitives the format's protection is built on, one implementation per system (chosen by
// CMake): crypto_openssl.cpp on Linux, crypto_cryptoapi.cpp on Windows. Callers check their
// arguments first: every pointer here is valid and every length is above zero.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winqor::crypto {

inline constexpr size_t kDesBlockBytes = 8;

// MD5 (RFC 1321) of length bytes into out; false, with out undefined, when the system cannot.
bool Md5(uint8_t out[16], const uint8_t* data, size_t length);

// DES-CBC without padding over length bytes (a multiple of 8) from iv, under the 8-byte key as
// it stands: no parity or weak-key check. in and out may be the same buffer. False, with out
// undefined, when the system cannot.
bool DesCbc(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[8],
            const uint8_t iv[8], bool encrypt);

// Fills count bytes from the system's cryptographic generator; false when it cannot.
bool SystemRandom(uint8_t* out, size_t count);

}  // namespace winqor::crypto
