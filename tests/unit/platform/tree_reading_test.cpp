#include "platform/tree_reading.h"
#include "platform/whole_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>

#include "support/test_support.h"

namespace winqor {
namespace {
namespace fs = std::filesystem;

using test::Bytes;

class FolderTest : public ::testing::Test {
  protected:
    std::string At(const std::string& name) const { return (dir_.path() / name).string(); }
    FolderHandle OpenTop() const {
        FolderHandle top;
        std::string reason;
        EXPECT_TRUE(top.Open(dir_.path().string(), reason)) << reason;
        return top;
    }
    FileId IdOf(const std::string& name) const {
        FolderEntry entry;
        EXPECT_TRUE(DescribePath(At(name), false, entry)) << name;
        return entry.id;
    }
    test::TempDir dir_;
};

TEST_F(FolderTest, ListsEveryEntryAsItIsWithoutFollowingLinks) {
    fs::create_directory(At("sub"));
    test::WriteFileBytes(At("file"), Bytes("12345"));
    test::WriteFileBytes(At("readonly"), Bytes(""));
    fs::permissions(At("readonly"), fs::perms::owner_read | fs::perms::group_write);
    fs::create_symlink("file", At("link"));
    fs::create_directory_symlink("sub", At("folderlink"));
    using namespace std::chrono;
    const sys_time<nanoseconds> when{seconds{1000000000} + nanoseconds{987654321}};
    fs::last_write_time(At("file"), file_clock::from_sys(when));

    std::vector<FolderEntry> entries;
    std::string reason;
    ASSERT_TRUE(OpenTop().List(entries, reason)) << reason;
    std::map<std::string, FolderEntry> byName;
    for (const auto& entry : entries) byName[entry.name] = entry;
    ASSERT_EQ(byName.size(), 5u);
    EXPECT_EQ(byName["sub"].kind, EntryKind::kFolder);
    EXPECT_EQ(byName["link"].kind, EntryKind::kLink);
    EXPECT_EQ(byName["folderlink"].kind, EntryKind::kLink);
    const FolderEntry& file = byName["file"];
    EXPECT_EQ(file.kind, EntryKind::kFile);
    EXPECT_EQ(file.size, 5u);
    EXPECT_TRUE(file.ownerWritable);
    EXPECT_EQ(file.modifiedSeconds, 1000000000);
    EXPECT_EQ(file.modifiedNanoseconds, 987654321u);
    EXPECT_FALSE(byName["readonly"].ownerWritable);
    EXPECT_NE(file.id, byName["readonly"].id);
    FolderEntry described;
    ASSERT_TRUE(DescribePath(At("file"), false, described));
    EXPECT_EQ(described.id, file.id);
    ASSERT_TRUE(DescribePath(At("link"), true, described));
    EXPECT_EQ(described.id, file.id);
    EXPECT_FALSE(DescribePath(At("missing"), true, described));
}

TEST_F(FolderTest, ASubfolderOpensOnlyAsTheFolderThatWasListed) {
    fs::create_directories(At("real/inner"));
    fs::create_directory(At("other"));
    test::WriteFileBytes(At("file"), Bytes("x"));
    fs::create_directory_symlink("real", At("link"));
    const FolderHandle top = OpenTop();
    struct Case {
        const char* name;
        std::optional<FileId> expected;
        const char* reason;  // empty: it opens
    };
    const Case cases[] = {
        {"real", IdOf("real"), ""},
        {"real", std::nullopt, ""},
        {"link", std::nullopt, "it is a symbolic link now"},
        {"file", std::nullopt, "it is no longer a folder"},
        {"other", IdOf("real"), "it was replaced by another folder"},
        {"missing", std::nullopt, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FolderHandle child;
        std::string reason;
        EXPECT_EQ(child.OpenChild(top, c.name, c.expected, reason), *c.reason == 0);
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(child.IsOpen(), *c.reason == 0);
    }
    // The folder the caller names may be reached through a link.
    FolderHandle throughLink;
    std::string reason;
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(throughLink.Open(At("link"), reason)) << reason;
    ASSERT_TRUE(throughLink.List(entries, reason)) << reason;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "inner");
    EXPECT_FALSE(throughLink.Open(At("file"), reason));
}

TEST_F(FolderTest, ReadWholeFileAppendsUpToTheLimit) {
    test::WriteFileBytes(At("f"), Bytes("hello"));
    test::WriteFileBytes(At("empty"), {});
    std::vector<uint8_t> out = Bytes(">");
    std::string reason;
    EXPECT_EQ(ReadWholeFile(At("f"), 5, out, reason), ReadOutcome::kRead);
    EXPECT_EQ(out, Bytes(">hello"));
    EXPECT_EQ(ReadWholeFile(At("f"), 4, out, reason), ReadOutcome::kTooLarge);
    EXPECT_EQ(out, Bytes(">hello"));
    EXPECT_EQ(ReadWholeFile(At("empty"), 0, out, reason), ReadOutcome::kRead);
    EXPECT_EQ(out, Bytes(">hello"));
}

TEST_F(FolderTest, ReadsOnlyRegularFilesAndFollowsNoLinkBelowAFolder) {
    test::WriteFileBytes(At("target"), Bytes("secret"));
    fs::create_symlink("target", At("link"));
    fs::create_directory(At("folder"));
    const FolderHandle top = OpenTop();
    for (const char* name : {"link", "folder", "missing"}) {
        std::vector<uint8_t> out;
        std::string reason;
        EXPECT_EQ(top.ReadFile(name, 100, out, reason), ReadOutcome::kFailed) << name;
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(reason.empty());
    }
    std::vector<uint8_t> out;
    std::string reason;
    EXPECT_EQ(top.ReadFile("target", 100, out, reason), ReadOutcome::kRead) << reason;
    // A path the caller names may go through a link; a folder there is still refused.
    EXPECT_EQ(ReadWholeFile(At("link"), 100, out, reason), ReadOutcome::kRead) << reason;
    EXPECT_EQ(out, Bytes("secretsecret"));
    EXPECT_EQ(ReadWholeFile(At("folder"), 100, out, reason), ReadOutcome::kFailed);
}

std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(FolderTest, ReplaceFileContentsReplacesTheNameAndLeavesNothingElse) {
    test::WriteFileBytes(At("target"), Bytes("keep me"));
    fs::create_symlink("target", At("out"));
    std::string reason;
    ASSERT_TRUE(ReplaceFileContents(At("out"), Bytes("new"), reason)) << reason;
    EXPECT_FALSE(fs::is_symlink(At("out")));  // the link itself was replaced
    EXPECT_EQ(test::ReadFileBytes(At("out")), Bytes("new"));
    EXPECT_EQ(test::ReadFileBytes(At("target")), Bytes("keep me"));
    ASSERT_TRUE(ReplaceFileContents(At("fresh"), {}, reason)) << reason;
    EXPECT_EQ(fs::file_size(At("fresh")), 0u);
    const std::string longest(255, 'n');  // the new file's own name must still fit
    ASSERT_TRUE(ReplaceFileContents(At(longest), Bytes("x"), reason)) << reason;
    EXPECT_EQ(FolderNames(dir_.path()),
              (std::vector<std::string>{"fresh", longest, "out", "target"}));
}

TEST_F(FolderTest, ReplaceFileContentsFailsCleanly) {
    fs::create_directory(At("folder"));
    test::WriteFileBytes(At("folder/inside"), Bytes("x"));
    std::string reason;
    EXPECT_FALSE(ReplaceFileContents(At("folder"), Bytes("data"), reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_TRUE(fs::is_directory(At("folder")));
    EXPECT_FALSE(ReplaceFileContents(At("missing/out"), Bytes("data"), reason));
    EXPECT_EQ(FolderNames(dir_.path()), (std::vector<std::string>{"folder"}));
    EXPECT_EQ(FolderNames(At("folder")), (std::vector<std::string>{"inside"}));
}

}  // namespace
}  // namespace winqor
