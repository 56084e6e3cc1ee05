#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace winqor {
namespace {

using Arguments = std::vector<std::string>;

struct ParseCase {
    const char* what;
    Arguments arguments;
    bool slashHelp;
    RunMode mode;
    std::string target;
    Arguments setup;  // what reaches Setup.exe
};

TEST(ParseSelfExtractArguments, ReadsItsSwitchesUpToTheFirstItDoesNotKnow) {
    const ParseCase cases[] = {
        {"switches, then Setup.exe's",
         {"--target", "d", "/S", "--target", "x"},
         false,
         RunMode::kInstall,
         "d",
         {"/S", "--target", "x"}},
        {"-- ends the switches and is dropped",
         {"--target=d", "--", "--help", "--"},
         false,
         RunMode::kInstall,
         "d",
         {"--help", "--"}},
        {"an unknown switch is Setup.exe's",
         {"--quiet", "--tar", "d"},
         false,
         RunMode::kInstall,
         "",
         {"--tar", "d"}},
        {"spaces, quotes and backslashes as they stand",
         {"a b", "\"q\"", "t\\"},
         false,
         RunMode::kInstall,
         "",
         {"a b", "\"q\"", "t\\"}},
        {"an empty argument is Setup.exe's", {"", "x"}, false, RunMode::kInstall, "", {"", "x"}},
        {"a value may look like a switch",
         {"--target", "--list"},
         false,
         RunMode::kInstall,
         "--list",
         {}},
        {"extract only",
         {"--extract-only", "--target", "d"},
         false,
         RunMode::kExtractOnly,
         "d",
         {}},
        {"list", {"--list"}, false, RunMode::kList, "", {}},
        {"check", {"--password-file", "-", "--check"}, false, RunMode::kCheck, "", {}},
        {"help wins over everything",
         {"--list", "--check", "--help", "x"},
         false,
         RunMode::kHelp,
         "",
         {"x"}},
        {"/? on Windows", {"/?"}, true, RunMode::kHelp, "", {}},
        {"/? is Setup.exe's elsewhere", {"/?"}, false, RunMode::kInstall, "", {"/?"}},
        {"info", {"--info"}, false, RunMode::kInfo, "", {}},
        {"--accept is the program's", {"--accept", "/S"}, false, RunMode::kInstall, "", {"/S"}},
    };
    for (const ParseCase& c : cases) {
        SelfExtractOptions options;
        std::string error;
        EXPECT_TRUE(ParseSelfExtractArguments(c.arguments, c.slashHelp, options, error))
            << c.what << ": " << error;
        EXPECT_EQ(options.mode, c.mode) << c.what;
        EXPECT_EQ(options.target, c.target) << c.what;
        EXPECT_EQ(options.setupArguments, c.setup) << c.what;
        EXPECT_EQ(options.acceptLicence, !c.arguments.empty() && c.arguments.front() == "--accept")
            << c.what;
    }
}

TEST(ParseSelfExtractArguments, RefusesWhatCannotBeUsed) {
    const struct {
        Arguments arguments;
        const char* error;
    } cases[] = {
        {{"--target"}, "--target needs a value"},
        {{"--log="}, "--log needs a value"},
        {{"--quiet", "--quiet"}, "--quiet is given twice"},
        {{"--target", "a", "--target=b"}, "--target is given twice"},
        {{"--list", "--check"}, "--list and --check cannot be combined"},
        {{"--accept", "--accept"}, "--accept is given twice"},
        {{"--info", "--list"}, "--info and --list cannot be combined"},
        {{"--info", "--target", "d"}, "--info writes nothing: it takes no --target or --temp"},
        {{"--info", "/S"}, "--info starts no Setup.exe, so it takes no arguments for it: /S"},
        {{"--temp", "--target", "d"}, "--temp and --target cannot be combined"},
        {{"--check", "--target", "d"}, "--check writes nothing: it takes no --target or --temp"},
        {{"--temp", "--extract-only"},
         "--temp removes its folder once Setup.exe ends: it needs Setup.exe started"},
        {{"--extract-only", "/S"},
         "--extract-only starts no Setup.exe, so it takes no arguments for it: /S"},
        // The argument is shown escaped: the reason stays one line and sends the terminal
        // nothing.
        {{"--list", "a\nwinqor: forged\x1b]0;title\x07"},
         "--list starts no Setup.exe, so it takes no arguments for it: "
         "a\\nwinqor: forged\\x1b]0;title\\x07"},
    };
    for (const auto& c : cases) {
        SelfExtractOptions options;
        std::string error;
        EXPECT_FALSE(ParseSelfExtractArguments(c.arguments, false, options, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace winqor
