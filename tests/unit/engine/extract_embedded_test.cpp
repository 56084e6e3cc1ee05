#include "engine/extract_embedded.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "format/archive_header.h"
#include "support/test_support.h"
#include "support/tree.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

using test::Wide;

// The one rule for the default destination of aze extract, the window and a self-extracting
// run: the path without its file name's extension, or with ".d" where there is none to cut.
TEST(OutputFolderForTest, CutsOnlyTheFileNamesExtensionOrAddsDotD) {
    struct Case {
        std::u16string program;
        std::u16string folder;
    };
    const Case cases[] = {
        {u"/dl/pack.run", u"/dl/pack"},
        {u"/dl/pack.old.run", u"/dl/pack.old"},
        {u"archive.aze", u"archive"},
        {u"archive.", u"archive"},
        {u"/home/u/.config.aze", u"/home/u/.config"},
        // No extension: the folder must not take the archive's own name.
        {u"/home/u/my.files/backup", u"/home/u/my.files/backup.d"},
        {u"relative/name", u"relative/name.d"},
        {u"/home/u/.profile", u"/home/u/.profile.d"},
        {u"setup", u"setup.d"},
        // A stem of . or .. would name the current folder or its parent.
        {u"/dl/..aze", u"/dl/..aze.d"},
        {u"/dl/...run", u"/dl/...run.d"},
        {u"/dl/....aze", u"/dl/..."},
    };
    for (const auto& c : cases) {
        char16_t folder[kMaxPath];
        ASSERT_TRUE(OutputFolderFor(c.program.c_str(), folder));
        EXPECT_EQ(std::u16string(folder), c.folder) << Utf16ToUtf8Lossy(c.program);
    }
}

TEST(OutputFolderForTest, APathThatDoesNotFitFailsInsteadOfBeingCut) {
    char16_t folder[kMaxPath];
    const std::u16string longest(kMaxPath - 1, u'a');  // with the terminator, a full buffer
    EXPECT_FALSE(OutputFolderFor((u"/" + longest).c_str(), folder));
    EXPECT_FALSE(OutputFolderFor(longest.c_str(), folder)) << "no room for .d";
    EXPECT_TRUE(OutputFolderFor(longest.substr(2).c_str(), folder)) << "just room for .d";
    EXPECT_EQ(Utf16Length(folder), kMaxPath - 1);
    EXPECT_FALSE(OutputFolderFor(u"", folder));
    EXPECT_FALSE(OutputFolderFor(nullptr, folder));
}

class ExtractEmbeddedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDecoderVerbosity(0);
        RecordStreamBuilder builder;
        builder.AddDirectory(u"");
        builder.AddFile(u"readme.txt", 0x20, std::vector<uint8_t>(500, 'r'));
        builder.AddDirectory(u"\\docs");
        builder.AddFile(u"a.txt", 0x20, std::vector<uint8_t>(3, 'a'));
        std::string error;
        ASSERT_TRUE(WriteArchive(builder.bytes(), {}, archive_, error)) << error;
    }
    // The first keep bytes of the archive in a heap block of exactly that size, so that a
    // read past its end is caught by AddressSanitizer.
    std::unique_ptr<uint8_t[]> Image(size_t keep) {
        auto image = std::make_unique<uint8_t[]>(keep);
        std::copy(archive_.begin(), archive_.begin() + keep, image.get());
        return image;
    }

    int Run(const uint8_t* image, uint64_t imageBytes) {
        const std::u16string program = Wide(dir_.path() / "pack.run");
        return ExtractEmbeddedBeside(extractor_, program.c_str(), image, imageBytes);
    }

    test::CurrentDirGuard cwd_;
    test::DebugCapture debug_;
    test::TempDir dir_;
    fs::path output_ = dir_.path() / "pack";
    std::vector<uint8_t> archive_;
    ArchiveExtractor extractor_;
};

TEST_F(ExtractEmbeddedTest, WritesBesideTheProgramAndEndsInTheOutputFolder) {
    auto image = Image(archive_.size());
    EXPECT_EQ(Run(image.get(), archive_.size()), 1);
    EXPECT_EQ(test::DescribeTree(output_).size(), 4u);
    EXPECT_TRUE(fs::exists(output_ / "docs" / "a.txt"));
    EXPECT_EQ(Utf16ToUtf8Lossy(extractor_.folder()), output_.string());
    EXPECT_EQ(fs::current_path(), output_) << "back in the output folder after the walk";
}

TEST_F(ExtractEmbeddedTest, AnImageShorterThanItsHeaderSaysIsNotReadPastItsEnd) {
    const size_t shorter = archive_.size() - 1;
    auto image = Image(shorter);
    EXPECT_EQ(Run(image.get(), shorter), 0);
    EXPECT_EQ(extractor_.failure(), Failure::kShortPayload);
    EXPECT_TRUE(fs::is_directory(output_));
    EXPECT_TRUE(fs::is_empty(output_));
}

}  // namespace
}  // namespace winqor
