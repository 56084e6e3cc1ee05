// The reference archives, extracted by the engine on Windows into the tree they hold.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/archive_extractor.h"
#include "protection/password.h"
#include "support/known_answers.h"
#include "support/test_support.h"
#include "support/tree.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

// The digest of a password of the known answers; all zero when it is not one of them.
std::array<uint8_t, 16> KnownPasswordDigest(const std::u16string& password) {
    std::array<uint8_t, 16> digest{};
    for (const auto& answer : test::LoadKnownAnswers().passwords) {
        if (answer.password == password) std::memcpy(digest.data(), answer.digest.data(), 16);
    }
    return digest;
}

bool Writable(const fs::path& file) {
    return (fs::status(file).permissions() & fs::perms::owner_write) != fs::perms::none;
}

TEST(ReferenceArchives, ExtractToTheExpectedTree) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    const auto digest = KnownPasswordDigest(u"Secret1");
    const auto expected = test::ReadSortedLines(test::VectorsDir() / "expected-tree.txt");
    test::CurrentDirGuard cwd;
    test::TempDir dir;
    for (const char* name : {"plain.aze", "encrypted.aze"}) {
        SCOPED_TRACE(name);
        const fs::path target = dir.path() / name;
        ArchiveExtractor extractor;
        ASSERT_EQ(extractor.LoadFromFile((test::VectorsDir() / name).u16string().c_str()), 1);
        extractor.CloseArchiveFile();
        extractor.SetPasswordDigest(digest.data());
        ASSERT_EQ(extractor.ExtractToFolder(target.u16string().c_str()), 1);
        EXPECT_EQ(extractor.failure(), Failure::kNone) << DescribeFailure(extractor.failure());
        EXPECT_EQ(test::DescribeTree(target), expected);
        // Attribute 0x21 makes README.txt read-only; 0x20 leaves tool.bin writable.
        EXPECT_FALSE(Writable(target / "README.txt"));
        EXPECT_TRUE(Writable(target / "tool.bin"));
    }
}

}  // namespace
}  // namespace winqor
