#include "platform/temporary_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

// The folder is the user's alone, lies in $TMPDIR, and its removal takes everything below it
// but nothing a link below it points to.
TEST(TemporaryFolder, IsPrivateAndRemovedWithoutFollowingLinks) {
    test::TempDir scratch;
    const fs::path outside = scratch.path() / "outside";
    fs::create_directories(outside / "kept");
    std::ofstream(outside / "kept" / "file.txt") << "keep me";
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", scratch.path().c_str(), 1);
    std::u16string made;
    std::string reason;
    const bool madeOne = MakePrivateTemporaryFolder(made, reason);
    saved != nullptr ? ::setenv("TMPDIR", previous.c_str(), 1) : ::unsetenv("TMPDIR");
    ASSERT_TRUE(madeOne) << reason;
    const fs::path folder = Utf16ToUtf8Lossy(made);
    EXPECT_EQ(folder.parent_path(), scratch.path());
    struct stat info;
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    fs::create_directories(folder / "a" / "b");
    std::ofstream(folder / "a" / "b" / "deep.txt") << "x";
    fs::permissions(folder / "a" / "b" / "deep.txt", fs::perms::owner_read);
    fs::create_directory_symlink(outside / "kept", folder / "a" / "link");
    fs::create_symlink(outside / "kept" / "file.txt", folder / "file-link");
    EXPECT_TRUE(RemoveTree(made, reason)) << reason;
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::exists(outside / "kept" / "file.txt"));
}

// A removal that fails names the entry that stayed and why.
TEST(TemporaryFolder, RemovalThatFailsSaysWhereAndWhy) {
    test::TempDir scratch;
    fs::path deep = scratch.path() / "deep";
    for (int level = 0; level <= 256; ++level) deep /= "d";
    fs::create_directories(deep);
    const std::string missing = (scratch.path() / "missing").string();
    const struct {
        std::u16string path;
        std::string reason;
    } cases[] = {
        {u"", "not a path"},
        {u"bad\xD800", "not a path"},
        {test::Wide(missing), missing + " (No such file or directory)"},
        {test::Wide(scratch.path() / "deep"), "(more than 256 levels)"},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_FALSE(RemoveTree(c.path, reason));
        EXPECT_TRUE(reason.ends_with(c.reason)) << reason;
    }
    EXPECT_TRUE(fs::exists(deep)) << "nothing below the depth limit is removed";
}

}  // namespace
}  // namespace winqor
