#include "protection/password.h"

#include <cstring>
#include <string>

#include "protection/constants.h"
#include "protection/md5.h"

namespace winqor {

uint8_t g_passwordDigest[16] = {};

int NarrowPassword(const char16_t* password, uint8_t* out) {
    if (password == nullptr || out == nullptr || password[0] == 0) return 0;
    // The choice of byte is made once, on the first character, for the whole password.
    const int shift = (password[0] & 0xFF) == 0 ? 8 : 0;
    int count = 0;
    for (; password[count] != 0; ++count)
        out[count] = static_cast<uint8_t>(password[count] >> shift);
    out[count] = 0;
    return count;
}

uint8_t* DerivePasswordDigest(uint8_t out[16], const char16_t* password) {
    if (out == nullptr || password == nullptr || password[0] == 0) return nullptr;
    char16_t counted[kMaxPasswordChars + 1] = {};
    for (int i = 0; i < kMaxPasswordChars && password[i] != 0; ++i) counted[i] = password[i];
    uint8_t narrowed[kMaxPasswordChars + 1];
    NarrowPassword(counted, narrowed);
    const size_t n = strnlen(reinterpret_cast<const char*>(narrowed), kMaxPasswordChars);
    uint8_t block[32 + kMaxPasswordChars];
    std::memcpy(block, g_passwordSalt + n, 32);
    std::memcpy(block + 32, narrowed, n);
    Md5Digest(out, block, static_cast<int32_t>(32 + n));
    return out;
}

uint8_t* ComputeCheckValue(uint8_t out[16], const uint8_t digest[16]) {
    if (out == nullptr || digest == nullptr || digest[0] == 0) return nullptr;
    uint8_t block[32];
    std::memcpy(block, g_passwordSalt + 26, 10);
    std::memcpy(block + 10, digest, 12);
    std::memcpy(block + 22, g_passwordSalt + 36, 10);
    Md5Digest(out, block, sizeof block);
    return out;
}

bool AcceptPassword(const char16_t* password, const ArchiveHeader* header) {
    if (DerivePasswordDigest(g_passwordDigest, password) == nullptr) return false;
    uint8_t check[16];
    if (ComputeCheckValue(check, g_passwordDigest) == nullptr || header == nullptr) return false;
    return std::memcmp(check, PasswordCheck(*header), sizeof check) == 0;
}

PasswordVerdict CheckPassword(std::u16string_view password, const ArchiveHeader& header,
                              uint8_t digest[16]) {
    if (password.size() > static_cast<size_t>(kMaxPasswordChars)) return PasswordVerdict::kTooLong;
    const std::u16string terminated(password);
    uint8_t derived[16];
    uint8_t check[16];
    if (DerivePasswordDigest(derived, terminated.c_str()) == nullptr ||
        ComputeCheckValue(check, derived) == nullptr ||
        std::memcmp(check, PasswordCheck(header), sizeof check) != 0) {
        return PasswordVerdict::kWrong;
    }
    std::memcpy(digest, derived, sizeof derived);
    return PasswordVerdict::kAccepted;
}

}  // namespace winqor
