// aze create, run as a user runs it, on real folders; every archive is read back with the
// engine and compared with the folder it was made of.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/text.h"
#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "protection/password.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace winqor {
namespace {
namespace fs = std::filesystem;
using test::Record;

constexpr uint32_t kLimit = kMaxPayloadSize;

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// Text that compresses like prose: words drawn from a small vocabulary, in lines.
std::string Prose(size_t bytes, uint32_t seed) {
    static const char* words[] = {"archive", "folder", "record", "setup",  "the", "of",   "and",
                                  "payload", "header", "stream", "winqor", "a",   "file", "name"};
    std::string text;
    text.reserve(bytes + 16);
    while (text.size() < bytes) {
        seed = seed * 1664525u + 1013904223u;
        text += words[(seed >> 16) % 14];
        text += (seed >> 8) % 11 == 0 ? '\n' : ' ';
    }
    text.resize(bytes);
    return text;
}

using test::Noise;

// The first password of the form "z<number>" whose digest starts with a zero byte.
std::string PasswordWithZeroDigest() {
    for (int i = 0;; ++i) {
        const std::string candidate = "z" + std::to_string(i);
        uint8_t digest[16];
        DerivePasswordDigest(digest, test::U16(candidate).c_str());
        if (digest[0] == 0) return candidate;
    }
}

struct AzeRun {
    int status = -1;
    std::string out, err;
};

struct Opened {
    ArchiveHeader header = {};
    std::vector<Record> records;
};

class CreateTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }

    fs::path At(const std::string& name) const { return dir_.path() / name; }

    // Runs aze in the temporary folder, standard input from stdinFrom, with environment
    // ("NAME=value ...") added to its own.
    AzeRun Aze(const std::string& arguments, const std::string& stdinFrom = "/dev/null",
               const std::string& environment = "") {
        const std::string command = "cd " + Quote(dir_.path().string()) + " && env " + environment +
                                    " " + Quote(WINQOR_AZE) + " " + arguments + " <" +
                                    Quote(stdinFrom) + " >.out 2>.err; echo $? >.status";
        // aze's own status is in .status; the shell's is -1 only when no shell could start.
        EXPECT_NE(std::system(command.c_str()), -1) << "no shell for: " << command;
        AzeRun run;
        run.status = std::stoi(ReadText(At(".status")));
        run.out = ReadText(At(".out"));
        run.err = ReadText(At(".err"));
        for (const char* name : {".out", ".err", ".status"}) fs::remove(At(name));
        return run;
    }

    // Loads and decodes the archive with the engine, accepting password first when it is
    // encrypted. Fails the test when any step fails.
    Opened Open(const std::string& name, const char16_t* password = nullptr) {
        Opened opened;
        std::u16string path = test::U16(At(name).string());
        ArchiveExtractor extractor;
        EXPECT_EQ(extractor.LoadFromFile(path.c_str()), 1) << DescribeFailure(extractor.failure());
        if (extractor.header() == nullptr || extractor.DecodedStream().empty()) return opened;
        opened.header = *extractor.header();
        if (IsEncrypted(opened.header)) {
            EXPECT_TRUE(password != nullptr && AcceptPassword(password, &opened.header));
            extractor.SetPasswordDigest(g_passwordDigest);
        }
        if (extractor.DecodePayload() != 1) {
            ADD_FAILURE() << "cannot decode: " << DescribeFailure(extractor.failure());
            return opened;
        }
        const std::span<const uint8_t> stream = extractor.DecodedStream();
        opened.records = test::ParseRecordStream(stream.data(), stream.size());
        return opened;
    }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A tree with a bit of everything a user's folder holds.
    void MakeMixedTree(const fs::path& root) {
        for (const char* folder : {"a/b/c", "empty", "a/empty too", "日本", "données"}) {
            fs::create_directories(root / folder);
        }
        WriteText(root / "README.txt", "read me\n");
        WriteText(root / "empty.txt", "");
        WriteText(root / "a/b/c/deep.txt", Prose(5000, 1));
        test::WriteFileBytes(root / "tool.bin", Noise(70000, 2));
        WriteText(root / "日本/文書.txt", "日本語\n");
        WriteText(root / "données/café.txt", "é");
        WriteText(root / "\xF0\x9F\x98\x80.txt", "smile");
        WriteText(root / "readonly.txt", "do not touch");
        fs::permissions(root / "readonly.txt", fs::perms::owner_read | fs::perms::group_read);
        fs::create_symlink("README.txt", root / "link");
        ASSERT_EQ(std::system(("mkfifo " + Quote((root / "pipe").string())).c_str()), 0);
    }

    // Runs aze, which must succeed, and returns the bytes of the file it wrote.
    std::vector<uint8_t> Made(const std::string& arguments, const std::string& file,
                              const std::string& environment = "") {
        const AzeRun run = Aze(arguments, "/dev/null", environment);
        EXPECT_EQ(run.status, 0) << arguments << ": " << run.err;
        return test::ReadFileBytes(At(file));
    }

    std::vector<std::u16string> StoredNames(const std::string& archive) {
        std::vector<std::u16string> names;
        for (const Record& record : Open(archive).records) names.push_back(record.name);
        return names;
    }

    test::TempDir dir_;
};

