// The known answers that come with the reference archives, parsed from known-answers.txt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winqor::test {

struct PasswordAnswer {
    std::u16string password;
    std::vector<uint8_t> narrowed;
    std::vector<uint8_t> digest;
    std::vector<uint8_t> check;  // empty for "none"
};

struct KeyAnswer {
    std::vector<uint8_t> seed, digest, material;
};

struct DecryptAnswer {
    std::vector<uint8_t> material, stored, plain;
};

struct KnownAnswers {
    std::vector<PasswordAnswer> passwords;
    std::vector<KeyAnswer> keys;
    std::vector<DecryptAnswer> decryptions;
};

KnownAnswers LoadKnownAnswers();

}  // namespace winqor::test
