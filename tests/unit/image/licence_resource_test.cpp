#include "image/licence_resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace winqor {
namespace {

std::vector<uint8_t> Text(const std::string& text) {
    return {text.begin(), text.end()};
}

struct LicenceCase {
    const char* what;
    std::vector<uint8_t> text;
    bool carried;
    const char* reasonHolds;
};

TEST(CheckLicenceText, TakesBoundedUtf8TextWithoutTerminalCommands) {
    const LicenceCase cases[] = {
        {"plain text", Text("Terms.\n"), true, ""},
        {"tabs, CR LF, form feed", Text("a\tb\r\n\fc"), true, ""},
        {"non-ASCII letters", Text("Lizenzvertrag f\xC3\xBCr \xE2\x82\xAC"), true, ""},
        {"exactly the largest", std::vector<uint8_t>(kMaxLicenceBytes, 'a'), true, ""},
        {"empty", {}, false, "empty"},
        {"one byte too large", std::vector<uint8_t>(kMaxLicenceBytes + 1, 'a'), false, "larger"},
        {"not UTF-8", Text("caf\xE9"), false, "not UTF-8"},
        {"a lone continuation byte", Text("a\x80"), false, "not UTF-8"},
        {"a byte order mark", Text("\xEF\xBB\xBFterms"), false, "byte order mark"},
        {"NUL", Text(std::string("a\0b", 3)), false, "control character"},
        {"an escape sequence", Text("\x1b[2Jgone"), false, "control character"},
        {"DEL", Text("a\x7F"), false, "control character"},
        {"a C1 control (CSI)", Text("a\xC2\x9B"), false, "control character"},
    };
    for (const LicenceCase& test : cases) {
        SCOPED_TRACE(test.what);
        std::string reason;
        EXPECT_EQ(CheckLicenceText(test.text, reason), test.carried);
        EXPECT_NE(reason.find(test.reasonHolds), std::string::npos) << reason;
    }
}

TEST(WithoutByteOrderMark, DropsOnlyALeadingMark) {
    const std::vector<uint8_t> marked = Text("\xEF\xBB\xBFterms");
    const std::vector<uint8_t> plain = Text("terms\xEF\xBB\xBF");
    EXPECT_EQ(WithoutByteOrderMark(marked).size(), 5U);
    EXPECT_EQ(WithoutByteOrderMark(plain).size(), plain.size());
    EXPECT_TRUE(WithoutByteOrderMark({}).empty());
}

}  // namespace
}  // namespace winqor
