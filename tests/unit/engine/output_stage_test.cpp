#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/json_listing.h"
#include "engine/sandboxed_runner.h"
#include "format/record_stream.h"
#include "protection/password.h"
#include "support/file_fixtures.h"
#include "support/known_answers.h"
#include "support/test_support.h"
#include "support/tree.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

using test::Bytes;
using test::Wide;

// Offset of the nth record (0-based) of a stream, walking record by record.
size_t RecordOffset(const std::vector<uint8_t>& stream, int index, bool fileRecords[]) {
    size_t offset = 0;
    for (int i = 0; i < index; ++i) {
        const uint32_t nameLength = ReadLe32(stream.data() + offset + entry_offset::kNameLength);
        const uint32_t size = ReadLe32(stream.data() + offset + entry_offset::kSize);
        offset += kEntryHeaderBytes + nameLength + (fileRecords[i] ? size : 0);
    }
    return offset;
}

void AddToSize(std::vector<uint8_t>& stream, size_t recordOffset, int32_t delta) {
    uint8_t* field = stream.data() + recordOffset + entry_offset::kSize;
    WriteLe32(field, ReadLe32(field) + static_cast<uint32_t>(delta));
}

class OutputStageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDecoderVerbosity(0);
        root_ = dir_.path() / "root";
        fs::create_directories(dir_.path() / "outside");
        test::WriteFileBytes(dir_.path() / "outside" / "victim", Bytes("keep"));
    }

    // Decodes the stream through a real archive and walks it below root_; the walk's result.
    int Walk(const std::vector<uint8_t>& records) {
        std::vector<uint8_t> archive;
        std::string error;
        EXPECT_TRUE(WriteArchive(records, {}, archive, error)) << error;
        extractor_ = std::make_unique<ArchiveExtractor>();
        EXPECT_EQ(extractor_->LoadFromImage(archive.data(), archive.size()), 1);
        EXPECT_EQ(extractor_->EnterRoot(Wide(root_).c_str()), 1);
        EXPECT_EQ(extractor_->DecodePayload(), 1);
        return extractor_->OutputArchive();
    }

    std::vector<std::string> Outside() {
        auto all = test::DescribeTree(dir_.path());
        std::erase_if(all, [](const std::string& line) {
            return line.find(" root/") != std::string::npos ||
                   line.find(" root") + 5 == line.size();
        });
        return all;
    }

    test::CurrentDirGuard cwd_;
    test::TempDir dir_;
    fs::path root_;
    std::unique_ptr<ArchiveExtractor> extractor_;
};

TEST_F(OutputStageTest, ReferenceArchivesExtractToTheExpectedTree) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    uint8_t digest[16] = {};
    for (const auto& answer : test::LoadKnownAnswers().passwords) {
        if (answer.password == u"Secret1") std::memcpy(digest, answer.digest.data(), 16);
    }
    const auto expected = test::ReadSortedLines(test::VectorsDir() / "expected-tree.txt");
    for (const char* name : {"plain.aze", "encrypted.aze"}) {
        SCOPED_TRACE(name);
        const fs::path target = dir_.path() / name;
        ArchiveExtractor extractor;
        ASSERT_EQ(extractor.LoadFromFile(Wide(test::VectorsDir() / name).c_str()), 1);
        extractor.CloseArchiveFile();
        extractor.SetPasswordDigest(digest);
        ASSERT_EQ(extractor.ExtractToFolder(Wide(target).c_str()), 1);
        EXPECT_EQ(extractor.failure(), Failure::kNone) << DescribeFailure(extractor.failure());
        EXPECT_EQ(test::DescribeTree(target), expected);
        const auto perms = fs::status(target / "README.txt").permissions();
        EXPECT_EQ(perms & fs::perms::owner_write, fs::perms::none);
        EXPECT_NE(fs::status(target / "tool.bin").permissions() & fs::perms::owner_write,
                  fs::perms::none);
    }
}

