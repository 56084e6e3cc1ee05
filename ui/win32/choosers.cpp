#include "ui/win32/choosers.h"

#include <commdlg.h>
#include <shlobj.h>

#include "base/limits.h"
#include "base/text.h"
#include "ui/main_dialog_controller.h"
#include "ui/win32/dialog.h"

namespace winqor {
namespace {

std::wstring Widen(std::string_view ascii) {
    return ToWide(WidenAscii(ascii));
}

// The file dialog's filter: pairs of a label and a pattern, each terminated, and an empty
// label to end the list.
std::wstring ArchiveFilter() {
    std::wstring filter = Widen(kArchiveFilterName);
    filter += L'\0';
    filter += Widen(kArchiveFilterPattern);
    filter += L'\0';
    return filter;  // c_str() adds the final terminator
}

// The shell's picker, once COM is up. The choice's path stays in name.
bool PickFolder(HWND owner, const std::wstring& title, wchar_t (&name)[kMaxPath]) {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator))) return false;
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pszDisplayName = name;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    bool chosen = false;
    if (item != nullptr) {
        // A choice without a file-system path (some network items) is refused rather than
        // taking its display name for a folder.
        chosen = SHGetPathFromIDListW(item, name) != FALSE;
        allocator->Free(item);
    }
    allocator->Release();
    return chosen;
}

}  // namespace

bool ChooseArchiveFile(HWND owner, const std::u16string& initialFolder, std::u16string& path) {
    wchar_t file[kMaxPath] = L"";
    const std::wstring filter = ArchiveFilter();
    const std::wstring folder = ToWide(initialFolder);
    const std::wstring extension = ToWide(kArchiveExtension);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file;
    dialog.nMaxFile = kMaxPath;
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    // A name typed without an extension gets ".aze"; no option flags: the file need not exist.
    dialog.lpstrDefExt = extension.c_str();
    if (!GetOpenFileNameW(&dialog)) return false;
    path = FromWide(file);
    return true;
}

bool BrowseForFolder(HWND owner, const char16_t* title, std::u16string& folder) {
    if (owner == nullptr || title == nullptr) return false;
    // S_FALSE, COM already up on this thread, counts as success and is balanced the same way.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
    wchar_t name[kMaxPath] = L"";
    const bool chosen = PickFolder(owner, ToWide(title), name);
    CoUninitialize();
    if (chosen) folder = FromWide(name);
    return chosen;
}

}  // namespace winqor
