#include "ui/ui.h"

#include <windows.h>
// This needs <windows.h> first.
#include <commctrl.h>

#include <string>

#include "base/text.h"
#include "ui/main_window.h"
#include "ui/win32/winqor_dlg.h"

namespace winqor {

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
    RunAsMainWindow<CWinQORDlg>(archiveArgument);
}

void ShowTextWindow(const std::string& text) {
    std::u16string wide;
    if (!Utf8ToUtf16(text, wide)) return;
    MessageBoxW(nullptr, ToWide(wide).c_str(), L"winQOR", MB_OK | MB_ICONINFORMATION);
}

}  // namespace winqor
