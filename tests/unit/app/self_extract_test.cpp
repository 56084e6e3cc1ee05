#include "app/self_extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "protection/password.h"
#include "support/file_fixtures.h"
#include "support/test_support.h"
#include "support/tree.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

constexpr char16_t kPassword[] = u"Secret1";

using test::Bytes;
using test::Wide;

// What an archive holds, and how it is written.
struct ArchiveShape {
    bool withSetup = true;
    bool runSetup = false;
    bool encrypted = false;
    bool unsafeSecondGroup = false;  // a folder record that leaves the root, after Setup.exe
};

class SelfExtractTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }
    void TearDown() override { g_currentHeader = nullptr; }

    // A Setup.exe that notes where it ran, in a file outside the extracted tree, and fails.
    std::vector<uint8_t> SetupScript() const {
        return Bytes("#!/bin/sh\npwd > '" + (dir_.path() / "setup-ran").string() + "'\nexit 7\n");
    }

    std::vector<uint8_t> Archive(const ArchiveShape& shape) const {
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        if (shape.withSetup) builder.AddFile(u"Setup.exe", 0x20, SetupScript());
        builder.AddFile(u"readme.txt", 0x20, Bytes("read me"));
        builder.AddDirectory(shape.unsafeSecondGroup ? u"\\..\\escaped" : u"\\docs");
        builder.AddFile(u"a.txt", 0x20, Bytes("a"));
        ArchiveOptions options;
        options.runSetup = shape.runSetup;
        if (shape.encrypted) {
            std::array<uint8_t, 16> digest;
            DerivePasswordDigest(digest.data(), kPassword);
            options.passwordDigest = digest;
        }
        std::vector<uint8_t> archive;
        std::string error;
        EXPECT_TRUE(WriteArchive(builder.bytes(), options, archive, error)) << error;
        return archive;
    }

    // Writes program_ with the placeholder and, when given, the archive as the neutral
    // entry, and opens it as the run's module.
    ResourceFile& Program(const std::optional<std::vector<uint8_t>>& image) {
        std::vector<NewResource> additions = {
            {kSetupArchiveType, kSetupArchiveId, kLanguageEnglishUs, kSetupArchivePlaceholder}};
        if (image) additions.push_back({kSetupArchiveType, kSetupArchiveId, 0, *image});
        std::vector<uint8_t> file;
        std::string error;
        EXPECT_TRUE(AppendResources(Bytes("\x7f"
                                          "ELF program"),
                                    additions, file, error));
        test::WriteFileBytes(program_, file);
        module_ = std::make_unique<ResourceFile>();
        EXPECT_TRUE(module_->Open(program_.string()));
        return *module_;
    }

    int Run(const std::optional<std::vector<uint8_t>>& image, PasswordAsker ask = nullptr) {
        ResourceFile& module = Program(image);
        return RunEmbeddedArchive(ask, &module, Wide(program_).c_str());
    }

    std::vector<std::string> Tree() const { return test::DescribeTree(output_); }
    bool SetupRan() const { return fs::exists(dir_.path() / "setup-ran"); }

    test::CurrentDirGuard cwd_;
    test::DebugCapture debug_;
    test::TempDir dir_;
    fs::path program_ = dir_.path() / "pack.run";
    fs::path output_ = dir_.path() / "pack";
    std::unique_ptr<ResourceFile> module_;
};

TEST_F(SelfExtractTest, PrepareReportsWhatItFound) {
    const std::string prepare = "CWinQORDlg::Prepare\n";
    const std::string found = "found SETUP_ARCHIVE resource\n";
    {
        test::WriteFileBytes(program_, Bytes("a program without resources"));
        ResourceFile module;
        ASSERT_TRUE(module.Open(program_.string()));
        EXPECT_EQ(Prepare(&module).bytes, nullptr);
        EXPECT_EQ(RunEmbeddedArchive(nullptr, &module, Wide(program_).c_str()), 0);
    }
    const std::string none = "Can not found SETUP_ARCHIVE resource\n";
    EXPECT_EQ(debug_.messages(), (std::vector<std::string>{prepare, none, prepare, none}));

    ResourceFile& placeholder = Program(std::nullopt);
    const EmbeddedImage image = Prepare(&placeholder);
    ASSERT_NE(image.bytes, nullptr);
    EXPECT_EQ(image.size, 8u);
    EXPECT_EQ(std::vector<std::string>(debug_.messages().begin() + 4, debug_.messages().end()),
              (std::vector<std::string>{prepare, found}));

    // A file that changed size since its table was read is not loaded.
    ResourceFile& changed = Program(Archive({}));
    fs::resize_file(program_, fs::file_size(program_) - 1);
    EXPECT_EQ(Prepare(&changed).bytes, nullptr);
    EXPECT_EQ(std::vector<std::string>(debug_.messages().begin() + 6, debug_.messages().end()),
              (std::vector<std::string>{prepare, found, "LoadResource failed\n"}));
}

