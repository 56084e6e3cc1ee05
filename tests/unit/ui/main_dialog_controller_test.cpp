#include "ui/main_dialog_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "format/record_stream.h"
#include "protection/password.h"
#include "support/file_fixtures.h"
#include "support/test_support.h"
#include "ui/password_controller.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

// The main dialog's commands with a scripted user: the password attempts typed into the real
// password check, and the answers of the two choosers (none = cancelled).
class ScriptedDialog : public MainDialogController {
  public:
    std::vector<std::u16string> attempts;
    int passwordPrompts = 0;
    std::optional<std::u16string> chosenFile;
    std::optional<std::u16string> chosenFolder;
    std::u16string initialFolderSeen;
    std::u16string folderTitleSeen;

  protected:
    bool RunPasswordDialog() override {
        ++passwordPrompts;
        PasswordController prompt;
        for (const std::u16string& attempt : attempts) {
            prompt.m_password = attempt;
            if (prompt.CheckPassword()) return true;
        }
        return false;  // the user gave up: Cancel
    }
    bool ChooseArchiveFile(const std::u16string& initialFolder, std::u16string& path) override {
        initialFolderSeen = initialFolder;
        if (chosenFile) path = *chosenFile;
        return chosenFile.has_value();
    }
    bool ChooseFolder(const char16_t* title, std::u16string& folder) override {
        folderTitleSeen = title;
        if (chosenFolder) folder = *chosenFolder;
        return chosenFolder.has_value();
    }
};

std::u16string U16(const fs::path& path) {
    std::u16string out;
    Utf8ToUtf16(path.string(), out);
    return out;
}

using test::Bytes;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// A small tree: hello.txt at the root, docs/notes.txt below it.
std::vector<uint8_t> SampleArchive(const char16_t* password = nullptr) {
    RecordStreamBuilder records;
    records.AddDirectory(u"");
    records.AddFile(u"hello.txt", kAttributeArchive, Bytes("hello\n"));
    records.AddDirectory(u"\\docs");
    records.AddFile(u"notes.txt", kAttributeArchive, Bytes("notes\n"));
    ArchiveOptions options;
    if (password != nullptr) {
        std::array<uint8_t, 16> digest;
        DerivePasswordDigest(digest.data(), password);
        options.passwordDigest = digest;
        options.keySeed = {9, 8, 7, 6};
    }
    std::vector<uint8_t> archive;
    std::string error;
    EXPECT_TRUE(WriteArchive(records.bytes(), options, archive, error)) << error;
    return archive;
}

bool HoldsSample(const fs::path& root) {
    return ReadText(root / "hello.txt") == "hello\n" &&
           ReadText(root / "docs/notes.txt") == "notes\n";
}

class MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }
    void TearDown() override { g_currentHeader = nullptr; }

    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteFileBytes(dir_.path() / name, bytes);
        return dir_.path() / name;
    }

    test::TempDir dir_;
    test::CurrentDirGuard cwd_;
    ScriptedDialog dialog_;
};

struct ExtractCase {
    const char* name;
    std::string archiveName;  // "" leaves the field empty; a name not written is missing
    std::vector<uint8_t> (*content)();
    std::vector<std::u16string> attempts;
    ExtractOutcome outcome;
    int passwordPrompts;
    bool written;
};

const ExtractCase kExtractCases[] = {
    {"empty archive field", "", nullptr, {}, ExtractOutcome::kNotLoaded, 0, false},
    {"missing file", "absent.aze", nullptr, {}, ExtractOutcome::kNotLoaded, 0, false},
    {"not an archive",
     "text.aze",
     [] { return Bytes(std::string(600, 't')); },
     {},
     ExtractOutcome::kNotLoaded,
     0,
     false},
    {"plain archive",
     "plain.aze",
     [] { return SampleArchive(); },
     {},
     ExtractOutcome::kExtracted,
     0,
     true},
    {"encrypted, password dialog cancelled",
     "locked.aze",
     [] { return SampleArchive(u"pass"); },
     {},
     ExtractOutcome::kPasswordCancelled,
     1,
     false},
    {"encrypted, wrong attempts then cancelled",
     "locked.aze",
     [] { return SampleArchive(u"pass"); },
     {u"Pass", u"", u"passs"},
     ExtractOutcome::kPasswordCancelled,
     1,
     false},
    {"encrypted, wrong then right password",
     "locked.aze",
     [] { return SampleArchive(u"pass"); },
     {u"wrong", u"pass"},
     ExtractOutcome::kExtracted,
     1,
     true},
    // Only the value 1 marks an encrypted payload; the payload here is plain.
    {"encrypted byte 2 is not encrypted",
     "two.aze",
     [] {
         auto archive = SampleArchive();
         archive[header_offset::kEncrypted] = 2;
         return archive;
     },
     {},
     ExtractOutcome::kExtracted,
     0,
     true},
};

