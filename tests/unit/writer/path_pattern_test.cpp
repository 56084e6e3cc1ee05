#include "writer/path_pattern.h"

#include <gtest/gtest.h>

namespace winqor {
namespace {

TEST(MatchesPattern, ShellStyleWithinOneName) {
    const struct {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {
        {"*.tmp", "a.tmp", true},
        {"*.tmp", "a.tmp.txt", false},
        {"*", "", true},
        {"*", "a/b", false},
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false},
        {"?.o", "x.o", true},
        {"?.o", "xy.o", false},
        {"a?b", "a/b", false},
        {"[abc].txt", "b.txt", true},
        {"[a-c]1", "d1", false},
        {"[!a-c]1", "d1", true},
        {"[^x]", "x", false},
        {"[]]", "]", true},
        {"[ab", "[ab", true},
        {"\\*", "*", true},
        {"\\*", "a", false},
        {"docs/*.md", "docs/a.md", true},
        {"docs/*.md", "docs/x/a.md", false},
        {"*/*", "a/b", true},
        {"", "", true},
        {"", "a", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchesPattern(c.pattern, c.text), c.matches) << c.pattern << " ~ " << c.text;
    }
}

TEST(ExcludeList, NamesAtAnyDepthPathsFromTheRootFoldersOnlyWithASlash) {
    ExcludeList list;
    for (const char* pattern : {"*.o", "docs/draft*", "/top.txt", "build/", "./c/d"}) {
        list.Add(pattern);
    }
    const struct {
        const char* where;
        bool isFolder;
        bool excluded;
    } cases[] = {
        {"a.o", false, true},         {"src/deep/b.o", false, true},
        {"docs/draft1", false, true}, {"x/docs/draft1", false, false},
        {"top.txt", false, true},     {"a/top.txt", false, false},
        {"build", true, true},        {"src/build", true, true},
        {"build", false, false},      {"c/d", true, true},
        {"keep.txt", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list.Excludes(c.where, c.isFolder), c.excluded) << c.where;
    }
}

}  // namespace
}  // namespace winqor
