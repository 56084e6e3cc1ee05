#include "ui/password_controller.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "format/archive_header.h"
#include "protection/password.h"
#include "support/known_answers.h"
#include "support/test_support.h"
#include "ui/gtk/resource.h"

namespace winqor {
namespace {

// A header whose passwordCheck belongs to password.
std::vector<uint8_t> HeaderFor(const char16_t* password) {
    HeaderFields fields;
    fields.packedSize = 1;
    fields.unpackedSize = 1;
    fields.encrypted = true;
    uint8_t digest[16];
    EXPECT_NE(DerivePasswordDigest(digest, password), nullptr);
    EXPECT_NE(ComputeCheckValue(fields.passwordCheck, digest), nullptr);
    std::vector<uint8_t> image(kHeaderBytes);
    BuildHeader(fields, image.data());
    return image;
}

class PasswordCheckTest : public ::testing::Test {
  protected:
    void TearDown() override { g_currentHeader = nullptr; }
};

struct AttemptCase {
    const char16_t* attempt;
    bool accepted;
};

TEST_F(PasswordCheckTest, OnlyTheExactPasswordIsAccepted) {
    const std::vector<uint8_t> header = HeaderFor(u"Secret1");
    g_currentHeader = HeaderAt(header.data());
    const AttemptCase cases[] = {
        {u"Secret1", true}, {u"secret1", false},  {u"SECRET1", false},
        {u"Secret", false}, {u"Secret12", false}, {u"", false},
    };
    for (const AttemptCase& c : cases) {
        SCOPED_TRACE(
            std::string(c.attempt, c.attempt + std::char_traits<char16_t>::length(c.attempt)));
        PasswordController dialog;
        dialog.m_password = c.attempt;
        EXPECT_EQ(dialog.CheckPassword(), c.accepted);
        // A refused attempt empties the field for the next one; an accepted one keeps it.
        EXPECT_EQ(dialog.m_password, c.accepted ? c.attempt : u"");
    }
}

// The reference archive's header and the known answer: wrong attempts are refused, the right
// one leaves its known digest for the decoder.
TEST_F(PasswordCheckTest, ReferenceArchivesPassword) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    const std::vector<uint8_t> archive = test::ReadFileBytes(test::VectorsDir() / "encrypted.aze");
    ASSERT_GE(archive.size(), kHeaderBytes);
    g_currentHeader = HeaderAt(archive.data());
    for (const char16_t* wrong : {u"secret1", u"Secret2", u""}) {
        PasswordController dialog;
        dialog.m_password = wrong;
        EXPECT_FALSE(dialog.CheckPassword());
    }
    PasswordController dialog;
    dialog.m_password = u"Secret1";
    EXPECT_TRUE(dialog.CheckPassword());
    for (const auto& answer : test::LoadKnownAnswers().passwords) {
        if (answer.password != u"Secret1") continue;
        EXPECT_EQ(std::vector<uint8_t>(g_passwordDigest, g_passwordDigest + 16), answer.digest);
    }
}

TEST_F(PasswordCheckTest, NoHeaderAcceptsNothing) {
    PasswordController dialog;
    dialog.m_password = u"Secret1";
    EXPECT_FALSE(dialog.CheckPassword());
    EXPECT_EQ(dialog.m_password, u"");
}

TEST(WindowMenu, CommandsSixteenToThirtyOneOpenTheAboutBox) {
    const struct {
        unsigned id;
        bool opens;
    } cases[] = {{0, false}, {15, false}, {16, true},        {17, true},
                 {31, true}, {32, false}, {SC_CLOSE, false}, {0xF010, false}};
    for (const auto& c : cases) EXPECT_EQ(OpensAboutBox(c.id), c.opens) << c.id;
}

}  // namespace
}  // namespace winqor
