// The file and folder choosers the main window offers.
#pragma once

#include <windows.h>

#include <string>

namespace winqor {

// The archive file dialog, open mode, showing "*.aze" files of initialFolder (the system's
// choice when empty). True with the chosen path in path.
bool ChooseArchiveFile(HWND owner, const std::u16string& initialFolder, std::u16string& path);

// The shell's folder picker with this title. True with the chosen folder in folder; false,
// folder untouched, when it was cancelled, could not start, or the choice is no folder of the
// file system.
bool BrowseForFolder(HWND owner, const char16_t* title, std::u16string& folder);

}  // namespace winqor
