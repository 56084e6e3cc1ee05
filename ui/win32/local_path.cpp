#include "ui/local_path.h"

#include <windows.h>
// This needs <windows.h> first.
#include <shlwapi.h>

#include <string_view>

#include "base/limits.h"
#include "base/text.h"
#include "ui/win32/dialog.h"

namespace winqor {
namespace {

// The desktop passes a double-clicked file as a path; other programs may pass a file: URI.
bool IsFileUri(std::wstring_view text) {
    return text.size() >= 5 &&
           CompareStringOrdinal(text.data(), 5, L"file:", 5, TRUE) == CSTR_EQUAL;
}

// A file: URI's local path, its escapes decoded.
bool PathFromFileUri(const std::wstring& uri, std::wstring& path) {
    path.assign(kMaxPath, L'\0');
    DWORD length = kMaxPath;
    if (FAILED(PathCreateFromUrlW(uri.c_str(), path.data(), &length, 0))) return false;
    path.resize(length);
    return true;
}

// An absolute path; a relative one is taken from the current directory now, since an
// extraction may move it later.
bool FullPath(const std::wstring& name, std::wstring& path) {
    path.assign(kMaxPath, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), kMaxPath, path.data(), nullptr);
    if (length == 0 || length >= kMaxPath) return false;
    path.resize(length);
    return true;
}

// The system's wide form of a non-empty UTF-8 text.
bool WideText(const char* text, std::wstring& wide) {
    std::u16string converted;
    if (text == nullptr || text[0] == '\0' || !Utf8ToUtf16(text, converted)) return false;
    wide = ToWide(converted);
    return true;
}

}  // namespace

bool LocalPathFromUri(const char* uri, std::u16string& path) {
    std::wstring wide;
    std::wstring local;
    if (!WideText(uri, wide) || !IsFileUri(wide) || !PathFromFileUri(wide, local)) return false;
    path = FromWide(local);
    return true;
}

bool LocalPathFromArgument(const char* argument, std::u16string& path) {
    std::wstring wide;
    if (!WideText(argument, wide)) return false;
    if (IsFileUri(wide)) return LocalPathFromUri(argument, path);
    std::wstring full;
    if (!FullPath(wide, full)) return false;
    path = FromWide(full);
    return true;
}

}  // namespace winqor
