#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/limits.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

std::u16string Wide(const fs::path& path) {
    std::u16string wide;
    EXPECT_TRUE(Utf8ToUtf16(path.string(), wide));
    return wide;
}

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

TEST(StartProgramAndWaitTest, RunsInTheCurrentDirectoryWithTheEnvironmentAndWaits) {
    test::CurrentDirGuard restore;
    test::TempDir dir;
    fs::current_path(dir.path());
    ::setenv("WINQOR_TEST_MARK", "inherited", 1);
    const fs::path setup = dir.path() / "Setup.exe";
    // Written without execute permission, as extracted files are; exits non-zero.
    WriteScript(setup, "sleep 0.3\necho \"$(pwd) $WINQOR_TEST_MARK $#\" > ran.txt\nexit 3\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StartProgramAndWait(Wide(setup).c_str()), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(fs::exists(dir.path() / "ran.txt")) << "the wait ends with the program";
    EXPECT_EQ(ReadText(dir.path() / "ran.txt"), dir.path().string() + " inherited 0\n");
    EXPECT_GE(elapsed, std::chrono::milliseconds(1300)) << "then one second's pause";
    EXPECT_NE(fs::status(setup).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST(StartProgramAndWaitTest, MissingOrUnstartableProgramsFailAtOnce) {
    test::TempDir dir;
    test::WriteFileBytes(dir.path() / "garbage.exe", {0x4D, 0x5A, 0, 0, 1, 2, 3});
    const fs::path cases[] = {dir.path() / "Setup.exe", dir.path() / "garbage.exe", dir.path()};
    for (const auto& path : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(StartProgramAndWait(Wide(path).c_str()), 0) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    }
    EXPECT_EQ(StartProgramAndWait(nullptr), 0);
}

}  // namespace
}  // namespace winqor
