#include "protection/password.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/known_answers.h"
#include "support/test_support.h"

namespace winqor {
namespace {

std::u16string Ascii(const std::string& text) {
    return {text.begin(), text.end()};
}

// A password whose digest starts with a zero byte: no check value can ever match it.
std::u16string PasswordWithZeroDigest() {
    for (int i = 0;; ++i) {
        std::u16string candidate = u"z";
        candidate.append(Ascii(std::to_string(i)));
        uint8_t digest[16];
        DerivePasswordDigest(digest, candidate.c_str());
        if (digest[0] == 0) return candidate;
    }
}

class PasswordAnswers : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
        answers_ = test::LoadKnownAnswers();
        ASSERT_FALSE(answers_.passwords.empty());
    }
    test::KnownAnswers answers_;
};

TEST_F(PasswordAnswers, NarrowingDigestAndCheckValueMatchEveryKnownAnswer) {
    for (const auto& answer : answers_.passwords) {
        SCOPED_TRACE(test::ToHex(answer.digest.data(), 16));
        std::vector<uint8_t> narrowed(answer.password.size() + 1, 0xCC);
        ASSERT_EQ(NarrowPassword(answer.password.c_str(), narrowed.data()),
                  static_cast<int>(answer.password.size()));
        // The known answer is the narrowed string as it counts: up to its first zero, 15 at most.
        const size_t counted = strnlen(reinterpret_cast<char*>(narrowed.data()), 15);
        EXPECT_EQ(std::vector<uint8_t>(narrowed.begin(), narrowed.begin() + counted),
                  answer.narrowed);
        uint8_t digest[16];
        ASSERT_EQ(DerivePasswordDigest(digest, answer.password.c_str()), digest);
        EXPECT_EQ(std::vector<uint8_t>(digest, digest + 16), answer.digest);
        uint8_t check[16];
        if (answer.check.empty()) {
            EXPECT_EQ(ComputeCheckValue(check, digest), nullptr);
        } else {
            ASSERT_EQ(ComputeCheckValue(check, digest), check);
            EXPECT_EQ(std::vector<uint8_t>(check, check + 16), answer.check);
        }
    }
}

// Each known check value accepts its own password alone, and every attempt with a non-empty
// password, accepted or not, leaves that password's known digest for the decoder.
TEST_F(PasswordAnswers, EachCheckValueAcceptsItsOwnPasswordAlone) {
    for (const auto& owner : answers_.passwords) {
        if (owner.check.empty()) continue;
        HeaderFields fields;
        std::memcpy(fields.passwordCheck, owner.check.data(), 16);
        ArchiveHeader header = {};
        BuildHeader(fields, header.image);
        for (const auto& attempt : answers_.passwords) {
            SCOPED_TRACE(test::ToHex(owner.digest.data(), 16) + " tried with " +
                         test::ToHex(attempt.digest.data(), 16));
            EXPECT_EQ(AcceptPassword(attempt.password.c_str(), &header), &attempt == &owner);
            EXPECT_EQ(std::vector<uint8_t>(g_passwordDigest, g_passwordDigest + 16),
                      attempt.digest);
        }
    }
    // Without a header too.
    const auto& first = answers_.passwords.front();
    std::memset(g_passwordDigest, 0, 16);
    EXPECT_FALSE(AcceptPassword(first.password.c_str(), nullptr));
    EXPECT_EQ(std::vector<uint8_t>(g_passwordDigest, g_passwordDigest + 16), first.digest);
}

TEST(NarrowPassword, RefusesMissingAndEmptyWithoutWriting) {
    uint8_t out[4] = {7, 7, 7, 7};
    EXPECT_EQ(NarrowPassword(nullptr, out), 0);
    EXPECT_EQ(NarrowPassword(u"", out), 0);
    EXPECT_EQ(NarrowPassword(u"ab", nullptr), 0);
    EXPECT_EQ(out[0], 7);
}

TEST(NarrowPassword, WritesEveryCharacterAndTheTerminatorOnly) {
    struct Case {
        std::u16string password;
        std::vector<uint8_t> written;
    };
    const Case cases[] = {
        {u"abc", {'a', 'b', 'c', 0}},
        // the first character decides: high bytes for all, even where that gives zero
        {u"\u4e00\u4e8ca", {0x4e, 0x4e, 0x00, 0}},
        // a zero byte in the middle is written; only readers of the string stop there
        {u"A\u0100b", {'A', 0x00, 'b', 0}},
        // a surrogate pair is two units: U+1F600 narrows to '=' (0x3d) and 0x00
        {u"\U0001F600", {0x3d, 0x00, 0}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(c.written.size() + 2, 0xCC);
        EXPECT_EQ(NarrowPassword(c.password.c_str(), out.data()),
                  static_cast<int>(c.password.size()));
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.written.size()), c.written);
        EXPECT_EQ(out[c.written.size()], 0xCC) << "written past the terminator";
    }
}

