#include "engine/file_ops.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/record_names.h"

namespace winqor {
namespace {

TEST(JoinPathFits, JoinsRecordNamesWithTheSystemSeparator) {
    struct Case {
        std::u16string base, relative, out;
    };
    const Case cases[] = {
        {u"/tmp/x", u"", u"/tmp/x"},
        {u"/tmp/x", u"\\docs", u"/tmp/x/docs"},
        {u"/tmp/x", u"\\docs\\notes", u"/tmp/x/docs/notes"},
        {u"/", u"\\docs", u"/docs"},  // no doubled separator at the root
        {u"/", u"", u"/"},
    };
    for (const auto& c : cases) {
        char16_t out[kMaxPath];
        EXPECT_TRUE(JoinPathFits(c.base.c_str(), out, c.relative.c_str()));
        EXPECT_EQ(std::u16string(out), c.out);
    }
}

TEST(JoinPathFits, TooLongLeavesTheBaseAloneAndNeverOverflows) {
    char16_t out[kMaxPath];
    const std::u16string base(kMaxPath - 10, u'b');
    // exactly kMaxPath units with the terminator
    EXPECT_FALSE(JoinPathFits(base.c_str(), out, u"\\123456789"));
    EXPECT_EQ(std::u16string(out), base);
    EXPECT_TRUE(JoinPathFits(base.c_str(), out, u"\\12345678"));
    EXPECT_EQ(std::u16string(out).size(), kMaxPath - 1);
    const std::u16string huge(kMaxPath * 2, u'h');
    EXPECT_FALSE(JoinPathFits(huge.c_str(), out, u"\\x"));
    EXPECT_EQ(std::u16string(out).size(), kMaxPath - 1);
}

TEST(RecordNames, SplitsSafeDirectoryNames) {
    struct Case {
        std::u16string name;
        bool safe;
        uint32_t count;
    };
    const Case cases[] = {
        {u"", true, 0},      {u"\\a", true, 1},       {u"\\a\\b c\\d.e", true, 3},
        {u"\\..", false, 0}, {u"\\a\\.", false, 0},   {u"a", false, 0},
        {u"\\", false, 0},   {u"\\a\\\\b", false, 0}, {u"\\a:b", false, 0},
        {u"\\...", true, 1}, {u"\\..a", true, 1},
    };
    for (const auto& c : cases) {
        std::u16string buffer = c.name;
        const char16_t* components[8];
        uint32_t count = 99;
        EXPECT_EQ(SplitDirectoryName(buffer.data(), components, 8, count), c.safe) << c.name.size();
        if (c.safe) {
            EXPECT_EQ(count, c.count);
        }
    }
    std::u16string many = u"\\a\\b\\c";
    const char16_t* two[2];
    uint32_t count = 0;
    EXPECT_FALSE(SplitDirectoryName(many.data(), two, 2, count));
}

}  // namespace
}  // namespace winqor