TEST_F(OutputStageTest, DebugMessagesInOrder) {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"a.txt", 0x20, Bytes("abc"));
    builder.AddDirectory(u"\\d");
    builder.AddFile(u"\u65e5.txt", 0x20, {});
    test::DebugCapture capture;
    ASSERT_EQ(Walk(builder.bytes()), 1);
    const std::vector<std::string> expected = {
        "OutputFolder:" + root_.string() + "\n",
        "a.txt\t\tfilesize = 3\n",
        "OutputFolder:" + root_.string() + "/d\n",
        "\xe6\x97\xa5.txt\t\tfilesize = 0\n",
    };
    EXPECT_EQ(capture.messages(), expected);

    // A failed walk ends with the one failure message.
    auto broken = builder.bytes();
    AddToSize(broken, broken.size() - 44, 1000);
    test::DebugCapture failed;
    EXPECT_EQ(Walk(broken), 0);
    ASSERT_FALSE(failed.messages().empty());
    EXPECT_EQ(failed.messages().back(), "qorOutputArchive:unexpected error\n");
}

struct WalkCase {
    const char* name;
    std::vector<uint8_t> (*stream)();
    int result;
    Failure failure;
    std::vector<std::string> tree;  // below root, sorted, as DescribeTree gives
};

std::vector<uint8_t> RootAndFolder(const std::u16string& fileName, const std::string& content) {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(fileName, 0x20, Bytes(content));
    builder.AddDirectory(u"\\d");
    builder.AddFile(u"b", 0x20, Bytes("bb"));
    return builder.bytes();
}

const std::string kMd5Empty = "d41d8cd98f00b204e9800998ecf8427e";
const std::string kMd5A = "0cc175b9c0f1b6a831c399e269772661";    // "a"
const std::string kMd5Bb = "21ad0bd836b90d08f4cf640b4c298e7c";   // "bb"
const std::string kMd5X = "9dd4e461268c8034f5c8564e155c67a6";    // "x"
const std::string kMd5Old = "149603e6c03516362a8da23f624db945";  // "old"