TEST_F(SelfExtractTest, NoUsableArchiveGivesZeroAndTouchesNothing) {
    struct Case {
        std::string what;
        std::optional<std::vector<uint8_t>> image;
    };
    std::vector<Case> cases = {{"no archive, only the placeholder", std::nullopt}};
    const auto archive = Archive({});
    for (int i = 0; i < 8; ++i) {
        auto image = archive;
        image[i] ^= 0x20;
        cases.push_back({"magic byte " + std::to_string(i) + " differs", image});
    }
    auto notEmbedded = archive;
    notEmbedded[20] = 0;
    cases.push_back({"embedded 0", notEmbedded});
    cases.push_back({"magic, but shorter than a header",
                     std::vector<uint8_t>(archive.begin(), archive.begin() + 255)});
    for (const auto& c : cases) {
        int asked = 0;
        EXPECT_EQ(Run(c.image, [&] { return ++asked > 0; }), 0) << c.what;
        EXPECT_EQ(asked, 0) << c.what;
        EXPECT_FALSE(fs::exists(output_)) << c.what;
    }
}

TEST_F(SelfExtractTest, ACancelledPasswordAbandonsTheRunBeforeAnyFolder) {
    int asked = 0;
    auto encrypted = Archive({.runSetup = true, .encrypted = true});
    EXPECT_EQ(Run(encrypted, [&] { return ++asked < 0; }), -1);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(fs::exists(output_));
    EXPECT_EQ(Run(encrypted, nullptr), -1) << "no way to ask is a cancelled prompt";
    EXPECT_FALSE(SetupRan());
}

TEST_F(SelfExtractTest, AnAcceptedPasswordExtractsTheEncryptedArchive) {
    int asked = 0;
    auto ask = [&] {
        ++asked;
        return AcceptPassword(kPassword, g_currentHeader);
    };
    EXPECT_EQ(Run(Archive({.encrypted = true}), ask), 1);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(fs::exists(output_ / "docs" / "a.txt"));
}

TEST_F(SelfExtractTest, EncryptedOtherThanOneAsksNothingAndReadsThePayloadAsStored) {
    auto archive = Archive({});
    archive[21] = 2;
    int asked = 0;
    EXPECT_EQ(Run(archive, [&] { return ++asked > 0; }), 1);
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(fs::exists(output_ / "docs" / "a.txt"));
}

TEST_F(SelfExtractTest, FailedRunsStillCountAsRunsAndStartNothing) {
    auto archive = Archive({.runSetup = true});
    auto damaged = archive;
    damaged[kHeaderBytes + 40] ^= 1;
    const auto shorter = std::vector<uint8_t>(archive.begin(), archive.end() - 1);
    struct Case {
        std::string what;
        std::vector<uint8_t> image;
        bool blockWithFile;
    };
    const Case cases[] = {
        {"digest mismatch", damaged, false},
        {"image shorter than its header says", shorter, false},
        {"a file where the folder should be", archive, true},
    };
    for (const auto& c : cases) {
        fs::remove_all(output_);
        if (c.blockWithFile) {
            test::WriteFileBytes(output_, Bytes("x"));
        } else {
            // A Setup.exe already there must not be started either.
            fs::create_directory(output_);
            test::WriteFileBytes(output_ / "Setup.exe", SetupScript());
        }
        const auto before = c.blockWithFile ? std::vector<std::string>{} : Tree();
        EXPECT_EQ(Run(c.image), 1) << c.what;
        EXPECT_FALSE(SetupRan()) << c.what;
        if (c.blockWithFile) {
            EXPECT_EQ(test::ReadFileBytes(output_), Bytes("x")) << c.what;
            EXPECT_EQ(test::DescribeTree(dir_.path()).size(), 3u)
                << c.what << ": ., pack, pack.run";
        } else {
            EXPECT_EQ(Tree(), before) << c.what << ": nothing written";
        }
    }
}

