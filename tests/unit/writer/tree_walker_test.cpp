#include "writer/tree_walker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "format/archive_header.h"
#include "support/record_tree.h"
#include "support/test_support.h"
#include "writer/file_time.h"

namespace winqor {
namespace {
namespace fs = std::filesystem;
using test::Record;

void WriteText(const fs::path& path, const std::string& text) {
    test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// A file of count bytes that costs no disk: the walker must not care.
void WriteSized(const fs::path& path, uint64_t count) {
    std::ofstream(path).close();
    fs::resize_file(path, count);
}

class TreeWalkerTest : public ::testing::Test {
  protected:
    fs::path Root() const { return dir_.path() / "tree"; }
    void SetUp() override { fs::create_directory(Root()); }

    bool Walk(TreeWalkOptions options = {}) {
        return WalkTree(Root().string(), options, result_, reason_);
    }
    // The reason's place, as it follows "WHAT: ".
    std::string At(const std::string& where) const {
        return ": " + EscapeForDisplay(Root().string() + "/" + where);
    }
    std::vector<Record> Records() const {
        return test::ParseRecordStream(result_.records.data(), result_.records.size());
    }
    std::vector<std::u16string> Names() const {
        std::vector<std::u16string> names;
        for (const Record& record : Records()) names.push_back(record.name);
        return names;
    }

    test::TempDir dir_;
    TreeWalkResult result_;
    std::string reason_;
};

TEST_F(TreeWalkerTest, EmptyFolderIsTheRootRecordAlone) {
    ASSERT_TRUE(Walk());
    EXPECT_EQ(result_.records.size(), 34u);
    EXPECT_EQ(Records(), (std::vector<Record>{{true, u"", 0, 0, {}, {}}}));
    EXPECT_EQ(result_.folders, 1u);
    EXPECT_EQ(result_.files, 0u);
}

TEST_F(TreeWalkerTest, ParentsBeforeChildrenEachFolderWithItsFilesNamesInUtf16Order) {
    for (const char* folder : {"b", "a", "a/z", "a/y", "a/y/deep", "empty"}) {
        fs::create_directories(Root() / folder);
    }
    // U+FF21 sorts after U+1F600 by UTF-8 bytes, but before it by UTF-16 units (0xD83D).
    for (const char* file : {"b.txt", "B.txt", "\xEF\xBC\xA1", "\xF0\x9F\x98\x80", "a/z/f", "a/1",
                             "a/y/deep/g", "b/c"}) {
        WriteText(Root() / file, file);
    }
    ASSERT_TRUE(Walk());
    const std::vector<std::u16string> expected = {
        u"",    u"B.txt",  u"b.txt",        u"\U0001F600", u"\uFF21", u"\\a",
        u"1",   u"\\a\\y", u"\\a\\y\\deep", u"g",          u"\\a\\z", u"f",
        u"\\b", u"c",      u"\\empty"};
    EXPECT_EQ(Names(), expected);
    EXPECT_EQ(Records(), test::ExpectedRecords(Root()));
    EXPECT_EQ(result_.folders, 7u);
    EXPECT_EQ(result_.files, 8u);
}

// The read-only attribute follows the owner's write permission; the record keeps the mode's
// permission bits, never the set-user-ID, set-group-ID or sticky bits.
TEST_F(TreeWalkerTest, AttributesAndPermissionsFollowTheFilesMode) {
    struct Case {
        const char* name;
        fs::perms mode;
        uint32_t attributes;
        uint32_t kept;
    };
    const Case cases[] = {
        {"empty", fs::perms::owner_read | fs::perms::owner_write, 0x20, 0600},
        {"othersonly", fs::perms::owner_read | fs::perms::others_write, 0x21, 0402},
        {"plain", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read, 0x20,
         0640},
        {"readonly", fs::perms::owner_read | fs::perms::group_read, 0x21, 0440},
        {"setuid", fs::perms::all | fs::perms::set_uid | fs::perms::sticky_bit, 0x20, 0777},
        {"tool", fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, 0x20, 0711},
    };
    for (const Case& c : cases) {
        WriteSized(Root() / c.name, c.name == std::string("empty") ? 0 : 1);
        fs::permissions(Root() / c.name, c.mode);
    }
    ASSERT_TRUE(Walk());
    const auto records = Records();
    ASSERT_EQ(records.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(records[i + 1].name, test::U16(cases[i].name));
        EXPECT_EQ(records[i + 1].attributes, cases[i].attributes);
        EXPECT_EQ(records[i + 1].permissions, cases[i].kept);
    }
}

TEST_F(TreeWalkerTest, FileTimeIsTheModificationTimeSince1601) {
    WriteText(Root() / "f", "x");
    using namespace std::chrono;
    // 2024-01-01 00:00:00.1234567 UTC
    const sys_time<nanoseconds> when{seconds{1704067200} + nanoseconds{123456789}};
    fs::last_write_time(Root() / "f", file_clock::from_sys(when));
    ASSERT_TRUE(Walk());
    EXPECT_EQ(Records()[1].fileTime, 133485408000000000ull + 1234567);
}

TEST_F(TreeWalkerTest, LatestTimeClampsLaterFileTimesOnly) {
    using namespace std::chrono;
    const sys_seconds latest{seconds{1704067200}};
    WriteText(Root() / "early", "e");
    WriteText(Root() / "late", "l");
    fs::last_write_time(Root() / "early", file_clock::from_sys(latest - seconds{5}));
    fs::last_write_time(Root() / "late", file_clock::from_sys(latest + nanoseconds{1500}));
    TreeWalkOptions options;
    options.latestTime = 1704067200;
    ASSERT_TRUE(Walk(options));
    EXPECT_EQ(Records()[1].fileTime, 133485408000000000ull - 5 * 10'000'000);
    EXPECT_EQ(Records()[2].fileTime, 133485408000000000ull);
}

TEST(FileTimeFromUnixTime, Conversions) {
    struct Case {
        int64_t seconds;
        uint32_t nanoseconds;
        uint64_t fileTime;
    };
    const Case cases[] = {
        {0, 0, 116444736000000000ull},                    // 1970
        {0, 999999999, 116444736000000000ull + 9999999},  // sub-100 ns is cut, not rounded
        {1704067200, 0, 133485408000000000ull},           // 2024-01-01
        {-11644473600, 0, 0},                             // 1601-01-01
        {-11644473600, 100, 1},
        {-11644473601, 0, 0},  // before 1601: the earliest time there is
        {INT64_MIN, 0, 0},
        {INT64_MAX, 0, 18446744073690000000ull},  // the latest whole second that fits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileTimeFromUnixTime(c.seconds, c.nanoseconds), c.fileTime) << c.seconds;
    }
}

TEST_F(TreeWalkerTest, LinksAndTheArchiveBeingWrittenAreLeftOutWithWarnings) {
    fs::create_directories(Root() / "real");
    WriteText(Root() / "real/inside", "i");
    WriteText(Root() / "out.aze", "old archive");
    fs::create_symlink("real", Root() / "folderlink");
    fs::create_symlink("real/inside", Root() / "filelink");
    fs::create_symlink("/nonexistent", Root() / "dangling");
    FolderEntry archive;
    ASSERT_TRUE(DescribePath((Root() / "out.aze").string(), false, archive));
    TreeWalkOptions options;
    options.leaveOut = archive.id;
    ASSERT_TRUE(Walk(options));
    EXPECT_EQ(Names(), (std::vector<std::u16string>{u"", u"\\real", u"inside"}));
    std::vector<std::string> warnings;
    for (const auto& warning : result_.warnings)
        warnings.push_back(warning.where + " " + warning.what);
    std::sort(warnings.begin(), warnings.end());
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "dangling skipped a symbolic link",
                            "filelink skipped a symbolic link",
                            "folderlink skipped a symbolic link",
                            "out.aze left out the archive being written",
                        }));
}