TEST_F(MainDialogTest, ExtractCommand) {
    for (const ExtractCase& c : kExtractCases) {
        SCOPED_TRACE(c.name);
        test::TempDir out;
        const fs::path destination = out.path() / "dest";
        dialog_ = ScriptedDialog();
        dialog_.attempts = c.attempts;
        if (!c.archiveName.empty()) {
            dialog_.m_archivePath = U16(dir_.path() / c.archiveName);
            if (c.content != nullptr) Write(c.archiveName, c.content());
        }
        dialog_.m_destinationFolder = U16(destination);
        const std::u16string archiveField = dialog_.m_archivePath;

        EXPECT_EQ(dialog_.Extract(), c.outcome);
        EXPECT_EQ(dialog_.passwordPrompts, c.passwordPrompts);
        EXPECT_EQ(fs::exists(destination), c.written);
        if (c.written) {
            EXPECT_TRUE(HoldsSample(destination));
        }
        // The window keeps what the user typed.
        EXPECT_EQ(dialog_.m_archivePath, archiveField);
        EXPECT_EQ(dialog_.m_destinationFolder, U16(destination));
    }
}

TEST_F(MainDialogTest, ReferenceArchiveOpensWithItsPassword) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    dialog_.m_archivePath = U16(test::VectorsDir() / "encrypted.aze");
    dialog_.m_destinationFolder = U16(dir_.path() / "tree");
    dialog_.attempts = {u"secret1", u"SECRET1", u"Secret1"};
    ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);

    std::ifstream expected(test::VectorsDir() / "expected-tree.txt");
    std::string line;
    int files = 0;
    while (std::getline(expected, line)) {
        // "F path size md5"; the path may hold spaces, the last two fields never do.
        if (line.rfind("F ", 0) != 0) continue;
        const size_t md5At = line.rfind(' ');
        const size_t sizeAt = line.rfind(' ', md5At - 1);
        const fs::path file = dir_.path() / "tree" / fs::path(line.substr(2, sizeAt - 2));
        SCOPED_TRACE(file.string());
        EXPECT_EQ(test::Md5Hex(test::ReadFileBytes(file)), line.substr(md5At + 1));
        ++files;
    }
    EXPECT_GT(files, 0);
}

// A relative destination is resolved when the command runs, against the current directory that
// the earlier extraction left behind.
TEST_F(MainDialogTest, RelativeDestinationFollowsTheCurrentDirectory) {
    dialog_.m_archivePath = U16(Write("plain.aze", SampleArchive()));
    fs::current_path(dir_.path());
    dialog_.m_destinationFolder = u"first";
    ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);
    ASSERT_TRUE(HoldsSample(dir_.path() / "first"));
    const fs::path movedTo = fs::current_path();
    ASSERT_NE(movedTo, dir_.path());

    dialog_.m_destinationFolder = u"second";
    ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);
    EXPECT_TRUE(HoldsSample(movedTo / "second"));
    EXPECT_FALSE(fs::exists(dir_.path() / "second"));
}

// The window's extraction runs confined to the destination: the test builds' probe cannot
// write beside it, and can once confinement is switched off (so the test can fail).
TEST_F(MainDialogTest, ExtractionIsConfinedToTheDestination) {
    dialog_.m_archivePath = U16(Write("plain.aze", SampleArchive()));
    const fs::path escape = dir_.path() / "escaped";
    struct ProbeOff {
        ~ProbeOff() {
            test::SetEnvironment("WINQOR_TEST_ESCAPE_TO", nullptr);
            test::SetEnvironment("WINQOR_TEST_UNCONFINED", nullptr);
        }
    } probeOff;
    test::SetEnvironment("WINQOR_TEST_ESCAPE_TO", escape.c_str());
    for (const char* unconfined : {static_cast<const char*>(nullptr), "1"}) {
        test::SetEnvironment("WINQOR_TEST_UNCONFINED", unconfined);
        dialog_.m_destinationFolder = U16(dir_.path() / (unconfined ? "free" : "walled"));
        test::DebugCapture debug;
        ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);
        if (debug.All().find("confinement probe") == std::string::npos) {
            GTEST_SKIP() << "no probe in this build";
        }
        if (!unconfined && debug.All().find("not confined") != std::string::npos) {
            GTEST_SKIP() << "this system cannot confine a process";
        }
        EXPECT_EQ(fs::exists(escape), unconfined != nullptr) << debug.All();
    }
}

TEST_F(MainDialogTest, ExtractingTwiceReplacesTheFiles) {
    dialog_.m_archivePath = U16(Write("plain.aze", SampleArchive()));
    dialog_.m_destinationFolder = U16(dir_.path() / "out");
    ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);
    test::WriteFileBytes(dir_.path() / "out/hello.txt", Bytes("changed, and longer than before"));
    ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);
    EXPECT_TRUE(HoldsSample(dir_.path() / "out"));
}