// The pause after Setup.exe belongs to starting it: a run that starts nothing has none.
TEST_F(SelfExtractTest, WithoutRunSetupNothingIsStarted) {
    EXPECT_EQ(Run(Archive({.runSetup = false})), 1);
    EXPECT_FALSE(SetupRan());
    EXPECT_TRUE(fs::exists(output_ / "Setup.exe"));
}

TEST_F(SelfExtractTest, AMissingSetupExeLeavesTheTree) {
    EXPECT_EQ(Run(Archive({.withSetup = false, .runSetup = true})), 1);
    EXPECT_TRUE(fs::exists(output_ / "readme.txt"));
    EXPECT_TRUE(fs::exists(output_ / "docs" / "a.txt"));
}

TEST_F(SelfExtractTest, SetupExeRunsInTheOutputFolderAndTheRunWaitsForIt) {
    RunReport report;
    EXPECT_EQ(RunEmbeddedArchive(nullptr, &Program(Archive({.runSetup = true})),
                                 Wide(program_).c_str(), &report),
              1);
    EXPECT_EQ(RunExitStatus(1, report), 7) << "the run exits with Setup.exe's status";
    ASSERT_TRUE(SetupRan()) << "the run returns only once Setup.exe has ended";
    std::ifstream ran(dir_.path() / "setup-ran");
    std::string where;
    std::getline(ran, where);
    EXPECT_EQ(where, output_.string()) << "not the last folder the walk entered";
    EXPECT_TRUE(fs::exists(output_ / "docs" / "a.txt"));
}

// Every record is checked before the first write: a name that leaves the root, after Setup.exe
// in the stream, writes nothing, so nothing is started either.
TEST_F(SelfExtractTest, ANameRefusedLaterInTheStreamWritesAndStartsNothing) {
    RunReport report;
    ASSERT_EQ(RunEmbeddedArchive(nullptr,
                                 &Program(Archive({.runSetup = true, .unsafeSecondGroup = true})),
                                 Wide(program_).c_str(), &report),
              1);
    EXPECT_EQ(RunExitStatus(1, report), 1);
    EXPECT_NE(debug_.All().find("qorOutputArchive:unexpected error\n"), std::string::npos);
    EXPECT_FALSE(SetupRan());
    EXPECT_TRUE(fs::is_empty(output_));
    EXPECT_FALSE(fs::exists(dir_.path() / "escaped"));
}

