#include "platform/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
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

// The child's side of each case below: this test program started again in the child's mode,
// the case's name waiting on its channel.
using ChildWork = std::function<void(const ChildChannel&)>;

void Send(const ChildChannel& channel, std::string_view message) {
    SendToParent(channel.channel, message);
}

// The descriptors the child holds, as "0 1 2 3".
std::string OpenDescriptors() {
    std::vector<int> open;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        open.push_back(std::stoi(entry.path().filename().string()));
    }
    std::sort(open.begin(), open.end());
    std::string list;
    // The last is the listing's own.
    for (size_t i = 0; i + 1 < open.size(); ++i)
        list += (i > 0 ? " " : "") + std::to_string(open[i]);
    return list;
}

const std::map<std::string, ChildWork>& ChildWorks() {
    static const std::map<std::string, ChildWork> works = {
        {"in order", [](auto& c) { Send(c, "one"), Send(c, ""), Send(c, "two"); }},
        {"at the bound", [](auto& c) { Send(c, std::string(64, 'x')); }},
        {"past the bound", [](auto& c) { Send(c, "ok"), Send(c, std::string(65, 'x')); }},
        {"refused", [](auto& c) { Send(c, "lie"), Send(c, "after"); }},
        {"crash", [](auto& c) { Send(c, "before"), std::abort(); }},
        {"its own descriptors",
         [](auto& c) {
             Send(c, OpenDescriptors());
             Send(c, std::cin.get() == EOF ? "no input" : "input");
         }},
        {"the bytes after the request",
         [](auto& c) {
             std::string bytes;
             Send(c, ReceiveFromParent(c.channel, 9, bytes) ? bytes : "none");
         }},
        {"the bytes past their bound",
         [](auto& c) {
             std::string bytes;
             Send(c, ReceiveFromParent(c.channel, 8, bytes) ? bytes : "refused");
         }},
    };
    return works;
}

int RunChildWork(const ChildChannel& channel) {
    std::string name;
    if (!ReceiveFromParent(channel.channel, 64, name)) return 2;
    const auto found = ChildWorks().find(name);
    if (found == ChildWorks().end()) return 3;
    found->second(channel);
    return 0;
}

// The parent takes from its child only what the rules allow: whole messages in order, none
// past the bound, none that receive refuses; a crash is a failure, and the child holds none of
// the parent's files (nor a terminal) while it works, and reads the bytes it was given, as long
// as it is willing to.
TEST(RunChildProgramTest, TheParentTakesOnlyWhatTheRulesAllow) {
    std::FILE* parentsFile = std::tmpfile();
    ASSERT_NE(parentsFile, nullptr);
    struct Case {
        const char* name;
        ChildEnd end;
        const char* why;
        std::vector<std::string> received;
    };
    const Case cases[] = {
        {"in order", ChildEnd::kEnded, "", {"one", "", "two"}},
        {"at the bound", ChildEnd::kEnded, "", {std::string(64, 'x')}},
        {"past the bound", ChildEnd::kFailed, "killed: it announced a message of 65 bytes", {"ok"}},
        {"refused", ChildEnd::kFailed, "killed: it sent a message that breaks the rules", {}},
        {"crash", ChildEnd::kFailed, "ended with signal 6", {"before"}},
        {"its own descriptors", ChildEnd::kEnded, "", {"0 1 2 3", "no input"}},
        {"the bytes after the request", ChildEnd::kEnded, "", {"the bytes"}},
        {"the bytes past their bound", ChildEnd::kEnded, "", {"refused"}},
    };
    const std::string bytes = "the bytes";
    for (const auto& c : cases) {
        std::vector<std::string> received;
        std::string why;
        const auto receive = [&received](std::string_view message) {
            if (message == "lie") return false;
            received.emplace_back(message);
            return true;
        };
        ChildStart start;
        start.request = c.name;
        start.bytes = reinterpret_cast<const uint8_t*>(bytes.data());
        start.byteCount = bytes.size();
        const ChildEnd end = RunChildProgram(start, receive, {64, 60}, why);
        EXPECT_EQ(end, c.end) << c.name;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
        EXPECT_EQ(received, c.received) << c.name;
    }
    std::fclose(parentsFile);
}

// The child's mode is reached only by the private start: the marker alone, or the marker with
// descriptors of the wrong kinds, is an ordinary start.
TEST(RunChildProgramTest, NoOrdinaryStartIsTakenForTheChild) {
    const char* const cases[][5] = {
        {"winqor (sandboxed extraction)", "3", "-", "quiet", "00000000"},
        {"winqor (sandboxed extraction)", "3", "4", "debug", "00000003"},
        {"winqor", "3", "-", "quiet", "00000000"},
    };
    // Here, 3 is whatever the test program holds: not a channel of its parent's.
    for (const auto& argv : cases) {
        ChildChannel channel;
        EXPECT_FALSE(IsSandboxedChildStart(5, argv, channel)) << argv[0] << " " << argv[2];
    }
}

}  // namespace
}  // namespace winqor

// The test program's own start: in the child's mode it runs the case its parent names.
int main(int argc, char** argv) {
    winqor::ChildChannel channel;
    if (winqor::IsSandboxedChildStart(argc, argv, channel)) return winqor::RunChildWork(channel);
    winqor::HoldOwnProgramFile();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
