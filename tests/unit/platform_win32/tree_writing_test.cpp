#include "platform/tree_writing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file.h"
#include "base/limits.h"
#include "support/fixtures_win32.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::IsReadOnly;
using test::IsReparsePoint;
using test::Names;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A folder opened as an extraction's root, closed when the test ends.
struct HeldRoot {
    explicit HeldRoot(const fs::path& path, RootTrust trust = RootTrust::kChosen)
        : result(OpenRootFolder(path.u16string().c_str(), trust, handle)) {}
    ~HeldRoot() { CloseDirectory(handle); }
    DirectoryHandle handle = kInvalidDirectory;
    OpenRootResult result;
};

// Writes text as the file name in folder, as an extraction does.
ReplacingFile::Outcome WriteReplacing(DirectoryHandle folder, const char16_t* name,
                                      const std::string& text, bool readOnly) {
    ReplacingFile file;
    if (!file.Create(folder, name)) return ReplacingFile::Outcome::kFailed;
    const auto size = static_cast<uint32_t>(text.size());
    if (WriteToFile(file.handle(), text.data(), size) != size) {
        return ReplacingFile::Outcome::kFailed;
    }
    return file.Commit(readOnly);
}

struct Standing {
    const char* what;
    bool hardLink;     // "name" is a second name of "other"
    bool oldReadOnly;  // what stands at "name" is read-only
    bool newReadOnly;  // the new file is asked to be read-only
};

TEST(ReplacingFileTest, ReplacesTheEntryAtTheNameWithoutWritingThroughIt) {
    const Standing standings[] = {
        {"a read-only file", false, true, true},
        {"a hard link: the other name keeps the old content", true, false, false},
        {"a read-only hard link: the other name stays read-only", true, true, false},
    };
    for (const Standing& standing : standings) {
        SCOPED_TRACE(standing.what);
        test::TempDir dir;
        const fs::path name = dir.path() / "name";
        const fs::path other = dir.path() / "other";
        WriteFileBytes(standing.hardLink ? other : name, Bytes("old"));
        if (standing.hardLink) fs::create_hard_link(other, name);
        if (standing.oldReadOnly) test::SetReadOnly(name, true);
        HeldRoot root(dir.path());

        EXPECT_EQ(WriteReplacing(root.handle, u"name", "new", standing.newReadOnly),
                  ReplacingFile::Outcome::kDone);
        EXPECT_EQ(ReadFileBytes(name), Bytes("new"));
        EXPECT_EQ(IsReadOnly(name), standing.newReadOnly);
        if (standing.hardLink) {
            EXPECT_EQ(ReadFileBytes(other), Bytes("old"));
            EXPECT_EQ(IsReadOnly(other), standing.oldReadOnly);
        }
        const std::vector<std::string> expected = standing.hardLink
                                                      ? std::vector<std::string>{"name", "other"}
                                                      : std::vector<std::string>{"name"};
        EXPECT_EQ(Names(dir.path()), expected) << "no temporary is left";
    }
}

// The rename that gives a file its name passes the name after fixed fields; a name shorter
// than the room the structure keeps for it must still be taken, new and over an old entry.
TEST(ReplacingFileTest, NamesOfEveryLengthAreTakenNewAndOverAnOldEntry) {
    const std::u16string names[] = {u"a", u"ab", u"abc", u"\u00e9", std::u16string(200, u'n')};
    for (const std::u16string& name : names) {
        for (const bool replace : {false, true}) {
            SCOPED_TRACE(std::to_string(name.size()) + (replace ? " units, replacing" : " units"));
            test::TempDir dir;
            const fs::path path = dir.path() / fs::path(name);
            if (replace) WriteFileBytes(path, Bytes("old"));
            HeldRoot root(dir.path());
            EXPECT_EQ(WriteReplacing(root.handle, name.c_str(), "new", false),
                      ReplacingFile::Outcome::kDone);
            EXPECT_EQ(ReadFileBytes(path), Bytes("new"));
            EXPECT_EQ(Names(dir.path()).size(), 1u) << "no temporary is left";
        }
    }
}