const WalkCase kWalkCases[] = {
    {"root only",
     [] {
         RecordStreamBuilder b;
         b.AddDirectory(u"");
         return b.bytes();
     },
     1,
     Failure::kNone,
     {"D ."}},
    {"empty file",
     [] {
         RecordStreamBuilder b;
         b.AddDirectory(u"");
         b.AddFile(u"e", 0, {});
         return b.bytes();
     },
     1,
     Failure::kNone,
     {"D .", "F e 0 " + kMd5Empty}},
    {"group one byte too large fails after its last file",
     [] {
         auto s = RootAndFolder(u"a", "a");
         AddToSize(s, 0, 1);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"file past its group but inside the stream: what was written goes",
     [] {
         auto s = RootAndFolder(u"a", "aaaaa");
         AddToSize(s, 0, -3);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"last group larger than what remains fails before its folder",
     [] {
         auto s = RootAndFolder(u"a", "a");
         bool files[] = {false, true};
         AddToSize(s, RecordOffset(s, 2, files), 1);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"directory size below its header and name",
     [] {
         auto s = RootAndFolder(u"a", "a");
         WriteLe32(s.data() + entry_offset::kSize, 33);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"folder twice is entered again",
     [] {
         RecordStreamBuilder b;
         b.AddDirectory(u"");
         b.AddDirectory(u"\\d");
         b.AddFile(u"x", 0x20, Bytes("a"));
         b.AddDirectory(u"\\d");
         b.AddFile(u"y", 0x20, Bytes("bb"));
         return b.bytes();
     },
     1,
     Failure::kNone,
     {"D .", "D d", "F d/x 1 " + kMd5A, "F d/y 2 " + kMd5Bb}},
    {"file twice: the later content wins",
     [] {
         RecordStreamBuilder b;
         b.AddDirectory(u"");
         b.AddFile(u"x", 0x20, Bytes("aaaaa"));
         b.AddFile(u"x", 0x20, Bytes("bb"));
         return b.bytes();
     },
     1,
     Failure::kNone,
     {"D .", "F x 2 " + kMd5Bb}},
    {"parent folder missing",
     [] {
         RecordStreamBuilder b;
         b.AddDirectory(u"");
         b.AddDirectory(u"\\p\\c");
         return b.bytes();
     },
     0,
     Failure::kFolderFailed,
     {"D ."}},
    {"file size past the end of the stream",
     [] {
         auto s = RootAndFolder(u"a", "a");
         WriteLe32(s.data() + 34 + entry_offset::kSize, 0xFFFFFFFF);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"name without a terminator",
     [] {
         auto s = RootAndFolder(u"a", "a");
         s[34 + 32 + 2] = 'x';  // the file name's zero unit
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"name length beyond the stream",
     [] {
         auto s = RootAndFolder(u"a", "a");
         WriteLe32(s.data() + 34 + entry_offset::kNameLength, 0xFFFFFFF0);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"stream ends inside a record header",
     [] {
         auto s = RootAndFolder(u"a", "a");
         s.insert(s.end(), 20, 0);
         return s;
     },
     0,
     Failure::kMalformedRecord,
     {"D ."}},
    {"files of a later group land in their own folder",
     [] { return RootAndFolder(u"a", "a"); },
     1,
     Failure::kNone,
     {"D .", "D d", "F a 1 " + kMd5A, "F d/b 2 " + kMd5Bb}},
};

TEST_F(OutputStageTest, WalkEdgeCases) {
    for (const auto& c : kWalkCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        EXPECT_EQ(Walk(c.stream()), c.result);
        EXPECT_EQ(extractor_->failure(), c.failure) << DescribeFailure(extractor_->failure());
        EXPECT_EQ(test::DescribeTree(root_), c.tree);
    }
}

// The check before the first write is the walk that writes, with nothing written: it refuses
// every stream the write would refuse for its records (a folder the disk refuses is the write's
// alone), and leaves the stream for the write to walk from its start.
TEST_F(OutputStageTest, TheCheckRefusesWhatTheWriteWouldAndWritesNothing) {
    for (const auto& c : kWalkCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        std::vector<uint8_t> archive;
        std::string error;
        ASSERT_TRUE(WriteArchive(c.stream(), {}, archive, error)) << error;
        ArchiveExtractor extractor;
        ASSERT_EQ(extractor.LoadFromImage(archive.data(), archive.size()), 1);
        ASSERT_EQ(extractor.EnterRoot(Wide(root_).c_str()), 1);
        ASSERT_EQ(extractor.DecodePayload(), 1);
        const bool diskOnly = c.failure == Failure::kFolderFailed;
        test::DebugCapture checked;
        EXPECT_EQ(extractor.CheckRecords(), diskOnly ? 1 : c.result);
        EXPECT_EQ(extractor.failure(), diskOnly ? Failure::kNone : c.failure);
        EXPECT_EQ(test::DescribeTree(root_), std::vector<std::string>{"D ."});
        for (const auto& line : checked.messages()) {
            EXPECT_EQ(line.find("OutputFolder:"), std::string::npos) << "the check is silent";
        }
        if (c.result == 0 && !diskOnly) continue;
        EXPECT_EQ(extractor.OutputArchive(), c.result);
        EXPECT_EQ(test::DescribeTree(root_), c.tree);
    }
}

// Whatever the mode, the trace shows each record once: below the root by its full path when
// the walk writes, by its path below the root ("." for the root itself) when it only reads.
TEST_F(OutputStageTest, EveryModeTracesEachRecordOnce) {
    OfferJsonListing(NewJsonListingSink);
    std::vector<uint8_t> archive;
    std::string error;
    ASSERT_TRUE(WriteArchive(RootAndFolder(u"a", "a"), {}, archive, error)) << error;
    const std::vector<std::string> reading = {"OutputFolder:.\n", "a\t\tfilesize = 1\n",
                                              "OutputFolder:d\n", "b\t\tfilesize = 2\n"};
    const std::vector<std::string> writing = {
        "OutputFolder:" + root_.string() + "\n", "a\t\tfilesize = 1\n",
        "OutputFolder:" + (root_ / "d").string() + "\n", "b\t\tfilesize = 2\n"};
    const struct {
        ExtractionMode mode;
        const std::vector<std::string>& trace;
    } cases[] = {{ExtractionMode::kCheck, reading},
                 {ExtractionMode::kList, reading},
                 {ExtractionMode::kListJson, reading},
                 {ExtractionMode::kExtract, writing}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        fs::remove_all(root_);
        ArchiveExtractor extractor;
        ASSERT_EQ(extractor.LoadFromImage(archive.data(), archive.size()), 1);
        if (c.mode == ExtractionMode::kExtract) {
            ASSERT_EQ(extractor.EnterRoot(Wide(root_).c_str()), 1);
        }
        test::DebugCapture capture;
        const ExtractionResult result = ServeExtraction(extractor.Request(c.mode), {});
        EXPECT_EQ(result.outcome, ExtractionOutcome::kComplete);
        std::vector<std::string> trace = capture.messages();
        std::erase_if(trace, [](const std::string& line) {
            return line.rfind("OutputFolder:", 0) != 0 && line.find("\t\tfilesize") == line.npos;
        });
        EXPECT_EQ(trace, c.trace);
    }
}

// A write that fails after files were written takes everything it wrote away again: the files
// it set aside beside names that were there, the folders it made (with what it wrote in them),
// the temporary of the file cut short. What was there before stays as it was.
TEST_F(OutputStageTest, AFailedWriteLeavesTheDestinationAsItWas) {
    const struct {
        const char* what;
        void (*prepare)(const fs::path& root);
        Failure failure;
        std::vector<std::string> tree;  // after the failed walk: what prepare made, no more
    } cases[] = {
        {"a folder in the way of the second file",
         [](const fs::path& root) { fs::create_directories(root / "d" / "b"); },
         Failure::kFolderInTheWay,
         {"D .", "D d", "D d/b"}},
        {"a file in the way of the second folder",
         [](const fs::path& root) { test::WriteFileBytes(root / "d", Bytes("x")); },
         Failure::kFolderFailed,
         {"D .", "F d 1 " + kMd5X}},
        {"an old file of the first name stays whole",
         [](const fs::path& root) {
             test::WriteFileBytes(root / "a", Bytes("old"));
             fs::create_directories(root / "d" / "b");
         },
         Failure::kFolderInTheWay,
         {"D .", "D d", "D d/b", "F a 3 " + kMd5Old}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        fs::create_directories(root_);
        c.prepare(root_);
        EXPECT_EQ(Walk(RootAndFolder(u"a", "a")), 0);
        EXPECT_EQ(extractor_->failure(), c.failure) << DescribeFailure(extractor_->failure());
        EXPECT_EQ(test::DescribeTree(root_), c.tree);
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos)
                << entry.path();
        }
    }
}

// Names the walk itself gave earlier in the stream are in the way as a folder or file there
// would be, although nothing has its name on the disk yet.
TEST_F(OutputStageTest, ANameTheWalkMadeEarlierIsInTheWay) {
    const struct {
        const char* what;
        void (*add)(RecordStreamBuilder& b);
        Failure failure;
    } cases[] = {
        {"a file where the walk made a folder",
         [](RecordStreamBuilder& b) {
             b.AddDirectory(u"");
             b.AddDirectory(u"\\n");
             b.AddDirectory(u"");
             b.AddFile(u"n", 0x20, Bytes("a"));
         },
         Failure::kFolderInTheWay},
        {"a folder where the walk wrote a file",
         [](RecordStreamBuilder& b) {
             b.AddDirectory(u"");
             b.AddFile(u"n", 0x20, Bytes("a"));
             b.AddDirectory(u"\\n");
         },
         Failure::kFolderFailed},
        {"a file where the walk made a folder, below a new folder",
         [](RecordStreamBuilder& b) {
             b.AddDirectory(u"");
             b.AddDirectory(u"\\d");
             b.AddDirectory(u"\\d\\n");
             b.AddDirectory(u"\\d");
             b.AddFile(u"n", 0x20, Bytes("a"));
         },
         Failure::kFolderInTheWay},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        RecordStreamBuilder builder;
        c.add(builder);
        EXPECT_EQ(Walk(builder.bytes()), 0);
        EXPECT_EQ(extractor_->failure(), c.failure) << DescribeFailure(extractor_->failure());
        EXPECT_EQ(test::DescribeTree(root_), std::vector<std::string>{"D ."});
    }
}

// Into a destination that holds folders and files already: new folders arrive whole, files
// beside old ones replace them, and the old files the archive does not name stay.
TEST_F(OutputStageTest, AWalkIntoAFullDestinationGivesEveryNameAtTheEnd) {
    fs::create_directories(root_ / "d");
    test::WriteFileBytes(root_ / "a", Bytes("old"));
    test::WriteFileBytes(root_ / "d" / "kept", Bytes("x"));
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"a", 0x20, Bytes("a"));
    builder.AddDirectory(u"\\d");
    builder.AddFile(u"b", 0x20, Bytes("bb"));
    builder.AddDirectory(u"\\n");
    builder.AddDirectory(u"\\n\\m");
    builder.AddFile(u"x", 0x20, Bytes("a"));
    EXPECT_EQ(Walk(builder.bytes()), 1);
    EXPECT_EQ(test::DescribeTree(root_),
              (std::vector<std::string>{"D .", "D d", "D n", "D n/m", "F a 1 " + kMd5A,
                                        "F d/b 2 " + kMd5Bb, "F d/kept 1 " + kMd5X,
                                        "F n/m/x 1 " + kMd5A}));
}

// The room the check found is the room the write compares, to the byte: the root, d, a (1
// byte) and b (2 bytes) need four entries and three bytes.
TEST_F(OutputStageTest, TheWriteComparesTheRoomTheCheckFound) {
    std::vector<uint8_t> archive;
    std::string error;
    ASSERT_TRUE(WriteArchive(RootAndFolder(u"a", "a"), {}, archive, error)) << error;
    const uint64_t needed = 4 * OutputStage::kRoomPerEntry + 3;
    const struct {
        uint64_t free;
        bool checkedFirst;
        int result;
    } cases[] = {
        {needed - 1, true, 0}, {needed - 1, false, 0}, {needed, true, 1}, {needed, false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.free) + (c.checkedFirst ? " checked first" : ""));
        fs::remove_all(root_);
        ExtractionReport report;
        DecodedArchive decoded(report);
        ASSERT_EQ(decoded.LoadFromImage(archive.data(), archive.size()), 1);
        ASSERT_EQ(decoded.DecodePayload(), 1);
        DirectoryHandle root = kInvalidDirectory;
        ASSERT_EQ(OpenRootFolder(Wide(root_).c_str(), RootTrust::kChosen, root),
                  OpenRootResult::kOpened);
        OutputStage stage(decoded, report);
        ASSERT_TRUE(stage.AdoptRoot(root, Wide(root_), RootTrust::kChosen, c.free));
        if (c.checkedFirst) {
            ASSERT_EQ(stage.CheckRecords(), 1);
        }
        test::DebugCapture quiet;
        EXPECT_EQ(stage.OutputArchive(), c.result);
        EXPECT_EQ(report.failure(), c.result == 1 ? Failure::kNone : Failure::kNoRoom);
        EXPECT_EQ(test::DescribeTree(root_).size(), c.result == 1 ? 4u : 1u);
        stage.CloseFolders();
    }
}

TEST_F(OutputStageTest, ExistingReadOnlyFileIsReplaced) {
    fs::create_directories(root_);
    test::WriteFileBytes(root_ / "a", Bytes("old content"));
    fs::permissions(root_ / "a", fs::perms::owner_read);
    ASSERT_EQ(Walk(RootAndFolder(u"a", "a")), 1);
    EXPECT_EQ(test::ReadFileBytes(root_ / "a"), Bytes("a"));
}

struct EscapeCase {
    const char* name;
    std::u16string directory;  // the group's directory name
    std::u16string file;       // a file record in that group
    Failure failure;
};

const EscapeCase kEscapes[] = {
    {"absolute directory", u"/tmp", u"x", Failure::kUnsafeName},
    {"directory without its leading backslash", u"outside", u"x", Failure::kUnsafeName},
    {".. first", u"\\..\\outside", u"x", Failure::kUnsafeName},
    {".. in the middle", u"\\d\\..\\..\\outside", u"x", Failure::kUnsafeName},
    {".. last", u"\\d\\..", u"x", Failure::kUnsafeName},
    {". component", u"\\.\\d", u"x", Failure::kUnsafeName},
    {"empty component", u"\\d\\\\e", u"x", Failure::kUnsafeName},
    {"trailing backslash", u"\\d\\", u"x", Failure::kUnsafeName},
    {"drive letter", u"\\C:\\x", u"x", Failure::kUnsafeName},
    {"slash in a directory component", u"\\d/../../outside", u"x", Failure::kUnsafeName},
    {"lone surrogate in a directory", std::u16string(u"\\d") + char16_t(0xD800), u"x",
     Failure::kUnsafeName},
    {"file ..", u"", u"..", Failure::kUnsafeName},
    {"file .", u"", u".", Failure::kUnsafeName},
    {"file empty", u"", u"", Failure::kUnsafeName},
    {"file with ../", u"", u"../outside/victim", Failure::kUnsafeName},
    {"file with backslash", u"", u"..\\outside\\victim", Failure::kUnsafeName},
    {"file with slash", u"", u"d/victim", Failure::kUnsafeName},
    {"file with colon", u"", u"C:victim", Failure::kUnsafeName},
    {"file with a lone surrogate", u"", std::u16string(u"v") + char16_t(0xDC00),
     Failure::kUnsafeName},
};

TEST_F(OutputStageTest, NamesThatLeaveTheRootAreRefused) {
    const auto before = Outside();
    for (const auto& c : kEscapes) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        builder.AddDirectory(u"\\d");
        builder.AddDirectory(c.directory);
        builder.AddFile(c.file, 0x20, Bytes("escaped"));
        EXPECT_EQ(Walk(builder.bytes()), 0);
        EXPECT_EQ(extractor_->failure(), c.failure) << DescribeFailure(extractor_->failure());
        EXPECT_EQ(Outside(), before);
        // d was made before the refused name was met: it goes too.
        EXPECT_EQ(test::DescribeTree(root_), std::vector<std::string>{"D ."});
    }
}

TEST_F(OutputStageTest, NulInsideADirectoryNameIsRefused) {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddDirectory(std::u16string(u"\\d\0\\..\\..\\outside", 17));
    EXPECT_EQ(Walk(builder.bytes()), 0);
    EXPECT_EQ(extractor_->failure(), Failure::kMalformedRecord);
}

TEST_F(OutputStageTest, LinksBelowTheRootAreNeverFollowed) {
    struct Case {
        const char* name;
        std::u16string directory;
        Failure failure;
    };
    const Case cases[] = {
        {"link in place of a folder", u"\\link", Failure::kLinkRefused},
        {"link on the way to a folder", u"\\link\\sub", Failure::kLinkRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        fs::create_directories(root_);
        fs::create_directory_symlink(dir_.path() / "outside", root_ / "link");
        const auto before = Outside();
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        builder.AddDirectory(c.directory);
        builder.AddFile(u"victim", 0x20, Bytes("escaped"));
        EXPECT_EQ(Walk(builder.bytes()), 0);
        EXPECT_EQ(extractor_->failure(), c.failure);
        EXPECT_EQ(Outside(), before);
    }
}

TEST_F(OutputStageTest, LinkAtAFileNameIsReplacedNotWrittenThrough) {
    for (uint32_t attributes : {0x20u, 0x21u}) {
        fs::remove_all(root_);
        fs::create_directories(root_);
        fs::create_symlink(dir_.path() / "outside" / "victim", root_ / "victim");
        fs::create_symlink(dir_.path() / "nowhere", root_ / "dangling");
        const auto before = Outside();
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        builder.AddFile(u"victim", attributes, Bytes("new"));
        builder.AddFile(u"dangling", attributes, Bytes("new"));
        ASSERT_EQ(Walk(builder.bytes()), 1);
        EXPECT_EQ(Outside(), before);
        for (const char* name : {"victim", "dangling"}) {
            EXPECT_FALSE(fs::is_symlink(root_ / name));
            EXPECT_EQ(test::ReadFileBytes(root_ / name), Bytes("new"));
        }
    }
}

// Whatever stands at a file's name is replaced by a new file of the user who extracts, with
// the mode its attributes give; it is never opened, so nothing it leads to changes.
TEST_F(OutputStageTest, ExistingEntriesAreReplacedNeverWrittenThrough) {
    const fs::path victim = dir_.path() / "outside" / "victim";
    const uint32_t mask = test::CreationMask();
    struct Case {
        const char* what;
        void (*prepare)(const fs::path& at, const fs::path& kept);
        uint32_t attributes;
        bool needsRoot;
    };
    const Case cases[] = {
        {"hard link to a file outside",
         [](const fs::path& at, const fs::path& kept) { fs::create_hard_link(kept, at); }, 0x20,
         false},
        {"pipe without a reader",
         [](const fs::path& at, const fs::path&) { ASSERT_TRUE(test::MakePipe(at)); }, 0x20, false},
        {"device node",
         [](const fs::path& at, const fs::path&) { ASSERT_TRUE(test::MakeFullDevice(at)); }, 0x20,
         true},
        {"another user's writable file",
         [](const fs::path& at, const fs::path&) {
             test::WriteFileBytes(at, Bytes("theirs"));
             ASSERT_TRUE(test::GiveToNobody(at));
             fs::permissions(at, fs::perms::all);
         },
         0x21, true},
        {"read-only file under a writable record",
         [](const fs::path& at, const fs::path&) {
             test::WriteFileBytes(at, Bytes("old"));
             fs::permissions(at, fs::perms::owner_read);
         },
         0x20, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !test::RunningAsRoot()) continue;
        fs::remove_all(root_);
        fs::create_directories(root_);
        c.prepare(root_ / "a", victim);
        const auto before = Outside();
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        builder.AddFile(u"a", c.attributes, Bytes("new"));
        ASSERT_EQ(Walk(builder.bytes()), 1);
        EXPECT_EQ(Outside(), before);
        EXPECT_EQ(test::ReadFileBytes(victim), Bytes("keep"));
        test::FileFacts facts;
        ASSERT_TRUE(test::Facts(root_ / "a", facts));
        EXPECT_TRUE(facts.regular);
        EXPECT_EQ(facts.links, 1u);
        EXPECT_TRUE(facts.mine);
        EXPECT_EQ(facts.mode, ((c.attributes & 1) != 0 ? 0444u : 0666u) & ~mask);
        EXPECT_EQ(test::ReadFileBytes(root_ / "a"), Bytes("new"));
        EXPECT_EQ(test::DescribeTree(root_).size(), 2u) << "no temporary is left";
    }
}

// A file record's permission tag adds the execute bits it kept to the mode the attributes
// give; nothing else it holds counts, and reserved bytes without the tag change nothing.
TEST_F(OutputStageTest, TaggedRecordsKeepTheirExecuteBitsAndNothingMore) {
    const uint32_t mask = test::CreationMask();
    if ((mask & 0444) != 0) GTEST_SKIP() << "a umask without read bits keeps the cases simple";
    struct Case {
        const char* what;
        uint32_t attributes;
        uint8_t reserved[8];
        uint32_t wanted;  // before the umask
    };
    const Case cases[] = {
        {"no tag", 0x20, {}, 0666},
        {"0755", 0x20, {'P', 'X', 0xED, 0x01}, 0777},
        {"0700", 0x20, {'P', 'X', 0xC0, 0x01}, 0766},
        {"0644", 0x20, {'P', 'X', 0xA4, 0x01}, 0666},
        {"0555 read-only", 0x21, {'P', 'X', 0x6D, 0x01}, 0555},
        {"04777 asks for set-user-ID", 0x20, {'P', 'X', 0xFF, 0x09}, 0777},
        {"07777 and bytes after the bits", 0x20, {'P', 'X', 0xFF, 0x0F, 1, 2, 3, 4}, 0777},
        {"another tag", 0x20, {'p', 'x', 0xED, 0x01}, 0666},
        {"half a tag", 0x20, {0, 'X', 0xED, 0x01}, 0666},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        fs::create_directories(root_);
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        builder.AddFile(u"a", c.attributes, Bytes("#!/bin/sh\n"));
        std::vector<uint8_t> records = builder.bytes();
        const size_t fileRecord = kEntryHeaderBytes + 2;
        std::memcpy(records.data() + fileRecord + entry_offset::kReserved, c.reserved, 8);
        ASSERT_EQ(Walk(records), 1);
        test::FileFacts facts;
        ASSERT_TRUE(test::Facts(root_ / "a", facts));
        EXPECT_EQ(facts.mode, c.wanted & ~mask);
    }
}

// A reader waiting on a pipe at a file's name gets nothing: the pipe is replaced, not fed.
TEST_F(OutputStageTest, APipeWithAReaderIsReplacedNotFed) {
    fs::create_directories(root_);
    ASSERT_TRUE(test::MakePipe(root_ / "a"));
    const int reader = test::OpenPipeReader(root_ / "a");
    ASSERT_GE(reader, 0);
    ASSERT_EQ(Walk(RootAndFolder(u"a", "data")), 1);
    EXPECT_EQ(test::ReadNow(reader), 0);
    test::ClosePipeReader(reader);
    EXPECT_EQ(test::ReadFileBytes(root_ / "a"), Bytes("data"));
}

// The root is held from the start: whoever renames its parent during the run and puts a link
// in its place cannot redirect the rest of the archive.
TEST_F(OutputStageTest, RenamingTheRootsParentDuringARunRedirectsNothing) {
    const fs::path parent = dir_.path() / "parent";
    const fs::path root = parent / "root";
    fs::create_directories(root);
    std::vector<uint8_t> archive;
    std::string error;
    ASSERT_TRUE(WriteArchive(RootAndFolder(u"a", "a"), {}, archive, error)) << error;
    ArchiveExtractor extractor;
    ASSERT_EQ(extractor.LoadFromImage(archive.data(), archive.size()), 1);
    ASSERT_EQ(extractor.EnterRoot(Wide(root).c_str()), 1);
    fs::rename(parent, dir_.path() / "moved");
    fs::create_directories(parent);
    fs::create_directory_symlink(dir_.path() / "outside", root);
    const auto before = Outside();
    ASSERT_EQ(extractor.DecodePayload(), 1);
    EXPECT_EQ(extractor.OutputArchive(), 1);
    EXPECT_EQ(test::ReadFileBytes(dir_.path() / "moved" / "root" / "d" / "b"), Bytes("bb"));
    EXPECT_FALSE(fs::exists(dir_.path() / "outside" / "d"));
}

TEST_F(OutputStageTest, JoinedPathTooLongFailsTheGroupInsteadOfUsingTheRoot) {
    std::u16string deep = u"\\" + std::u16string(200, u'n');
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    std::u16string path;
    for (int level = 0; level < 25; ++level) {
        path += deep;
        builder.AddDirectory(path);
        builder.AddFile(u"f", 0x20, Bytes("a"));
    }
    EXPECT_EQ(Walk(builder.bytes()), 0);
    EXPECT_EQ(extractor_->failure(), Failure::kPathTooLong);
    EXPECT_FALSE(fs::exists(root_ / "f"));
}

// A folder name of exactly units units, in components of at most 200 (each a plain name).
std::u16string DeepFolderName(size_t units) {
    std::u16string name;
    while (name.size() < units) {
        const size_t left = units - name.size();
        // Never leave a lone separator for the last component.
        const size_t component = left > 201 ? (left - 201 == 1 ? 199 : 200) : left - 1;
        name += u'\\';
        name.append(component, u'n');
    }
    return name;
}

// A record name fits its buffer with kMaxPath - 1 units and the terminator; a joined path the
// same. One unit more must be refused before anything is copied or created (the sanitizer
// build sees a copy that runs one unit past its buffer).
TEST_F(OutputStageTest, NamesAndJoinedPathsAtTheLengthLimit) {
    fs::create_directories(root_);
    const size_t rootUnits = Wide(root_).size();
    struct Case {
        const char* what;
        bool fileRecord;
        size_t units;  // of the record's name
        int result;
        Failure failure;
    };
    const Case cases[] = {
        {"folder joined to kMaxPath - 1 units", false, kMaxPath - 1 - rootUnits, 1, Failure::kNone},
        {"folder joined to kMaxPath units", false, kMaxPath - rootUnits, 0, Failure::kPathTooLong},
        {"folder name of kMaxPath - 1 units", false, kMaxPath - 1, 0, Failure::kPathTooLong},
        {"folder name of kMaxPath units", false, kMaxPath, 0, Failure::kPathTooLong},
        // Taken whole by the reader, refused by the system (longer than any file name).
        {"file name of kMaxPath - 1 units", true, kMaxPath - 1, 0, Failure::kCreateFailed},
        {"file name of kMaxPath units", true, kMaxPath, 0, Failure::kPathTooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        if (c.fileRecord) {
            builder.AddFile(std::u16string(c.units, u'f'), 0x20, Bytes("f"));
        } else {
            // Each folder is made by a group of its own, the parents first.
            const std::u16string deep = DeepFolderName(c.units);
            for (size_t end = deep.find(u'\\', 1); end != std::u16string::npos;
                 end = deep.find(u'\\', end + 1)) {
                builder.AddDirectory(deep.substr(0, end));
            }
            builder.AddDirectory(deep);
            builder.AddFile(u"f", 0x20, Bytes("f"));
        }
        test::DebugCapture quiet;
        EXPECT_EQ(Walk(builder.bytes()), c.result);
        EXPECT_EQ(extractor_->failure(), c.failure) << DescribeFailure(extractor_->failure());
        if (c.result == 0) {
            for (const auto& line : test::DescribeTree(root_)) EXPECT_NE(line[0], 'F') << line;
        } else {
            // A path this long is reached one folder at a time.
            fs::current_path(root_);
            const std::u16string deep = DeepFolderName(c.units);
            for (size_t start = 1, end; start < deep.size(); start = end + 1) {
                end = std::min(deep.find(u'\\', start), deep.size());
                fs::current_path(std::string(deep.begin() + start, deep.begin() + end));
            }
            EXPECT_EQ(test::ReadFileBytes("f"), Bytes("f"));
        }
    }
}

}  // namespace
}  // namespace winqor
