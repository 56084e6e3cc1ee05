#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/limits.h"
#include "platform/text.h"
#include "platform/tree_writing.h"
#include "support/file_fixtures.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

using test::Wide;

std::string Narrow(const char16_t* text) {
    return Utf16ToUtf8Lossy(text);
}

void WriteScript(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

std::string ReadText(const fs::path& path) {
    const auto bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

TEST(GetModuleFileNameTest, GivesTheProgramsPathOnlyWhenItFits) {
    char16_t path[kMaxPath];
    const uint32_t length = GetModuleFileName(path, kMaxPath);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(Narrow(path), fs::canonical("/proc/self/exe").string());
    char16_t exact[kMaxPath];
    EXPECT_EQ(GetModuleFileName(exact, length + 1), length);
    EXPECT_EQ(GetModuleFileName(exact, length), 0u) << "a path is never cut";
}

FileId IdOf(const fs::path& path) {
    test::FileFacts facts;
    EXPECT_TRUE(test::Facts(path, facts)) << path;
    return {facts.device, facts.node};
}

// The folder as an extraction holds it: open, and closed when the test ends.
struct OpenFolder {
    explicit OpenFolder(const fs::path& path) {
        EXPECT_EQ(OpenRootFolder(Wide(path).c_str(), RootTrust::kChosen, handle),
                  OpenRootResult::kOpened);
    }
    ~OpenFolder() { CloseDirectory(handle); }
    DirectoryHandle handle = kInvalidDirectory;
};

TEST(StartProgramAndWaitTest, RunsInTheCurrentDirectoryWithTheEnvironmentAndWaits) {
    test::CurrentDirGuard restore;
    test::TempDir dir;
    fs::current_path(dir.path());
    ::setenv("WINQOR_TEST_MARK", "inherited", 1);
    const fs::path setup = dir.path() / "Setup.exe";
    // Written without execute permission, as extracted files are; exits non-zero.
    WriteScript(setup, "sleep 0.3\necho \"$(pwd) $WINQOR_TEST_MARK $#\" > ran.txt\nexit 3\n");
    OpenFolder folder(dir.path());
    uint32_t status = 0;
    EXPECT_EQ(StartProgramAndWait(folder.handle, u"Setup.exe", IdOf(setup), &status), 1);
    ASSERT_TRUE(fs::exists(dir.path() / "ran.txt")) << "the wait ends with the program";
    EXPECT_EQ(ReadText(dir.path() / "ran.txt"), dir.path().string() + " inherited 0\n");
    EXPECT_EQ(status, 3u);
    EXPECT_NE(fs::status(setup).permissions() & fs::perms::owner_exec, fs::perms::none);
}

// Only the file expected starts: nothing else that stands at its name, and nothing that
// cannot start, makes the call wait.
TEST(StartProgramAndWaitTest, AnythingButTheExpectedProgramFailsAtOnce) {
    test::TempDir dir;
    const fs::path outside = dir.path() / "outside.sh";
    WriteScript(outside, "touch '" + (dir.path() / "ran").string() + "'\n");
    test::WriteFileBytes(dir.path() / "garbage.exe", {0x4D, 0x5A, 0, 0, 1, 2, 3});
    fs::create_symlink(outside, dir.path() / "link.exe");
    ASSERT_TRUE(test::MakePipe(dir.path() / "fifo.exe"));
    fs::create_directory(dir.path() / "folder.exe");
    struct Case {
        const char16_t* name;
        FileId expected;
    };
    const Case cases[] = {
        {u"missing.exe", {}},
        {u"garbage.exe", IdOf(dir.path() / "garbage.exe")},
        {u"link.exe", IdOf(dir.path() / "link.exe")},
        {u"link.exe", IdOf(outside)},
        {u"fifo.exe", IdOf(dir.path() / "fifo.exe")},
        {u"folder.exe", IdOf(dir.path() / "folder.exe")},
        {u"garbage.exe", IdOf(outside)},  // a file other than the one written
    };
    OpenFolder folder(dir.path());
    for (const auto& c : cases) {
        EXPECT_EQ(StartProgramAndWait(folder.handle, c.name, c.expected), 0) << Narrow(c.name);
    }
    EXPECT_EQ(StartProgramAndWait(folder.handle, nullptr, {}), 0);
    EXPECT_FALSE(fs::exists(dir.path() / "ran"));
    EXPECT_EQ(fs::status(outside).permissions() & fs::perms::owner_exec, fs::perms::none);
}

}  // namespace
}  // namespace winqor