TEST(ReplacingFileTest, ReplacesALinkAtTheNameItselfNeverItsTarget) {
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "a link to a folder" : "a link to a file");
        test::TempDir dir;
        const fs::path target = dir.path() / "target";
        if (folder) {
            fs::create_directory(target);
        } else {
            WriteFileBytes(target, Bytes("old"));
        }
        std::string why;
        const test::LinkMade made = test::MakeLink(dir.path() / "name", target, folder, why);
        if (made == test::LinkMade::kNone) GTEST_SKIP() << why;
        HeldRoot root(dir.path());
        // Where a handle cannot be the link itself, nothing may be done through it.
        const bool replaceable = !(folder && made == test::LinkMade::kHost);

        EXPECT_EQ(WriteReplacing(root.handle, u"name", "new", false),
                  replaceable ? ReplacingFile::Outcome::kDone : ReplacingFile::Outcome::kFailed);
        if (replaceable) {
            EXPECT_FALSE(IsReparsePoint(dir.path() / "name"));
            EXPECT_EQ(ReadFileBytes(dir.path() / "name"), Bytes("new"));
        }
        if (folder) {
            EXPECT_TRUE(fs::is_directory(target) && fs::is_empty(target));
        } else {
            EXPECT_EQ(ReadFileBytes(target), Bytes("old"));
        }
        EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"name", "target"}));
    }
}

TEST(ReplacingFileTest, AFolderInTheWayStaysAsItWasAndIsReported) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "name");
    WriteFileBytes(dir.path() / "name" / "inside", Bytes("kept"));
    HeldRoot root(dir.path());

    EXPECT_EQ(WriteReplacing(root.handle, u"name", "new", false),
              ReplacingFile::Outcome::kFolderInTheWay);
    EXPECT_EQ(ReadFileBytes(dir.path() / "name" / "inside"), Bytes("kept"));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"name"}) << "no temporary is left";
}

TEST(EnterFolderBelowTest, RefusesAReparsePointBelowTheRootAndWritesNothingThrough) {
    test::TempDir dir;
    const fs::path rootPath = dir.path() / "root";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(rootPath / "real");
    fs::create_directory(outside);
    std::string why;
    if (test::MakeLink(rootPath / "link", outside, true, why) == test::LinkMade::kNone) {
        GTEST_SKIP() << why;
    }
    test::CurrentDirGuard restore;
    HeldRoot root(rootPath);
    ASSERT_EQ(root.result, OpenRootResult::kOpened);

    const std::vector<std::vector<const char16_t*>> refused = {{u"link"}, {u"link", u"made"}};
    for (const auto& components : refused) {
        DirectoryHandle entered = kInvalidDirectory;
        EXPECT_EQ(EnterFolderBelow(root.handle, components.data(),
                                   static_cast<uint32_t>(components.size()), entered),
                  EnterResult::kLinkRefused)
            << components.size();
        EXPECT_EQ(entered, kInvalidDirectory);
    }
    EXPECT_TRUE(fs::is_empty(outside));
    DirectoryHandle root2 = kInvalidDirectory;
    EXPECT_EQ(OpenRootFolder((rootPath / "link").u16string().c_str(), RootTrust::kOwned, root2),
              OpenRootResult::kLink)
        << "a root the run must own is no link";
    CloseDirectory(root2);

    // The way through real folders: the last one is made, entered and made current.
    const char16_t* made[] = {u"real", u"new"};
    DirectoryHandle entered = kInvalidDirectory;
    ASSERT_EQ(EnterFolderBelow(root.handle, made, 2, entered), EnterResult::kEntered);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), rootPath / "real" / "new"));
    CloseDirectory(entered);
}

TEST(OpenRootFolderTest, TheHeldRootCanBeNeitherRenamedNorRemoved) {
    test::TempDir dir;
    const fs::path rootPath = dir.path() / "out";
    test::CurrentDirGuard restore;
    HeldRoot root(rootPath, RootTrust::kOwned);
    ASSERT_EQ(root.result, OpenRootResult::kOpened) << "a folder this run made is its own";
    const char16_t* below[] = {u"sub"};
    DirectoryHandle entered = kInvalidDirectory;
    ASSERT_EQ(EnterFolderBelow(root.handle, below, 1, entered), EnterResult::kEntered);
    fs::current_path(dir.path());

    for (const fs::path& held : {rootPath, rootPath / "sub"}) {
        std::error_code error;
        fs::rename(held, dir.path() / "moved", error);
        EXPECT_TRUE(error) << held << " was renamed";
        fs::remove(held, error);
        EXPECT_TRUE(fs::is_directory(held)) << held << " was removed";
    }
    CloseDirectory(entered);
}

