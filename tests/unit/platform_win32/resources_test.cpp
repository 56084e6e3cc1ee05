#include "platform/resources.h"

#include <gtest/gtest.h>

#include <string>

namespace winqor {
namespace {

// resources_test.rc gives this program the placeholder at English (United States) and, beside
// it, a neutral entry, as aze sfx --windows does.
constexpr char kNeutralBytes[] = "neutral entry!!";

TEST(OwnResourcesTest, TheSystemsSearchTakesTheNeutralEntryFirst) {
    const ResourceHandle found = FindResource(nullptr, kSetupArchiveType, kSetupArchiveId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->language, kLanguageNeutral);
    ASSERT_EQ(SizeofResource(found), sizeof kNeutralBytes - 1);
    const uint8_t* bytes = LockResource(LoadResource(nullptr, found));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), sizeof kNeutralBytes - 1),
              kNeutralBytes);
    EXPECT_EQ(FindResource(OwnProgramResources(), kSetupArchiveType, kSetupArchiveId), found);
    EXPECT_EQ(FindResource(nullptr, kSetupArchiveType, 132), nullptr);
    EXPECT_EQ(FindResource(nullptr, "NO_SUCH_TYPE", kSetupArchiveId), nullptr);
}

}  // namespace
}  // namespace winqor
