// The identifiers the dialogs share with their templates and with the code that runs them.
#pragma once

#include "ui/window_menu.h"

namespace winqor {

// Results of DoModal.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The About entry of the main window's menu.
inline constexpr unsigned IDM_ABOUTBOX = kAboutBoxCommand;
// The window menu's own Close entry.
inline constexpr unsigned SC_CLOSE = 0xF060;

}  // namespace winqor