TEST_F(TreeWalkerTest, RootGivenThroughALinkIsFollowed) {
    WriteText(Root() / "f", "content");
    fs::create_directory_symlink(Root(), dir_.path() / "rootlink");
    ASSERT_TRUE(WalkTree((dir_.path() / "rootlink").string(), {}, result_, reason_));
    EXPECT_EQ(Names(), (std::vector<std::u16string>{u"", u"f"}));
}

TEST_F(TreeWalkerTest, WhatChangesAfterTheListingIsNeverFollowedOutOfTheTree) {
    const fs::path outside = dir_.path() / "outside";
    const struct {
        const char* what;
        void (*change)(const fs::path& root, const fs::path& away);
        std::string error;
        std::string where;
    } cases[] = {
        {"a folder swapped for a link",
         [](const fs::path& root, const fs::path& away) {
             fs::rename(root / "a", root / "a.old");
             fs::create_directory_symlink(away, root / "a");
         },
         "cannot read the folder (it is a symbolic link now)", "a"},
        {"a folder replaced by another",
         [](const fs::path& root, const fs::path& away) {
             fs::rename(root / "a", root / "a.old");
             fs::rename(away, root / "a");
         },
         "cannot read the folder (it was replaced by another folder)", "a"},
        {"a file swapped for a link",
         [](const fs::path& root, const fs::path& away) {
             fs::remove(root / "a/f");
             fs::create_symlink(away / "f", root / "a/f");
         },
         "cannot read the file (a symbolic link)", "a/f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Root());
        fs::remove_all(outside);
        fs::create_directories(Root() / "a");
        fs::create_directories(outside);
        WriteText(Root() / "a/f", "inside");
        WriteText(outside / "f", "outside");
        TreeWalkOptions options;
        options.afterListing = [&] { c.change(Root(), outside); };
        EXPECT_FALSE(Walk(options));
        EXPECT_EQ(reason_, c.error + At(c.where));
        EXPECT_TRUE(result_.records.empty());
    }
}

TEST_F(TreeWalkerTest, RefusesNamesNoReaderAccepts) {
    const struct {
        std::string name;
        bool folder;
    } cases[] = {
        {"bad\xFFname", false}, {"caf\xC3", true},  // cut in the middle of a character
        {"back\\slash", false}, {"c:colon", true}, {"new\nline:", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Root());
        fs::create_directories(Root() / "sub");
        if (c.folder) {
            fs::create_directory(Root() / "sub" / c.name);
        } else {
            WriteText(Root() / "sub" / c.name, "x");
        }
        EXPECT_FALSE(Walk());
        EXPECT_TRUE(reason_.ends_with(At("sub/" + c.name))) << reason_;
        EXPECT_EQ(reason_.find('\n'), std::string::npos) << "the name is shown escaped";
        EXPECT_NE(
            reason_.find(c.name.find_first_of("\\:") == std::string::npos ? "UTF-8"
                                                                          : "no reader accepts"),
            std::string::npos)
            << reason_;
    }
}

// Root record 34 bytes, a file named "f" 36 bytes before its content.
constexpr uint64_t kRoomForF = kMaxPayloadSize - 34 - 36;

TEST_F(TreeWalkerTest, StreamOfExactly10485504BytesIsAccepted) {
    WriteSized(Root() / "f", kRoomForF);
    ASSERT_TRUE(Walk());
    EXPECT_EQ(result_.records.size(), kMaxPayloadSize);
}

TEST_F(TreeWalkerTest, RefusesAFileNoArchiveCanHold) {
    WriteSized(Root() / "f", kRoomForF + 1);
    EXPECT_FALSE(Walk());
    EXPECT_TRUE(reason_.ends_with(At("f"))) << reason_;
    EXPECT_NE(reason_.find("10,485,435 bytes, too large for any archive"), std::string::npos)
        << reason_;
    EXPECT_TRUE(result_.records.empty());
}

TEST_F(TreeWalkerTest, RefusesATreeOneByteOverTheLimit) {
    // "f" and "g" fit alone; together they are one byte over.
    WriteSized(Root() / "f", 1000);
    WriteSized(Root() / "g", kRoomForF - 1000 - 36 + 1);
    EXPECT_FALSE(Walk());
    EXPECT_TRUE(reason_.ends_with(At("g"))) << reason_;
    EXPECT_NE(reason_.find("more than an archive can carry"), std::string::npos);
    fs::resize_file(Root() / "g", kRoomForF - 1000 - 36);
    EXPECT_TRUE(Walk());
    EXPECT_EQ(result_.records.size(), kMaxPayloadSize);
}

TEST_F(TreeWalkerTest, ExcludedEntriesAreLeftOutAndExcludedFoldersNeverRead) {
    fs::create_directories(Root() / "build");
    fs::create_directories(Root() / "src");
    WriteText(Root() / "build/caf\xE9", "a name the walk would refuse");
    WriteText(Root() / "src/main.o", "o");
    WriteText(Root() / "src/main.c", "c");
    fs::create_symlink("src", Root() / "link.o");
    TreeWalkOptions options;
    options.exclude.Add("build");
    options.exclude.Add("*.o");
    ASSERT_TRUE(Walk(options)) << reason_;
    EXPECT_EQ(Names(), (std::vector<std::u16string>{u"", u"\\src", u"main.c"}));
    EXPECT_TRUE(result_.warnings.empty());  // not even the link
}

TEST_F(TreeWalkerTest, AFolderThatCannotBeReadIsAnError) {
    const std::string missing = (dir_.path() / "missing").string() + "//";
    EXPECT_FALSE(WalkTree(missing, {}, result_, reason_));
    EXPECT_TRUE(reason_.starts_with("cannot read the folder (")) << reason_;
    EXPECT_TRUE(reason_.ends_with(": " + missing)) << "the root as it was given: " << reason_;
}

TEST(WalkPathTest, NamesThePlaceAsTheRootWasGiven) {
    const struct {
        const char* root;
        const char* where;
        const char* path;
    } cases[] = {
        {"docs", "", "docs"},      {"docs/", "", "docs/"}, {"docs", "a/b", "docs/a/b"},
        {"docs//", "a", "docs/a"}, {"/", "etc", "/etc"},   {"./x/", "f", "./x/f"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WalkPath(c.root, c.where), c.path) << c.root << " + " << c.where;
    }
}

}  // namespace
}  // namespace winqor
