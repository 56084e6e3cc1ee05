#include "ui/ui.h"

#include <windows.h>
// These need <windows.h> first.
#include <commctrl.h>
#include <shlwapi.h>

#include <string>

#include "platform/limits.h"
#include "platform/text.h"
#include "ui/win32/winqor_dlg.h"

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

// The file a command-line argument names: a file: URI or a path.
bool PathFromArgument(const char* argument, std::u16string& path) {
    std::u16string text;
    if (argument == nullptr || argument[0] == '\0' || !Utf8ToUtf16(argument, text)) return false;
    const std::wstring wide = ToWide(text);
    std::wstring full;
    if (!(IsFileUri(wide) ? PathFromFileUri(wide, full) : FullPath(wide, full))) return false;
    path = FromWide(full);
    return true;
}

}  // namespace

// Windows always has its desktop to show windows on. The controls are the common controls'
// version that the program's manifest names; loading them first is what the system asks.
bool OpenDisplay() {
    static const bool opened = [] {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = ICC_STANDARD_CLASSES;
        InitCommonControlsEx(&controls);
        return true;
    }();
    return opened;
}

void RunMainDialog(const char* archiveArgument) {
    CWinQORDlg dialog;
    std::u16string archive;
    if (PathFromArgument(archiveArgument, archive)) dialog.OpenArchive(archive);
    CDialog::SetMainWindow(&dialog);
    dialog.DoModal();
    CDialog::SetMainWindow(nullptr);
}

void ShowTextWindow(const std::string& text) {
    std::u16string wide;
    if (!Utf8ToUtf16(text, wide)) return;
    MessageBoxW(nullptr, ToWide(wide).c_str(), L"winQOR", MB_OK | MB_ICONINFORMATION);
}

}  // namespace winqor
