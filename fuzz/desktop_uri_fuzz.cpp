// The desktop's file URIs and arguments (ui/local_path.h): what a file manager drops on the
// window, or the program's argument. The input's first byte picks the function (even: a URI,
// odd: an argument); the rest, up to a NUL, is the text. A path that comes back is absolute,
// and a relative argument that is no URI names itself below the current directory.
#include <algorithm>
#include <string>

#include "base/text.h"
#include "fuzz/harness.h"
#include "ui/local_path.h"

namespace {

using winqor::fuzz::Require;

bool IsUri(const std::string& text) {
    return text.size() >= 5 && (text[0] | 0x20) == 'f' && (text[1] | 0x20) == 'i' &&
           (text[2] | 0x20) == 'l' && (text[3] | 0x20) == 'e' && text[4] == ':';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    if (size == 0 || size > 8192) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1),
                           std::find(data + 1, data + size, 0) - (data + 1));
    const bool asArgument = (data[0] & 1) != 0;
    std::u16string path = u"unchanged";
    const bool taken = asArgument ? LocalPathFromArgument(text.c_str(), path)
                                  : LocalPathFromUri(text.c_str(), path);
    if (!taken) {
        Require(path == u"unchanged", "a refused name changed the path");
        return 0;
    }
    Require(!path.empty() && path[0] == u'/', "a path that is not absolute");
    Require(path.find(u'\0') == std::u16string::npos, "a path with a NUL");
    Require(asArgument || IsUri(text), "a URI of another scheme was taken");
    if (asArgument && !IsUri(text) && text[0] != '/') {
        std::u16string relative;
        Require(Utf8ToUtf16(text, relative), "an argument that is no UTF-8 was taken");
        Require(path.size() > relative.size() &&
                    path.compare(path.size() - relative.size(), relative.size(), relative) == 0 &&
                    path[path.size() - relative.size() - 1] == u'/',
                "a relative argument does not name itself below the current directory");
    }
    return 0;
}