TEST(IsPlainNameHereTest, RefusesWhatWindowsTakesForADeviceAStreamOrAnotherName) {
    const char16_t* plain[] = {
        u"Setup.exe", u"a",       u"con1", u"CONSOLE",          u"com10",         u"lpt", u"nul_",
        u"file.nul",  u".hidden", u"a b",  u"r\u00e9sum\u00e9", u"auxiliary.txt", u"COM"};
    for (const char16_t* name : plain) EXPECT_TRUE(IsPlainNameHere(name)) << test::fs::path(name);
    const char16_t* refused[] = {u"CON",       u"con",
                                 u"Nul.txt",   u"nul.tar.gz",
                                 u"CON .txt",  u"aux ",
                                 u"COM1",      u"lpt9.log",
                                 u"COM\u00B9", u"LPT\u00B2.txt",
                                 u"lpt\u00B3", u"com0",
                                 u"CONIN$",    u"conout$.txt",
                                 u"name.",     u"name ",
                                 u"a<b",       u"a>b",
                                 u"a:b",       u"a\"b",
                                 u"a|b",       u"a?b",
                                 u"a*b",       u"a\x01b",
                                 u"a\tb",      u"",
                                 u"a\\b",      u"a/b",
                                 u"."};
    for (const char16_t* name : refused) {
        EXPECT_FALSE(IsPlainNameHere(name)) << test::fs::path(name);
    }
}

}  // namespace
}  // namespace winqor

namespace winqor {
namespace {

// Makes every folder of path, each by the platform's own call.
bool MakeFolders(const std::u16string& path) {
    for (size_t at = path.find(u'\\', 3); at != std::u16string::npos;
         at = path.find(u'\\', at + 1)) {
        if (MakeDirectory(path.substr(0, at).c_str()) == MakeDirectoryResult::kFailed) return false;
    }
    return MakeDirectory(path.c_str()) != MakeDirectoryResult::kFailed;
}

std::string ReadByPath(const std::u16string& path) {
    const FileHandle file = OpenForRead(path.c_str());
    char bytes[16] = {};
    const uint32_t got = ReadBytes(file, bytes, sizeof bytes);
    CloseFile(file);
    return std::string(bytes, got);
}

// Folders whose paths pass the CreateDirectory limit (248 units) and MAX_PATH (260) are made,
// held, made current, entered and written in as any other, and the path read back is whole.
TEST(LongPathTest, AFolderPastMaxPathIsMadeEnteredAndWrittenIn) {
    for (const size_t length : {size_t{240}, size_t{259}, size_t{300}}) {
        SCOPED_TRACE(std::to_string(length) + " units");
        test::TempDir dir;
        test::CurrentDirGuard restore;
        std::u16string path = fs::absolute(dir.path()).u16string();
        ASSERT_LT(path.size() + 2, length);
        while (path.size() < length) {
            path += u'\\';
            path += std::u16string(std::min<size_t>(std::max<size_t>(length - path.size(), 1), 50),
                                   u'd');
        }
        ASSERT_TRUE(MakeFolders(path));
        HeldRoot root{fs::path(path), RootTrust::kOwned};
        ASSERT_EQ(root.result, OpenRootResult::kOpened);
        ASSERT_TRUE(MakeCurrent(root.handle));
        std::u16string current(kMaxPath, u'\0');
        current.resize(GetCurrentDirectory(current.data(), kMaxPath));
        EXPECT_EQ(current, path);
        const char16_t* sub[] = {u"a"};
        DirectoryHandle entered = kInvalidDirectory;
        ASSERT_EQ(EnterFolderBelow(root.handle, sub, 1, entered), EnterResult::kEntered);
        EXPECT_EQ(WriteReplacing(entered, u"f", "text", false), ReplacingFile::Outcome::kDone);
        CloseDirectory(entered);
        EXPECT_EQ(ReadByPath(path + u"\\a\\f"), "text");
    }
}

}  // namespace
}  // namespace winqor
