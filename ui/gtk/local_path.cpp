#include "ui/local_path.h"

#include <glib.h>

#include <memory>

#include "base/text.h"

namespace winqor {
namespace {

struct GFreeDeleter {
    void operator()(void* block) const { g_free(block); }
};
using OwnedText = std::unique_ptr<gchar, GFreeDeleter>;

bool IsThisHost(const gchar* host) {
    return host == nullptr || host[0] == '\0' || g_ascii_strcasecmp(host, "localhost") == 0;
}

// Names on this system are UTF-8 by convention; the core keeps them as UTF-16.
bool ToUtf16(const gchar* name, std::u16string& path) {
    std::u16string converted;
    if (name == nullptr || name[0] == '\0' || !Utf8ToUtf16(name, converted)) return false;
    path = converted;
    return true;
}

}  // namespace

bool LocalPathFromUri(const char* uri, std::u16string& path) {
    if (uri == nullptr) return false;
    gchar* host = nullptr;
    const OwnedText name(g_filename_from_uri(uri, &host, nullptr));
    const OwnedText ownedHost(host);
    return name != nullptr && IsThisHost(host) && ToUtf16(name.get(), path);
}

bool LocalPathFromArgument(const char* argument, std::u16string& path) {
    if (argument == nullptr || argument[0] == '\0') return false;
    if (g_ascii_strncasecmp(argument, "file:", 5) == 0) return LocalPathFromUri(argument, path);
    if (g_path_is_absolute(argument)) return ToUtf16(argument, path);
    const OwnedText current(g_get_current_dir());
    const OwnedText joined(g_build_filename(current.get(), argument, nullptr));
    return ToUtf16(joined.get(), path);
}

}  // namespace winqor