uint32_t HeaderWord(const ArchiveHeader& header, uint32_t offset) {
    return ReadLe32(header.image + offset);
}

TEST_F(CreateTest, PlainArchiveOfAMixedTreeReadsBackAsTheTree) {
    MakeMixedTree(At("tree"));
    const AzeRun run = Aze("create tree/");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("aze: warning: skipped a symbolic link: tree/link\n"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("aze: warning: skipped a device, pipe or socket: tree/pipe\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("tree.aze: 8 files in 8 folders"), std::string::npos) << run.out;
    const Opened opened = Open("tree.aze");
    EXPECT_EQ(opened.records, test::ExpectedRecords(At("tree")));
    const uint8_t* image = opened.header.image;
    EXPECT_EQ(HeaderWord(opened.header, 8), 256u);
    EXPECT_EQ(image[20], 1);  // a writer always permits a self-extracting run
    EXPECT_EQ(image[21], 0);
    EXPECT_EQ(image[23], 1);
    EXPECT_EQ(image[24], 0);
    EXPECT_EQ(fs::file_size(At("tree.aze")), 256u + PackedSize(opened.header));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"tree", "tree.aze"}));
}

TEST_F(CreateTest, EncryptedArchiveOpensOnlyWithItsPassword) {
    MakeMixedTree(At("tree"));
    WriteText(At("pw"), "Secret1\r\nsecond line is ignored\n");
    ASSERT_EQ(Aze("create -o one.aze --password-file pw tree").status, 0);
    ASSERT_EQ(Aze("create -o two.aze --password-file - tree", At("pw").string()).status, 0);
    const Opened one = Open("one.aze", u"Secret1");
    const Opened two = Open("two.aze", u"Secret1");
    EXPECT_EQ(one.header.image[21], 1);
    EXPECT_EQ(one.records, test::ExpectedRecords(At("tree")));
    EXPECT_EQ(two.records, one.records);
    // every archive gets its own key seed
    EXPECT_NE(std::memcmp(KeySeed(one.header), KeySeed(two.header), 4), 0);
    for (const char16_t* wrong : {u"secret1", u"Secret", u"Secret1 "}) {
        EXPECT_FALSE(AcceptPassword(wrong, &one.header));
    }
    // the payload does not decode under another password's key either
    ArchiveExtractor extractor;
    const std::u16string path = test::U16(At("one.aze").string());
    ASSERT_EQ(extractor.LoadFromFile(path.c_str()), 1);
    uint8_t wrongDigest[16];
    DerivePasswordDigest(wrongDigest, u"secret1");
    extractor.SetPasswordDigest(wrongDigest);
    EXPECT_EQ(extractor.DecodePayload(), 0);
    EXPECT_EQ(extractor.failure(), Failure::kDigestMismatch);
}

TEST_F(CreateTest, RunSetupSetsItsByteAndOutputGoesWhereAsked) {
    fs::create_directory(At("tree"));
    WriteText(At("tree/Setup.exe"), "#!/bin/sh\n");
    fs::create_directory(At("out"));
    ASSERT_EQ(Aze("create --run-setup -o out/pack.aze tree").status, 0);
    const Opened opened = Open("out/pack.aze");
    EXPECT_EQ(opened.header.image[24], 1);
    EXPECT_EQ(opened.header.image[20], 1);
    EXPECT_EQ(opened.records, test::ExpectedRecords(At("tree")));
    EXPECT_FALSE(fs::exists(At("tree.aze")));
}

