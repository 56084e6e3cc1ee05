#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_program.h"
#include "base/limits.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

fs::path OwnProgram() {
    char16_t path[kMaxPath];
    EXPECT_GT(GetModuleFileName(path, kMaxPath), 0u);
    return fs::path(path);
}

TEST(GetModuleFileNameTest, GivesTheProgramsPathOnlyWhenItFits) {
    char16_t path[kMaxPath];
    const uint32_t length = GetModuleFileName(path, kMaxPath);
    ASSERT_GT(length, 0u);
    EXPECT_TRUE(fs::path(path).is_absolute());
    EXPECT_EQ(fs::path(path).filename(), "unit_platform_win32.exe");
    EXPECT_TRUE(fs::is_regular_file(fs::path(path)));
    char16_t exact[kMaxPath];
    EXPECT_EQ(GetModuleFileName(exact, length + 1), length);
    EXPECT_EQ(fs::path(exact), fs::path(path));
    EXPECT_EQ(GetModuleFileName(exact, length), 0u) << "a path is never cut";
}

// A copy of this test program written into folder as name, the way an extraction writes a
// file; its identity.
FileId WriteProgram(DirectoryHandle folder, const char16_t* name) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(OwnProgram());
    ReplacingFile file;
    FileId id;
    EXPECT_TRUE(file.Create(folder, name));
    EXPECT_EQ(WriteToFile(file.handle(), bytes.data(), static_cast<uint32_t>(bytes.size())),
              bytes.size());
    EXPECT_TRUE(file.Identify(id));
    EXPECT_EQ(file.Commit(false), ReplacingFile::Outcome::kDone);
    return id;
}

class StartProgramAndWaitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OpenRootFolder(dir_.path().u16string().c_str(), RootTrust::kOwned, folder_),
                  OpenRootResult::kOpened);
        ASSERT_TRUE(MakeCurrent(folder_));
        test::SetEnvironment(test::kChildVariable, "1");
    }
    void TearDown() override {
        test::SetEnvironment(test::kChildVariable, nullptr);
        CloseDirectory(folder_);
    }
    fs::path Report() const { return dir_.path() / test::kChildReport; }

    test::TempDir dir_;
    test::CurrentDirGuard restore_;
    DirectoryHandle folder_ = kInvalidDirectory;
};

TEST_F(StartProgramAndWaitTest, StartsTheFileItWroteAndWaitsForItsExitStatus) {
    const FileId written = WriteProgram(folder_, u"Setup.exe");
    uint32_t status = 0;
    EXPECT_EQ(StartProgramAndWait(folder_, u"Setup.exe", written, &status), 1);
    ASSERT_TRUE(fs::exists(Report())) << "the wait ends with the program";
    const std::vector<uint8_t> bytes = test::ReadFileBytes(Report());
    const std::string report(bytes.begin(), bytes.end());
    const size_t bar = report.find('|');
    ASSERT_NE(bar, std::string::npos) << report;
    EXPECT_TRUE(fs::equivalent(report.substr(0, bar), dir_.path())) << report;
    EXPECT_EQ(report.substr(bar + 1), "1") << "no arguments";
    EXPECT_EQ(status, static_cast<uint32_t>(test::kChildExitStatus));
}

TEST_F(StartProgramAndWaitTest, StartsNothingButTheFileExpected) {
    const FileId first = WriteProgram(folder_, u"Setup.exe");
    // Swapped for another file of the same content: not the file this run wrote.
    const FileId second = WriteProgram(folder_, u"Setup.exe");
    ASSERT_FALSE(first == second);
    EXPECT_EQ(StartProgramAndWait(folder_, u"Setup.exe", first), 0);
    EXPECT_EQ(StartProgramAndWait(folder_, u"Missing.exe", second), 0);
    fs::create_directory(dir_.path() / "Folder.exe");
    EXPECT_EQ(StartProgramAndWait(folder_, u"Folder.exe", second), 0);
    EXPECT_FALSE(fs::exists(Report()));
}

}  // namespace
}  // namespace winqor
