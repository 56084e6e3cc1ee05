#include "platform/debug.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace winqor {
namespace {

TEST(DebugPrint, FormatsTheOutputStageMessagesExactly) {
    test::DebugCapture capture;
    DebugPrint(u"OutputFolder:%s\n", u"/tmp/x/docs");
    DebugPrint(u"%s\t\tfilesize = %d\n", u"README.txt", 16);
    DebugPrint(u"qorOutputArchive:unexpected error\n");
    DebugPrint(u"%u%% of %d", 50u, -3);
    ASSERT_EQ(capture.messages().size(), 4u);
    EXPECT_EQ(capture.messages()[0], "OutputFolder:/tmp/x/docs\n");
    EXPECT_EQ(capture.messages()[1], "README.txt\t\tfilesize = 16\n");
    EXPECT_EQ(capture.messages()[2], "qorOutputArchive:unexpected error\n");
    EXPECT_EQ(capture.messages()[3], "50% of -3");
}

TEST(DebugPrint, ConvertsNamesToUtf8) {
    test::DebugCapture capture;
    DebugPrint(u"%s", u"donn\u00e9es/\u65e5\u672c.txt");
    EXPECT_EQ(capture.All(), "donn\xc3\xa9\x65s/\xe6\x97\xa5\xe6\x9c\xac.txt");
}

// Both systems show an archive's names on this channel alike, as stored, so that their traces
// compare line for line: a backslash stays one backslash; only control characters and bytes
// that are no UTF-8 are escaped, so that a name cannot forge a line.
TEST(DebugPrint, ShowsNamesAsStoredWithControlsEscaped) {
    struct Case {
        const char16_t* name;
        const char* shown;
    };
    const Case cases[] = {
        {u"\\..\\escape", "\\..\\escape"},
        {u"a\\b\\", "a\\b\\"},
        {u"two\nlines\r\ttab", "two\\nlines\\r\\ttab"},
        {u"\x1b[31mred\u009b", "\\x1b[31mred\\xc2\\x9b"},
    };
    for (const Case& c : cases) {
        test::DebugCapture capture;
        DebugPrint(u"winqor: %s: refused\n", c.name);
        EXPECT_EQ(capture.All(), std::string("winqor: ") + c.shown + ": refused\n") << c.shown;
    }
}

TEST(DebugPrint, CutsTextAt2047Units) {
    struct Case {
        size_t argumentLength;
        size_t expected;
    };
    for (Case c : {Case{2040, 2043}, Case{2044, 2047}, Case{2045, 2047}, Case{100000, 2047}}) {
        test::DebugCapture capture;
        std::u16string long_(c.argumentLength, u'a');
        DebugPrint(u"[%s]\n", long_.c_str());
        ASSERT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(capture.messages()[0].size(), c.expected) << c.argumentLength;
        EXPECT_EQ(capture.messages()[0].front(), '[');
    }
}

TEST(DebugChannel, FixedTextsPassUnformattedAndEmptySinkSilences) {
    test::DebugCapture capture;
    OutputDebugString(u"100% sure %s\n");
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0], "100% sure %s\n");
    auto previous = SetDebugSink({});
    OutputDebugString(u"lost\n");
    DebugPrint(u"lost too\n");
    SetDebugSink(previous);
    EXPECT_EQ(capture.messages().size(), 1u);
}

}  // namespace
}  // namespace winqor
