#include "writer/new_password.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protection/password.h"
#include "support/known_answers.h"
#include "support/test_support.h"

namespace winqor {
namespace {

// The first password of the form "z<number>" whose digest starts with a zero byte.
std::u16string PasswordWithZeroDigest() {
    for (int i = 0;; ++i) {
        const std::string ascii = "z" + std::to_string(i);
        std::u16string candidate(ascii.begin(), ascii.end());
        uint8_t digest[16];
        DerivePasswordDigest(digest, candidate.c_str());
        if (digest[0] == 0) return candidate;
    }
}

TEST(PrepareNewPassword, RefusesWhatNoReaderWouldAccept) {
    struct Case {
        std::u16string password;
        const char* reason;
    };
    const Case cases[] = {
        {u"", "empty"},
        {u"0123456789abcdef", "longer than 15"},
        {u"\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600",
         "longer than 15"},
        {u"tab\there", "control character"},
        {std::u16string(u"nul\0x", 5), "control character"},
        {PasswordWithZeroDigest(), "choose another password"},
    };
    for (const Case& c : cases) {
        NewPassword prepared;
        std::string reason;
        EXPECT_FALSE(PrepareNewPassword(c.password, prepared, reason)) << c.reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

// The known answers' passwords of at most 15 characters are taken, with their known digests,
// and a warning exactly when some characters do not count.
TEST(PrepareNewPassword, GivesTheKnownDigests) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    for (const auto& answer : test::LoadKnownAnswers().passwords) {
        if (answer.password.size() > 15) continue;
        SCOPED_TRACE(test::ToHex(answer.digest.data(), 16));
        NewPassword prepared;
        std::string reason;
        ASSERT_TRUE(PrepareNewPassword(answer.password, prepared, reason)) << reason;
        EXPECT_EQ(std::vector<uint8_t>(prepared.digest.begin(), prepared.digest.end()),
                  answer.digest);
        EXPECT_EQ(prepared.warning.empty(), answer.narrowed.size() == answer.password.size())
            << prepared.warning;
    }
}

TEST(PrepareNewPassword, WarnsWhenOnlyPartOfThePasswordCounts) {
    struct Case {
        std::u16string password;
        const char* warning;
    };
    const Case cases[] = {
        {u"A\u0100bcdef", "only the first 1 of the password's 7 characters"},
        {u"\u4e00abc", "only the first 1 of the password's 4 characters"},
        {u"ab\U0001F600cd", "only the first 3 of the password's 6 characters"},
    };
    for (const Case& c : cases) {
        NewPassword prepared;
        std::string reason;
        ASSERT_TRUE(PrepareNewPassword(c.password, prepared, reason)) << reason;
        EXPECT_NE(prepared.warning.find(c.warning), std::string::npos) << prepared.warning;
    }
}

}  // namespace
}  // namespace winqor
