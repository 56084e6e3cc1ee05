#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "base/limits.h"
#include "base/text.h"
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

// The parent takes from its child only what the rules allow: whole messages in order, none
// past the bound, none that receive refuses; a crash is a failure, and the child holds none of
// the parent's files (nor a terminal) while it works.
TEST(RunInChildProcessTest, TheParentTakesOnlyWhatTheRulesAllow) {
    using Work = std::function<void(const MessageToParent&)>;
    std::FILE* parentsFile = std::tmpfile();
    ASSERT_NE(parentsFile, nullptr);
    struct Case {
        const char* name;
        Work work;
        ChildEnd end;
        const char* why;
        std::vector<std::string> received;
    };
    const Case cases[] = {
        {"messages in order",
         [](auto& send) { send("one"), send(""), send("two"); },
         ChildEnd::kEnded,
         "",
         {"one", "", "two"}},
        {"a message at the bound",
         [](auto& send) { send(std::string(64, 'x')); },
         ChildEnd::kEnded,
         "",
         {std::string(64, 'x')}},
        {"a message past the bound",
         [](auto& send) { send("ok"), send(std::string(65, 'x')); },
         ChildEnd::kFailed,
         "killed: it announced a message of 65 bytes",
         {"ok"}},
        {"a message receive refuses",
         [](auto& send) { send("lie"), send("after"); },
         ChildEnd::kFailed,
         "killed: it sent a message that breaks the rules",
         {}},
        {"a crash",
         [](auto& send) { send("before"), std::abort(); },
         ChildEnd::kFailed,
         "ended with signal 6",
         {"before"}},
        {"no file or terminal of the parent's",
         [parentsFile](auto& send) {
             const bool written =
                 std::fputs("x", parentsFile) >= 0 && std::fflush(parentsFile) == 0;
             send(written ? "parent's file open" : "parent's file closed");
             send(std::cin.get() == EOF ? "no input" : "input");
         },
         ChildEnd::kEnded,
         "",
         {"parent's file closed", "no input"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> received;
        std::string why;
        const auto receive = [&received](std::string_view message) {
            if (message == "lie") return false;
            received.emplace_back(message);
            return true;
        };
        const ChildEnd end = RunInChildProcess(c.work, receive, kInvalidDirectory, {64, 60}, why);
        EXPECT_EQ(end, c.end) << c.name;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
        EXPECT_EQ(received, c.received) << c.name;
    }
    std::fclose(parentsFile);
}

}  // namespace
}  // namespace winqor
