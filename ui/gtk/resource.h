// The identifiers the dialogs share with their templates and with the code that runs them.
#pragma once

namespace winqor {

// Results of DoModal.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The About entry of the main window's menu. Its low four bits are zero: every command id whose
// upper bits match (16..31) opens the About box.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// The window menu's own Close entry.
inline constexpr unsigned SC_CLOSE = 0xF060;

// Whether a window-menu command opens the About box.
inline constexpr bool OpensAboutBox(unsigned commandId) {
    return (commandId & 0xFFF0) == IDM_ABOUTBOX;
}

}  // namespace winqor