// Root record 34 bytes, "f" 36 and "g" 36 bytes before their content.
constexpr uint32_t kContentAtLimit = kLimit - 34 - 36 - 36;

TEST_F(CreateTest, TreeExactlyAtTheLimitIsWrittenOneByteMoreIsRefused) {
    fs::create_directory(At("tree"));
    WriteText(At("tree/f"), Prose(1000, 3));
    WriteText(At("tree/g"), Prose(kContentAtLimit - 1000, 4));
    const AzeRun atLimit = Aze("create tree");
    ASSERT_EQ(atLimit.status, 0) << atLimit.err;
    const Opened opened = Open("tree.aze");
    EXPECT_EQ(UnpackedSize(opened.header), kLimit);
    EXPECT_EQ(opened.records, test::ExpectedRecords(At("tree")));

    fs::remove(At("tree.aze"));
    WriteText(At("tree/g"), Prose(kContentAtLimit - 1000 + 1, 4));
    const AzeRun over = Aze("create tree");
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err,
              "aze: the folder holds more than an archive can carry (its records exceed "
              "10,485,504 bytes from here on): tree/g\n");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"tree"}));
}

TEST_F(CreateTest, RefusesATreeThatDoesNotCompressWithinTheLimit) {
    fs::create_directory(At("tree"));
    test::WriteFileBytes(At("tree/noise.bin"), Noise(kContentAtLimit, 5));
    const AzeRun run = Aze("create tree");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "aze: cannot make an archive of the folder (the compressed payload exceeds "
              "10,485,504 bytes): tree\n");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"tree"}));
}

TEST_F(CreateTest, RefusesWhatNoReaderWouldAccept) {
    struct Case {
        const char* what;
        std::string badName;   // a file made in the tree
        std::string password;  // the password file's line, when there is one
        std::string message;
    };
    const Case cases[] = {
        {"colon", "a:b", "", "aze: a name with '\\' or ':', which no reader accepts: tree/a:b\n"},
        {"backslash", "a\\b", "",
         "aze: a name with '\\' or ':', which no reader accepts: tree/a\\\\b\n"},
        {"not UTF-8", "caf\xE9", "", "aze: a name that is not valid UTF-8: tree/caf\\xe9\n"},
        {"empty password", "", "\n", "aze: the password is empty\n"},
        {"16 characters", "", "0123456789abcdef\n", "longer than 15 characters"},
        {"zero digest", "", PasswordWithZeroDigest() + "\n", "choose another password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(At("tree"));
        fs::create_directory(At("tree"));
        WriteText(At("tree/ok.txt"), "fine");
        if (!c.badName.empty()) WriteText(At("tree") / c.badName, "x");
        std::string arguments = "create tree";
        if (!c.password.empty()) {
            WriteText(At("pw"), c.password);
            arguments += " --password-file pw";
        }
        const AzeRun run = Aze(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fs::exists(At("tree.aze")));
        fs::remove(At("pw"));
    }
}

TEST_F(CreateTest, UsageErrors) {
    WriteText(At("file"), "not a folder");
    fs::create_directory(At("tree"));
    const struct {
        const char* arguments;
        const char* environment;
        const char* message;
    } cases[] = {
        {"create missing", "", "aze: not a folder: missing\n"},
        {"create file", "", "aze: not a folder: file\n"},
        {"create .", "", "give -o OUT.aze"},
        {"create", "", "DIR is required"},
        {"create --exclude-from missing tree", "", "cannot read the patterns"},
        {"create tree", "SOURCE_DATE_EPOCH=12abc", "SOURCE_DATE_EPOCH is not a decimal number"},
        {"create tree", "SOURCE_DATE_EPOCH=-5", "SOURCE_DATE_EPOCH is not a decimal number"},
        {"create tree", "SOURCE_DATE_EPOCH=", "SOURCE_DATE_EPOCH is not a decimal number"},
    };
    for (const auto& c : cases) {
        const AzeRun run = Aze(c.arguments, "/dev/null", c.environment);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"file", "tree"}));
}

