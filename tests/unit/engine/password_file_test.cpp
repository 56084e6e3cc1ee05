#include "engine/password_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "platform/terminal.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
    test::WriteFileBytes(path, test::Bytes(text));
}

// Each way a password file can be given: the first line is taken as it is (a "\r" before its
// "\n" aside), however long a password line may be and not a byte more; what cannot be read
// as a file, including one that opens but fails to read, is refused with its own reason.
TEST(PasswordFileTest, TakesTheFirstLineOrSaysWhyNot) {
    test::TempDir dir;
    const std::string longest(kMaxPasswordLineBytes, 'p');
    WriteText(dir.path() / "crlf", "Secret1\r\nsecond line\n");
    WriteText(dir.path() / "bare", "Secret1");
    WriteText(dir.path() / "empty", "");
    WriteText(dir.path() / "longest", longest + "\n");
    WriteText(dir.path() / "longer", longest + "q\n");
    WriteText(dir.path() / "cr-inside", "a\rb\n");
    fs::create_directory(dir.path() / "folder");
    fs::create_directory_symlink(dir.path() / "folder", dir.path() / "link-to-folder");
    struct Case {
        const char* what;
        fs::path file;
        PasswordFileRead read;
        std::string line;
    };
    const Case cases[] = {
        {"a line ended by CR LF", dir.path() / "crlf", PasswordFileRead::kRead, "Secret1"},
        {"a line without its end", dir.path() / "bare", PasswordFileRead::kRead, "Secret1"},
        {"an empty file: the empty password", dir.path() / "empty", PasswordFileRead::kRead, ""},
        {"a line as long as one may be", dir.path() / "longest", PasswordFileRead::kRead, longest},
        {"a line one byte longer", dir.path() / "longer", PasswordFileRead::kTooLong, ""},
        {"a CR inside the line stays", dir.path() / "cr-inside", PasswordFileRead::kRead, "a\rb"},
        {"a folder", dir.path() / "folder", PasswordFileRead::kFolder, ""},
        {"a link to a folder", dir.path() / "link-to-folder", PasswordFileRead::kFolder, ""},
        {"no file", dir.path() / "missing", PasswordFileRead::kUnreadable, ""},
        // Opens, then every read fails (EIO at address 0).
        {"a file whose read fails", "/proc/self/mem", PasswordFileRead::kUnreadable, ""},
    };
    for (const Case& c : cases) {
        std::string line = "left over";
        EXPECT_EQ(ReadPasswordFile(c.file.string(), line), c.read) << c.what;
        if (c.read == PasswordFileRead::kRead) {
            EXPECT_EQ(line, c.line) << c.what;
        }
    }
}

// Standard input as the file: a line is read, but input that ends at once holds no password
// (unlike an empty file), since nothing was typed or piped.
TEST(PasswordFileTest, StandardInputThatEndsAtOnceHoldsNone) {
    test::TempDir dir;
    WriteText(dir.path() / "piped", "Piped1\nnext\n");
    WriteText(dir.path() / "nothing", "");
    const int saved = ::dup(STDIN_FILENO);
    ASSERT_GE(saved, 0);
    struct Case {
        const char* file;
        PasswordFileRead read;
        std::string line;
    };
    const Case cases[] = {{"nothing", PasswordFileRead::kUnreadable, ""},
                          {"piped", PasswordFileRead::kRead, "Piped1"}};
    for (const Case& c : cases) {
        const int input = ::open((dir.path() / c.file).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(input, 0);
        ASSERT_EQ(::dup2(input, STDIN_FILENO), STDIN_FILENO);
        ::close(input);
        std::rewind(stdin);  // what stdio holds of the input before is gone
        std::string line;
        EXPECT_EQ(ReadPasswordFile("-", line), c.read) << c.file;
        if (c.read == PasswordFileRead::kRead) {
            EXPECT_EQ(line, c.line) << c.file;
        }
    }
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    std::clearerr(stdin);
}

TEST(PasswordFileTest, EveryRefusalSaysWhy) {
    EXPECT_EQ(DescribePasswordFileRead(PasswordFileRead::kRead), "");
    std::set<std::string> reasons;
    for (const PasswordFileRead read :
         {PasswordFileRead::kFolder, PasswordFileRead::kTooLong, PasswordFileRead::kUnreadable}) {
        const std::string why = DescribePasswordFileRead(read);
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(reasons.insert(why).second) << why;
    }
    EXPECT_NE(DescribePasswordFileRead(PasswordFileRead::kTooLong).find("4096"), std::string::npos);
}

}  // namespace
}  // namespace winqor
