// Password narrowing and the derivations. The input is a 4-byte key seed, then a password as
// UTF-16 units (little-endian, no terminator). The password and payload sit in blocks of
// exactly their size, so that a read past either end is caught.
#include <algorithm>
#include <cstring>
#include <vector>

#include "format/archive_header.h"
#include "fuzz/harness.h"
#include "protection/password.h"
#include "protection/payload_key.h"

namespace {

using winqor::fuzz::Require;

std::vector<char16_t> TerminatedPassword(const uint8_t* data, size_t units) {
    std::vector<char16_t> password(units + 1, 0);
    for (size_t i = 0; i < units; ++i) {
        password[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    return password;
}

void CheckNarrowing(const std::vector<char16_t>& password) {
    const size_t length = std::find(password.begin(), password.end(), u'\0') - password.begin();
    std::vector<uint8_t> narrowed(length + 1, 0xEE);
    const int count = winqor::NarrowPassword(password.data(), narrowed.data());
    Require(count >= 0 && static_cast<size_t>(count) == length, "not every character narrowed");
    Require(length == 0 ? narrowed[0] == 0xEE : narrowed[length] == 0,
            "an empty password wrote something, or a narrowed one is not terminated");
}

// Deciphering and enciphering again gives back every byte; only whole blocks change.
void CheckCipher(const uint8_t* data, size_t size, const uint8_t key[16]) {
    const auto length = static_cast<int32_t>(std::min<size_t>(size, 1 << 16));
    std::vector<uint8_t> block(data, data + length);
    const int32_t deciphered = winqor::DecryptPayload(block.data(), block.data(), length, key);
    Require(deciphered == (length < 8 ? 0 : length / 8 * 8), "deciphered an unexpected length");
    Require(std::equal(block.begin() + deciphered, block.end(), data + deciphered),
            "the bytes after the last whole block changed");
    winqor::EncryptPayload(block.data(), block.data(), length, key);
    Require(std::equal(block.begin(), block.end(), data), "the cipher does not invert");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    if (size < 4) return 0;
    const std::vector<uint8_t> seed(data, data + 4);
    const std::vector<char16_t> password = TerminatedPassword(data + 4, (size - 4) / 2);
    CheckNarrowing(password);
    uint8_t digest[16] = {};
    const bool derived = DerivePasswordDigest(digest, password.data()) != nullptr;
    Require(derived == (password[0] != 0), "a digest exactly for the non-empty passwords");
    uint8_t check[16] = {};
    Require((ComputeCheckValue(check, digest) != nullptr) == (digest[0] != 0),
            "a check value exactly for the digests that do not start with zero");
    uint8_t key[16];
    Require(DeriveKey(key, seed.data(), digest) == key, "no key from a complete seed and digest");
    CheckCipher(data + 4, size - 4, key);
    ArchiveHeader header{};
    HeaderFields fields;
    std::memcpy(fields.passwordCheck, check, sizeof check);
    BuildHeader(fields, header.image);
    Require(AcceptPassword(password.data(), &header) == (derived && digest[0] != 0),
            "a password is not accepted by its own check value");
    return 0;
}