// Run as root from a shared folder, the run must not write into, or start a program from, a
// folder that someone else prepared at its output folder's name.
TEST_F(SelfExtractTest, AnOutputFolderOfSomeoneElseIsRefusedBeforeAnyWrite) {
    const fs::path elsewhere = dir_.path() / "elsewhere";
    struct Case {
        const char* what;
        void (*prepare)(const fs::path& output, const fs::path& target);
        const char* why;
    };
    const Case cases[] = {
        {"a link to a folder",
         [](const fs::path& output, const fs::path& target) {
             fs::create_directory_symlink(target, output);
         },
         "it is a symbolic link"},
        {"another user's folder",
         [](const fs::path& output, const fs::path&) {
             fs::create_directory(output);
             ASSERT_TRUE(test::GiveToNobody(output));
         },
         "it belongs to another user"},
        {"a folder others can write to",
         [](const fs::path& output, const fs::path&) {
             fs::create_directory(output);
             fs::permissions(output, fs::perms::all);
         },
         "others can write to it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!test::RunningAsRoot() && std::string(c.what) == "another user's folder") continue;
        fs::remove_all(output_);
        fs::remove_all(elsewhere);
        fs::create_directory(elsewhere);
        c.prepare(output_, elsewhere);
        debug_.Clear();
        RunReport report{.complete = true};
        ASSERT_EQ(RunEmbeddedArchive(nullptr, &Program(Archive({.runSetup = true})),
                                     Wide(program_).c_str(), &report),
                  1);
        EXPECT_FALSE(report.complete);
        EXPECT_EQ(RunExitStatus(1, report), 1) << "a refused run is a failure";
        EXPECT_FALSE(SetupRan());
        EXPECT_TRUE(fs::is_empty(elsewhere));
        EXPECT_TRUE(fs::is_symlink(output_) || fs::is_empty(output_));
        const std::string line =
            "winqor: " + output_.string() + ": refused the output folder: " + c.why + "\n";
        EXPECT_NE(debug_.All().find(line), std::string::npos) << debug_.All();
    }
}

// Only the Setup.exe this run wrote at the top of its output folder is started: not one
// waiting there (a link to another program included) when the archive carries none.
TEST_F(SelfExtractTest, OnlyTheSetupExeThisRunWroteIsStarted) {
    const fs::path planted = dir_.path() / "planted.sh";
    test::WriteFileBytes(planted, SetupScript());
    for (bool archiveHasSetup : {false, true}) {
        SCOPED_TRACE(archiveHasSetup ? "carried" : "not carried");
        fs::remove_all(output_);
        fs::remove(dir_.path() / "setup-ran");
        fs::create_directory(output_);
        fs::create_symlink(planted, output_ / "Setup.exe");
        debug_.Clear();
        EXPECT_EQ(Run(Archive({.withSetup = archiveHasSetup, .runSetup = true})), 1);
        EXPECT_EQ(SetupRan(), archiveHasSetup);
        EXPECT_EQ(fs::is_symlink(output_ / "Setup.exe"), !archiveHasSetup);
        EXPECT_EQ(fs::status(planted).permissions() & fs::perms::owner_exec, fs::perms::none);
        const bool said = debug_.All().find(
                              "Setup.exe was not extracted to the output folder: "
                              "nothing started\n") != std::string::npos;
        EXPECT_EQ(said, !archiveHasSetup);
    }
}

TEST(AskPasswordOnTerminalTest, RepeatsUntilAcceptedOrInputEnds) {
    HeaderFields fields;
    fields.packedSize = fields.unpackedSize = 1;
    fields.encrypted = true;
    uint8_t digest[16];
    DerivePasswordDigest(digest, kPassword);
    ComputeCheckValue(fields.passwordCheck, digest);
    ArchiveHeader header;
    BuildHeader(fields, header.image);
    g_currentHeader = &header;
    struct Case {
        std::vector<std::string> lines;
        bool accepted;
        size_t read;
    };
    const Case cases[] = {
        {{"Secret1"}, true, 1},
        {{"secret1", "", "\xff\xfe", "Secret1", "never read"}, true, 4},
        {{"wrong", "also wrong"}, false, 3},
        {{}, false, 1},
    };
    for (const auto& c : cases) {
        size_t read = 0;
        auto reader = [&](std::string& line) {
            if (read++ == c.lines.size()) return false;
            line = c.lines[read - 1];
            return true;
        };
        EXPECT_EQ(AskPasswordOnTerminal(reader), c.accepted) << c.lines.size();
        EXPECT_EQ(read, c.read) << c.lines.size();
    }
    g_currentHeader = nullptr;
}

TEST(ChoosePasswordAskerTest, DialogWithADisplayElseTerminalElseAbandon) {
    struct Case {
        bool display, terminal;
        const char* expected;  // which asker answered, "" for none
    };
    const Case cases[] = {
        {true, true, "dialog"},
        {true, false, "dialog"},
        {false, true, "terminal"},
        {false, false, ""},
    };
    for (const auto& c : cases) {
        std::string asked;
        int displaysOpened = 0;
        PasswordAsker ask = ChoosePasswordAsker({
            [&] { return ++displaysOpened, c.display; },
            [&] { return asked += "dialog", true; },
            [&] { return c.terminal; },
            [&] { return asked += "terminal", true; },
        });
        EXPECT_EQ(displaysOpened, 0) << "nothing is opened before a password is needed";
        EXPECT_EQ(ask(), *c.expected != 0);
        EXPECT_EQ(asked, c.expected);
    }
}

}  // namespace
}  // namespace winqor
