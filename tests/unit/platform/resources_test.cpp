#include "platform/resources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

const std::vector<uint8_t> kProgram(100, 0x90);
const std::vector<uint8_t> kArchive = {'S', 'F', 'X', 'S', 'e', 't', 'u', 'p', 1, 2, 3};

std::vector<uint8_t> ProgramWithArchive() {
    const NewResource additions[] = {
        {kSetupArchiveType, kSetupArchiveId, kLanguageEnglishUs, kSetupArchivePlaceholder},
        {kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, kArchive}};
    std::vector<uint8_t> out;
    std::string reason;
    EXPECT_TRUE(AppendResources(kProgram, additions, out, reason)) << reason;
    return out;
}

class ResourceFileTest : public ::testing::Test {
  protected:
    std::string Write(const std::vector<uint8_t>& bytes) {
        test::WriteFileBytes(path_, bytes);
        return path_.string();
    }
    test::TempDir dir_;
    fs::path path_ = dir_.path() / "program";
};

TEST_F(ResourceFileTest, FindsLoadsAndReadsTheNeutralArchive) {
    ResourceFile file;
    ASSERT_TRUE(file.Open(Write(ProgramWithArchive())));
    EXPECT_EQ(file.status(), TableStatus::kValid);
    EXPECT_EQ(file.table().programBytes, kProgram.size());
    ResourceHandle found = FindResource(&file, kSetupArchiveType, kSetupArchiveId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->language, kLanguageNeutral);
    ASSERT_EQ(SizeofResource(found), kArchive.size());
    const uint8_t* bytes = LockResource(LoadResource(&file, found));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + kArchive.size()), kArchive);
    std::vector<uint8_t> copy;
    EXPECT_TRUE(file.Read(*found, 1000, copy));
    EXPECT_EQ(copy, kArchive);
    // No more than the reader asks for, whatever the entry claims.
    EXPECT_TRUE(file.Read(*found, 4, copy));
    EXPECT_EQ(copy, std::vector<uint8_t>(kArchive.begin(), kArchive.begin() + 4));
}

TEST_F(ResourceFileTest, FilesWithoutAUsableTableHaveNoResources) {
    auto damaged = ProgramWithArchive();
    damaged[damaged.size() - 20] = 0xFF;  // the entry count
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        TableStatus status;
    } cases[] = {{"empty", {}, TableStatus::kAbsent},
                 {"no table", kProgram, TableStatus::kAbsent},
                 {"damaged", damaged, TableStatus::kCorrupt}};
    for (const auto& c : cases) {
        ResourceFile file;
        ASSERT_TRUE(file.Open(Write(c.bytes))) << c.what;
        EXPECT_EQ(file.status(), c.status) << c.what;
        EXPECT_EQ(FindResource(&file, kSetupArchiveType, kSetupArchiveId), nullptr) << c.what;
    }
}

TEST_F(ResourceFileTest, MissingFilesAndFoldersDoNotOpen) {
    ResourceFile missing, folder;
    EXPECT_FALSE(missing.Open((dir_.path() / "nothing").string()));
    EXPECT_FALSE(folder.Open(dir_.path().string()));
}

TEST_F(ResourceFileTest, AFileThatChangedSizeIsNotMapped) {
    // Mapping a file that shrank would fault on the first byte past its new end.
    for (int change : {-1, +1}) {
        ResourceFile file;
        auto bytes = ProgramWithArchive();
        ASSERT_TRUE(file.Open(Write(bytes)));
        const ResourceHandle found = file.Find(kSetupArchiveType, kSetupArchiveId);
        ASSERT_NE(found, nullptr);
        fs::resize_file(path_, bytes.size() + change);
        EXPECT_EQ(LoadResource(&file, found), nullptr) << change;
    }
}

TEST(OwnProgramResourcesTest, TheBuildGaveThisProgramThePlaceholder) {
    // The test program is built with winqor_add_placeholder, like winqor.
    ResourceHandle found = FindResource(nullptr, kSetupArchiveType, kSetupArchiveId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->language, kLanguageEnglishUs);
    ASSERT_EQ(SizeofResource(found), sizeof kSetupArchivePlaceholder);
    const uint8_t* bytes = LockResource(LoadResource(nullptr, found));
    ASSERT_NE(bytes, nullptr);
    EXPECT_TRUE(std::equal(bytes, bytes + 8, kSetupArchivePlaceholder));
    EXPECT_EQ(LockResource(LoadResource(nullptr, found)), bytes) << "mapped once";
    EXPECT_EQ(FindResource(nullptr, kSetupArchiveType, 132), nullptr);
}

TEST(WriteProgramFileTest, ReplacesTheFileWithAnExecutableOne) {
    test::TempDir dir;
    const fs::path path = dir.path() / "sfx";
    test::WriteFileBytes(path, {1, 2, 3});
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    const std::vector<uint8_t> bytes = ProgramWithArchive();
    std::string reason;
    ASSERT_TRUE(WriteProgramFile(path.string(), bytes, reason)) << reason;
    EXPECT_EQ(test::ReadFileBytes(path), bytes);
    EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << "no temporary file is left";
}

TEST(WriteProgramFileTest, FailsWithAMessageWhereItCannotWrite) {
    test::TempDir dir;
    std::string reason;
    EXPECT_FALSE(WriteProgramFile((dir.path() / "no" / "sfx").string(), kProgram, reason));
    EXPECT_FALSE(reason.empty());
    fs::create_directory(dir.path() / "taken");
    reason.clear();
    EXPECT_FALSE(WriteProgramFile((dir.path() / "taken").string(), kProgram, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace winqor