TEST_F(CreateTest, AFailedWriteLeavesNothingBehind) {
    fs::create_directory(At("tree"));
    WriteText(At("tree/f"), "content");
    fs::create_directories(At("folder.aze/inside"));
    const AzeRun intoFolder = Aze("create -o folder.aze tree");
    EXPECT_EQ(intoFolder.status, 3);
    EXPECT_NE(intoFolder.err.find("aze: cannot write the archive ("), std::string::npos);
    EXPECT_NE(intoFolder.err.find("): folder.aze\n"), std::string::npos) << intoFolder.err;
    EXPECT_TRUE(fs::exists(At("folder.aze/inside")));
    EXPECT_EQ(Aze("create -o missing/x.aze tree").status, 3);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"folder.aze", "tree"}));
}

TEST_F(CreateTest, ReplacesAnOldArchiveAndNeverPacksItInsideItself) {
    fs::create_directory(At("tree"));
    WriteText(At("tree/f"), "content");
    WriteText(At("tree/self.aze"), "an old archive");
    const AzeRun run = Aze("create -o tree/self.aze tree");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("aze: warning: left out the archive being written: tree/self.aze"),
              std::string::npos)
        << run.err;
    const Opened opened = Open("tree/self.aze");
    ASSERT_EQ(opened.records.size(), 2u);
    EXPECT_EQ(opened.records[1].name, u"f");
    // a second run replaces it again, still without it
    ASSERT_EQ(Aze("create -o tree/self.aze tree").status, 0);
    EXPECT_EQ(Open("tree/self.aze").records.size(), 2u);
    EXPECT_EQ(std::distance(fs::directory_iterator(At("tree")), fs::directory_iterator()), 2);
}

// Several blocks, so that the compressor works on every processor.
void MakeTreeOfSeveralBlocks(const fs::path& root) {
    fs::create_directories(root / "sub");
    WriteText(root / "big.txt", Prose(2'000'000, 6));
    WriteText(root / "sub/small.txt", "small");
}

void SetModified(const fs::path& path, int64_t secondsSince1970) {
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds{seconds{secondsSince1970}}));
}

