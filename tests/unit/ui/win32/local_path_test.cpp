#include "ui/local_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace winqor {
namespace {

namespace fs = std::filesystem;

std::u16string U16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

// A relative name is taken from the current directory at once.
std::u16string FromCurrentFolder(const wchar_t* name) {
    return U16((fs::current_path() / name).wstring());
}

struct LocalPathCase {
    const char* text;
    std::optional<std::u16string> path;  // none: not a local file
};

// Each case through convert; a refused text leaves the path alone, and null is refused.
void ExpectPaths(bool (*convert)(const char*, std::u16string&),
                 std::span<const LocalPathCase> cases) {
    for (const LocalPathCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::u16string path = u"untouched";
        EXPECT_EQ(convert(c.text, path), c.path.has_value());
        EXPECT_EQ(path, c.path.value_or(u"untouched"));
    }
    std::u16string path;
    EXPECT_FALSE(convert(nullptr, path));
}

// What the desktop or another program may pass: a path, or a file: URI with escapes, its
// scheme in any case.
TEST(LocalPath, ArgumentNamesAnAbsoluteLocalPath) {
    const LocalPathCase cases[] = {
        {"C:\\pkg\\tools.aze", u"C:\\pkg\\tools.aze"},
        {"pkg\\tools.aze", FromCurrentFolder(L"pkg\\tools.aze")},
        {"my pkg.aze", FromCurrentFolder(L"my pkg.aze")},
        {"file:///C:/pkg/my%20pkg.aze", u"C:\\pkg\\my pkg.aze"},
        {"FILE:///C:/pkg/tools.aze", u"C:\\pkg\\tools.aze"},
        {"", std::nullopt},
    };
    ExpectPaths(LocalPathFromArgument, cases);
}

// Only a file: URI names a file; a path or another scheme is refused.
TEST(LocalPath, UriMustBeAFileUri) {
    const LocalPathCase cases[] = {
        {"file:///C:/pkg/a%20b.aze", u"C:\\pkg\\a b.aze"},
        {"C:\\pkg\\a.aze", std::nullopt},
        {"a.aze", std::nullopt},
        {"https://example.org/a.aze", std::nullopt},
        {"", std::nullopt},
    };
    ExpectPaths(LocalPathFromUri, cases);
}

}  // namespace
}  // namespace winqor
