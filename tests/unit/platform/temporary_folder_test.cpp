#include "platform/temporary_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/text.h"
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
    const bool madeOne = MakePrivateTemporaryFolder(made);
    saved != nullptr ? ::setenv("TMPDIR", previous.c_str(), 1) : ::unsetenv("TMPDIR");
    ASSERT_TRUE(madeOne);
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
    EXPECT_TRUE(RemoveTree(made));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::exists(outside / "kept" / "file.txt"));
}

}  // namespace
}  // namespace winqor