TEST_F(CreateTest, PlainArchivesOfOneTreeAreEqualAndSourceDateEpochClampsTimes) {
    MakeTreeOfSeveralBlocks(At("tree"));
    SetModified(At("tree/sub/small.txt"), 1'700'000'000);
    const std::string epoch = "SOURCE_DATE_EPOCH=1600000000";
    const auto first = Made("create -o one.aze tree", "one.aze");
    EXPECT_EQ(Made("create -o two.aze tree", "two.aze"), first);
    EXPECT_EQ(std::memcmp(KeySeed(Open("one.aze").header), "\0\0\0\0", 4), 0);
    const auto clamped = Made("create -o three.aze tree", "three.aze", epoch);
    EXPECT_NE(clamped, first);
    // a file touched later changes the archive, unless its time is clamped
    SetModified(At("tree/sub/small.txt"), 1'800'000'000);
    EXPECT_NE(Made("create -o four.aze tree", "four.aze"), first);
    EXPECT_EQ(Made("create -o five.aze tree", "five.aze", epoch), clamped);
    EXPECT_EQ(Open("five.aze").records[3].fileTime, (1'600'000'000ull + 11644473600) * 10'000'000);
}

TEST_F(CreateTest, EncryptedArchivesDifferUnlessReproducible) {
    MakeTreeOfSeveralBlocks(At("tree"));
    WriteText(At("pw"), "Secret1\n");
    const std::string password = " --password-file pw tree";
    EXPECT_NE(Made("create -o a.aze" + password, "a.aze"),
              Made("create -o b.aze" + password, "b.aze"));
    const auto once = Made("create --reproducible -o c.aze" + password, "c.aze");
    EXPECT_EQ(Made("create --reproducible -o d.aze" + password, "d.aze"), once);
    EXPECT_EQ(Open("d.aze", u"Secret1").records, test::ExpectedRecords(At("tree")));
    WriteText(At("pw"), "Secret2\n");
    EXPECT_NE(Made("create --reproducible -o e.aze" + password, "e.aze"), once);
}

TEST_F(CreateTest, ExcludedNamesPathsAndFoldersAreLeftOut) {
    for (const char* folder : {"src/deep", "docs", "build/out"})
        fs::create_directories(At("tree") / folder);
    for (const char* file : {"a.o", "src/deep/b.o", "src/main.c", "docs/draft.txt", "docs/keep.txt",
                             "build/out/x", "notes", "src/notes"}) {
        WriteText(At("tree") / file, file);
    }
    WriteText(At("patterns"), "notes\n\nbuild\n");
    const AzeRun run =
        Aze("create --exclude '*.o' --exclude docs/draft.txt --exclude-from patterns tree");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(StoredNames("tree.aze"),
              (std::vector<std::u16string>{u"", u"\\docs", u"keep.txt", u"\\src", u"main.c",
                                           u"\\src\\deep"}));
}

// The program is the stub and the archive alone: packing one tree twice gives the same program.
TEST_F(CreateTest, SelfExtractingProgramsOfOneTreeAreEqual) {
    const fs::path stub = fs::path(WINQOR_AZE).parent_path() / "winqor";
    if (!fs::exists(stub)) GTEST_SKIP() << "no winqor beside aze to copy";
    MakeTreeOfSeveralBlocks(At("tree"));
    WriteText(At("tree/skip.o"), "left out");
    const std::string arguments = "sfx --exclude '*.o' --stub " + Quote(stub.string()) + " -o ";
    const auto first = Made(arguments + "one.run tree", "one.run");
    EXPECT_EQ(Made(arguments + "two.run tree", "two.run"), first);
    const AzeRun list = Aze("list two.run");
    EXPECT_EQ(list.out.find("skip.o"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("F sub/small.txt 5"), std::string::npos) << list.out;
    EXPECT_EQ(Aze("sfx --exclude x -o three.run one.run").status, 2);
}

class TerminalTest : public CreateTest {
  protected:
    void SetUp() override {
        CreateTest::SetUp();
        if (std::system("command -v script >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "no 'script' to make a terminal with";
        }
        fs::create_directory(At("tree"));
        WriteText(At("tree/f"), "content");
    }
    // Types the answers on a terminal; returns aze's status, the terminal's text in shown.
    int Type(const std::vector<std::string>& promptsAndAnswers, std::string& shown) {
        std::string command = Quote(std::string(WINQOR_E2E_DIR) + "/type_on_terminal.sh") + " " +
                              Quote(At(".terminal").string()) + " " +
                              Quote("cd " + Quote(dir_.path().string()) + " && " +
                                    Quote(WINQOR_AZE) + " create tree");
        for (const auto& word : promptsAndAnswers) command += " " + Quote(word);
        const int status = std::system(command.c_str());
        shown = ReadText(At(".terminal"));
        fs::remove(At(".terminal"));
        return status;
    }
};

TEST_F(TerminalTest, PasswordTypedTwiceWithoutEcho) {
    std::string shown;
    ASSERT_EQ(Type({"Password for the archive", "Typed9", "same password again", "Typed9"}, shown),
              0)
        << shown;
    EXPECT_EQ(shown.find("Typed9"), std::string::npos) << shown;
    const Opened opened = Open("tree.aze", u"Typed9");
    EXPECT_EQ(opened.header.image[21], 1);
    EXPECT_EQ(opened.records, test::ExpectedRecords(At("tree")));
}

// Each refusal of what was typed says why and writes nothing; an empty first answer is no password.
TEST_F(TerminalTest, RefusedAnswersWriteNothingAnEmptyOneWritesAPlainArchive) {
    const struct {
        std::vector<std::string> typed;
        const char* says;
    } cases[] = {
        {{"Password for the archive", "first1", "same password again", "other1"},
         "aze: the two passwords differ"},
        {{"Password for the archive", "caf\xE9", "same password again", "caf\xE9"},
         "aze: the password is not valid UTF-8"},
        {{"Password for the archive"}, "aze: cannot read the password from the terminal"},
    };
    std::string shown;
    for (const auto& c : cases) {
        EXPECT_NE(Type(c.typed, shown), 0) << c.says;
        EXPECT_NE(shown.find(c.says), std::string::npos) << shown;
        EXPECT_FALSE(fs::exists(At("tree.aze"))) << c.says;
    }
    ASSERT_EQ(Type({"Password for the archive", ""}, shown), 0) << shown;
    EXPECT_EQ(Open("tree.aze").header.image[21], 0);
}

}  // namespace
}  // namespace winqor
