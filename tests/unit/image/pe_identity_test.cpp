#include "image/pe_identity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "image/resource_table.h"
#include "image/version_info.h"
#include "support/pe_image.h"
#include "support/test_support.h"

namespace winqor {
namespace {

using test::BuildPeImage;
using test::Bytes;
using test::PeTestResource;

std::vector<uint8_t> GroupOf(const std::vector<uint16_t>& ids) {
    static const std::vector<uint8_t> image = Bytes("image bits");
    std::vector<IconImage> images(ids.size(), IconImage{32, 32, 0, 1, 32, image});
    return BuildIconGroup(images, ids);
}

// A winqor.exe in small: its icon group 128 lists images 1 and 2; group 129 shares image 2
// and lists 3; an old version resource; and the placeholder.
std::vector<PeTestResource> StubResources() {
    return {{{u"SETUP_ARCHIVE"}, {{}, 131}, 1033, Bytes("placeholder")},
            {{{}, kRtIcon}, {{}, 1}, 1033, Bytes("old image 1")},
            {{{}, kRtIcon}, {{}, 2}, 1033, Bytes("old image 2")},
            {{{}, kRtIcon}, {{}, 3}, 1033, Bytes("old image 3")},
            {{{}, kRtGroupIcon}, {{}, 128}, 1033, GroupOf({1, 2})},
            {{{}, kRtGroupIcon}, {{}, 129}, 1033, GroupOf({2, 3})},
            {{{}, kRtVersion}, {{}, 1}, 1033, Bytes("old version")},
            {{{}, 5}, {{}, 100}, 1033, Bytes("dialog template")}};
}

std::vector<PeResource> ReadAll(const std::vector<uint8_t>& file) {
    std::vector<PeResource> resources;
    std::string reason;
    EXPECT_EQ(ReadPeResources(file, resources, reason), PeStatus::kValid) << reason;
    return resources;
}

std::string Describe(const std::vector<uint8_t>& file, const PeResource& resource) {
    auto key = [](const PeKey& k) {
        const std::u16string text = PeKeyText(k);
        return k.named ? std::string(text.begin(), text.end()) : std::to_string(k.id);
    };
    return key(resource.type) + "/" + key(resource.name) + "/" + key(resource.language) + " " +
           std::to_string(resource.size) + " " +
           std::string(file.begin() + resource.offset,
                       file.begin() + resource.offset + std::min<uint32_t>(resource.size, 11));
}

struct Made {
    std::vector<uint8_t> program;
    std::vector<PeResource> resources;
};

Made MakeWith(const std::vector<uint8_t>& stub, const PeIdentity& identity) {
    PeIdentityEdit edit;
    std::string reason;
    Made made;
    EXPECT_TRUE(PlanPeIdentity(stub, ReadAll(stub), identity, edit, reason)) << reason;
    const auto archive = Bytes("the archive");
    edit.additions.push_back({kSetupArchiveTypeUtf16, kSetupArchiveId, 0, archive});
    EXPECT_TRUE(EditPeResources(stub, edit.additions, edit.removals, made.program, reason))
        << reason;
    made.resources = ReadAll(made.program);
    return made;
}

TEST(PeIdentityTest, ReplacesGroup128AndTheImagesOnlyItListed) {
    const auto stub = BuildPeImage(StubResources()).bytes;
    const auto big = Bytes("new image A");
    const auto small = Bytes("new image B, longer");
    PeIdentity identity;
    identity.icon = {{32, 32, 0, 1, 32, big}, {16, 16, 0, 1, 8, small}};
    VersionInfo info;
    std::string reason;
    ASSERT_TRUE(SetVersionInfo("ProductName=Product", info, reason));
    identity.version = BuildVersionResource(info);

    const Made made = MakeWith(stub, identity);
    std::vector<std::string> described;
    for (const auto& resource : made.resources) {
        described.push_back(Describe(made.program, resource));
    }
    const std::vector<std::string> expected = {
        "SETUP_ARCHIVE/131/0 11 the archive",
        "SETUP_ARCHIVE/131/1033 11 placeholder",
        // Image 2 stays: group 129 lists it. The new ones take the lowest free ids.
        "3/2/1033 11 old image 2",
        "3/3/1033 11 old image 3",
        "3/4/0 11 new image A",
        "3/5/0 19 new image B",
        "5/100/1033 15 dialog temp",
        "14/128/0 34 " + std::string(reinterpret_cast<const char*>(GroupOf({4, 5}).data()), 11),
        "14/129/1033 34 " + std::string(reinterpret_cast<const char*>(GroupOf({2, 3}).data()), 11),
        "16/1/0 " + std::to_string(identity.version.size()) + " " +
            std::string(identity.version.begin(), identity.version.begin() + 11),
    };
    EXPECT_EQ(described, expected);
    const PeResource& group = made.resources[7];
    std::vector<uint32_t> ids;
    ASSERT_TRUE(ReadIconGroupIds(
        std::span<const uint8_t>(made.program).subspan(group.offset, group.size), ids));
    EXPECT_EQ(ids, (std::vector<uint32_t>{4, 5}));
}

TEST(PeIdentityTest, AProgramMadeBeforeGetsItsIconReplacedAgain) {
    const auto stub = BuildPeImage(StubResources()).bytes;
    const auto first = Bytes("first icon");
    const auto second = Bytes("second icon");
    PeIdentity identity;
    identity.icon = {{16, 16, 0, 1, 32, first}};
    const Made once = MakeWith(stub, identity);
    identity.icon = {{16, 16, 0, 1, 32, second}};
    const Made twice = MakeWith(once.program, identity);
    // Image 4 (the first icon) goes with its group; 1 is free again and taken.
    std::vector<std::string> icons;
    for (const auto& resource : twice.resources) {
        if (!resource.type.named && resource.type.id == kRtIcon) {
            icons.push_back(Describe(twice.program, resource));
        }
    }
    EXPECT_EQ(icons, (std::vector<std::string>{"3/1/0 11 second icon", "3/2/1033 11 old image 2",
                                               "3/3/1033 11 old image 3"}));
}

TEST(PeIdentityTest, WithoutAnIdentityNothingIsPlanned) {
    const auto stub = BuildPeImage(StubResources()).bytes;
    PeIdentityEdit edit;
    std::string reason;
    ASSERT_TRUE(PlanPeIdentity(stub, ReadAll(stub), {}, edit, reason));
    EXPECT_TRUE(edit.additions.empty());
    EXPECT_TRUE(edit.removals.empty());
}

}  // namespace
}  // namespace winqor