TEST(DerivePasswordDigest, RefusesMissingArgumentsAndEmptyWithoutWriting) {
    uint8_t out[16];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(DerivePasswordDigest(nullptr, u"abc"), nullptr);
    EXPECT_EQ(DerivePasswordDigest(out, nullptr), nullptr);
    EXPECT_EQ(DerivePasswordDigest(out, u""), nullptr);
    for (uint8_t byte : out) EXPECT_EQ(byte, 0x5A);
}

TEST(ComputeCheckValue, DigestBytes12To15NeverCount) {
    uint8_t digest[16];
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(0x80 + i);
    uint8_t check[16], again[16];
    ASSERT_EQ(ComputeCheckValue(check, digest), check);
    for (int i = 12; i < 16; ++i) digest[i] ^= 0xFF;
    ComputeCheckValue(again, digest);
    EXPECT_EQ(std::memcmp(check, again, 16), 0);
    digest[11] ^= 0x01;
    ComputeCheckValue(again, digest);
    EXPECT_NE(std::memcmp(check, again, 16), 0);
}

TEST(ComputeCheckValue, RefusesWithoutWriting) {
    uint8_t digest[16] = {1};
    uint8_t zeroFirst[16] = {0, 1, 2, 3};
    uint8_t out[16];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(ComputeCheckValue(nullptr, digest), nullptr);
    EXPECT_EQ(ComputeCheckValue(out, nullptr), nullptr);
    EXPECT_EQ(ComputeCheckValue(out, zeroFirst), nullptr);
    for (uint8_t byte : out) EXPECT_EQ(byte, 0x5A);
}

TEST(DerivePasswordDigest, EquivalentPasswordsShareADigest) {
    struct Case {
        std::u16string a, b;
    };
    // The known answers carry the narrowing of "A\u0100b", "\u4e00a" and a 19-character password.
    const Case cases[] = {
        // characters after the 15th never count
        {u"0123456789abcde1", u"0123456789abcde2"},
        // a character outside the BMP counts by its high surrogate's low byte alone
        {u"\U0001F600", u"="},
    };
    for (const auto& c : cases) {
        uint8_t a[16], b[16];
        ASSERT_NE(DerivePasswordDigest(a, c.a.c_str()), nullptr);
        ASSERT_NE(DerivePasswordDigest(b, c.b.c_str()), nullptr);
        EXPECT_EQ(std::memcmp(a, b, 16), 0);
    }
}

TEST(AcceptPassword, OnlyTheExactPasswordPasses) {
    uint8_t digest[16];
    DerivePasswordDigest(digest, u"Secret1");
    ArchiveHeader header = {};
    HeaderFields fields;
    ComputeCheckValue(fields.passwordCheck, digest);
    BuildHeader(fields, header.image);

    EXPECT_TRUE(AcceptPassword(u"Secret1", &header));
    for (const char16_t* wrong : {u"secret1", u"SECRET1", u"Secret", u"Secret12", u" Secret1"}) {
        EXPECT_FALSE(AcceptPassword(wrong, &header));
    }
}

TEST(AcceptPassword, EveryCheckByteCountsAndAMissingHeaderRefuses) {
    uint8_t digest[16];
    DerivePasswordDigest(digest, u"Secret1");
    HeaderFields fields;
    ComputeCheckValue(fields.passwordCheck, digest);
    for (int i = 0; i < 16; ++i) {
        ArchiveHeader header = {};
        BuildHeader(fields, header.image);
        header.image[header_offset::kPasswordCheck + i] ^= 0x01;
        EXPECT_FALSE(AcceptPassword(u"Secret1", &header)) << "check byte " << i;
    }
    EXPECT_FALSE(AcceptPassword(u"Secret1", nullptr));
}

TEST(AcceptPassword, EmptyPasswordKeepsThePreviousDigest) {
    ArchiveHeader header = {};
    AcceptPassword(u"previous", &header);
    uint8_t before[16];
    std::memcpy(before, g_passwordDigest, 16);
    EXPECT_FALSE(AcceptPassword(u"", &header));
    EXPECT_FALSE(AcceptPassword(nullptr, &header));
    EXPECT_EQ(std::memcmp(before, g_passwordDigest, 16), 0);
}

TEST(AcceptPassword, DigestStartingWithZeroIsRefusedWhateverTheHeaderHolds) {
    const std::u16string password = PasswordWithZeroDigest();
    uint8_t digest[16];
    DerivePasswordDigest(digest, password.c_str());
    uint8_t check[16] = {};
    EXPECT_EQ(ComputeCheckValue(check, digest), nullptr);
    // Even a header carrying the check value computed while ignoring the rule refuses it.
    ArchiveHeader header = {};
    for (int fill : {0x00, 0xFF}) {
        std::memset(header.image + header_offset::kPasswordCheck, fill, 16);
        EXPECT_FALSE(AcceptPassword(password.c_str(), &header));
    }
}

}  // namespace
}  // namespace winqor
