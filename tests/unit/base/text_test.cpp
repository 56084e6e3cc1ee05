#include "base/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace winqor {
namespace {

TEST(Utf16ToUtf8, ConvertsEveryPlane) {
    struct Case {
        std::u16string in;
        std::string out;
    };
    const Case cases[] = {
        {u"", ""},
        {u"Setup.exe", "Setup.exe"},
        {u"donn\u00e9es", "donn\xc3\xa9\x65s"},
        {u"\u65e5\u672c.txt", "\xe6\x97\xa5\xe6\x9c\xac.txt"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
    };
    for (const auto& c : cases) {
        std::string out;
        ASSERT_TRUE(Utf16ToUtf8(c.in, out));
        EXPECT_EQ(out, c.out);
        std::u16string back;
        ASSERT_TRUE(Utf8ToUtf16(out, back));
        EXPECT_EQ(back, c.in);
    }
}

TEST(Utf16ToUtf8, RefusesLoneSurrogatesAndLossyReplacesThem) {
    for (std::u16string bad : {std::u16string(1, u'\xD800'),
                               std::u16string(u"a\xDC00"
                                              u"b"),
                               std::u16string(u"x\xD83D")}) {
        std::string out;
        EXPECT_FALSE(Utf16ToUtf8(bad, out));
        EXPECT_NE(Utf16ToUtf8Lossy(bad).find("\xef\xbf\xbd"), std::string::npos);
    }
}

TEST(Utf8ToUtf16, RefusesMalformedUtf8) {
    for (std::string bad :
         {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\x80"}) {
        std::u16string out;
        EXPECT_FALSE(Utf8ToUtf16(bad, out)) << bad;
    }
}

TEST(Utf8ToUtf16Buffer, WritesATerminatedCopyOnlyWhenItFitsWithItsTerminator) {
    const struct {
        std::string_view in;
        uint32_t units;
        uint32_t written;
    } cases[] = {{"/tmp/x", 7, 6},           {"/tmp/x", 6, 0}, {"\xf0\x9f\x98\x80", 3, 2},
                 {"\xf0\x9f\x98\x80", 2, 0}, {"", 4, 0},       {"\xff", 4, 0}};
    for (const auto& c : cases) {
        char16_t buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(Utf8ToUtf16Buffer(c.in, buffer, c.units), c.written) << c.in;
        if (c.written > 0) {
            EXPECT_EQ(buffer[c.written], 0) << c.in;
        }
        EXPECT_EQ(buffer[c.units], u'#') << c.in;
    }
    EXPECT_EQ(Utf8ToUtf16Buffer("x", nullptr, 4), 0u);
}

TEST(WidenAscii, KeepsAsciiAndReplacesEveryOtherByte) {
    EXPECT_EQ(WidenAscii("at byte 42\n"), u"at byte 42\n");
    EXPECT_EQ(WidenAscii(std::string_view("a\0\x80\xc3\xa9", 5)),
              std::u16string(u"a\0\uFFFD\uFFFD\uFFFD", 5));
}

TEST(AsciiUpper, RaisesOnlyAsciiLetters) {
    const std::u16string in = u"az AZ 09 `{ \u00e9\u00ff";
    std::u16string out;
    for (const char16_t c : in) out += AsciiUpper(c);
    EXPECT_EQ(out, u"AZ AZ 09 `{ \u00e9\u00ff");
}

TEST(EscapeForDisplay, EscapesControlsAndBrokenUtf8AndNothingElse) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"donn\xc3\xa9\x65s \xf0\x9f\x98\x80", "donn\xc3\xa9\x65s \xf0\x9f\x98\x80"},
        {"two\nlines\r\ttab", "two\\nlines\\r\\ttab"},
        {"back\\slash", "back\\\\slash"},
        {"\x1b[31mred\x07\x7f", "\\x1b[31mred\\x07\\x7f"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"csi\xc2\x9b", "csi\\xc2\\x9b"},                                  // U+009B, a C1 control
        {"caf\xe9 \xc3", "caf\\xe9 \\xc3"},                                // not UTF-8, cut short
        {"\xe0\x80\xaf \xed\xa0\x80", "\\xe0\\x80\\xaf \\xed\\xa0\\x80"},  // overlong, surrogate
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeForDisplay(c.in), c.out) << c.out;
    }
}

TEST(WithThousands, GroupsDigitsByThrees) {
    const std::pair<uint64_t, const char*> cases[] = {{0, "0"},
                                                      {999, "999"},
                                                      {1000, "1,000"},
                                                      {10485504, "10,485,504"},
                                                      {123456789, "123,456,789"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(WithThousands(value), text);
}

// What CommandLineToArgvW gives back for each is the argument itself.
TEST(QuoteWindowsArgument, QuotesOnlyWhatTheParserWouldSplitOrStrip) {
    const struct {
        std::u16string_view argument;
        std::u16string_view quoted;
    } cases[] = {
        {u"/S", u"/S"},
        {u"C:\\dir\\", u"C:\\dir\\"},  // no quote, no space: backslashes are literal
        {u"", u"\"\""},
        {u"a b", u"\"a b\""},
        {u"tab\there", u"\"tab\there\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"C:\\my dir\\", u"\"C:\\my dir\\\\\""},  // doubled before the closing quote
        {u"a\\\"b", u"\"a\\\\\\\"b\""},            // a\"b: 2n+1 backslashes before a quote
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuoteWindowsArgument(c.argument), c.quoted) << Utf16ToUtf8Lossy(c.argument);
    }
}

}  // namespace
}  // namespace winqor
