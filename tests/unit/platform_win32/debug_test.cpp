#include "platform/debug.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures_win32.h"

namespace winqor {
namespace {

TEST(DebugChannelTest, TheDefaultSinkIsTheDebuggersOutputChannelInUtf16) {
    const DebugSink previous = SetDebugSink(nullptr);
    UseStandardErrorSink();
    std::vector<test::DebugOutput> outputs;
    {
        test::DebugOutputCapture capture;
        OutputDebugString(u"CWinQORDlg::Prepare\n");
        DebugPrint(u"%s\t\tfilesize = %d\n", u"r\u00e9sum\u00e9 \U0001F600.txt", 42);
        outputs = capture.Texts();
    }
    SetDebugSink(previous);
    ASSERT_EQ(outputs.size(), 2u) << "one call per message";
    EXPECT_EQ(outputs[0].text, u"CWinQORDlg::Prepare\n");
    const std::u16string expected = u"r\u00e9sum\u00e9 \U0001F600.txt\t\tfilesize = 42\n";
    // A system that passes the text on in its ANSI code page only (Wine 8) converts it there:
    // the sink's UTF-16 is right when that conversion is the one of the expected text.
    EXPECT_EQ(outputs[1].text, outputs[1].wide ? expected : test::AnsiForm(expected));
}

}  // namespace
}  // namespace winqor
