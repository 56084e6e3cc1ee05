#include "ui/local_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/text.h"
#include "support/test_support.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

std::u16string U16(const std::string& text) {
    std::u16string out;
    Utf8ToUtf16(text, out);
    return out;
}

struct LocalPathCase {
    const char* argument;
    std::optional<std::string> path;  // none: not a local file
};

// What the desktop or a user may pass: a path, or a file: URI with escapes; other URIs and
// other hosts name nothing here.
TEST(LocalPath, ArgumentNamesAnAbsoluteLocalPath) {
    test::TempDir dir;
    test::CurrentDirGuard cwd;
    fs::current_path(dir.path());
    const std::string here = fs::current_path().string();
    const LocalPathCase cases[] = {
        {"/srv/pkg/tools.aze", "/srv/pkg/tools.aze"},
        {"pkg/tools.aze", here + "/pkg/tools.aze"},
        {"my pkg.aze", here + "/my pkg.aze"},
        {"file:///srv/my%20pkg.aze", "/srv/my pkg.aze"},
        {"file:///srv/caf%C3%A9.aze", "/srv/caf\u00e9.aze"},
        {"FILE:///srv/tools.aze", "/srv/tools.aze"},
        {"file://localhost/srv/tools.aze", "/srv/tools.aze"},
        {"file://elsewhere/srv/tools.aze", std::nullopt},
        {"file:tools.aze", std::nullopt},
        {"file:///srv/not%FFtext.aze", std::nullopt},
        {"", std::nullopt},
    };
    for (const LocalPathCase& c : cases) {
        SCOPED_TRACE(c.argument);
        std::u16string path = u"untouched";
        EXPECT_EQ(LocalPathFromArgument(c.argument, path), c.path.has_value());
        EXPECT_EQ(path, c.path ? U16(*c.path) : u"untouched");
    }
    std::u16string path;
    EXPECT_FALSE(LocalPathFromArgument(nullptr, path));
}

// A drop names its files by URI only: a path, or another scheme, is no file here.
TEST(LocalPath, DroppedUriMustBeAFileUri) {
    std::u16string path;
    EXPECT_TRUE(LocalPathFromUri("file:///home/u/a%20b.aze", path));
    EXPECT_EQ(path, u"/home/u/a b.aze");
    for (const char* uri : {"/home/u/a.aze", "a.aze", "https://example.org/a.aze", ""}) {
        EXPECT_FALSE(LocalPathFromUri(uri, path)) << uri;
    }
    EXPECT_FALSE(LocalPathFromUri(nullptr, path));
}

}  // namespace
}  // namespace winqor
