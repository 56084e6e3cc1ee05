// The main window's menu, the same on both systems: the window menu on Linux, the system menu on
// Windows, each with an About entry.
#pragma once

namespace winqor {

// The About entry's command. Its low four bits are zero: Windows keeps them for itself, so every
// command id whose upper bits match (16..31) opens the About box, on Linux as well.
inline constexpr unsigned kAboutBoxCommand = 0x0010;

// Whether a window-menu command opens the About box.
inline constexpr bool OpensAboutBox(unsigned commandId) {
    return (commandId & 0xFFF0) == kAboutBoxCommand;
}

}  // namespace winqor
