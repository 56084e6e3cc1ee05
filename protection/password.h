// The password digest and the check value that tests a password against a header.
#pragma once

#include <cstdint>
#include <string_view>

#include "format/archive_header.h"

namespace winqor {

// The password dialog leaves the accepted password's digest here; zero at start.
extern uint8_t g_passwordDigest[16];

// Longest password that counts: characters after the 15th never change the digest.
inline constexpr int kMaxPasswordChars = 15;

// One byte per character (the low bytes, or the high bytes when the first character's low
// byte is zero) and a terminating zero. Returns the characters narrowed; 0, writing nothing,
// when the password is missing or empty or out is missing. out holds length + 1 bytes.
int NarrowPassword(const char16_t* password, uint8_t* out);

// MD5 of g_passwordSalt[n..n+31] followed by the n narrowed bytes (n up to the first zero
// byte, at most 15). Returns out, or null for a missing or empty password.
uint8_t* DerivePasswordDigest(uint8_t out[16], const char16_t* password);

// MD5 of g_passwordSalt[26..35], digest bytes 0..11, g_passwordSalt[36..45]. Returns out, or
// null, writing nothing, when an argument is missing or the digest's first byte is zero.
uint8_t* ComputeCheckValue(uint8_t out[16], const uint8_t digest[16]);

// The acceptance a password dialog applies: the digest goes to g_passwordDigest (an empty
// password leaves it as it was), and the password is accepted only when its check value
// equals the header's passwordCheck in all 16 bytes.
bool AcceptPassword(const char16_t* password, const ArchiveHeader* header);

enum class PasswordVerdict {
    kAccepted,
    kTooLong,  // more than kMaxPasswordChars: refused, not cut, as create refuses it
    kWrong,
};

// The acceptance of a password read from a file or typed on a terminal: at most 15 characters
// (a character outside the Basic Multilingual Plane counts as two), and its check value equals
// the header's. On kAccepted digest holds its digest; nothing global is touched.
PasswordVerdict CheckPassword(std::u16string_view password, const ArchiveHeader& header,
                              uint8_t digest[16]);

}  // namespace winqor
