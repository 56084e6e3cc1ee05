#include "protection/payload_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protection/constants.h"
#include "protection/md5.h"
#include "support/known_answers.h"
#include "support/test_support.h"

namespace winqor {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    return bytes;
}

const uint8_t kKey[16] = {0x13, 0x37, 0xC0, 0xDE, 0x42, 0x99, 0x05, 0x77, 1, 2, 3, 4, 5, 6, 7, 8};

TEST(Md5Digest, ResultsAndRefusals) {
    uint8_t out[16];
    std::memset(out, 0xAB, 16);
    EXPECT_EQ(Md5Digest(out, "abc", 3), 16);
    EXPECT_EQ(test::ToHex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
    uint8_t untouched[16];
    std::memset(untouched, 0xAB, 16);
    EXPECT_EQ(Md5Digest(untouched, "abc", 0), 0);
    EXPECT_EQ(Md5Digest(untouched, "abc", -1), 0);
    EXPECT_EQ(Md5Digest(untouched, nullptr, 3), 0);
    EXPECT_EQ(Md5Digest(nullptr, "abc", 3), 0);
    for (uint8_t b : untouched) EXPECT_EQ(b, 0xAB);
}

TEST(KnownAnswers, KeyMaterialAndDecryptionMatchByteForByte) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    auto answers = test::LoadKnownAnswers();
    ASSERT_EQ(answers.keys.size(), 3u);
    for (const auto& key : answers.keys) {
        uint8_t material[16];
        ASSERT_EQ(DeriveKey(material, key.seed.data(), key.digest.data()), material);
        EXPECT_EQ(std::vector<uint8_t>(material, material + 16), key.material);
    }
    ASSERT_EQ(answers.decryptions.size(), 1u);
    const auto& d = answers.decryptions[0];
    std::vector<uint8_t> buffer = d.stored;
    EXPECT_EQ(DecryptPayload(buffer.data(), buffer.data(), static_cast<int32_t>(buffer.size()),
                             d.material.data()),
              40);
    EXPECT_EQ(buffer, d.plain);
}

TEST(DeriveKey, SeedWindowsAndRefusals) {
    const uint8_t digest[16] = {9, 8, 7};
    // The highest nibbles read g_keySalt up to position 46: the block is rebuilt here by hand.
    const uint8_t seed[4] = {0xF0, 0xFF, 0xF7, 0x01};
    uint8_t block[68];
    std::memcpy(block, g_keySalt + 15, 16);
    std::memcpy(block + 16, g_keySalt + 15, 16);
    std::memcpy(block + 32, g_keySalt + 31, 16);
    std::memcpy(block + 48, seed, 4);
    std::memcpy(block + 52, digest, 16);
    uint8_t expected[16], material[16];
    Md5Digest(expected, block, 68);
    DeriveKey(material, seed, digest);
    EXPECT_EQ(std::memcmp(expected, material, 16), 0);

    // Low nibbles select the same windows but still change the key.
    const uint8_t lowNibbles[4] = {0xF1, 0xFE, 0xF6, 0x01};
    uint8_t other[16];
    DeriveKey(other, lowNibbles, digest);
    EXPECT_NE(std::memcmp(other, material, 16), 0);

    EXPECT_EQ(DeriveKey(nullptr, seed, digest), nullptr);
    EXPECT_EQ(DeriveKey(material, nullptr, digest), nullptr);
}

TEST(DecryptPayload, OnlyWholeBlocksAreTouched) {
    struct Case {
        int32_t length, deciphered;
    };
    const Case cases[] = {{0, 0},  {7, 0},  {8, 8},  {9, 8},  {10, 8},  {11, 8},
                          {12, 8}, {13, 8}, {14, 8}, {15, 8}, {16, 16}, {8 * 100 + 7, 800}};
    for (const auto& c : cases) {
        const auto stored = Pattern(static_cast<size_t>(c.length) + 1);
        auto buffer = stored;
        EXPECT_EQ(DecryptPayload(buffer.data(), buffer.data(), c.length, kKey), c.deciphered);
        // Bytes past the whole blocks, and past the length, stay exactly as stored.
        for (size_t i = c.deciphered; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], stored[i]) << i;
        if (c.deciphered > 0) {
            EXPECT_NE(std::memcmp(buffer.data(), stored.data(), 8), 0);
        }
    }
}

TEST(DecryptPayload, InPlaceEqualsSeparateAndNothingCarriesOver) {
    const auto stored = Pattern(803);
    auto inPlace = stored;
    std::vector<uint8_t> separate(stored.size(), 0);
    DecryptPayload(inPlace.data(), inPlace.data(), 803, kKey);
    DecryptPayload(stored.data(), separate.data(), 803, kKey);
    EXPECT_EQ(std::memcmp(inPlace.data(), separate.data(), 800), 0);
    auto again = stored;
    DecryptPayload(again.data(), again.data(), 803, kKey);
    EXPECT_EQ(again, inPlace);
}

TEST(DecryptPayload, KeyBytesEightToFifteenAreIgnoredAndEncryptIsItsInverse) {
    const auto stored = Pattern(64);
    uint8_t otherTail[16];
    std::memcpy(otherTail, kKey, 8);
    std::memset(otherTail + 8, 0xFF, 8);
    auto a = stored, b = stored;
    DecryptPayload(a.data(), a.data(), 64, kKey);
    DecryptPayload(b.data(), b.data(), 64, otherTail);
    EXPECT_EQ(a, b);
    EXPECT_EQ(EncryptPayload(a.data(), a.data(), 64, kKey), 64);
    EXPECT_EQ(a, stored);
}

TEST(DecryptPayload, WeakAndParityOddKeysAreUsedUnchanged) {
    // DES known answer: under the weak key 01..01 the block 80 00.. deciphers to 95F8A5E5DD31D900.
    // Parity bits are not checked, so 00..00 is the same key.
    std::vector<uint8_t> plain = test::FromHex("95f8a5e5dd31d900");
    for (uint8_t i = 0; i < 8; ++i) plain[i] ^= g_payloadIv[i];
    for (uint8_t fill : {uint8_t{0x01}, uint8_t{0x00}}) {
        uint8_t key[16];
        std::memset(key, fill, 16);
        std::vector<uint8_t> block = test::FromHex("8000000000000000");
        EXPECT_EQ(DecryptPayload(block.data(), block.data(), 8, key), 8);
        EXPECT_EQ(block, plain) << int(fill);
    }
}

TEST(DecryptPayload, MissingArgumentsDecipherNothing) {
    auto buffer = Pattern(16);
    const auto stored = buffer;
    EXPECT_EQ(DecryptPayload(nullptr, buffer.data(), 16, kKey), 0);
    EXPECT_EQ(DecryptPayload(buffer.data(), nullptr, 16, kKey), 0);
    EXPECT_EQ(DecryptPayload(buffer.data(), buffer.data(), 16, nullptr), 0);
    EXPECT_EQ(DecryptPayload(buffer.data(), buffer.data(), -8, kKey), 0);
    EXPECT_EQ(buffer, stored);
}

}  // namespace
}  // namespace winqor