struct BrowseArchiveCase {
    std::optional<std::u16string> chosen;
    std::u16string archive;      // the archive field afterwards
    std::u16string destination;  // the destination field afterwards
};

TEST_F(MainDialogTest, BrowseArchiveSetsBothFieldsOrNothing) {
    const BrowseArchiveCase cases[] = {
        {std::nullopt, u"typed.aze", u"typed dest"},
        {u"/srv/pkg/tools.aze", u"/srv/pkg/tools.aze", u"/srv/pkg/tools"},
        // A name typed without an extension gets the archives' one.
        {u"/srv/pkg/tools", u"/srv/pkg/tools.aze", u"/srv/pkg/tools"},
        {u"/srv/my.pkg/tools", u"/srv/my.pkg/tools.aze", u"/srv/my.pkg/tools"},
        {u"/srv/pkg/.hidden", u"/srv/pkg/.hidden.aze", u"/srv/pkg/.hidden"},
        {u"/srv/pkg/tools.zip", u"/srv/pkg/tools.zip", u"/srv/pkg/tools"},
    };
    fs::current_path(dir_.path());
    for (const BrowseArchiveCase& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8Lossy(c.chosen.value_or(u"(cancelled)")));
        dialog_ = ScriptedDialog();
        dialog_.m_archivePath = u"typed.aze";
        dialog_.m_destinationFolder = u"typed dest";
        dialog_.chosenFile = c.chosen;
        EXPECT_EQ(dialog_.BrowseArchive(), c.chosen.has_value());
        EXPECT_EQ(dialog_.m_archivePath, c.archive);
        EXPECT_EQ(dialog_.m_destinationFolder, c.destination);
        EXPECT_EQ(dialog_.initialFolderSeen, U16(dir_.path()));
    }
}

struct OpenArchiveCase {
    const char* name;         // in the test's folder
    const char* destination;  // in the test's folder; null when the file is not taken
};

// The file the program was started with or that was dropped on the window: an existing regular
// file is taken like a picked one (no extension added), anything else leaves the fields alone.
TEST_F(MainDialogTest, OpenArchiveTakesOnlyAnExistingFile) {
    Write("pkg.aze", SampleArchive());
    Write("no extension", SampleArchive());
    fs::create_directory(dir_.path() / "folder.aze");
    fs::create_symlink("pkg.aze", dir_.path() / "link.aze");
    fs::create_symlink("absent.aze", dir_.path() / "dangling.aze");
    ASSERT_TRUE(test::MakePipe(dir_.path() / "pipe.aze"));
    const OpenArchiveCase cases[] = {
        {"pkg.aze", "pkg"},      {"no extension", "no extension.d"},
        {"link.aze", "link"},    {"absent.aze", nullptr},
        {"folder.aze", nullptr}, {"dangling.aze", nullptr},
        {"pipe.aze", nullptr},   {"", nullptr},
    };
    for (const OpenArchiveCase& c : cases) {
        SCOPED_TRACE(c.name);
        dialog_ = ScriptedDialog();
        dialog_.m_archivePath = u"typed.aze";
        dialog_.m_destinationFolder = u"typed dest";
        const std::u16string path = c.name[0] == '\0' ? u"" : U16(dir_.path() / c.name);
        const bool taken = c.destination != nullptr;
        EXPECT_EQ(dialog_.OpenArchive(path), taken);
        EXPECT_EQ(dialog_.m_archivePath, taken ? path : u"typed.aze");
        EXPECT_EQ(dialog_.m_destinationFolder,
                  taken ? U16(dir_.path() / c.destination) : u"typed dest");
    }
}

TEST_F(MainDialogTest, ArchiveDialogOpensWhereTheLastExtractionLeftOff) {
    fs::current_path(dir_.path());
    dialog_.m_archivePath = U16(Write("plain.aze", SampleArchive()));
    dialog_.m_destinationFolder = U16(dir_.path() / "out");
    ASSERT_EQ(dialog_.Extract(), ExtractOutcome::kExtracted);
    dialog_.BrowseArchive();
    EXPECT_EQ(dialog_.initialFolderSeen, U16(fs::current_path()));
    EXPECT_NE(dialog_.initialFolderSeen, U16(dir_.path()));
}

TEST(BrowseFolder, CancelLeavesTheFieldAsTyped) {
    ScriptedDialog dialog;
    dialog.m_archivePath = u"a.aze";
    dialog.m_destinationFolder = u"typed by hand";
    EXPECT_FALSE(dialog.BrowseFolder());
    EXPECT_EQ(dialog.m_destinationFolder, u"typed by hand");
    EXPECT_EQ(dialog.folderTitleSeen, u"Select a folder to extract:");

    dialog.chosenFolder = u"/picked/folder";
    EXPECT_TRUE(dialog.BrowseFolder());
    EXPECT_EQ(dialog.m_destinationFolder, u"/picked/folder");
    EXPECT_EQ(dialog.m_archivePath, u"a.aze");
}

}  // namespace
}  // namespace winqor
